// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <vector>

#include "../support/rig.h"
#include "adapter/device_list.h"
#include "adapter/recording_d2xx.h"

namespace tavrin::adapter {
namespace {

class AdapterTest : public ::testing::Test {
 protected:
  testing::Rig rig;
  Adapter& adapter = rig.player.adapter;
  FakeD2xx& chip = rig.chip;
  MemoryWindow& window = rig.window;
};

// --- Find ---

TEST_F(AdapterTest, FindListsOnlyFt232rAndFt232bAndSelectsTheFirst) {
  chip.descriptions = {"FT232R USB UART", "Dual RS232", "USB <-> Serial FT232B"};
  adapter.cmd_Find_Click();
  EXPECT_EQ(window.interface_entries, (std::vector<std::string>{" 0 - FT232R USB UART", " 2 - USB <-> Serial FT232B"}));
  EXPECT_EQ(window.interface_index, 0);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(chip.calls[0].args, "count flags=2147483648");
  EXPECT_EQ(chip.calls[1].args, "index=0 flags=1073741826");
}

TEST_F(AdapterTest, FindTwiceAppendsEqualEntriesAndKeepsTheFirstSelected) {
  adapter.cmd_Find_Click();
  adapter.cmd_Find_Click();
  EXPECT_EQ(window.interface_entries, (std::vector<std::string>{" 0 - FT232R USB UART", " 0 - FT232R USB UART"}));
  EXPECT_EQ(window.interface_index, 0);
}

TEST_F(AdapterTest, FindFailuresAndEmptyLists) {
  chip.count_status = FT_IO_ERROR;
  adapter.cmd_Find_Click();
  EXPECT_EQ(window.messages.back(), "Bad result: FT_GetNumDevices returned 0x4");

  chip.count_status = FT_OK;
  chip.descriptions.clear();
  adapter.cmd_Find_Click();
  EXPECT_EQ(window.messages.back(), "No FTDI Devices Detected.\r\nPlease connect one..");

  // Devices, none usable: the last description query's status, so nothing
  // when it succeeded.
  window.messages.clear();
  chip.descriptions = {"FT2232H"};
  adapter.cmd_Find_Click();
  EXPECT_TRUE(window.messages.empty());
  chip.description_status = FT_DEVICE_NOT_FOUND;
  adapter.cmd_Find_Click();
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Bad result: FT_ListDevices returned 0x2"}));
  EXPECT_TRUE(window.interface_entries.empty());
}

TEST_F(AdapterTest, DescriptionFillingTheWholeBufferIsKeptWhole) {
  const std::string longest(kDescriptionBufferSize, 'X');
  chip.descriptions = {"FT232R" + longest};  // longer than the buffer: cut at its end
  adapter.cmd_Find_Click();
  ASSERT_EQ(window.interface_entries.size(), 1U);
  EXPECT_EQ(window.interface_entries[0].size(), 5 + kDescriptionBufferSize);
}

// --- Open and Close ---

TEST_F(AdapterTest, OpenTakesTheDescriptionAfterTheSeparatorAlsoFromIndexTen) {
  chip.descriptions.assign(12, "Other");
  chip.descriptions[11] = "FT232R Board 11";
  adapter.cmd_Find_Click();
  ASSERT_EQ(window.interface_text, " 11 - FT232R Board 11");
  adapter.cmd_OpenInterface_Click();
  EXPECT_EQ(adapter.LastOpenedDescription(), "FT232R Board 11");
  EXPECT_EQ(adapter.InterfaceOpen, kTrue);
  EXPECT_EQ(window.dev_state_colour, kColourGreen);
}

TEST_F(AdapterTest, TypedTextWithoutSeparatorIsPassedAsItStands) {
  EXPECT_EQ(DescriptionOfEntry("FT232R USB UART"), "FT232R USB UART");
  EXPECT_EQ(DescriptionOfEntry(" 3 - A - B"), "A - B");
  EXPECT_EQ(DescriptionOfEntry(""), "");
}

TEST_F(AdapterTest, OpenRefusalsAndFailures) {
  adapter.cmd_OpenInterface_Click();
  EXPECT_EQ(window.messages.back(), "Find and choose interface first..");
  window.interface_entries = {" 0 - FT232R gone"};
  window.interface_text = window.interface_entries[0];
  adapter.cmd_OpenInterface_Click();
  EXPECT_EQ(window.messages.back(), "Bad result: FT_OpenEx returned 0x2");
  EXPECT_EQ(adapter.InterfaceOpen, kFalse);
  EXPECT_EQ(window.dev_state_colour, kColourRed);
}

TEST_F(AdapterTest, CloseAlwaysTurnsRedAndClearsBothFlags) {
  adapter.PortSetupValid = kTrue;
  window.isp_state_colour = kColourBlue;
  adapter.cmd_CloseInterface_Click();
  EXPECT_TRUE(chip.calls.empty());
  EXPECT_EQ(adapter.PortSetupValid, kFalse);
  EXPECT_EQ(window.dev_state_colour, kColourRed);
  EXPECT_EQ(window.isp_state_colour, kColourRed) << "the set-up goes with the adapter";

  adapter.cmd_Find_Click();
  adapter.cmd_OpenInterface_Click();
  chip.FailCall("FT_Close", 1, FT_IO_ERROR);
  adapter.cmd_CloseInterface_Click();
  EXPECT_EQ(window.messages.back(), "Bad result: FT_Close returned 0x4");
  EXPECT_EQ(adapter.InterfaceOpen, kFalse);
  EXPECT_TRUE(adapter.CloseFailed()) << "the chip may still be open";
  adapter.cmd_CloseInterface_Click();  // nothing open: nothing closed
  EXPECT_TRUE(adapter.CloseFailed());
  adapter.cmd_OpenInterface_Click();
  adapter.cmd_CloseInterface_Click();
  EXPECT_FALSE(adapter.CloseFailed());
}

// The start of a run's stream goes on after them, but not without a word.
// The stream starts from the receive queue emptied and the pins read:
// without either, the run ends with the call named, in the log and a box.
TEST_F(AdapterTest, AFailedPurgeOrPinReadAtTheStartOfAStreamEndsTheRun) {
  const std::pair<const char*, const char*> cases[] = {
      {"FT_Purge", "Bad result: FT_Purge - clear the receive queue returned 0x4"},
      {"FT_GetBitMode", "Bad result: FT_GetBitMode - read the pins returned 0x4"}};
  for (const auto& [call, text] : cases) {
    SCOPED_TRACE(call);
    testing::Rig r;
    r.LoadOpenSetUp();
    r.chip.FailCall(call, 1, FT_IO_ERROR);
    r.player.engine.ResetTap();
    EXPECT_EQ(r.window.messages, std::vector<std::string>{text});
    EXPECT_EQ(r.window.LogLines().back(), text);
    EXPECT_FALSE(r.player.engine.Sync());
    EXPECT_EQ(r.player.flags.StopRequested, kTrue);
  }
}

TEST_F(AdapterTest, ShutdownClosesOnlyASetUpAdapter) {
  adapter.ShutdownInterface();
  EXPECT_TRUE(window.messages.empty());
  adapter.cmd_Find_Click();
  adapter.cmd_OpenInterface_Click();
  adapter.ShutdownInterface();
  EXPECT_EQ(window.messages.back(), "Port Setup missing or outdated.  Re-run bitbang setup");
  EXPECT_EQ(adapter.InterfaceOpen, kTrue);
  adapter.cmd_FTSetup_Click();
  adapter.ShutdownInterface();
  EXPECT_EQ(adapter.InterfaceOpen, kFalse);
  EXPECT_EQ(chip.CountCalls("FT_Close"), 1);
}

TEST_F(AdapterTest, ShowBadResultFormats) {
  adapter.ShowBadResult(0, "X");
  EXPECT_TRUE(window.messages.empty());
  adapter.ShowBadResult(0x1AU, "FT_Foo");
  adapter.ShowBadResult(static_cast<FtStatus>(-2), "FT_Bar");
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Bad result: FT_Foo returned 0x1A",
                                                       "Bad result: FT_Bar returned 0xFFFFFFFE"}));
}

