// SPDX-License-Identifier: Apache-2.0

#include "board/tap_chain.h"

#include <gtest/gtest.h>

#include <vector>

#include "bench.h"

namespace tavrin::board {
namespace {

using testing::BitsOf;
using testing::ValueOf;
using S = TapState;

constexpr S kAllStates[] = {S::TestLogicReset, S::RunTestIdle, S::SelectDrScan, S::CaptureDr, S::ShiftDr, S::Exit1Dr,
                            S::PauseDr,        S::Exit2Dr,     S::UpdateDr,     S::SelectIrScan, S::CaptureIr,
                            S::ShiftIr,        S::Exit1Ir,     S::PauseIr,      S::Exit2Ir,   S::UpdateIr};

TEST(TapStateMachine, FiveTmsHighReachTestLogicResetFromEveryState) {
  for (const S start : kAllStates) {
    S s = start;
    for (int i = 0; i < 5; ++i) s = NextTapState(s, true);
    EXPECT_EQ(s, S::TestLogicReset) << TapStateName(start);
  }
}

struct WalkCase {
  S from;
  std::vector<int> tms;
  S to;
};

class TapWalks : public ::testing::TestWithParam<WalkCase> {};

TEST_P(TapWalks, FollowTheStandardDiagram) {
  S s = GetParam().from;
  for (const int t : GetParam().tms) s = NextTapState(s, t != 0);
  EXPECT_EQ(s, GetParam().to) << TapStateName(s);
}

INSTANTIATE_TEST_SUITE_P(
    Diagram, TapWalks,
    ::testing::Values(WalkCase{S::TestLogicReset, {0}, S::RunTestIdle}, WalkCase{S::RunTestIdle, {0, 0, 0}, S::RunTestIdle},
                      WalkCase{S::RunTestIdle, {1, 0, 0}, S::ShiftDr}, WalkCase{S::RunTestIdle, {1, 1, 0, 0}, S::ShiftIr},
                      WalkCase{S::ShiftDr, {0, 0}, S::ShiftDr}, WalkCase{S::ShiftDr, {1, 0, 0, 1, 0}, S::ShiftDr},
                      WalkCase{S::ShiftIr, {1, 0, 1, 0}, S::ShiftIr}, WalkCase{S::ShiftDr, {1, 1, 0}, S::RunTestIdle},
                      WalkCase{S::ShiftIr, {1, 1, 1}, S::SelectDrScan}, WalkCase{S::CaptureDr, {1, 1}, S::UpdateDr},
                      WalkCase{S::CaptureIr, {1, 0, 1, 1}, S::UpdateIr}, WalkCase{S::SelectIrScan, {1}, S::TestLogicReset},
                      WalkCase{S::PauseDr, {1, 1}, S::UpdateDr}, WalkCase{S::UpdateIr, {1, 1, 1}, S::TestLogicReset}));

// Drives a device or chain directly, one TCK pulse per call.
template <typename T>
void Clock(T& t, bool tms, bool tdi = false) {
  t.Rise(tms, tdi);
  t.Fall();
}

template <typename T>
void Walk(T& t, std::initializer_list<int> tms) {
  for (const int v : tms) Clock(t, v != 0);
}

// Shifts the bits in (bit 0 first), TMS high on the last; gives the TDO
// level seen before each rising edge.
template <typename T>
std::vector<bool> Shift(T& t, const std::vector<bool>& in) {
  std::vector<bool> out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    out.push_back(t.Tdo());
    Clock(t, i + 1 == in.size(), in[i]);
  }
  return out;
}

template <typename T>
std::vector<bool> ScanIr(T& t, const std::vector<bool>& in) {
  Walk(t, {1, 1, 0, 0});
  auto out = Shift(t, in);
  Walk(t, {1, 0});
  return out;
}

template <typename T>
std::vector<bool> ScanDr(T& t, const std::vector<bool>& in) {
  Walk(t, {1, 0, 0});
  auto out = Shift(t, in);
  Walk(t, {1, 0});
  return out;
}

class Device : public ::testing::Test {
 protected:
  Device() : tap(DefaultBoard().chain[0]) { Walk(tap, {0}); }
  TapDevice tap;
};

TEST_F(Device, PowersUpInTestLogicResetWithIdcodeSelectedAndTdoUndriven) {
  TapDevice fresh(DefaultBoard().chain[0]);
  EXPECT_EQ(fresh.State(), S::TestLogicReset);
  EXPECT_EQ(fresh.InstructionName(), "IDCODE");
  EXPECT_EQ(fresh.Instruction(), 0x01U);
  EXPECT_TRUE(fresh.Tdo());
}

TEST_F(Device, IdcodeScanAfterResetGivesTheIdcode) {
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0, 32))), 0xf6e5f093U);
  EXPECT_EQ(tap.State(), S::RunTestIdle);
  // Shifting in something else does not change the IDCODE.
  ScanDr(tap, BitsOf(0x12345678, 32));
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0, 32))), 0xf6e5f093U);
}

