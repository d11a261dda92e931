// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <numeric>

#include "adapter/ftdi/fake_ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"

namespace tavrin::adapter {
namespace {

using ftdi::ChipType;
using ftdi::FakeChip;
using ftdi::FakeFtdiApi;

constexpr std::uint32_t kByDescription = FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION;
constexpr std::uint32_t kBySerial = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
constexpr std::uint8_t kJtagOutputs = 0xA2;  // TCK D7, TDI D5, TMS D1

class FtdiD2xxTest : public ::testing::Test {
 protected:
  FtdiD2xxTest() {
    auto api = std::make_unique<FakeFtdiApi>();
    bus = api.get();
    chip = std::make_unique<FtdiD2xx>(std::move(api));
  }

  FtHandle Open(const std::string& description = "FT232R USB UART") {
    FtHandle h = 0;
    EXPECT_EQ(chip->FT_OpenEx(description, FT_OPEN_BY_DESCRIPTION, &h), FT_OK) << chip->LastErrorText();
    return h;
  }
  FtHandle OpenSync(std::uint8_t mask = kJtagOutputs) {
    const FtHandle h = Open();
    EXPECT_EQ(chip->FT_SetBitMode(h, 0, FT_BITMODE_RESET), FT_OK);
    EXPECT_EQ(chip->FT_SetBitMode(h, mask, FT_BITMODE_SYNC_BITBANG), FT_OK);
    return h;
  }
  std::string Listed(std::uint32_t index, std::uint32_t flags, FtStatus* status = nullptr) {
    std::array<char, kDescriptionBufferSize> buf{};
    const FtStatus s = chip->FT_ListDevices(index, buf.data(), buf.size(), flags);
    if (status != nullptr) *status = s;
    return std::string(buf.data(), strnlen(buf.data(), buf.size()));
  }
  std::uint32_t Queue(FtHandle h) {
    std::uint32_t n = 0;
    EXPECT_EQ(chip->FT_GetQueueStatus(h, &n), FT_OK);
    return n;
  }
  std::vector<std::uint8_t> Write(FtHandle h, std::vector<std::uint8_t> bytes, FtStatus expect = FT_OK) {
    std::uint32_t written = 0;
    EXPECT_EQ(chip->FT_Write(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written), expect);
    bytes.resize(written);
    return bytes;
  }
  std::vector<std::uint8_t> Read(FtHandle h, std::uint32_t size) {
    std::vector<std::uint8_t> buf(size);
    std::uint32_t got = 0;
    EXPECT_EQ(chip->FT_Read(h, buf.data(), size, &got), FT_OK);
    buf.resize(got);
    return buf;
  }
  static std::vector<std::uint8_t> Ramp(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), std::uint8_t{1});
    return v;
  }

  FakeFtdiApi* bus = nullptr;
  std::unique_ptr<FtdiD2xx> chip;
};

// --- Listing ---

TEST_F(FtdiD2xxTest, ListsCountDescriptionsAndSerialsInBusOrder) {
  bus->AddChip("FT232R USB UART", "A1");
  bus->AddChip("USB <-> Serial FT232B", "");
  std::uint32_t count = 99;
  ASSERT_EQ(chip->FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2U);
  EXPECT_EQ(Listed(0, kByDescription), "FT232R USB UART");
  EXPECT_EQ(Listed(1, kByDescription), "USB <-> Serial FT232B");
  EXPECT_EQ(Listed(0, kBySerial), "A1");
  FtStatus s = FT_OTHER_ERROR;
  EXPECT_EQ(Listed(1, kBySerial, &s), "");  // a chip without a serial string
  EXPECT_EQ(s, FT_OK);
  Listed(2, kByDescription, &s);
  EXPECT_EQ(s, FT_DEVICE_NOT_FOUND);
  // The by-index forms answer from the count's scan.
  EXPECT_EQ(bus->list_calls, 1);
}