// --- Bit-bang set-up ---

TEST_F(AdapterTest, SetUpCallsInOrderWithTheDefaultPins) {
  rig.player.Form_Load();
  adapter.cmd_OpenInterface_Click();
  chip.ClearRecord();
  adapter.cmd_FTSetup_Click();
  std::vector<std::string> seen;
  for (const auto& c : chip.calls) seen.push_back(c.name + "(" + c.args + ")");
  EXPECT_EQ(seen, (std::vector<std::string>{"FT_GetQueueStatus()", "FT_SetUSBParameters(128,0)", "FT_SetLatencyTimer(16)",
                                            "FT_SetBitMode(0,0)", "FT_SetBitMode(162,4)", "FT_SetDivisor(0)",
                                            "FT_Write(1)"}));
  EXPECT_EQ(chip.written_bytes, (std::vector<std::uint8_t>{0x00}));
  EXPECT_EQ(adapter.PortSetupValid, kTrue);
  EXPECT_EQ(window.isp_state_colour, kColourBlue);
}

TEST_F(AdapterTest, TypedRateUnticksMaxClkAndIsPassedRounded) {
  rig.player.Form_Load();
  adapter.cmd_OpenInterface_Click();
  for (const auto& [text, rate] : std::vector<std::pair<std::string, std::string>>{
           {"150000 baud", "150000"}, {"fast", "0"}, {"9600.5", "9600"}, {"9601.5", "9602"}}) {
    window.baud_text = text;
    adapter.txt_Baud_Change();
    EXPECT_EQ(window.max_clk, 0);
    EXPECT_EQ(adapter.PortSetupValid, kFalse);
    chip.ClearRecord();
    adapter.cmd_FTSetup_Click();
    ASSERT_EQ(chip.calls[5].name, "FT_SetBaudRate") << text;
    EXPECT_EQ(chip.calls[5].args, rate) << text;
  }
  window.max_clk = 1;  // ticking Max CLK alone keeps the set-up valid
  EXPECT_EQ(adapter.PortSetupValid, kTrue);
}

