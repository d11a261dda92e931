// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include "../support/rig.h"

namespace tavrin::jtag {
namespace {

using adapter::FT_IO_ERROR;
using Bytes = std::vector<std::uint8_t>;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { rig.LoadOpenSetUp(); }
  testing::Rig rig;
  Engine& engine = rig.player.engine;
  adapter::FakeD2xx& chip = rig.chip;
};

// --- Navigation ---

// The bytes queued, then hold bytes (the last byte again) to a whole packet
// of answers.
Bytes Padded(Bytes bytes) {
  bytes.resize((bytes.size() + kPacketAnswers - 1) / kPacketAnswers * kPacketAnswers, bytes.back());
  return bytes;
}

TEST_F(EngineTest, ResetFromIdleIsElevenBytesReadBackInOnePacket) {
  engine.CurrentTapState = IDLE;
  engine.MoveToState("RESET");
  EXPECT_EQ(engine.CurrentTapState, RESET);
  // Queued: the pins are read once, nothing is written yet.
  EXPECT_EQ(chip.CallNames(), (std::vector<std::string>{"FT_Purge", "FT_GetBitMode"}));
  EXPECT_EQ(chip.calls[0].args, "255");
  ASSERT_TRUE(engine.Sync());
  ASSERT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], Padded({0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02}));
  EXPECT_EQ(chip.CallNames(), (std::vector<std::string>{"FT_Purge", "FT_GetBitMode", "FT_Write", "FT_GetQueueStatus",
                                                        "FT_Read"}));
}

// A walk on empty tables would never arrive: an engine has its tables
// before start-up has run.
TEST(EngineTables, BuiltBeforeStartUp) {
  testing::Rig rig;
  TapTables built;
  BuildTapTables(built);
  EXPECT_EQ(rig.player.engine.Tables().NextStateTable, built.NextStateTable);
  EXPECT_EQ(rig.player.engine.Tables().TmsPathTable, built.TmsPathTable);
}

TEST_F(EngineTest, AMoveToTheBelievedStateMakesNoCall) {
  engine.MoveToState("RESET");
  engine.CurrentTapState = IDLE;
  engine.MoveToState("IDLE");
  EXPECT_TRUE(chip.calls.empty());
}

TEST_F(EngineTest, WalksFollowTheShortestPathOneClockPerStep) {
  engine.CurrentTapState = DRSHIFT;
  engine.MoveToState("IDLE");
  EXPECT_EQ(engine.CurrentTapState, IDLE);
  engine.MoveToState("IRSHIFT");
  EXPECT_EQ(engine.CurrentTapState, IRSHIFT);
  ASSERT_TRUE(engine.Sync());
  EXPECT_EQ(rig.TmsAtClocks(), "110" "1100");
  // Each step is TCK low, high, low with TMS steady: three bytes.
  const Bytes& w = chip.writes.at(0);
  for (std::size_t k = 0; k < 21; k += 3) {
    EXPECT_EQ(w[k] & 0x80, 0);
    EXPECT_EQ(w[k + 1] & 0x80, 0x80);
    EXPECT_EQ(w[k + 2] & 0x80, 0);
    EXPECT_EQ(w[k] & 0x02, w[k + 2] & 0x02);
  }
}

TEST_F(EngineTest, StepsKeepTdiAndFreePinsAtTheLevelsReadOnce) {
  chip.bit_mode_pins = 0xFF;  // every pin high: TDI and the free pins stay high, TDO and TCK are cleared
  engine.CurrentTapState = IDLE;
  engine.MoveToState("DRSELECT");
  chip.bit_mode_pins = 0x00;  // no second read: the levels are those last driven
  engine.MoveToState("DRCAPTURE");
  ASSERT_TRUE(engine.Sync());
  ASSERT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], Padded({0x3F, 0xBF, 0x3F, 0x3D, 0xBD, 0x3D}));
  EXPECT_EQ(chip.CountCalls("FT_GetBitMode"), 1);
  EXPECT_EQ(chip.CountCalls("FT_Purge"), 1);
}

TEST_F(EngineTest, UnknownStateIsLoggedShownAndStopsTheRun) {
  engine.CurrentTapState = IDLE;
  for (const char* name : {"idle", "IDLE ", "Shift-DR"}) {
    rig.player.flags.StopRequested = kFalse;
    engine.MoveToState(name);
    const std::string text = std::string("Uh Oh, I don't recognize state: ") + name + ".  Bailing Out";
    EXPECT_EQ(rig.window.messages.back(), text);
    EXPECT_EQ(rig.window.LogLines().back(), text);
    EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  }
  EXPECT_TRUE(chip.calls.empty());
  EXPECT_EQ(engine.CurrentTapState, IDLE);
}

TEST_F(EngineTest, RefusesWithoutAdapterOrSetUpBeforeLookingAtTheName) {
  rig.player.adapter.PortSetupValid = kFalse;
  engine.MoveToState("NOSUCH");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  rig.player.adapter.InterfaceOpen = kFalse;
  engine.MoveToState("NOSUCH");
  EXPECT_EQ(rig.window.messages.back(), "Please open an interface first..");
  // A run does not go on without its adapter.
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_TRUE(chip.calls.empty());
}

