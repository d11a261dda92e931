// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include "../support/rig.h"

namespace tavrin::player {
namespace {

using Lines = std::vector<std::string>;

TEST(FormLoad, FillsThePinListsSelectsDefaultsAndFindsAdapters) {
  testing::Rig rig;
  rig.player.Form_Load();
  const Lines entries = {"D0 - TxD", "D1 - RxD", "D2 - RTS", "D3 - CTS", "D4 - DTR", "D5 - DSR", "D6 - DCD", "D7 - RI"};
  for (const auto& box : rig.window.pins) EXPECT_EQ(box.entries, entries);
  EXPECT_EQ(rig.window.PinListIndex(Signal::TCK), 7);
  EXPECT_EQ(rig.window.PinListIndex(Signal::TMS), 1);
  EXPECT_EQ(rig.window.PinListIndex(Signal::TDI), 5);
  EXPECT_EQ(rig.window.PinListIndex(Signal::TDO), 6);
  EXPECT_EQ(rig.window.progress_value, 100);
  EXPECT_EQ(rig.window.file_path, Player::StartFolder() + "/*.svf");
  EXPECT_EQ(rig.window.interface_entries, (Lines{" 0 - FT232R USB UART"}));
  EXPECT_EQ(rig.window.log, "Merrow Log...\r\n") << "start-up writes nothing to the log";
  EXPECT_EQ(rig.player.adapter.InterfaceOpen, kFalse);
  EXPECT_EQ(rig.player.adapter.PortSetupValid, kFalse);
  EXPECT_EQ(rig.player.interpreter.EndIrState, "IDLE");
  EXPECT_EQ(rig.player.engine.Tables().NextStateTable[jtag::IRSELECT][1], jtag::RESET);
  EXPECT_EQ(rig.chip.CountCalls("FT_OpenEx"), 0) << "start-up opens nothing";
}

TEST(FormLoad, NoAdapterStillStartsWithTheSearchMessage) {
  testing::Rig rig;
  rig.chip.descriptions.clear();
  rig.player.Form_Load();
  EXPECT_EQ(rig.window.messages, (Lines{"No FTDI Devices Detected.\r\nPlease connect one.."}));
  EXPECT_EQ(rig.window.interface_text, "No Interfaces yet..");
}

TEST(FormLoad, StartFolderIsTheTemporaryFolderWithoutATrailingSeparator) {
  const std::string folder = Player::StartFolder();
  EXPECT_FALSE(folder.empty());
  EXPECT_TRUE(folder == "/" || folder.back() != '/');
}

TEST(EndStates, KeptAcrossRuns) {
  testing::Rig rig;
  rig.LoadOpenSetUp();
  rig.Play("ENDDR DRPAUSE;\r\n");
  rig.Play("TRST OFF;\r\n");
  EXPECT_EQ(rig.player.interpreter.EndDrState, "DRPAUSE");
}

TEST(FormUnload, ClosesASetUpAdapterAndLeavesOneThatIsNot) {
  testing::Rig rig;
  rig.player.Form_Load();
  rig.player.Form_Unload();
  EXPECT_TRUE(rig.window.messages.empty());
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_TRUE(rig.player.UnloadDone());

  testing::Rig open;
  open.player.Form_Load();
  open.player.cmd_OpenInterface_Click();
  open.player.Form_Unload();
  EXPECT_EQ(open.window.messages, (Lines{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  EXPECT_TRUE(open.chip.open);

  testing::Rig set_up;
  set_up.LoadOpenSetUp();
  set_up.player.Form_Unload();
  EXPECT_FALSE(set_up.chip.open);
}

// A run of several long scans, interrupted from inside the first one.
class DuringARun : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.LoadOpenSetUp();
    rig.LoopTdiToTdo();
    std::string text;
    for (int i = 0; i < 3; ++i) text += "SDR 4000 TDI (" + std::string(1000, '5') + ");\r\n";
    rig.SelectFile(text);
    rig.window.single_step = 0;
  }
  // Runs the file; `action` runs at the first event inside a scan.
  void RunWith(const std::function<void()>& action) {
    bool done = false;
    rig.window.on_events = [&] {
      if (done) return;
      done = true;
      action();
    };
    rig.player.cmd_Process_Click();
  }
  testing::Rig rig;
};

TEST_F(DuringARun, ClosingTheWindowEndsTheScanThenShutsTheAdapterDown) {
  RunWith([&] {
    rig.player.Form_Unload();
    EXPECT_FALSE(rig.player.UnloadDone());
    EXPECT_TRUE(rig.chip.open) << "the adapter stays until the run has unwound";
  });
  EXPECT_TRUE(rig.player.UnloadDone());
  EXPECT_FALSE(rig.chip.open);
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Failed);
  EXPECT_LT(rig.chip.CountCalls("FT_Write"), 20) << "the scan stopped after its current chunk";
  EXPECT_TRUE(rig.window.messages.empty());
}

TEST_F(DuringARun, CloseInterfaceStopsTheRunAndClosesAfterwards) {
  RunWith([&] { rig.player.cmd_CloseInterface_Click(); });
  EXPECT_FALSE(rig.chip.open);
  EXPECT_EQ(rig.player.adapter.InterfaceOpen, kFalse);
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Failed);
  EXPECT_EQ(rig.window.dev_state_colour, kColourRed);
  EXPECT_FALSE(rig.player.flags.Closing) << "the next run is not cut short";
}

TEST_F(DuringARun, OpenSetUpAndProcessAreTurnedAwayAndFindIsHarmless) {
  RunWith([&] {
    rig.player.cmd_OpenInterface_Click();
    rig.player.cmd_FTSetup_Click();
    rig.player.cmd_Process_Click();
    rig.player.cmd_Find_Click();
  });
  EXPECT_EQ(rig.window.messages, (Lines{kMsgBusy, kMsgBusy, "A file is being processed already.  Press Break to stop it."}));
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Completed);
  EXPECT_EQ(rig.chip.CountCalls("FT_OpenEx"), 0);
  EXPECT_EQ(rig.window.interface_entries.size(), 2U);
}

TEST_F(DuringARun, PinChangeMidRunEndsTheRunAtTheNextBlockOnce) {
  RunWith([&] { rig.player.cmb_TMS_Change(); });
  // Nothing made for the old pins goes out after the change; the run ends
  // with one message, not one per remaining statement.
  EXPECT_EQ(rig.window.messages, (Lines{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Failed);
}

}  // namespace
}  // namespace tavrin::player