TEST_F(AdapterTest, RateThatFitsNoRegisterIsRefusedBeforeTheChipIsTouched) {
  rig.player.Form_Load();
  adapter.cmd_OpenInterface_Click();
  window.max_clk = 0;
  window.baud_text = "1E12";
  chip.ClearRecord();
  adapter.cmd_FTSetup_Click();
  EXPECT_TRUE(chip.calls.empty());
  EXPECT_EQ(window.messages.back(), "Baud Register value out of range: 1E12");
  EXPECT_EQ(adapter.PortSetupValid, kFalse);
}

struct SetupFailure {
  const char* call;
  int nth;
  const char* label;
};

class SetupFailureTest : public AdapterTest, public ::testing::WithParamInterface<SetupFailure> {};

TEST_P(SetupFailureTest, StopsAtTheFailingCallWithItsLabel) {
  rig.player.Form_Load();
  adapter.cmd_OpenInterface_Click();
  adapter.cmd_FTSetup_Click();  // an earlier good set-up still counts after a failure
  window.max_clk = GetParam().call == std::string("FT_SetBaudRate") ? 0 : 1;
  ASSERT_EQ(window.messages.size(), 0U);
  chip.ClearRecord();
  chip.FailCall(GetParam().call, GetParam().nth, FT_IO_ERROR);
  adapter.cmd_FTSetup_Click();
  ASSERT_EQ(window.messages.size(), 1U);
  EXPECT_EQ(window.messages.back(), std::string("Bad result: ") + GetParam().label + " returned 0x4");
  EXPECT_EQ(chip.calls.back().name, GetParam().call) << "nothing after the failing call";
  EXPECT_EQ(adapter.PortSetupValid, kTrue);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SetupFailureTest,
    ::testing::Values(SetupFailure{"FT_GetQueueStatus", 1, "FT_GetQueueStatus - pre clear"},
                      SetupFailure{"FT_SetUSBParameters", 1, "FT_SetUSBParameters"},
                      SetupFailure{"FT_SetLatencyTimer", 1, "FT_SetLatencyTimer"},
                      SetupFailure{"FT_SetBitMode", 1, "FT_SetBitMode-Reset"},
                      SetupFailure{"FT_SetBitMode", 2, "FT_SetBitMode-BB Mode"},
                      SetupFailure{"FT_SetBaudRate", 1, "FT_SetBaudRate"},
                      SetupFailure{"FT_SetDivisor", 1, "FT_SetBaudRate"},
                      SetupFailure{"FT_Write", 1, "FT_Write - default pin states"}),
    [](const auto& param_info) { return std::string(param_info.param.call) + std::to_string(param_info.param.nth); });

TEST_F(AdapterTest, DirectionMaskFollowsThePinsAsTheyStandNow) {
  rig.player.Form_Load();
  EXPECT_EQ(adapter.DirectionMask(), 0xA2);
  window.SetPinListIndex(Signal::TDI, 1);  // two signals on one pin: fewer bits
  EXPECT_EQ(adapter.DirectionMask(), 0x82);
  window.SetPinListIndex(Signal::TCK, -1);  // typed text: no bit
  EXPECT_EQ(adapter.DirectionMask(), 0x02);
  window.SetPinListIndex(Signal::TDO, 1);  // TDO on an output's pin leaves it an output
  EXPECT_EQ(adapter.DirectionMask(), 0x02);
  EXPECT_EQ(adapter.Pins().tdo, 0x02);
}

TEST_F(AdapterTest, SetUpNeedsAnOpenAdapter) {
  adapter.cmd_FTSetup_Click();
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Please open an interface first.."}));
  EXPECT_TRUE(chip.calls.empty());
}

// --- Device list and recording ---