TEST_F(FtdiD2xxTest, LongDescriptionsAreCutTo64AndStillOpen) {
  const std::string long_text = "FT232R " + std::string(80, 'x');
  bus->AddChip(long_text, "A1");
  const std::string shown = Listed(0, kByDescription);
  EXPECT_EQ(shown, long_text.substr(0, 64));
  FtHandle h = 0;
  EXPECT_EQ(chip->FT_OpenEx(shown, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  // A buffer too small gets what fits, without the terminating zero.
  std::array<char, 4> small{};
  EXPECT_EQ(chip->FT_ListDevices(0, small.data(), small.size(), kByDescription), FT_OK);
  EXPECT_EQ(std::string(small.data(), small.size()), "FT23");
}

TEST_F(FtdiD2xxTest, ListingFailures) {
  bus->AddChip();
  std::uint32_t count = 0;
  EXPECT_EQ(chip->FT_ListDevices(&count, 0), FT_INVALID_ARGS);
  std::array<char, 8> buf{};
  EXPECT_EQ(chip->FT_ListDevices(0, buf.data(), buf.size(), FT_LIST_BY_INDEX), FT_INVALID_ARGS);
  EXPECT_EQ(chip->FT_ListDevices(0, nullptr, 0, kByDescription), FT_INVALID_PARAMETER);

  bus->list_code = -5;
  EXPECT_EQ(chip->FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_IO_ERROR);
  EXPECT_EQ(chip->LastErrorText(), "libusb_get_device_list() failed");
  bus->list_code = ftdi::kNoUsb;
  EXPECT_EQ(chip->FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_INSUFFICIENT_RESOURCES);
}

TEST_F(FtdiD2xxTest, ChipWhoseStringsCannotBeReadCountsButReportsWhy) {
  bus->AddChip().strings_status = -4;
  bus->AddChip("FT232R USB UART", "B2");
  std::uint32_t count = 0;
  ASSERT_EQ(chip->FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2U);
  FtStatus s = FT_OK;
  Listed(0, kByDescription, &s);
  EXPECT_EQ(s, FT_DEVICE_NOT_OPENED);
  EXPECT_NE(chip->LastErrorText().find("libusb_open() failed"), std::string::npos);
  EXPECT_NE(chip->LastErrorText().find("udev"), std::string::npos);
  EXPECT_EQ(Listed(1, kByDescription), "FT232R USB UART");
}

// --- Open ---

TEST_F(FtdiD2xxTest, OpenByExactDescriptionAmongSeveral) {
  bus->AddChip("FT232R USB UART", "A1");
  bus->AddChip("FT232R USB UART board 2", "B2");
  FtHandle h = 0;
  EXPECT_EQ(chip->FT_OpenEx("FT232R USB", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);
  ASSERT_EQ(chip->FT_OpenEx("FT232R USB UART board 2", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  EXPECT_FALSE(bus->chips[0]->open);
  EXPECT_TRUE(bus->chips[1]->open);
  EXPECT_EQ(chip->FT_OpenEx("", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);
}

TEST_F(FtdiD2xxTest, SameDescriptionOpensTheNextFreeChipThenRefuses) {
  bus->AddChip("FT232R USB UART", "A1");
  bus->AddChip("FT232R USB UART", "B2");
  const FtHandle first = Open();
  const FtHandle second = Open();
  EXPECT_NE(first, second);
  EXPECT_TRUE(bus->chips[0]->open);
  EXPECT_TRUE(bus->chips[1]->open);
  FtHandle third = 0;
  EXPECT_EQ(chip->FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &third), FT_DEVICE_NOT_OPENED);
  EXPECT_NE(chip->LastErrorText().find("already open"), std::string::npos);
  // Each handle talks to its own chip.
  ASSERT_EQ(chip->FT_SetLatencyTimer(second, 9), FT_OK);
  EXPECT_EQ(bus->chips[1]->latency, 9);
  EXPECT_EQ(bus->chips[0]->latency, 16);
}

TEST_F(FtdiD2xxTest, OpenBySerialNumber) {
  bus->AddChip("FT232R USB UART", "A1");
  bus->AddChip("FT232R USB UART", "B2");
  FtHandle h = 0;
  ASSERT_EQ(chip->FT_OpenEx("B2", FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  EXPECT_TRUE(bus->chips[1]->open);
  EXPECT_FALSE(bus->chips[0]->open);
  EXPECT_EQ(chip->FT_OpenEx("C3", FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(chip->FT_OpenEx("A1", 4 /* by location */, &h), FT_INVALID_PARAMETER);
}

TEST_F(FtdiD2xxTest, BusyFirstMatchFallsThroughToTheNext) {
  bus->AddChip("FT232R USB UART", "A1").open_code = -5;
  bus->AddChip("FT232R USB UART", "B2");
  Open();
  EXPECT_TRUE(bus->chips[1]->open);
}

TEST_F(FtdiD2xxTest, OpenOfAChipWhoseStringsCannotBeReadIsNotOpenedNotNotFound) {
  bus->AddChip().strings_status = -4;
  FtHandle h = 0;
  EXPECT_EQ(chip->FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_OPENED);
  EXPECT_NE(chip->LastErrorText().find("libusb_open() failed"), std::string::npos);
}

struct OpenFailure {
  int code;
  FtStatus status;
  const char* hint;  // part of the error text
};

class OpenFailureTest : public FtdiD2xxTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, MapsLibftdiCodeToStatusAndKeepsItsText) {
  bus->AddChip().open_code = GetParam().code;
  FtHandle h = 0;
  EXPECT_EQ(chip->FT_OpenEx("FT232R USB UART", FT_OPEN_BY_DESCRIPTION, &h), GetParam().status);
  EXPECT_NE(chip->LastErrorText().find(GetParam().hint), std::string::npos) << chip->LastErrorText();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OpenFailureTest,
    ::testing::Values(OpenFailure{-4, FT_DEVICE_NOT_OPENED, "libusb_open() failed (no permission"},
                      OpenFailure{-8, FT_DEVICE_NOT_OPENED, "plugdev"},
                      OpenFailure{-5, FT_DEVICE_NOT_OPENED, "unable to claim usb device"},
                      OpenFailure{-3, FT_DEVICE_NOT_OPENED, "another program"},
                      OpenFailure{-6, FT_IO_ERROR, "libusb_open() failed"},
                      OpenFailure{-7, FT_IO_ERROR, "libusb_open() failed"},
                      OpenFailure{-9, FT_OTHER_ERROR, "libusb_open() failed"},
                      OpenFailure{ftdi::kNoSuchDevice, FT_DEVICE_NOT_FOUND, "unplugged"}));

// --- Queue emulation and exact byte counts ---

TEST_F(FtdiD2xxTest, SyncAnswersArePinsBeforeEachByteAndReadExactly) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = OpenSync(0xFF);
  EXPECT_EQ(Queue(h), 0U);
  EXPECT_EQ(c.calls["Pump"], 0);  // nothing owed: the bus is not even looked at
  const std::vector<std::uint8_t> bytes = Ramp(48);
  EXPECT_EQ(Write(h, bytes), bytes);
  EXPECT_EQ(c.most_reading, 48U) << "the answers are asked for with the write";
  EXPECT_EQ(Queue(h), 48U);
  const std::vector<std::uint8_t> answers = Read(h, 48);
  ASSERT_EQ(answers.size(), 48U);
  EXPECT_EQ(answers[0], 0x00);  // the pins before the first byte
  for (std::size_t i = 1; i < 48; ++i) EXPECT_EQ(answers[i], bytes[i - 1]) << i;
  EXPECT_EQ(Queue(h), 0U);
  EXPECT_EQ(c.reading, 0U);
  EXPECT_EQ(c.transfers.reads, 1);
}

TEST_F(FtdiD2xxTest, AnswersArrivingInPiecesAreCollectedUntilAllAreThere) {
  FakeChip& c = bus->AddChip();
  c.deliver_per_read = 5;
  const FtHandle h = OpenSync(0xFF);
  const std::vector<std::uint8_t> bytes = Ramp(48);
  Write(h, bytes);  // the wait for the write brings the first 5
  std::vector<std::uint32_t> seen;
  for (std::uint32_t n = 0; n < 48;) seen.push_back(n = Queue(h));
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{10, 15, 20, 25, 30, 35, 40, 45, 48}));
  EXPECT_EQ(c.reading, 0U);
  // Asking for more than there is gives what there is, in order.
  const std::vector<std::uint8_t> answers = Read(h, 100);
  ASSERT_EQ(answers.size(), 48U);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end() - 1, answers.begin() + 1));
  EXPECT_EQ(Queue(h), 0U);
  EXPECT_EQ(c.transfers.reads, 10);  // nothing owed, nothing asked
}

TEST_F(FtdiD2xxTest, ShortWritesLoopUntilTheWholeChunkIsOut) {
  FakeChip& c = bus->AddChip();
  c.accept_per_write = 10;
  const FtHandle h = Open();
  EXPECT_EQ(Write(h, Ramp(48)).size(), 48U);
  EXPECT_EQ(c.transfers.writes, 5);
  EXPECT_EQ(c.written, Ramp(48));
}

// No more than the chip holds (128 to clock, 256 answers to send) is ever
// in flight, however slowly the answers come and however much is written.
TEST_F(FtdiD2xxTest, SyncWritesKeepAtMost384BytesInFlight) {
  for (const std::uint32_t per_read : {0U, 100U, 62U, 1U}) {
    SCOPED_TRACE(per_read);
    auto api = std::make_unique<FakeFtdiApi>();
    FakeChip& c = api->AddChip();
    c.deliver_per_read = per_read;
    chip = std::make_unique<FtdiD2xx>(std::move(api));
    const FtHandle h = OpenSync(0xFF);
    Write(h, std::vector<std::uint8_t>(372, 0x55));
    EXPECT_EQ(c.write_calls.size(), 1U) << "a block the chip holds goes in one transfer";
    Write(h, std::vector<std::uint8_t>(1000, 0x55));
    EXPECT_LE(c.most_reading, 384U);
    EXPECT_EQ(c.written.size(), 1372U);
    std::uint32_t n = 0;
    for (int polls = 0; (n = Queue(h)) < 1372 && polls < 2000;) ++polls;
    EXPECT_EQ(n, 1372U);
  }
}

// Transfers in flight that fail, or a chip that never answers: an error
// with libftdi's text, and nothing left in flight.
TEST_F(FtdiD2xxTest, FailedTransfersInFlightAreIoErrorsAndLeaveNothingInFlight) {
  struct Case {
    const char* op;
    int nth;
    FtStatus write, queue;
  };
  for (const Case& k : {Case{"SubmitWrite", 1, FT_IO_ERROR, FT_OK}, Case{"SubmitRead", 1, FT_IO_ERROR, FT_OK},
                        Case{"Pump", 1, FT_IO_ERROR, FT_OK}, Case{"Pump", 2, FT_OK, FT_IO_ERROR}}) {
    SCOPED_TRACE(std::string(k.op) + " " + std::to_string(k.nth));
    auto api = std::make_unique<FakeFtdiApi>();
    FakeChip& c = api->AddChip();
    chip = std::make_unique<FtdiD2xx>(std::move(api));
    const FtHandle h = OpenSync();
    c.FailCall(k.op, k.nth, -4);
    c.deliver_per_read = 1;
    Write(h, Ramp(3), k.write);
    std::uint32_t n = 0;
    EXPECT_EQ(chip->FT_GetQueueStatus(h, &n), k.queue);
    if (k.write != FT_OK || k.queue != FT_OK) {
      EXPECT_EQ(chip->LastErrorText(), std::string(k.op) + " failed");
    }
    if (k.write != FT_OK) {
      EXPECT_EQ(c.reading, 0U) << "cancelled";
    }
  }
  // A chip that takes the bytes and never answers: the answers stay owed
  // (the caller's time-out ends the wait), and a purge cancels the read.
  auto api = std::make_unique<FakeFtdiApi>();
  FakeChip& c = api->AddChip();
  chip = std::make_unique<FtdiD2xx>(std::move(api));
  c.silent = true;
  const FtHandle h = OpenSync();
  Write(h, Ramp(30));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Queue(h), 0U);
  EXPECT_EQ(c.reading, 30U);
  ASSERT_EQ(chip->FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(c.reading, 0U);
}

TEST_F(FtdiD2xxTest, WriteFailures) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = Open();
  c.FailCall("WriteData", 2, -666);
  c.accept_per_write = 16;
  EXPECT_EQ(Write(h, Ramp(48), FT_IO_ERROR).size(), 16U);  // the count that did go out
  EXPECT_EQ(chip->LastErrorText(), "WriteData failed");
  c.failures.clear();
  c.accept_per_write = 0;
  EXPECT_TRUE(Write(h, {}).empty());
  EXPECT_EQ(c.calls["WriteData"], 2);  // an empty write sends nothing
  // In synchronous mode a transfer the chip does not take whole (its
  // time-out ran out) fails with the count it took, and nothing is left in
  // flight.
  ASSERT_EQ(chip->FT_Close(h), FT_OK);
  const FtHandle s = OpenSync();
  c.accept_per_write = 16;
  EXPECT_EQ(Write(s, Ramp(48), FT_IO_ERROR).size(), 16U);
  EXPECT_EQ(chip->LastErrorText(), "FT_Write: the adapter took 16 of 48 bytes within 6 s");
  EXPECT_EQ(c.reading, 0U);
}

TEST_F(FtdiD2xxTest, PurgeEmptiesOurQueueAndBothChipDirections) {
  FakeChip& c = bus->AddChip();
  c.deliver_per_read = 10;
  const FtHandle h = OpenSync();
  Write(h, Ramp(30));
  EXPECT_EQ(Queue(h), 20U);
  const int cancels = c.calls["CancelTransfers"];
  ASSERT_EQ(chip->FT_Purge(h, 255), FT_OK);
  EXPECT_EQ(c.calls["CancelTransfers"], cancels + 1);
  EXPECT_EQ(c.calls["FlushRx"], 1);
  EXPECT_EQ(c.calls["FlushTx"], 1);
  EXPECT_TRUE(c.answers.empty());
  EXPECT_EQ(c.reading, 0U);
  const int pumps = c.calls["Pump"];
  EXPECT_EQ(Queue(h), 0U);
  EXPECT_EQ(c.calls["Pump"], pumps);  // nothing owed after a full purge
  c.FailCall("FlushRx", 0, -1);
  EXPECT_EQ(chip->FT_Purge(h, FT_PURGE_RX), FT_IO_ERROR);
}

TEST_F(FtdiD2xxTest, GetBitModeReadsThePins) {
  FakeChip& c = bus->AddChip();
  c.wiring = [](std::uint8_t driven) { return static_cast<std::uint8_t>((driven & 0x20) != 0 ? 0x40 : 0x00); };
  const FtHandle h = OpenSync();
  Write(h, {0x20});
  std::uint8_t pins = 0;
  ASSERT_EQ(chip->FT_GetBitMode(h, &pins), FT_OK);
  EXPECT_EQ(pins, 0x60);  // TDI driven high, and looped back to TDO
  c.FailCall("ReadPins", 0, -1);
  EXPECT_EQ(chip->FT_GetBitMode(h, &pins), FT_IO_ERROR);
}

// --- Set-up: modes, rates, parameters ---

TEST_F(FtdiD2xxTest, Ft232bRefusesSynchronousBitBang) {
  FakeChip& c = bus->AddChip("USB <-> Serial FT232B", "B1", ChipType::kBm);
  const FtHandle h = Open("USB <-> Serial FT232B");
  EXPECT_EQ(chip->FT_SetBitMode(h, kJtagOutputs, FT_BITMODE_SYNC_BITBANG), FT_NOT_SUPPORTED);
  EXPECT_EQ(c.calls["SetBitmode"], 0);  // nothing sent
  EXPECT_NE(chip->LastErrorText().find("FT232BM"), std::string::npos);
  EXPECT_EQ(chip->FT_SetBitMode(h, kJtagOutputs, FT_BITMODE_ASYNC_BITBANG), FT_OK);
  EXPECT_EQ(c.mode, FT_BITMODE_ASYNC_BITBANG);
}

TEST_F(FtdiD2xxTest, ModesTheChipsLack) {
  bus->AddChip("FT8U232AM", "", ChipType::kAm);
  bus->AddChip("FT232R USB UART", "A1", ChipType::kR);
  const FtHandle am = Open("FT8U232AM");
  const FtHandle r = Open("FT232R USB UART");
  EXPECT_EQ(chip->FT_SetBitMode(am, 0xFF, FT_BITMODE_ASYNC_BITBANG), FT_NOT_SUPPORTED);
  EXPECT_EQ(chip->FT_SetBitMode(am, 0xFF, FT_BITMODE_SYNC_BITBANG), FT_NOT_SUPPORTED);
  EXPECT_EQ(chip->FT_SetBitMode(r, 0xFF, 0x02 /* MPSSE */), FT_NOT_SUPPORTED);
  ASSERT_EQ(chip->FT_SetBitMode(r, kJtagOutputs, FT_BITMODE_SYNC_BITBANG), FT_OK);
  EXPECT_EQ(bus->chips[1]->direction, kJtagOutputs);
  bus->chips[1]->FailCall("SetBitmode", 0, -2);
  EXPECT_EQ(chip->FT_SetBitMode(r, 0, FT_BITMODE_RESET), FT_IO_ERROR);
}

struct RateCase {
  std::uint32_t rate;
  FtStatus status;
  bool reaches_chip;  // refused before any USB traffic otherwise
};

class RateTest : public FtdiD2xxTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(RateTest, TypedRateIsTheUartRateInBitBangMode) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = OpenSync();
  EXPECT_EQ(chip->FT_SetBaudRate(h, GetParam().rate), GetParam().status);
  EXPECT_EQ(c.calls["SetUartBaudrate"], GetParam().reaches_chip ? 1 : 0);
  // In synchronous bit-bang mode the number still goes to the chip as given.
  EXPECT_EQ(c.uart_rate, GetParam().status == FT_OK ? static_cast<int>(GetParam().rate) : 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTest,
                         ::testing::Values(RateCase{150000, FT_OK, true}, RateCase{3000000, FT_OK, true},
                                           RateCase{183, FT_OK, true},
                                           RateCase{3200000, FT_INVALID_BAUD_RATE, true},  // libftdi's -1
                                           RateCase{0, FT_INVALID_BAUD_RATE, false},
                                           RateCase{static_cast<std::uint32_t>(INT_MAX) + 1U, FT_INVALID_BAUD_RATE, false},
                                           RateCase{0xFFFFFFFFU, FT_INVALID_BAUD_RATE, false}));

TEST_F(FtdiD2xxTest, RateTransferFailureIsIoError) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = OpenSync();
  c.FailCall("SetUartBaudrate", 0, -2);
  EXPECT_EQ(chip->FT_SetBaudRate(h, 150000), FT_IO_ERROR);
}

TEST_F(FtdiD2xxTest, DivisorGoesToTheRegisterAsGiven) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = OpenSync();
  ASSERT_EQ(chip->FT_SetDivisor(h, 0), FT_OK);  // Max CLK: undivided 3 MHz
  EXPECT_EQ(c.divisor_value, 0);
  EXPECT_EQ(c.divisor_index, 0);
  ASSERT_EQ(chip->FT_SetDivisor(h, 0x4138), FT_OK);  // 312.5: 9600 baud
  EXPECT_EQ(c.divisor_value, 0x4138);
  EXPECT_EQ(c.uart_rate, 0);
  c.FailCall("SetBaudDivisor", 0, -2);
  EXPECT_EQ(chip->FT_SetDivisor(h, 0), FT_IO_ERROR);
}

