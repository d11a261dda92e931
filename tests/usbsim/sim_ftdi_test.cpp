// SPDX-License-Identifier: Apache-2.0
// The libftdi seam on the simulated chip: what the host library does with
// the chip's packets, and a board behind it that answers as the virtual
// board does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "adapter/d2xx.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "board/board_spec.h"
#include "board/virtual_d2xx.h"

namespace tavrin::adapter::usbsim {
namespace {

constexpr std::uint8_t kJtagOutputs = 0xA2;  // TCK D7, TDI D5, TMS D1
constexpr std::uint8_t kTck = 0x80;
constexpr std::uint8_t kTms = 0x02;
constexpr std::uint8_t kTdi = 0x20;

struct Bus {
  explicit Bus(const board::BoardSpec& board = board::DefaultBoard()) : clock(FastProfile()), api(board, FastProfile(), clock) {}

  std::unique_ptr<ftdi::FtdiPort> Open() {
    std::unique_ptr<ftdi::FtdiPort> port;
    EXPECT_EQ(api.Open(1, &port), 0) << api.ErrorString();
    return port;
  }
  // Opened and in synchronous bit-bang at 3 MHz, as the player sets it up.
  std::unique_ptr<ftdi::FtdiPort> OpenSync() {
    auto port = Open();
    EXPECT_EQ(port->SetReadChunksize(128), 0);
    EXPECT_EQ(port->SetLatencyTimer(2), 0);
    EXPECT_EQ(port->SetBitmode(kJtagOutputs, 4), 0);
    EXPECT_EQ(port->SetBaudDivisor(0, 0), 0);
    return port;
  }