TEST(DeviceListTest, ListsBackendsInOrderAndRoutesCallsByHandle) {
  FakeD2xx real;
  FakeD2xx virt;
  real.descriptions = {"FT232R USB UART"};
  virt.descriptions = {"FT232R Virtual Board"};
  virt.next_handle = 7;
  DeviceList list({&real, &virt});
  std::uint32_t count = 0;
  ASSERT_EQ(list.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2U);
  char buf[kDescriptionBufferSize] = {};
  ASSERT_EQ(list.FT_ListDevices(1, buf, sizeof buf, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
  EXPECT_STREQ(buf, "FT232R Virtual Board");
  EXPECT_EQ(list.FT_ListDevices(2, buf, sizeof buf, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_DEVICE_NOT_FOUND);

  FtHandle h = 0;
  ASSERT_EQ(list.FT_OpenEx("FT232R Virtual Board", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  const std::uint8_t byte = 0x5A;
  std::uint32_t n = 0;
  EXPECT_EQ(list.FT_Write(h, &byte, 1, &n), FT_OK);
  EXPECT_EQ(virt.written_bytes, (std::vector<std::uint8_t>{0x5A}));
  EXPECT_TRUE(real.written_bytes.empty());
  EXPECT_EQ(list.FT_Close(h), FT_OK);
  EXPECT_EQ(list.FT_Write(h, &byte, 1, &n), FT_INVALID_HANDLE) << "a closed handle is refused";
  EXPECT_EQ(list.FT_Purge(99, 255), FT_INVALID_HANDLE);
}

TEST(DeviceListTest, ABusyRealDeviceIsReportedNotSkipped) {
  FakeD2xx real;
  FakeD2xx virt;
  real.FailCall("FT_OpenEx", 0, FT_DEVICE_NOT_OPENED);
  virt.descriptions = real.descriptions;
  DeviceList list({&real, &virt});
  FtHandle h = 0;
  EXPECT_EQ(list.FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_OPENED);
  EXPECT_FALSE(virt.open);
}

TEST(RecordingTest, OneLinePerCallWithBytes) {
  FakeD2xx chip;
  std::ostringstream out;
  RecordingD2xx rec(chip, out);
  FtHandle h = 0;
  rec.FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &h);
  const std::uint8_t bytes[] = {0x02, 0x82};
  std::uint32_t n = 0;
  rec.FT_Write(h, bytes, 2, &n);
  rec.FT_Close(99);
  EXPECT_EQ(out.str(),
            "FT_OpenEx(\"FT232R USB UART\", flags=2) handle=0x1234 -> 0\n"
            "FT_Write(0x1234, 2) 02 82 -> 0\n"
            "FT_Close(0x63) -> 1\n");
}

// The fake chip's answers to a write are the same whether a block function
// or a byte function gives them, also behind scripted and dropped answers.
TEST(FakeChipTest, BlockAnswersLineUpWithScriptedAndDroppedOnes) {
  const auto answer = [](std::uint8_t b) { return static_cast<std::uint8_t>(b ^ 0x5AU); };
  struct Case {
    std::deque<std::uint8_t> scripted;
    std::uint32_t dropped;
  };
  for (const Case& c : {Case{{}, 0}, Case{{0xEE, 0xEF}, 0}, Case{{}, 3}, Case{{0xEE}, 2}, Case{{}, 9}}) {
    std::vector<std::uint8_t> got[2];
    for (const bool block : {false, true}) {
      FakeD2xx chip;
      FtHandle h = 0;
      ASSERT_EQ(chip.FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
      chip.scripted_answers = c.scripted;
      chip.drop_answers = c.dropped;
      if (block) {
        chip.answer_block = [&](const std::uint8_t* in, std::uint8_t* out, std::uint32_t n) {
          for (std::uint32_t i = 0; i < n; ++i) out[i] = answer(in[i]);
        };
      } else {
        chip.answer_fn = answer;
      }
      const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
      std::uint32_t n = 0;
      for (int w = 0; w < 2; ++w) ASSERT_EQ(chip.FT_Write(h, bytes, sizeof bytes, &n), FT_OK);
      std::uint32_t waiting = 0;
      ASSERT_EQ(chip.FT_GetQueueStatus(h, &waiting), FT_OK);
      got[block ? 1 : 0].resize(waiting);
      ASSERT_EQ(chip.FT_Read(h, got[block ? 1 : 0].data(), waiting, &n), FT_OK);
    }
    EXPECT_EQ(got[1], got[0]) << c.scripted.size() << " scripted, " << c.dropped << " dropped";
    EXPECT_EQ(got[0].size(), 12U - c.dropped);
  }
}

}  // namespace
}  // namespace tavrin::adapter