TEST_F(FtdiD2xxTest, UsbParametersAndLatency) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = Open();
  ASSERT_EQ(chip->FT_SetUSBParameters(h, 128, 0), FT_OK);
  EXPECT_EQ(c.read_chunk, 128U);
  EXPECT_EQ(c.write_chunk, 4096U);  // 0: writes unchanged
  EXPECT_EQ(chip->FT_SetUSBParameters(h, 100, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(chip->FT_SetUSBParameters(h, 0, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(chip->FT_SetUSBParameters(h, 65600, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(chip->FT_SetUSBParameters(h, 64, 65), FT_INVALID_PARAMETER);
  EXPECT_EQ(c.read_chunk, 128U);  // a refused call changes nothing
  ASSERT_EQ(chip->FT_SetUSBParameters(h, 65536, 512), FT_OK);
  EXPECT_EQ(c.write_chunk, 512U);

  EXPECT_EQ(chip->FT_SetLatencyTimer(h, 1), FT_INVALID_PARAMETER);
  EXPECT_EQ(chip->FT_SetLatencyTimer(h, 0), FT_INVALID_PARAMETER);
  ASSERT_EQ(chip->FT_SetLatencyTimer(h, 2), FT_OK);
  EXPECT_EQ(c.latency, 2);
}

// --- Close, handles, unplugging ---

TEST_F(FtdiD2xxTest, CloseLeavesBitBangAndReleasesTheChip) {
  FakeChip& c = bus->AddChip();
  c.deliver_per_read = 3;
  const FtHandle h = OpenSync();
  Write(h, Ramp(9));
  EXPECT_EQ(Queue(h), 6U);  // answers still on their way
  ASSERT_EQ(chip->FT_Close(h), FT_OK);
  EXPECT_EQ(c.reading, 0U) << "the read in flight is cancelled";
  EXPECT_EQ(c.mode, FT_BITMODE_RESET);
  EXPECT_EQ(c.direction, 0);
  EXPECT_FALSE(c.open);
  // The chip opens again, with nothing left over from before.
  const FtHandle again = Open();
  EXPECT_NE(again, h);
  EXPECT_EQ(Queue(again), 0U);
}

TEST_F(FtdiD2xxTest, CloseOfAChipThatWasNeverInBitBangSendsNoReset) {
  FakeChip& c = bus->AddChip();
  ASSERT_EQ(chip->FT_Close(Open()), FT_OK);
  EXPECT_EQ(c.calls["SetBitmode"], 0);
}

TEST_F(FtdiD2xxTest, EveryCallOnAClosedOrUnknownHandleIsInvalidHandle) {
  bus->AddChip();
  const FtHandle h = OpenSync();
  ASSERT_EQ(chip->FT_Close(h), FT_OK);
  std::uint32_t n = 0;
  std::uint8_t b = 0;
  for (const FtHandle bad : {h, FtHandle{0}, FtHandle{77}}) {
    EXPECT_EQ(chip->FT_Close(bad), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_GetQueueStatus(bad, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_SetUSBParameters(bad, 128, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_SetLatencyTimer(bad, 2), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_SetBitMode(bad, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_SetBaudRate(bad, 150000), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_SetDivisor(bad, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_Write(bad, &b, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_Read(bad, &b, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_GetBitMode(bad, &b), FT_INVALID_HANDLE);
    EXPECT_EQ(chip->FT_Purge(bad, 255), FT_INVALID_HANDLE);
  }
}

TEST_F(FtdiD2xxTest, UnpluggedDuringUseFailsWithIoErrorAndStillCloses) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = OpenSync();
  c.present = false;
  std::uint32_t written = 0;
  const std::uint8_t byte = 0;
  EXPECT_EQ(chip->FT_Write(h, &byte, 1, &written), FT_IO_ERROR);
  EXPECT_EQ(chip->LastErrorText(), "usb bulk transfer failed");
  EXPECT_EQ(chip->FT_Close(h), FT_OK);  // the reset fails unseen; the release works
  EXPECT_EQ(chip->FT_Close(h), FT_INVALID_HANDLE);
  std::uint32_t count = 9;
  ASSERT_EQ(chip->FT_ListDevices(&count, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 0U);
}

TEST_F(FtdiD2xxTest, FailedCloseStillForgetsTheHandle) {
  FakeChip& c = bus->AddChip();
  const FtHandle h = Open();
  c.FailCall("Close", 0, -1);
  EXPECT_EQ(chip->FT_Close(h), FT_IO_ERROR);
  EXPECT_EQ(chip->FT_Close(h), FT_INVALID_HANDLE);
  EXPECT_FALSE(c.open);
}

TEST_F(FtdiD2xxTest, DestroyingTheBackendClosesWhatIsOpen) {
  bus->AddChip("FT232R USB UART", "A1");
  bus->AddChip("FT232R USB UART", "B2");
  // The bus goes with the backend; the chips stay for the checks.
  const std::shared_ptr<FakeChip> a = bus->chips[0];
  const std::shared_ptr<FakeChip> b = bus->chips[1];
  OpenSync();
  Open();
  chip.reset();
  bus = nullptr;
  EXPECT_FALSE(a->open);
  EXPECT_FALSE(b->open);
  EXPECT_EQ(a->mode, FT_BITMODE_RESET);
  EXPECT_EQ(b->calls["SetBitmode"], 0);
}

}  // namespace
}  // namespace tavrin::adapter