TEST_F(EngineTest, AFailedWriteStopsTheRunAndNothingMoreGoesOutUntilTheNextReset) {
  engine.CurrentTapState = DRSHIFT;
  chip.FailCall("FT_Write", 1, FT_IO_ERROR);
  engine.MoveToState("IDLE");
  EXPECT_FALSE(engine.Sync());
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Bad result: FT_Write - packet write returned 0x4"}));
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  // Whatever is asked afterwards in this run is dropped without a word.
  engine.MoveToState("DRSHIFT");
  EXPECT_FALSE(engine.Sync());
  EXPECT_EQ(chip.CountCalls("FT_Write"), 1);
  EXPECT_EQ(rig.window.messages.size(), 1U);
  // The next run's reset starts afresh.
  rig.player.flags.StopRequested = kFalse;
  engine.ResetTap();
  EXPECT_TRUE(engine.Sync());
  EXPECT_EQ(chip.CountCalls("FT_Write"), 2);
}

// --- Shifting ---

TEST_F(EngineTest, FourBitScanBytesAndDecodedTdo) {
  engine.CurrentTapState = DRSHIFT;
  // Answers: D6 high in the 3rd and 12th byte, low in the 6th and 9th.
  chip.scripted_answers = {0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0x40};
  const std::string got = engine.ShiftBits("IDLE", 4, "A");
  EXPECT_EQ(got, "9");
  // The scan's bits, then the end-state walk from DREXIT1 (TMS 1, 0), in
  // one write.
  ASSERT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], Padded({0x00, 0x80, 0x00, 0x20, 0xA0, 0x20, 0x00, 0x80, 0x00, 0x22, 0xA2, 0x20,  //
                                    0x22, 0xA2, 0x22, 0x20, 0xA0, 0x20}));
  EXPECT_EQ(rig.window.LogLines().back(), "lNumBytes= 12");
  EXPECT_EQ(engine.CurrentTapState, IDLE);
}

TEST_F(EngineTest, PartialLastDigitUsesOnlyItsLowBits) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  EXPECT_EQ(engine.ShiftBits("IDLE", 6, "2A"), "2A");
  engine.MoveToState("DRSHIFT");
  EXPECT_EQ(engine.ShiftBits("IDLE", 6, "FF"), "3F");  // bits 6 and 7 are never shifted
  engine.MoveToState("DRSHIFT");
  EXPECT_EQ(engine.ShiftBits("IDLE", 4, "1F"), "F");  // digits beyond the length are not read
}

TEST_F(EngineTest, ALongScanGoesInWholeBlocksAndEndsOnAWholePacket) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  std::string tdi;
  for (int i = 0; i < 250; ++i) tdi += "0123456789ABCDEF"[i % 16];
  EXPECT_EQ(engine.ShiftBits("DRPAUSE", 1000, tdi), tdi);
  // 3000 bytes of bits and 6 of the walk: eight blocks, then 24 bytes and
  // hold bytes to 62.
  ASSERT_EQ(chip.writes.size(), 9U);
  for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(chip.writes[k].size(), kBlockBytes);
  EXPECT_EQ(chip.writes[8].size(), 62U);
  EXPECT_EQ(engine.CurrentTapState, DRPAUSE);
  EXPECT_EQ(rig.clock.SleptMs(), 0U) << "no fixed wait when the answers are there";
}

TEST_F(EngineTest, QueuedScansShareWritesAndCompleteInOrder) {
  engine.CurrentTapState = IDLE;
  rig.LoopTdiToTdo();
  std::vector<std::string> done;
  for (const char* tdi : {"A5", "3C", "0F"}) {
    engine.MoveToState("DRSHIFT");
    engine.ShiftBitsThen("IDLE", 8, tdi, [&done](std::string captured, bool cut) {
      done.push_back(captured + (cut ? " cut" : ""));
    });
  }
  EXPECT_TRUE(done.empty()) << "nothing is written before a block fills or Sync";
  EXPECT_TRUE(chip.writes.empty());
  ASSERT_TRUE(engine.Sync());
  EXPECT_EQ(done, (std::vector<std::string>{"A5", "3C", "0F"}));
  EXPECT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(rig.window.LogLines().size(), 1U) << "a queued scan logs nothing";
}

TEST_F(EngineTest, AStopCutsTheScanBeingQueuedAfterTheBlockInFlight) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  rig.window.on_events = [&] { rig.player.flags.StopRequested = kTrue; };
  std::vector<std::string> done;
  engine.ShiftBitsThen("IDLE", 100000, "", [&done](std::string, bool cut) { done.push_back(cut ? "cut" : "whole"); });
  EXPECT_EQ(done, std::vector<std::string>{"cut"});
  EXPECT_TRUE(engine.LastScanCut());
  EXPECT_EQ(engine.CurrentTapState, DRSHIFT) << "the bit that leaves Shift-DR was never clocked";
  // The block that saw the stop, then what was queued of the 16 bits under
  // way, which ends on a whole bit.
  ASSERT_EQ(chip.writes.size(), 2U);
  EXPECT_LE(chip.writes[1].size(), 62U);
  EXPECT_EQ(rig.TmsAtClocks(), std::string(rig.Clocks().size(), '0'));
}