  SimClock clock;
  SimFtdiApi api;
};

int Write(ftdi::FtdiPort& port, const std::vector<std::uint8_t>& bytes) {
  return port.WriteData(bytes.data(), static_cast<int>(bytes.size()));
}

// --- Listing and opening ---

TEST(SimFtdiBus, OneChipIsListedAndOpensOnceAtATime) {
  Bus bus;
  std::vector<ftdi::UsbDeviceInfo> found;
  ASSERT_EQ(bus.api.ListDevices(&found), 1);
  EXPECT_EQ(found[0].description, kSimDescription);
  EXPECT_EQ(found[0].serial, kSimSerial);
  EXPECT_EQ(bus.api.Chip().Stats().control_requests, 4U);  // the strings are read over USB

  std::unique_ptr<ftdi::FtdiPort> other;
  EXPECT_EQ(bus.api.Open(2, &other), ftdi::kNoSuchDevice);
  auto port = bus.Open();
  EXPECT_TRUE(bus.api.IsOpen());
  EXPECT_EQ(port->Type(), ftdi::ChipType::kR);
  EXPECT_EQ(bus.api.Open(1, &other), -5);
  EXPECT_EQ(bus.api.Chip().DivisorEighths(), 2500U);  // opening sets 9600 baud

  EXPECT_EQ(port->Close(), 0);
  EXPECT_FALSE(bus.api.IsOpen());
  std::uint8_t pins = 0;
  EXPECT_LT(port->ReadPins(&pins), 0);  // nothing works on a closed port
  EXPECT_LT(Write(*port, {1}), 0);
  port = bus.Open();
  port.reset();  // released with the port
  EXPECT_FALSE(bus.api.IsOpen());
}

// --- Reading as libftdi does ---

TEST(SimFtdiRead, NothingArrivedGivesZeroAfterTheLatencyTime) {
  Bus bus;
  auto port = bus.OpenSync();
  std::vector<std::uint8_t> buf(48);
  (void)port->ReadData(buf.data(), 48);  // the timer starts again from here
  const Ticks before = bus.clock.Now();
  EXPECT_EQ(port->ReadData(buf.data(), 48), 0);
  EXPECT_GE(bus.clock.Now() - before, 2 * kTicksPerMs - Us(125));
  EXPECT_LT(bus.clock.Now() - before, 2 * kTicksPerMs + Us(200));
}

TEST(SimFtdiRead, AChunkOfAnswersTakesOneTransferAndTheLatencyTime) {
  Bus bus;
  auto port = bus.OpenSync();
  std::vector<std::uint8_t> buf(128);
  (void)port->ReadData(buf.data(), 1);
  const std::vector<std::uint8_t> chunk(48, kTck);
  ASSERT_EQ(Write(*port, chunk), 48);
  const std::uint64_t transfers = bus.api.Chip().Stats().bulk_in;
  const Ticks before = bus.clock.Now();
  EXPECT_EQ(port->ReadData(buf.data(), 48), 48);
  EXPECT_EQ(bus.api.Chip().Stats().bulk_in, transfers + 1);
  EXPECT_GT(bus.clock.Now() - before, Us(1500));  // 48 answers are a short packet
}

TEST(SimFtdiRead, WhatATransferBringsBeyondTheSizeWaitsInTheReadBuffer) {
  Bus bus;
  auto port = bus.OpenSync();
  ASSERT_EQ(Write(*port, std::vector<std::uint8_t>(200, kTck)), 200);
  bus.clock.AdvanceTo(bus.clock.Now() + 3 * kTicksPerMs);
  std::vector<std::uint8_t> buf(200);
  EXPECT_EQ(port->ReadData(buf.data(), 30), 30);  // a transfer of two full packets
  const std::uint64_t transfers = bus.api.Chip().Stats().bulk_in;
  EXPECT_EQ(port->ReadData(buf.data() + 30, 170), 170);  // 94 buffered, 76 from one more transfer
  EXPECT_EQ(bus.api.Chip().Stats().bulk_in, transfers + 1);
  EXPECT_EQ(buf[0] & kTck, 0);
  EXPECT_EQ(buf[199] & kTck, kTck);

  // Flushing drops the buffer with the chip's FIFO.
  ASSERT_EQ(Write(*port, std::vector<std::uint8_t>(100, 0)), 100);
  bus.clock.AdvanceTo(bus.clock.Now() + 3 * kTicksPerMs);
  EXPECT_EQ(port->ReadData(buf.data(), 10), 10);
  EXPECT_EQ(port->FlushRx(), 0);
  EXPECT_EQ(port->ReadData(buf.data(), 10), 0);
}

TEST(SimFtdiWrite, AWriteTheChipCannotTakeFailsAfterTheTimeOut) {
  Bus bus;
  auto port = bus.OpenSync();
  // 384 bytes unread fill both FIFOs; the next byte finds no room.
  ASSERT_EQ(Write(*port, std::vector<std::uint8_t>(384, 0)), 384);
  const Ticks before = bus.clock.Now();
  EXPECT_EQ(Write(*port, {0}), -1);
  EXPECT_EQ(port->ErrorString(), "usb bulk write failed");
  EXPECT_GE(bus.clock.Now() - before, kWriteTimeout);
  EXPECT_EQ(Write(*port, {}), 0);
}

struct BaudCase {
  int rate;
  int result;
  std::uint32_t eighths;  // the divisor set; 0: unchanged
};

class SimFtdiBaud : public ::testing::TestWithParam<BaudCase> {};

// The virtual board refuses the same rates, with the status of the real chip.
TEST_P(SimFtdiBaud, AUartRateSetsTheNearestDivisorOrIsRefused) {
  const BaudCase& bc = GetParam();
  board::VirtualD2xx board;
  FtHandle h = 0;
  ASSERT_EQ(board.FT_OpenEx(board::kVirtualSerial, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  EXPECT_EQ(board.FT_SetBaudRate(h, static_cast<std::uint32_t>(bc.rate)), bc.result == 0 ? FT_OK : FT_INVALID_BAUD_RATE);
  EXPECT_EQ(board.BaudRate(), bc.result == 0 ? static_cast<std::uint32_t>(bc.rate) : 9600U);
  Bus bus;
  auto port = bus.Open();
  const std::uint64_t requests = bus.api.Chip().Stats().control_requests;
  EXPECT_EQ(port->SetUartBaudrate(bc.rate), bc.result);
  if (bc.result == 0) {
    EXPECT_EQ(bus.api.Chip().DivisorEighths(), bc.eighths);
    EXPECT_EQ(bus.api.Chip().Stats().control_requests, requests + 1);
  } else {
    EXPECT_EQ(bus.api.Chip().DivisorEighths(), 2500U);
    EXPECT_EQ(bus.api.Chip().Stats().control_requests, requests);  // refused without a request
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, SimFtdiBaud,
                         ::testing::Values(BaudCase{9600, 0, 2500}, BaudCase{150000, 0, 160},
                                           BaudCase{115200, 0, 208}, BaudCase{3000000, 0, 8},
                                           BaudCase{3100000, 0, 8}, BaudCase{2000000, 0, 12},
                                           BaudCase{1500000, 0, 16}, BaudCase{1750000, -1, 0},
                                           BaudCase{5000000, -1, 0}, BaudCase{100, -1, 0}, BaudCase{0, -1, 0},
                                           BaudCase{1, -1, 0}, BaudCase{174, -1, 0}, BaudCase{180, 0, 0x1FFFF},
                                           BaudCase{200, 0, 120000}, BaudCase{3150000, 0, 8},
                                           BaudCase{3160000, -1, 0}, BaudCase{2147483647, -1, 0}));

// --- The board behind the chip ---

// TCK low, high, low for each bit, TMS and TDI as given: the player's way.
void Clock(std::vector<std::uint8_t>& out, bool tms, bool tdi) {
  const auto base = static_cast<std::uint8_t>((tms ? kTms : 0) | (tdi ? kTdi : 0));
  out.push_back(base);
  out.push_back(static_cast<std::uint8_t>(base | kTck));
  out.push_back(base);
}

TEST(SimFtdiBoard, TheBoardAnswersEveryByteAsOnTheVirtualBoard) {
  auto loaded = board::LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json");
  ASSERT_TRUE(loaded.board.has_value()) << loaded.error;
  // Reset; both devices' IDCODE instruction through Shift-IR; 96 bits of a
  // pattern through both IDCODE registers in Shift-DR; back to Run-Test/Idle.
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 5; ++i) Clock(stream, true, false);
  for (const bool tms : {false, true, true, false, false}) Clock(stream, tms, false);
  for (int i = 0; i < 14; ++i) Clock(stream, i == 13, (0x0049U >> i) & 1U);  // FPGA IDCODE 09, CPLD IDCODE 01
  for (const bool tms : {true, false, true, false, false}) Clock(stream, tms, false);
  for (int i = 0; i < 96; ++i) Clock(stream, i == 95, (0x5A5AC3C3U >> (i % 32)) & 1U);
  for (const bool tms : {true, false}) Clock(stream, tms, false);

  board::VirtualD2xx board(*loaded.board);
  FtHandle h = 0;
  ASSERT_EQ(board.FT_OpenEx(board::kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  ASSERT_EQ(board.FT_SetBitMode(h, kJtagOutputs, FT_BITMODE_SYNC_BITBANG), FT_OK);
  std::uint32_t n = 0;
  ASSERT_EQ(board.FT_Write(h, stream.data(), static_cast<std::uint32_t>(stream.size()), &n), FT_OK);
  std::vector<std::uint8_t> expected(stream.size());
  ASSERT_EQ(board.FT_Read(h, expected.data(), static_cast<std::uint32_t>(expected.size()), &n), FT_OK);
  ASSERT_EQ(n, stream.size());

  Bus bus(*loaded.board);
  auto port = bus.OpenSync();
  std::vector<std::uint8_t> answers(stream.size());
  int got = 0;
  // In pieces the FIFOs can hold, each read back before the next.
  for (std::size_t at = 0; at < stream.size(); at += 96) {
    const std::size_t len = std::min<std::size_t>(96, stream.size() - at);
    ASSERT_EQ(port->WriteData(stream.data() + at, static_cast<int>(len)), static_cast<int>(len));
    for (std::size_t want = at + len; static_cast<std::size_t>(got) < want;) {
      const int r = port->ReadData(answers.data() + got, static_cast<int>(want) - got);
      ASSERT_GE(r, 0);
      got += r;
    }
  }
  EXPECT_EQ(answers, expected);
  // The IDCODEs came out: TDO low at some samples and high at others.
  EXPECT_NE(std::count_if(answers.begin(), answers.end(), [](std::uint8_t a) { return (a & 0x40U) == 0; }), 0);
  EXPECT_EQ(bus.api.Chip().Pins().Chain().Device(1).State(), board::TapState::RunTestIdle);
}

}  // namespace
}  // namespace tavrin::adapter::usbsim
