// SPDX-License-Identifier: Apache-2.0

#include "board/virtual_d2xx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench.h"

namespace tavrin::board {
namespace {

using testing::Bench;
using testing::BitsOf;
using testing::Stream;
using testing::ValueOf;

BoardSpec ExampleBoard(const std::string& name) {
  auto r = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/" + name);
  EXPECT_TRUE(r.board) << r.error;
  return r.board ? *r.board : DefaultBoard();
}

// --- Listing, open, close ---

TEST(Listing, OneDeviceWithDescriptionAndSerial) {
  VirtualD2xx chip;
  std::uint32_t count = 0;
  ASSERT_EQ(chip.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 1U);
  char buf[kDescriptionBufferSize];
  ASSERT_EQ(chip.FT_ListDevices(0, buf, sizeof buf, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
  EXPECT_STREQ(buf, "FT232R Virtual Board");
  ASSERT_EQ(chip.FT_ListDevices(0, buf, sizeof buf, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
  EXPECT_STREQ(buf, "VIRT0001");
  EXPECT_EQ(chip.FT_ListDevices(1, buf, sizeof buf, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_DEVICE_NOT_FOUND);
}

TEST(Listing, ShortBufferGetsWhatFitsWithoutTerminator) {
  VirtualD2xx chip;
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  ASSERT_EQ(chip.FT_ListDevices(0, buf, 6, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
  EXPECT_EQ(std::string(buf, 7), "FT232Rx");
}

TEST(Listing, BadArgumentsAreRefused) {
  VirtualD2xx chip;
  std::uint32_t count = 7;
  EXPECT_EQ(chip.FT_ListDevices(&count, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(count, 7U);
  EXPECT_EQ(chip.FT_ListDevices(nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
  char buf[4];
  EXPECT_EQ(chip.FT_ListDevices(0, buf, 0, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_INVALID_PARAMETER);
  EXPECT_EQ(chip.FT_ListDevices(0, nullptr, 4, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_INVALID_PARAMETER);
}

struct OpenCase {
  const char* arg;
  std::uint32_t flags;
  FtStatus status;
};

class Opening : public ::testing::TestWithParam<OpenCase> {};

TEST_P(Opening, ByExactDescriptionOrSerial) {
  VirtualD2xx chip;
  FtHandle h = 0;
  EXPECT_EQ(chip.FT_OpenEx(GetParam().arg, GetParam().flags, &h), GetParam().status);
  EXPECT_EQ(chip.IsOpen(), GetParam().status == FT_OK);
  EXPECT_EQ(h != 0, GetParam().status == FT_OK);
}

INSTANTIATE_TEST_SUITE_P(Table, Opening,
                         ::testing::Values(OpenCase{"FT232R Virtual Board", FT_OPEN_BY_DESCRIPTION, FT_OK},
                                           OpenCase{"VIRT0001", FT_OPEN_BY_SERIAL_NUMBER, FT_OK},
                                           OpenCase{"FT232R Virtual Board ", FT_OPEN_BY_DESCRIPTION, FT_DEVICE_NOT_FOUND},
                                           OpenCase{"ft232r virtual board", FT_OPEN_BY_DESCRIPTION, FT_DEVICE_NOT_FOUND},
                                           OpenCase{"VIRT0001", FT_OPEN_BY_DESCRIPTION, FT_DEVICE_NOT_FOUND},
                                           OpenCase{"FT232R Virtual Board", FT_OPEN_BY_SERIAL_NUMBER, FT_DEVICE_NOT_FOUND},
                                           OpenCase{"FT232R Virtual Board", 4, FT_INVALID_PARAMETER}));

TEST(Open, SecondOpenIsBusyAndStaleHandlesAreInvalid) {
  VirtualD2xx chip;
  FtHandle h1 = 0;
  FtHandle h2 = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h1), FT_OK);
  EXPECT_EQ(chip.FT_OpenEx(kVirtualSerial, FT_OPEN_BY_SERIAL_NUMBER, &h2), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(h2, 0U);
  std::uint8_t pins = 0;
  EXPECT_EQ(chip.FT_GetBitMode(h1 + 1, &pins), FT_INVALID_HANDLE);
  ASSERT_EQ(chip.FT_Close(h1), FT_OK);
  EXPECT_EQ(chip.FT_Close(h1), FT_INVALID_HANDLE);
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h2), FT_OK);
  EXPECT_NE(h1, h2);
  EXPECT_EQ(chip.FT_GetBitMode(h1, &pins), FT_INVALID_HANDLE);
  EXPECT_EQ(chip.FT_GetBitMode(h2, &pins), FT_OK);
  EXPECT_NE(chip.LastErrorText(), "");
}

// Every call that takes a handle, before any open.
struct HandleCall {
  const char* name;
  std::function<FtStatus(VirtualD2xx&, FtHandle)> call;
};
void PrintTo(const HandleCall& c, std::ostream* os) { *os << c.name; }

std::vector<HandleCall> HandleCalls() {
  static std::uint8_t buf[4];
  static std::uint32_t n;
  return {
      {"FT_Close", [](VirtualD2xx& c, FtHandle h) { return c.FT_Close(h); }},
      {"FT_GetQueueStatus", [](VirtualD2xx& c, FtHandle h) { return c.FT_GetQueueStatus(h, &n); }},
      {"FT_SetUSBParameters", [](VirtualD2xx& c, FtHandle h) { return c.FT_SetUSBParameters(h, 128, 0); }},
      {"FT_SetLatencyTimer", [](VirtualD2xx& c, FtHandle h) { return c.FT_SetLatencyTimer(h, 2); }},
      {"FT_SetBitMode", [](VirtualD2xx& c, FtHandle h) { return c.FT_SetBitMode(h, 0xA2, 4); }},
      {"FT_SetBaudRate", [](VirtualD2xx& c, FtHandle h) { return c.FT_SetBaudRate(h, 150000); }},
      {"FT_SetDivisor", [](VirtualD2xx& c, FtHandle h) { return c.FT_SetDivisor(h, 0); }},
      {"FT_Write", [](VirtualD2xx& c, FtHandle h) { return c.FT_Write(h, buf, 1, &n); }},
      {"FT_Read", [](VirtualD2xx& c, FtHandle h) { return c.FT_Read(h, buf, 1, &n); }},
      {"FT_GetBitMode", [](VirtualD2xx& c, FtHandle h) { return c.FT_GetBitMode(h, buf); }},
      {"FT_Purge", [](VirtualD2xx& c, FtHandle h) { return c.FT_Purge(h, 255); }},
  };
}

class EveryHandleCall : public ::testing::TestWithParam<HandleCall> {};

TEST_P(EveryHandleCall, FailBeforeOpenAfterCloseAndWithAWrongHandle) {
  VirtualD2xx chip;
  EXPECT_EQ(GetParam().call(chip, 0), FT_INVALID_HANDLE);
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  EXPECT_EQ(GetParam().call(chip, h ^ 0x10U), FT_INVALID_HANDLE);
  EXPECT_EQ(GetParam().call(chip, h), FT_OK);
  if (std::string(GetParam().name) != "FT_Close") {
    ASSERT_EQ(chip.FT_Close(h), FT_OK);
  }
  EXPECT_EQ(GetParam().call(chip, h), FT_INVALID_HANDLE);
}

TEST_P(EveryHandleCall, InjectedFailureStrikesTheNthCallOnly) {
  VirtualD2xx chip;
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  ASSERT_TRUE(chip.FailCall(GetParam().name, 1, FT_OTHER_ERROR));
  EXPECT_EQ(GetParam().call(chip, h), FT_OTHER_ERROR);
  EXPECT_NE(chip.LastErrorText().find(GetParam().name), std::string::npos);
  EXPECT_EQ(GetParam().call(chip, h), FT_OK);  // the device is still open, whatever the call was
}

INSTANTIATE_TEST_SUITE_P(All, EveryHandleCall, ::testing::ValuesIn(HandleCalls()),
                         [](const auto& call) { return std::string(call.param.name); });

// --- Set-up ---

TEST(SetUp, PlayerSequenceIsRecorded) {
  Bench b;
  b.OpenAndSetUp();
  EXPECT_EQ(b.chip.UsbInTransferSize(), 128U);
  EXPECT_EQ(b.chip.UsbOutTransferSize(), 0U);
  EXPECT_EQ(b.chip.LatencyTimer(), 2U);
  EXPECT_EQ(b.chip.DirectionMask(), 0xA2U);
  EXPECT_EQ(b.chip.Mode(), FT_BITMODE_SYNC_BITBANG);
  EXPECT_EQ(b.chip.BaudRate(), 150000U);
  EXPECT_FALSE(b.chip.Divisor());
  EXPECT_EQ(b.chip.BytesWritten(), 1U);
  EXPECT_EQ(b.chip.CallCount(Op::SetBitMode), 2);
  ASSERT_EQ(b.chip.FT_SetDivisor(b.handle, 0), FT_OK);
  EXPECT_EQ(b.chip.Divisor(), 0U);
  // No divisor gives rate 0: refused, as by the real chips, and nothing changes.
  EXPECT_EQ(b.chip.FT_SetBaudRate(b.handle, 0), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(b.chip.Divisor(), 0U);
  EXPECT_EQ(b.chip.BaudRate(), 150000U);
}

TEST(SetUp, OnlyModesOfTheChipAreAccepted) {
  Bench b;
  b.OpenAndSetUp();
  EXPECT_EQ(b.chip.FT_SetBitMode(b.handle, 0xFF, 0x02), FT_INVALID_PARAMETER);
  EXPECT_EQ(b.chip.Mode(), FT_BITMODE_SYNC_BITBANG);
  EXPECT_EQ(b.chip.DirectionMask(), 0xA2U);
}

// --- Pins ---

TEST(Pins, UndrivenPinsReadHighAndTheTapStaysInReset) {
  Bench b;
  b.OpenAndSetUp();
  std::uint8_t pins = 0;
  ASSERT_EQ(b.chip.FT_GetBitMode(b.handle, &pins), FT_OK);
  // D7, D5, D1 driven low; D6 (TDO, not driven in reset) and the unconnected D0, D2, D3, D4 high.
  EXPECT_EQ(pins, 0x5DU);
}

TEST(Pins, EachAnswerIsTheLevelsBeforeItsByte) {
  Bench b;
  b.OpenAndSetUp();
  Stream s;
  s.bytes = {0x22, 0xA2, 0x00, 0xFF, 0x00};
  const auto answers = b.Run(s);
  // Bits outside the mask (0x5D) stay high whatever is written.
  EXPECT_EQ(answers, (std::vector<std::uint8_t>{0x5D, 0x7F, 0xFF, 0x5D, 0xFF}));
  EXPECT_EQ(b.chip.Pins(), 0x5DU);
}

TEST(Pins, ModeResetAnswersNothingAndDrivesNothing) {
  VirtualD2xx chip;
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  const std::uint8_t bytes[] = {0x00, 0x80, 0x00};
  std::uint32_t written = 0;
  ASSERT_EQ(chip.FT_Write(h, bytes, 3, &written), FT_OK);
  EXPECT_EQ(written, 3U);
  std::uint32_t waiting = 9;
  ASSERT_EQ(chip.FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 0U);
  EXPECT_EQ(chip.Pins(), 0x7FU);  // TCK pulled down, all else high
  EXPECT_EQ(chip.Chain().RisingEdges(), 0U);
  EXPECT_EQ(chip.BytesDriven(), 0U);
}

TEST(Pins, AsyncModeDrivesWithoutAnswers) {
  VirtualD2xx chip;
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  ASSERT_EQ(chip.FT_SetBitMode(h, 0xA2, FT_BITMODE_ASYNC_BITBANG), FT_OK);
  const std::uint8_t bytes[] = {0x00, 0x80, 0x00};
  std::uint32_t written = 0;
  ASSERT_EQ(chip.FT_Write(h, bytes, 3, &written), FT_OK);
  std::uint32_t waiting = 9;
  ASSERT_EQ(chip.FT_GetQueueStatus(h, &waiting), FT_OK);
  EXPECT_EQ(waiting, 0U);
  EXPECT_EQ(chip.Chain().RisingEdges(), 1U);
}

TEST(Pins, TmsLeftOutOfTheDirectionMaskFloatsHigh) {
  Bench b;
  b.OpenAndSetUp(0xA0);  // TCK and TDI only
  Stream s;
  s.Steps({0, 0, 0});  // TMS "low", but nobody drives it
  b.Run(s);
  EXPECT_EQ(b.chip.Chain().Device(0).State(), TapState::TestLogicReset);
  EXPECT_EQ(b.chip.Chain().RisingEdges(), 3U);
}

TEST(Pins, TdoPinDrivenByTheChipShowsTheChipsLevel) {
  Bench b;
  b.OpenAndSetUp(0xE2);
  std::uint8_t pins = 0;
  ASSERT_EQ(b.chip.FT_GetBitMode(b.handle, &pins), FT_OK);
  EXPECT_EQ(pins & 0x40U, 0U);
}

TEST(Pins, TckWithAPullUpClocksWhenReleased) {
  BoardSpec board = DefaultBoard();
  board.wiring.tck_pull_down = false;
  Bench b(board);
  EXPECT_EQ(b.chip.Pins() & 0x80U, 0x80U);
  b.OpenAndSetUp();  // driving TCK low: a falling edge
  EXPECT_EQ(b.chip.Chain().FallingEdges(), 1U);
  ASSERT_EQ(b.chip.FT_SetBitMode(b.handle, 0, 0), FT_OK);  // released: rises with TMS high
  EXPECT_EQ(b.chip.Chain().RisingEdges(), 1U);
}

TEST(Pins, OtherWiringMovesTheSignals) {
  BoardSpec board = DefaultBoard();
  board.wiring = {0, 1, 2, 3, true};
  Bench b(board);
  b.OpenAndSetUp(0x07);
  Stream s{0x01, 0x02, 0x04, 0x08, {}, {}};
  s.Reset().Steps({0}).ScanDr(std::vector<bool>(32));
  EXPECT_EQ(ValueOf(b.Scan(s)), 0xf6e5f093U);
}

// --- Queue ---

TEST(Queue, ReadGivesAtMostWhatIsWaitingAndPurgeEmptiesIt) {
  Bench b;
  b.OpenAndSetUp();
  const std::vector<std::uint8_t> bytes(10, 0x00);
  std::uint32_t n = 0;
  ASSERT_EQ(b.chip.FT_Write(b.handle, bytes.data(), 10, &n), FT_OK);
  std::uint8_t buf[16];
  ASSERT_EQ(b.chip.FT_Read(b.handle, buf, 4, &n), FT_OK);
  EXPECT_EQ(n, 4U);
  ASSERT_EQ(b.chip.FT_Read(b.handle, buf, 16, &n), FT_OK);
  EXPECT_EQ(n, 6U);
  ASSERT_EQ(b.chip.FT_Read(b.handle, buf, 16, &n), FT_OK);
  EXPECT_EQ(n, 0U);
  ASSERT_EQ(b.chip.FT_Write(b.handle, bytes.data(), 10, &n), FT_OK);
  ASSERT_EQ(b.chip.FT_Purge(b.handle, FT_PURGE_TX), FT_OK);
  ASSERT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_OK);
  EXPECT_EQ(n, 10U);
  ASSERT_EQ(b.chip.FT_Purge(b.handle, FT_PURGE_RX), FT_OK);
  ASSERT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_OK);
  EXPECT_EQ(n, 0U);
}

// --- JTAG through the pins ---

TEST(Jtag, ResetStepBytesResetTheTapFromShiftDr) {
  Bench b;
  b.OpenAndSetUp();
  Stream walk;
  walk.Steps({0, 1, 0, 0});
  b.Run(walk);
  EXPECT_EQ(b.chip.Chain().Device(0).State(), TapState::ShiftDr);
  Stream reset;
  reset.bytes = {0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02};
  const auto before = b.chip.Chain().RisingEdges();
  b.Run(reset);
  EXPECT_EQ(b.chip.Chain().RisingEdges() - before, 5U);
  EXPECT_EQ(b.chip.Chain().Device(0).State(), TapState::TestLogicReset);
}

TEST(Jtag, TmsWalksOneStepPerPulse) {
  Bench b;
  b.OpenAndSetUp();
  const struct {
    std::initializer_list<int> tms;
    TapState state;
  } walks[] = {{{0}, TapState::RunTestIdle},
               {{1, 1, 0, 0}, TapState::ShiftIr},
               {{1, 0}, TapState::PauseIr},
               {{1, 1, 1, 0, 0}, TapState::ShiftDr},
               {{1, 1, 0}, TapState::RunTestIdle}};
  for (const auto& w : walks) {
    Stream s;
    s.Steps(w.tms);
    b.Run(s);
    EXPECT_EQ(b.chip.Chain().Device(0).State(), w.state) << TapStateName(w.state);
  }
}

TEST(Jtag, IdcodeScanReadsBackTheIdcode) {
  Bench b;
  b.OpenAndSetUp();
  Stream s;
  s.Reset().Steps({0}).ScanIr(BitsOf(0x01, 8)).ScanDr(std::vector<bool>(32));
  const auto bits = b.Scan(s);
  ASSERT_EQ(bits.size(), 40U);
  EXPECT_EQ(ValueOf({bits.begin(), bits.begin() + 8}), 0x01U);  // IR capture
  EXPECT_EQ(ValueOf({bits.begin() + 8, bits.end()}), 0xf6e5f093U);
}

TEST(Jtag, IrCaptureAndUserRegisterReadBack) {
  Bench b;
  b.OpenAndSetUp();
  Stream s;
  s.Reset().Steps({0}).ScanIr(BitsOf(0xFF, 8)).ScanIr(BitsOf(0x02, 8)).ScanDr(BitsOf(0xC0DE, 16)).ScanDr(
      BitsOf(0, 16));
  const auto bits = b.Scan(s);
  ASSERT_EQ(bits.size(), 48U);
  EXPECT_EQ(ValueOf({bits.begin(), bits.begin() + 8}), 0x01U);
  EXPECT_EQ(ValueOf({bits.begin() + 8, bits.begin() + 16}), 0x01U);
  EXPECT_EQ(ValueOf({bits.begin() + 32, bits.end()}), 0xC0DEU);
  EXPECT_EQ(b.chip.Chain().Device(0).SelectedRegister(), "SCRATCH");
}

TEST(Jtag, BypassThroughTwoDevices) {
  Bench b(ExampleBoard("two-device-chain.json"));
  b.OpenAndSetUp();
  std::vector<bool> ir = BitsOf(0x3F, 6);
  const auto cpld = BitsOf(0xFF, 8);
  ir.insert(ir.end(), cpld.begin(), cpld.end());
  Stream s;
  s.Reset().Steps({0}).ScanIr(ir).ScanDr(BitsOf(0xB5, 8));
  const auto bits = b.Scan(s);
  ASSERT_EQ(bits.size(), 22U);
  EXPECT_EQ(ValueOf({bits.begin(), bits.begin() + 14}), 0x41U);
  // Two bypass bits ahead of the data: 0, 0, then 0xB5's low six bits.
  EXPECT_EQ(ValueOf({bits.begin() + 14, bits.end()}), (0xB5U << 2) & 0xFFU);
}

TEST(Jtag, StreamsBuiltOnThePinsThePlayerReadsBackWorkToo) {
  // The player ORs its signals into the levels FT_GetBitMode gives, so the
  // unconnected pins come back high in every byte it writes.
  Bench b;
  b.OpenAndSetUp();
  std::uint8_t base = 0;
  ASSERT_EQ(b.chip.FT_GetBitMode(b.handle, &base), FT_OK);
  base = static_cast<std::uint8_t>(base & ~0xC0U);
  Stream s;
  s.Reset().Steps({0}).ScanDr(std::vector<bool>(32));
  for (auto& byte : s.bytes) byte = static_cast<std::uint8_t>(byte | base);
  EXPECT_EQ(ValueOf(b.Scan(s)), 0xf6e5f093U);
}

// --- Faults ---

TEST(Faults, NthCountsFromNowAndEveryCallRuleLastsUntilCleared) {
  Bench b;
  b.OpenAndSetUp();
  const std::uint8_t byte = 0;
  std::uint32_t n = 0;
  b.chip.FailCall(Op::Write, 2, FT_IO_ERROR);
  EXPECT_EQ(b.chip.FT_Write(b.handle, &byte, 1, &n), FT_OK);
  const auto written = b.chip.BytesWritten();
  EXPECT_EQ(b.chip.FT_Write(b.handle, &byte, 1, &n), FT_IO_ERROR);
  EXPECT_EQ(b.chip.BytesWritten(), written);  // a failed call does nothing
  EXPECT_EQ(b.chip.FT_Write(b.handle, &byte, 1, &n), FT_OK);

  EXPECT_TRUE(b.chip.FailCall("FT_GetQueueStatus", 0, FT_OTHER_ERROR));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_OTHER_ERROR);
  b.chip.ClearFaults();
  EXPECT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_OK);
  EXPECT_FALSE(b.chip.FailCall("FT_Frobnicate", 0, FT_OTHER_ERROR));
}

TEST(Faults, ListingAndOpenCanFail) {
  VirtualD2xx chip;
  chip.FailCall(Op::ListDevices, 1, FT_OTHER_ERROR);
  chip.FailCall(Op::OpenEx, 0, FT_DEVICE_NOT_FOUND);
  std::uint32_t count = 0;
  EXPECT_EQ(chip.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OTHER_ERROR);
  EXPECT_EQ(chip.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  FtHandle h = 0;
  EXPECT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_FALSE(chip.IsOpen());
}

TEST(Faults, LateAnswersArriveAFewPerQuery) {
  Bench b;
  b.OpenAndSetUp();
  b.chip.SetDeliveryPerQuery(5);
  const std::vector<std::uint8_t> bytes(12, 0x00);
  std::uint32_t n = 0;
  ASSERT_EQ(b.chip.FT_Write(b.handle, bytes.data(), 12, &n), FT_OK);
  std::uint8_t buf[12];
  ASSERT_EQ(b.chip.FT_Read(b.handle, buf, 12, &n), FT_OK);
  EXPECT_EQ(n, 0U);
  std::vector<std::uint32_t> seen;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_OK);
    seen.push_back(n);
  }
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{5, 10, 12}));
  ASSERT_EQ(b.chip.FT_Read(b.handle, buf, 12, &n), FT_OK);
  EXPECT_EQ(n, 12U);
}

TEST(Faults, DroppedAnswersAreTheNextOnesDue) {
  Bench b;
  b.OpenAndSetUp();
  b.chip.DropAnswers(2);
  Stream s;
  s.bytes = {0x22, 0xA2, 0x00, 0xFF};
  EXPECT_EQ(b.Run(s), (std::vector<std::uint8_t>{0xFF, 0x5D}));
  EXPECT_EQ(b.Run(s).size(), 4U);
  b.chip.DropAllAnswers(true);
  const auto edges = b.chip.Chain().RisingEdges();
  EXPECT_TRUE(b.Run(s).empty());
  EXPECT_EQ(b.chip.Chain().RisingEdges(), edges + 2);  // the pins still moved
}

TEST(Faults, UnplugMidWrite) {
  Bench b;
  b.OpenAndSetUp();
  b.chip.UnplugAfterBytes(b.chip.BytesWritten() + 10);
  const std::vector<std::uint8_t> bytes(6, 0x00);
  std::uint32_t n = 0;
  ASSERT_EQ(b.chip.FT_Write(b.handle, bytes.data(), 6, &n), FT_OK);
  EXPECT_EQ(b.chip.FT_Write(b.handle, bytes.data(), 6, &n), FT_IO_ERROR);
  EXPECT_EQ(n, 4U);
  EXPECT_TRUE(b.chip.IsUnplugged());
  std::uint8_t pins = 0;
  EXPECT_EQ(b.chip.FT_GetBitMode(b.handle, &pins), FT_IO_ERROR);
  EXPECT_EQ(b.chip.FT_GetQueueStatus(b.handle, &n), FT_IO_ERROR);
  EXPECT_EQ(b.chip.FT_Purge(b.handle, 255), FT_IO_ERROR);
  std::uint32_t count = 9;
  ASSERT_EQ(b.chip.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 0U);
  FtHandle h = 0;
  EXPECT_EQ(b.chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(b.chip.FT_Close(b.handle), FT_IO_ERROR);
  EXPECT_EQ(b.chip.FT_Close(b.handle), FT_INVALID_HANDLE);

  b.chip.Replug();
  ASSERT_EQ(b.chip.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 1U);
  b.OpenAndSetUp();
  Stream s;
  s.Reset().Steps({0}).ScanDr(std::vector<bool>(32));
  EXPECT_EQ(ValueOf(b.Scan(s)), 0xf6e5f093U);
}

TEST(Faults, WriteReachingTheMarkExactlySucceedsThenTheDeviceIsGone) {
  Bench b;
  b.OpenAndSetUp();
  b.chip.UnplugAfterBytes(b.chip.BytesWritten() + 3);
  const std::uint8_t bytes[3] = {};
  std::uint32_t n = 0;
  EXPECT_EQ(b.chip.FT_Write(b.handle, bytes, 3, &n), FT_OK);
  EXPECT_EQ(n, 3U);
  EXPECT_EQ(b.chip.FT_Write(b.handle, bytes, 3, &n), FT_IO_ERROR);
}

// --- Speed ---

TEST(Speed, FiveMillionBitScanPlaysInSeconds) {
  // An SRAM configuration load of 5.7 million bits: 17 MB of bytes, through
  // the BYPASS register, in the player's 3-bytes-per-bit form.
  constexpr std::size_t kBits = 5748760;
  Bench b;
  b.OpenAndSetUp();
  Stream head;
  head.Reset().Steps({0}).ScanIr(BitsOf(0xFF, 8)).Steps({1, 0, 0});
  b.Run(head);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kBits * 3);
  for (std::size_t i = 0; i < kBits; ++i) {
    const std::uint8_t a = ((i * 2654435761U) >> 7) & 1U ? 0x20 : 0x00;
    bytes.insert(bytes.end(), {a, static_cast<std::uint8_t>(a | 0x80), a});
  }
  const auto start = std::chrono::steady_clock::now();
  std::uint32_t n = 0;
  ASSERT_EQ(b.chip.FT_Write(b.handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n), FT_OK);
  std::vector<std::uint8_t> answers(bytes.size());
  ASSERT_EQ(b.chip.FT_Read(b.handle, answers.data(), static_cast<std::uint32_t>(answers.size()), &n), FT_OK);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(n, bytes.size());
  // Bit i comes out one clock later, in the answer to the third byte of bit i + 1.
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i + 1 < kBits; ++i) {
    if (((answers[3 * (i + 1) + 2] & 0x40U) != 0) != ((bytes[3 * i] & 0x20U) != 0)) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0U);
  EXPECT_EQ(b.chip.Chain().Device(0).State(), TapState::ShiftDr);
  RecordProperty("seconds", std::to_string(seconds));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__OPTIMIZE__)
  GTEST_SKIP() << "unoptimised build: " << seconds << " s, not timed";
#elif !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 3.0);
#endif
}

}  // namespace
}  // namespace tavrin::board