TEST_F(EngineTest, AnAdapterClosedUnderTheStreamCutsWithoutAWord) {
  engine.CurrentTapState = IDLE;
  engine.MoveToState("DRSHIFT");
  bool cut = false;
  engine.ShiftBitsThen("IDLE", 8, "FF", [&cut](std::string, bool was_cut) { cut = was_cut; });
  rig.player.adapter.InterfaceOpen = kFalse;  // Close Interface while the run unwinds
  EXPECT_FALSE(engine.Sync());
  EXPECT_TRUE(cut);
  EXPECT_TRUE(chip.writes.empty());
  EXPECT_TRUE(rig.window.messages.empty());
}

TEST_F(EngineTest, ShortTdiReadsMissingDigitsAsZero) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  EXPECT_EQ(engine.ShiftBits("IDLE", 21, "16"), "000016");
}

TEST_F(EngineTest, ZeroBitsSendsNothingAndStillWalks) {
  engine.CurrentTapState = IRSHIFT;
  EXPECT_EQ(engine.ShiftBits("IDLE", 0, "FF"), "");
  EXPECT_EQ(rig.window.LogLines().back(), "lNumBytes= 0");
  // From IRSHIFT to IDLE: TMS 1, 1, 0, and no other clock.
  EXPECT_EQ(rig.TmsAtClocks(), "110");
}

TEST_F(EngineTest, UnknownEndStateStillReturnsTheCapture) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  EXPECT_EQ(engine.ShiftBits("NOWHERE", 8, "C3"), "C3");
  EXPECT_EQ(engine.CurrentTapState, DREXIT1);
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
}

TEST_F(EngineTest, LateAnswersAreWaitedFor) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  chip.deliver_per_query = 5;
  EXPECT_EQ(engine.ShiftBits("IDLE", 32, "F6E5F093"), "F6E5F093");
  EXPECT_EQ(rig.window.messages.size(), 0U);
  EXPECT_GT(chip.CountCalls("FT_GetQueueStatus"), 10);
}

TEST_F(EngineTest, MissingAnswersTimeOutTellTheOperatorAndStop) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  chip.drop_answers = 50;
  const std::string got = engine.ShiftBits("IDLE", 32, "F6E5F093");
  EXPECT_EQ(got, "");
  EXPECT_TRUE(engine.LastScanCut());
  // 96 bytes of bits and 6 of the walk, padded to 124.
  ASSERT_EQ(rig.window.messages.size(), 1U);
  EXPECT_EQ(rig.window.messages[0], "The adapter answered 74 of 124 bytes within 1000 ms.  The scan is incomplete; stopping.");
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_EQ(chip.CountCalls("FT_Read"), 0) << "nothing is decoded from a short read-back";
  EXPECT_GE(rig.clock.NowMicros(), 1'000'000U);
  EXPECT_LT(rig.clock.NowMicros(), 1'100'000U) << "the bound is per block, and there was one";
}

struct ChipFailure {
  const char* call;
  const char* message;
};

class ShiftFailureTest : public EngineTest, public ::testing::WithParamInterface<ChipFailure> {};

TEST_P(ShiftFailureTest, ReportsOnceStopsTheRunAndKeepsTheDigitsOfEarlierBlocks) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  chip.FailCall(GetParam().call, 2, FT_IO_ERROR);  // in the second block
  std::string tdi;
  for (int i = 0; i < 100; ++i) tdi += "0123456789ABCDEF"[i % 16];
  const std::string got = engine.ShiftBits("IDLE", 400, tdi);
  // The first block held 124 bits: 31 whole digits.
  EXPECT_EQ(got, tdi.substr(tdi.size() - 31));
  EXPECT_TRUE(engine.LastScanCut());
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{GetParam().message}));
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_EQ(chip.CountCalls("FT_Write"), 2) << "nothing after the failure";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ShiftFailureTest,
    ::testing::Values(ChipFailure{"FT_Write", "Bad result: FT_Write - packet write returned 0x4"},
                      ChipFailure{"FT_GetQueueStatus", "Bad result: FT_GetQueueStatus - check for input data returned 0x4"},
                      ChipFailure{"FT_Read", "Bad result: FT_Read - get data returned 0x4"}),
    [](const auto& param_info) { return std::string(param_info.param.call); });

TEST_F(EngineTest, ProcessesEventsOncePerBlockPaddedOrNot) {
  engine.CurrentTapState = DRSHIFT;
  const long long before = rig.window.events_processed;
  engine.ShiftBits("IDLE", 1000, "");  // 3006 bytes: eight full blocks and the rest
  EXPECT_EQ(rig.window.events_processed - before, 9);
}

TEST_F(EngineTest, RefusesWithoutSetUp) {
  rig.player.adapter.PortSetupValid = kFalse;
  EXPECT_EQ(engine.ShiftBits("IDLE", 8, "FF"), "");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  EXPECT_TRUE(chip.calls.empty());
}

}  // namespace
}  // namespace tavrin::jtag