TEST_F(Device, IrCapturesZeroOneAndTheInstructionTakesEffectAtUpdate) {
  // What is shifted in stays out of effect until Update-IR.
  Walk(tap, {1, 1, 0, 0});
  const auto captured = Shift(tap, BitsOf(0xFD, 8));
  EXPECT_EQ(ValueOf(captured), 0x01U);
  EXPECT_EQ(tap.State(), S::Exit1Ir);
  EXPECT_EQ(tap.InstructionName(), "IDCODE");
  Walk(tap, {1});
  EXPECT_EQ(tap.State(), S::UpdateIr);
  EXPECT_EQ(tap.InstructionName(), "USERCODE");
  EXPECT_EQ(tap.SelectedRegister(), "USERCODE");
}

TEST_F(Device, TdoIsUndrivenOutsideTheShiftStates) {
  Walk(tap, {1, 0});  // Capture-DR
  EXPECT_TRUE(tap.Tdo());
  Walk(tap, {0});  // Shift-DR: the IDCODE's bit 0 (1), then bits 1 (1) and 2 (0)
  EXPECT_TRUE(tap.Tdo());
  Clock(tap, false);
  EXPECT_TRUE(tap.Tdo());
  Clock(tap, false);
  EXPECT_FALSE(tap.Tdo());
  Walk(tap, {1});  // Exit1-DR
  EXPECT_TRUE(tap.Tdo());
}

TEST_F(Device, BypassCapturesZeroAndDelaysByOneBit) {
  ScanIr(tap, BitsOf(0xFF, 8));
  EXPECT_EQ(tap.InstructionName(), "BYPASS");
  const auto out = ScanDr(tap, {true, true, false, true});
  EXPECT_EQ(out, (std::vector<bool>{false, true, true, false}));
}

TEST_F(Device, UnknownOpcodeSelectsBypass) {
  ScanIr(tap, BitsOf(0x42, 8));
  EXPECT_EQ(tap.Instruction(), 0x42U);
  EXPECT_EQ(tap.SelectedRegister(), "BYPASS");
  EXPECT_EQ(ScanDr(tap, {true, true}), (std::vector<bool>{false, true}));
}

TEST_F(Device, RegisterReadsBackTheLastValueWritten) {
  ScanIr(tap, BitsOf(0x02, 8));  // SCRATCH, 16 bits
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0xBEEF, 16))), 0U);
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "beef");
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0x1234, 16))), 0xBEEFU);
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0, 16))), 0x1234U);
}

TEST_F(Device, ScanLongerThanTheRegisterPassesTdiThrough) {
  ScanIr(tap, BitsOf(0x02, 8));
  ScanDr(tap, BitsOf(0xA5A5, 16));
  // 24 bits through a 16-bit register: the old contents, then our first 8 bits.
  const auto out = ScanDr(tap, BitsOf(0x00C3FF, 24));
  EXPECT_EQ(ValueOf(out), 0xFFA5A5U);
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "00c3");
}

TEST_F(Device, ExitWithoutUpdateKeepsNothingAndPauseContinuesTheShift) {
  ScanIr(tap, BitsOf(0x02, 8));
  // Shift 8 bits, pause, shift 8 more, then update: one 16-bit value.
  Walk(tap, {1, 0, 0});
  Shift(tap, BitsOf(0x34, 8));
  Walk(tap, {0, 0, 1, 0});  // Pause-DR, Pause-DR, Exit2-DR, Shift-DR
  EXPECT_EQ(tap.State(), S::ShiftDr);
  Shift(tap, BitsOf(0x12, 8));
  Walk(tap, {1, 0});
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "1234");
  // Capture-DR, Exit1, Pause, Exit2, Update: captures and stores unchanged.
  Walk(tap, {1, 0, 1, 0, 1, 1, 0});
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "1234");
}

TEST_F(Device, FixedCaptureIgnoresWhatIsWritten) {
  ScanIr(tap, BitsOf(0xFD, 8));  // USERCODE captures a fixed value
  const auto first = ValueOf(ScanDr(tap, BitsOf(0xFFFFFFFF, 32)));
  EXPECT_EQ(ValueOf(ScanDr(tap, BitsOf(0, 32))), first);
  EXPECT_EQ(first, 0x5441564eU);
}

