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

TEST_F(EngineTest, ResetFromIdleIsOneElevenByteWrite) {
  engine.CurrentTapState = IDLE;
  engine.MoveToState("RESET");
  ASSERT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], (Bytes{0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02}));
  EXPECT_EQ(engine.CurrentTapState, RESET);
  EXPECT_EQ(chip.CallNames(), (std::vector<std::string>{"FT_Purge", "FT_GetBitMode", "FT_Write"}));
  EXPECT_EQ(chip.calls[0].args, "255");
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

// TMS of each 3-byte write of a walk, read back from the bytes.
std::vector<int> TmsOfWrites(const adapter::FakeD2xx& chip) {
  std::vector<int> tms;
  for (const auto& w : chip.writes) {
    EXPECT_EQ(w.size(), 3U);
    EXPECT_EQ(w[0] & 0x80, 0);
    EXPECT_EQ(w[1] & 0x80, 0x80);
    EXPECT_EQ(w[2] & 0x80, 0);
    EXPECT_EQ(w[0] & 0x02, w[2] & 0x02);
    tms.push_back((w[1] & 0x02) != 0 ? 1 : 0);
  }
  return tms;
}

TEST_F(EngineTest, WalksFollowTheShortestPathOneWritePerClock) {
  engine.CurrentTapState = DRSHIFT;
  engine.MoveToState("IDLE");
  EXPECT_EQ(TmsOfWrites(chip), (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(engine.CurrentTapState, IDLE);
  chip.writes.clear();
  engine.MoveToState("IRSHIFT");
  EXPECT_EQ(TmsOfWrites(chip), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(engine.CurrentTapState, IRSHIFT);
}

TEST_F(EngineTest, StepsKeepTdiAndFreePinsAtTheLevelsRead) {
  chip.bit_mode_pins = 0xFF;  // every pin high: TDI and the free pins stay high, TDO and TCK are cleared
  engine.CurrentTapState = IDLE;
  engine.MoveToState("DRSELECT");
  ASSERT_EQ(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], (Bytes{0x3F, 0xBF, 0x3F}));
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

TEST_F(EngineTest, FailedWriteInTheSecondStepStopsAtTheFirstStepsState) {
  engine.CurrentTapState = DRSHIFT;
  chip.FailCall("FT_Write", 2, FT_IO_ERROR);
  engine.MoveToState("IDLE");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Bad result: FT_Write - packet write returned 0x4"}));
  EXPECT_EQ(engine.CurrentTapState, DREXIT1);
  EXPECT_EQ(chip.CountCalls("FT_Write"), 2);
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
}

// --- Shifting ---

TEST_F(EngineTest, FourBitScanBytesAndDecodedTdo) {
  engine.CurrentTapState = DRSHIFT;
  // Answers: D6 high in the 3rd and 12th byte, low in the 6th and 9th.
  chip.scripted_answers = {0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0x40};
  const std::string got = engine.ShiftBits("IDLE", 4, "A");
  EXPECT_EQ(got, "9");
  ASSERT_GE(chip.writes.size(), 1U);
  EXPECT_EQ(chip.writes[0], (Bytes{0x00, 0x80, 0x00, 0x20, 0xA0, 0x20, 0x00, 0x80, 0x00, 0x22, 0xA2, 0x20}));
  EXPECT_EQ(rig.window.LogLines().back(), "lNumBytes= 12");
  // Then the end-state walk from DREXIT1: TMS 1, 0.
  EXPECT_EQ(chip.writes.size(), 3U);
  EXPECT_EQ(engine.CurrentTapState, IDLE);
}

TEST_F(EngineTest, PartialLastDigitUsesOnlyItsLowBits) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  EXPECT_EQ(engine.ShiftBits("IDLE", 6, "2A"), "2A");
  EXPECT_EQ(chip.writes[0].size(), 18U);
  engine.MoveToState("DRSHIFT");
  EXPECT_EQ(engine.ShiftBits("IDLE", 6, "FF"), "3F");  // bits 6 and 7 are never shifted
  engine.MoveToState("DRSHIFT");
  EXPECT_EQ(engine.ShiftBits("IDLE", 4, "1F"), "F");  // digits beyond the length are not read
}

TEST_F(EngineTest, TwentyBitsGoAsAChunkOf48AndOneOf12) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  EXPECT_EQ(engine.ShiftBits("DRPAUSE", 20, "5A5C3"), "5A5C3");
  ASSERT_GE(chip.writes.size(), 2U);
  EXPECT_EQ(chip.writes[0].size(), 48U);
  EXPECT_EQ(chip.writes[1].size(), 12U);
  EXPECT_EQ(engine.CurrentTapState, DRPAUSE);
  EXPECT_EQ(rig.clock.SleptMs(), 0U) << "no fixed wait when the answers are there";
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
  EXPECT_EQ(chip.CountCalls("FT_Read"), 0);
  // From IRSHIFT to IDLE: TMS 1, 1, 0.
  EXPECT_EQ(TmsOfWrites(chip), (std::vector<int>{1, 1, 0}));
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
  chip.drop_answers = 50;  // the whole first chunk and 2 of the next
  const std::string got = engine.ShiftBits("IDLE", 32, "F6E5F093");
  EXPECT_EQ(got, "");
  ASSERT_EQ(rig.window.messages.size(), 1U);
  EXPECT_EQ(rig.window.messages[0], "The adapter answered 0 of 48 bytes within 1000 ms.  The scan is incomplete; stopping.");
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_EQ(chip.CountCalls("FT_Read"), 0) << "nothing is decoded from a short read-back";
  EXPECT_EQ(engine.CurrentTapState, DREXIT1) << "no end-state walk";
}

struct ChipFailure {
  const char* call;
  const char* message;
};

class ShiftFailureTest : public EngineTest, public ::testing::WithParamInterface<ChipFailure> {};

TEST_P(ShiftFailureTest, ReportsOnceStopsTheRunAndKeepsEarlierDigits) {
  engine.CurrentTapState = DRSHIFT;
  rig.LoopTdiToTdo();
  chip.FailCall(GetParam().call, 2, FT_IO_ERROR);
  const std::string got = engine.ShiftBits("IDLE", 32, "F6E5F093");
  EXPECT_EQ(got, "F093");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{GetParam().message}));
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  EXPECT_EQ(engine.CurrentTapState, DREXIT1);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ShiftFailureTest,
    ::testing::Values(ChipFailure{"FT_Write", "Bad result: FT_Write - packet write returned 0x4"},
                      ChipFailure{"FT_GetQueueStatus", "Bad result: FT_GetQueueStatus - check for input data returned 0x4"},
                      ChipFailure{"FT_Read", "Bad result: FT_Read - get data returned 0x4"}),
    [](const auto& param_info) { return std::string(param_info.param.call); });

TEST_F(EngineTest, ProcessesEventsOncePerDigit) {
  engine.CurrentTapState = DRSHIFT;
  const long long before = rig.window.events_processed;
  engine.ShiftBits("IDLE", 37, "");
  EXPECT_EQ(rig.window.events_processed - before, 10);
}

TEST_F(EngineTest, RefusesWithoutSetUp) {
  rig.player.adapter.PortSetupValid = kFalse;
  EXPECT_EQ(engine.ShiftBits("IDLE", 8, "FF"), "");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  EXPECT_TRUE(chip.calls.empty());
}

}  // namespace
}  // namespace tavrin::jtag