TEST_F(Device, TestLogicResetRestoresIdcodeButKeepsRegisters) {
  ScanIr(tap, BitsOf(0x02, 8));
  ScanDr(tap, BitsOf(0x00FF, 16));
  Walk(tap, {1, 1, 1, 1, 1});
  EXPECT_EQ(tap.State(), S::TestLogicReset);
  EXPECT_EQ(tap.InstructionName(), "IDCODE");
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "00ff");
  tap.PowerOn();
  EXPECT_EQ(HexFromBits(*tap.RegisterValue("SCRATCH")), "0000");
}

TEST(DeviceWithoutIdcode, ResetsToBypass) {
  const auto r = ParseBoard(R"({"chain":[{"name":"d","ir_length":5}]})");
  ASSERT_TRUE(r.board) << r.error;
  TapDevice tap(r.board->chain[0]);
  EXPECT_EQ(tap.InstructionName(), "BYPASS");
  EXPECT_EQ(tap.Instruction(), 0x1FU);
  Walk(tap, {0});
  EXPECT_EQ(ScanDr(tap, {true, false}), (std::vector<bool>{false, true}));
}

TEST(DeviceIr, SixtyFourBitsAndCustomCapture) {
  const auto r = ParseBoard(R"({"chain":[{"name":"d","ir_length":64,"ir_capture":"0x800000000000001d"}]})");
  ASSERT_TRUE(r.board) << r.error;
  TapDevice tap(r.board->chain[0]);
  Walk(tap, {0});
  EXPECT_EQ(ValueOf(ScanIr(tap, BitsOf(0x0123456789ABCDEFULL, 64))), 0x800000000000001dULL);
  EXPECT_EQ(tap.Instruction(), 0x0123456789ABCDEFULL);
}

TEST(LongRegister, ShiftsAMillionBitsAndReadsThemBack) {
  const auto r = ParseBoard(R"({"chain":[{"name":"d","ir_length":2,"instructions":{"BIG":"0x1"},
      "registers":[{"name":"BIG","length":1048576}]}]})");
  ASSERT_TRUE(r.board) << r.error;
  TapDevice tap(r.board->chain[0]);
  Walk(tap, {0});
  ScanIr(tap, {true, false});
  std::vector<bool> pattern(1048576);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = (i * 7919) % 13 < 5;
  ScanDr(tap, pattern);
  EXPECT_EQ(*tap.RegisterValue("BIG"), pattern);
  EXPECT_EQ(ScanDr(tap, std::vector<bool>(pattern.size())), pattern);
}

TEST(Chain, DevicesShareTmsAndPassDataFromTdiToTdo) {
  const auto board = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json");
  ASSERT_TRUE(board.board) << board.error;
  TapChain chain(*board.board);
  ASSERT_EQ(chain.Size(), 2U);
  Walk(chain, {0});
  // IR scan: 8 bits for the CPLD, nearest TDI, then 6 for the FPGA. The FPGA's
  // capture comes out first.
  std::vector<bool> ir = BitsOf(0x3F, 6);  // FPGA: BYPASS
  const auto cpld = BitsOf(0xFF, 8);      // CPLD: BYPASS
  ir.insert(ir.end(), cpld.begin(), cpld.end());
  const auto captured = ScanIr(chain, ir);
  EXPECT_EQ(ValueOf(captured), 0x01U | (0x01U << 6));
  EXPECT_EQ(chain.Device(0).InstructionName(), "BYPASS");
  EXPECT_EQ(chain.Device(1).InstructionName(), "BYPASS");
  // Two bypass bits: what goes in comes out two clocks later.
  const auto out = ScanDr(chain, {true, false, true, true, false, false});
  EXPECT_EQ(out, (std::vector<bool>{false, false, true, false, true, true}));
  EXPECT_EQ(chain.RisingEdges(), chain.FallingEdges());
}

TEST(Chain, IdcodesAfterResetComeOutLastDeviceFirst) {
  const auto board = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json");
  ASSERT_TRUE(board.board) << board.error;
  TapChain chain(*board.board);
  Walk(chain, {1, 1, 1, 1, 1, 0});
  const auto out = ScanDr(chain, std::vector<bool>(64));
  EXPECT_EQ(ValueOf(std::vector<bool>(out.begin(), out.begin() + 32)), 0x24001093U);
  EXPECT_EQ(ValueOf(std::vector<bool>(out.begin() + 32, out.end())), 0xf6e5f093U);
}

}  // namespace
}  // namespace tavrin::board
