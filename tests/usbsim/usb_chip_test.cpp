// SPDX-License-Identifier: Apache-2.0
// The simulated USB FT232R's rules: packets and their status bytes, the
// FIFO limits, the latency timer, the byte rate, and what requests cost in
// each host profile.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "adapter/baud_divisor.h"
#include "adapter/tck.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/timing.h"
#include "adapter/usbsim/usb_chip.h"
#include "board/board_spec.h"

namespace tavrin::adapter::usbsim {
namespace {

constexpr std::uint8_t kJtagOutputs = 0xA2;  // TCK D7, TDI D5, TMS D1
constexpr std::uint8_t kTck = 0x80;

struct Chip {
  explicit Chip(const HostProfile& profile = FastProfile()) : clock(profile), chip(board::DefaultBoard(), profile, clock) {}

  // Synchronous bit-bang at 3 MHz with the latency timer at `latency` ms.
  void Sync(std::uint8_t latency = 2) {
    chip.SetBitMode(kJtagOutputs, kModeSync);
    chip.SetBaudDivisor(0, 0);
    chip.SetLatencyTimer(latency);
  }
  std::size_t Out(std::size_t n, std::uint8_t byte = 0) {
    const std::vector<std::uint8_t> bytes(n, byte);
    return chip.BulkOut(bytes.data(), bytes.size(), Us(5000000));
  }
  // Lets simulated time pass with the host doing nothing.
  void Idle(Ticks t) {
    clock.AdvanceTo(clock.Now() + t);
    chip.CatchUp();
  }

  SimClock clock;
  UsbFt232r chip;
};

// The data of an IN transfer: every packet's two status bytes dropped.
std::vector<std::uint8_t> DataOf(const std::vector<std::uint8_t>& wire) {
  std::vector<std::uint8_t> data;
  for (std::size_t p = 0; p < wire.size(); p += kPacketSize) {
    for (std::size_t i = p + kStatusBytes; i < std::min(p + kPacketSize, wire.size()); ++i) data.push_back(wire[i]);
  }
  return data;
}

// --- Packets ---

TEST(UsbChipPackets, EveryInPacketStartsWithTwoStatusBytesAndCarriesAtMost62Answers) {
  Chip c;
  c.Sync();
  ASSERT_EQ(c.Out(100, kTck), 100U);
  c.Idle(Us(3000));  // all clocked, and the latency timer has run out
  const std::vector<std::uint8_t> wire = c.chip.BulkIn(128);
  ASSERT_EQ(wire.size(), 64U + 2U + 38U);
  EXPECT_EQ(wire[0], kModemStatus);
  EXPECT_EQ(wire[1], kLineStatus);
  EXPECT_EQ(wire[64], kModemStatus);
  EXPECT_EQ(wire[65], kLineStatus);
  const std::vector<std::uint8_t> data = DataOf(wire);
  ASSERT_EQ(data.size(), 100U);
  // The first answer is the pins before anything was driven (TCK low, held
  // down by the board); every later one shows the TCK high just driven.
  EXPECT_EQ(data[0] & kTck, 0);
  EXPECT_EQ(data[99] & kTck, kTck);
  EXPECT_EQ(c.chip.Stats().in_full_packets, 1U);
  EXPECT_EQ(c.chip.Stats().in_short_packets, 1U);
}

TEST(UsbChipPackets, ATransferEndsAtItsLengthAndTheRestWaitsInTheChip) {
  Chip c;
  c.Sync();
  ASSERT_EQ(c.Out(128), 128U);
  ASSERT_EQ(c.Out(72), 72U);
  c.Idle(Us(1000));
  EXPECT_EQ(c.chip.RxLevel(), 200U);
  const Ticks before = c.clock.Now();
  EXPECT_EQ(c.chip.BulkIn(128).size(), 128U);  // two full packets, no wait for the timer
  EXPECT_EQ(c.chip.RxLevel(), 200U - 124U);
  EXPECT_LT(c.clock.Now() - before, Us(400));
  EXPECT_EQ(c.chip.Stats().latency_waits, 0U);
}

TEST(UsbChipPackets, NothingToSendGivesTheStatusBytesAloneWhenTheTimerRunsOut) {
  Chip c;
  c.Sync(16);
  c.Idle(Us(20000));
  (void)c.chip.BulkIn(64);  // the timer had run out: an empty packet at once
  const Ticks last = c.chip.LastPacket();
  const std::vector<std::uint8_t> wire = c.chip.BulkIn(64);
  EXPECT_EQ(wire, (std::vector<std::uint8_t>{kModemStatus, kLineStatus}));
  EXPECT_GE(c.chip.LastPacket() - last, 16 * kTicksPerMs);
  EXPECT_LT(c.chip.LastPacket() - last, 16 * kTicksPerMs + Us(10));
  EXPECT_EQ(c.chip.Stats().in_empty_packets, 2U);
}

// --- FIFO limits ---

TEST(UsbChipFifos, OutPacketsWaitForRoomInTheTransmitFifo) {
  Chip c;
  c.Sync();
  c.chip.SetBaudDivisor(3000, 0);  // 1 kbaud: a byte every 62.5 us
  const Ticks period = c.chip.BytePeriod();
  ASSERT_EQ(period, 24000U);
  const Ticks before = c.clock.Now();
  ASSERT_EQ(c.Out(256), 256U);
  // The last two packets fit only once 128 bytes have left the FIFO.
  EXPECT_GE(c.clock.Now() - before, 127 * period);
  EXPECT_GE(c.chip.Stats().out_refused, 1U);
  EXPECT_LE(c.chip.TxLevel(), kTxFifo);
}

TEST(UsbChipFifos, AFullReceiveFifoStopsTheClockingUntilAPacketLeaves) {
  Chip c;
  c.Sync();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(c.Out(128, kTck), 128U);
  c.Idle(Us(1000));
  EXPECT_EQ(c.chip.RxLevel(), kRxFifo);
  EXPECT_EQ(c.chip.TxLevel(), 128U);
  const std::uint64_t edges = c.chip.Pins().Chain().RisingEdges();
  c.Idle(Us(10000));
  EXPECT_EQ(c.chip.Pins().Chain().RisingEdges(), edges);  // nothing clocked meanwhile

  // No room anywhere: the chip takes nothing more and the transfer gives up.
  const Ticks before = c.clock.Now();
  EXPECT_EQ(c.Out(64), 0U);
  EXPECT_GE(c.clock.Now() - before, 5000 * kTicksPerMs);
  EXPECT_EQ(c.chip.Stats().timeouts, 1U);

  EXPECT_EQ(c.chip.BulkIn(64).size(), 64U);
  c.Idle(Us(100));
  EXPECT_EQ(c.chip.RxLevel(), kRxFifo);
  EXPECT_EQ(c.chip.TxLevel(), 128U - kPacketData);
}

TEST(UsbChipFifos, PurgedBytesNeverReachThePins) {
  Chip c;
  c.Sync();
  c.chip.SetBaudDivisor(3000, 0);
  std::vector<std::uint8_t> clocks;
  for (int i = 0; i < 64; ++i) {
    clocks.push_back(kTck);
    clocks.push_back(0);
  }
  ASSERT_EQ(c.chip.BulkOut(clocks.data(), clocks.size(), Us(1000)), 128U);
  c.chip.PurgeTx();  // starts on the next micro-frame: a few bytes are out by then
  c.Idle(Us(100000));
  const std::uint64_t edges = c.chip.Pins().Chain().RisingEdges();
  EXPECT_GT(edges, 0U);
  EXPECT_LT(edges, 10U);
  EXPECT_EQ(c.chip.TxLevel(), 0U);
  c.chip.PurgeRx();
  EXPECT_EQ(c.chip.RxLevel(), 0U);
}

// --- Stricter rules ---

HostProfile Strict(bool whole_out_slots, bool status_in_rx, std::uint32_t drop_every_nth_in = 0) {
  HostProfile p = FastProfile();
  p.chip.whole_out_slots = whole_out_slots;
  p.chip.status_in_rx = status_in_rx;
  p.chip.drop_every_nth_in = drop_every_nth_in;
  return p;
}

// What one OUT transfer gets into a chip nobody reads from: the receive
// FIFO fills, then the transmit FIFO, as far as the rules let each packet in.
struct StrictCase {
  bool whole_out_slots;
  bool status_in_rx;
  std::size_t size;
  std::size_t taken;
  std::size_t answers;  // held in the receive FIFO at the end
};

class UsbChipStrict : public ::testing::TestWithParam<StrictCase> {};

TEST_P(UsbChipStrict, AnUnreadChipTakesWhatItsFifosHoldUnderTheRules) {
  const StrictCase& k = GetParam();
  Chip c(Strict(k.whole_out_slots, k.status_in_rx));
  c.Sync();
  const std::vector<std::uint8_t> bytes(k.size, kTck);
  EXPECT_EQ(c.chip.BulkOut(bytes.data(), bytes.size(), Us(100000)), k.taken);
  c.Idle(Us(1000));
  EXPECT_EQ(c.chip.RxLevel(), k.answers);
  EXPECT_EQ(c.chip.TxLevel(), k.taken - k.answers);
  // Every answer comes out, in full packets, and the chip clocks the rest.
  std::size_t got = 0;
  for (int i = 0; i < 20 && got < k.taken; ++i) got += DataOf(c.chip.BulkIn(512)).size();
  EXPECT_EQ(got, k.taken);
}

// 372: the player's block, six packets the last of 52 bytes. 400: six
// whole packets and one of 16.
INSTANTIATE_TEST_SUITE_P(Rules, UsbChipStrict,
                         ::testing::Values(StrictCase{false, false, 372, 372, 256}, StrictCase{false, false, 400, 384, 256},
                                           // a 52-byte packet needs a whole free slot: 320 - 256 left 64 free
                                           StrictCase{true, false, 372, 372, 256}, StrictCase{true, false, 400, 384, 256},
                                           // 248 answers; 72 waiting leave room for 52 bytes, not for 64
                                           StrictCase{false, true, 372, 372, 248}, StrictCase{false, true, 400, 320, 248},
                                           // 72 waiting: no whole slot for the sixth packet
                                           StrictCase{true, true, 372, 320, 248}, StrictCase{true, true, 400, 320, 248}));

TEST(UsbChipStrictIn, EveryNthInPacketWithAnswersIsLostAndEmptyOnesDoNotCount) {
  Chip c(Strict(false, false, 3));
  c.Sync();
  ASSERT_EQ(c.chip.BulkIn(64).size(), kStatusBytes);  // empty: not counted
  ASSERT_EQ(c.Out(6 * kPacketData, kTck), 6 * kPacketData);
  c.Idle(Us(1000));
  // Six full packets on the wire, the third and sixth lost: one transfer of
  // six packets' length ends after the sixth all the same.
  const std::vector<std::uint8_t> wire = c.chip.BulkIn(6 * kPacketSize);
  EXPECT_EQ(DataOf(wire).size(), 4 * kPacketData);
  EXPECT_EQ(c.chip.Stats().in_lost, 2U);
  EXPECT_EQ(c.chip.Stats().bytes_in, 4 * kPacketData);
  EXPECT_EQ(c.chip.RxLevel(), 0U);
}

// --- Transfers in flight ---

// A block and the IN transfer for its answers, submitted together: the
// host handles each end at once. Gives the answers, and when the last of
// the two ended.
struct Flight {
  std::vector<std::uint8_t> answers;
  std::size_t taken = 0;
  std::size_t in_transfers = 0;
  Ticks end = 0;
};
Flight Fly(Chip& c, std::size_t block) {
  std::vector<std::uint8_t> bytes(block);
  for (std::size_t i = 0; i < block; ++i) bytes[i] = static_cast<std::uint8_t>(i % 2 == 0 ? kTck : 0);
  Flight f;
  c.chip.SubmitIn((block + kPacketData - 1) / kPacketData * kPacketSize);
  c.chip.SubmitOut(bytes.data(), bytes.size(), Us(100000));
  const Ticks give_up = c.clock.Now() + Us(200000);
  while ((c.chip.OutInFlight() || c.chip.InInFlight() || f.answers.size() < block) && c.clock.Now() < give_up) {
    c.clock.AdvanceTo(c.chip.RunBus(give_up));
    if (auto out = c.chip.TakeOut()) f.taken = out->taken;
    if (auto in = c.chip.TakeIn()) {
      const std::vector<std::uint8_t> data = DataOf(in->wire);
      f.answers.insert(f.answers.end(), data.begin(), data.end());
      ++f.in_transfers;
      if (f.answers.size() < block) c.chip.SubmitIn(kPacketSize * 8);
    }
  }
  f.end = c.clock.Now();
  return f;
}

// Under every FIFO rule, in both profiles, a 372-byte block goes whole
// with its answers read as they come: one IN transfer of six full packets,
// all within one frame of the host's grid.
TEST(UsbChipInFlight, ABlockAndItsAnswersShareTheBusWithinOneFrameUnderEveryRule) {
  for (const bool frame : {false, true}) {
    for (const auto& [slots, status] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
      SCOPED_TRACE(std::string(frame ? "frame" : "fast") + (slots ? " whole OUT slots" : "") +
                   (status ? " status in RX" : ""));
      HostProfile p = frame ? FrameProfile() : FastProfile();
      p.chip.whole_out_slots = slots;
      p.chip.status_in_rx = status;
      Chip c(p);
      c.Sync();
      (void)c.chip.BulkIn(kPacketSize);  // an IN packet just now: the latency timer runs
      const Ticks start = c.clock.Now();
      const Flight f = Fly(c, 6 * kPacketData);
      EXPECT_EQ(f.taken, 6 * kPacketData);
      EXPECT_EQ(f.answers.size(), 6 * kPacketData);
      EXPECT_EQ(f.in_transfers, 1U);
      EXPECT_EQ(c.chip.Stats().in_short_packets, 0U);
      EXPECT_EQ(c.chip.Stats().timeouts, 0U);
      EXPECT_LT(f.end - start, p.grid + Us(1000));
      // Each answer is the pins before its byte: TCK low, high, low, ...
      for (std::size_t i = 1; i < f.answers.size(); ++i) EXPECT_EQ(f.answers[i] & kTck, i % 2 == 1 ? kTck : 0) << i;
    }
  }
}

// Once the latency timer has run out, an IN token gets what answers there
// are at once: the block's first answer alone, and then its last packet is
// short and waits for the timer. (The host takes a status packet first
// after a pause for this reason.)
TEST(UsbChipInFlight, AfterAPauseTheFirstAnswersComeAloneAndTheLastPacketWaits) {
  Chip c(FrameProfile());
  c.Sync();
  c.Idle(Us(10000));
  const Flight f = Fly(c, 6 * kPacketData);
  EXPECT_EQ(f.answers.size(), 6 * kPacketData);
  EXPECT_EQ(f.in_transfers, 2U);
  EXPECT_GE(c.chip.Stats().in_short_packets, 2U);
  EXPECT_EQ(c.chip.Stats().latency_waits, 1U);
}

TEST(UsbChipInFlight, CancelledTransfersDeliverNothingAndEndNothing) {
  Chip c(FrameProfile());
  c.Sync();
  const std::vector<std::uint8_t> bytes(372, kTck);
  c.chip.SubmitIn(384);
  c.chip.SubmitOut(bytes.data(), bytes.size(), Us(100000));
  c.chip.CancelTransfers();  // before the next frame: nothing went
  EXPECT_FALSE(c.chip.OutInFlight() || c.chip.InInFlight());
  c.Idle(Us(5000));
  (void)c.chip.RunBus(c.clock.Now());
  EXPECT_FALSE(c.chip.TakeOut().has_value());
  EXPECT_FALSE(c.chip.TakeIn().has_value());
  EXPECT_EQ(c.chip.Stats().bytes_clocked, 0U);
}

// --- Latency timer ---

class UsbChipLatency : public ::testing::TestWithParam<int> {};

TEST_P(UsbChipLatency, ShortAnswersWaitForTheTimerCountedFromTheLastPacket) {
  const int ms = GetParam();
  Chip c;
  c.Sync(static_cast<std::uint8_t>(ms));
  c.Idle(Us(300000));
  ASSERT_EQ(c.chip.BulkIn(64).size(), kStatusBytes);  // long expired: at once
  const Ticks last = c.chip.LastPacket();
  ASSERT_EQ(c.Out(48), 48U);
  const std::vector<std::uint8_t> wire = c.chip.BulkIn(128);
  EXPECT_EQ(wire.size(), 50U);
  const Ticks sent = c.chip.LastPacket();
  EXPECT_GE(sent - last, static_cast<Ticks>(ms) * kTicksPerMs);
  EXPECT_LT(sent - last, static_cast<Ticks>(ms) * kTicksPerMs + Us(60));
  EXPECT_EQ(c.chip.Stats().latency_waits, 1U);
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, UsbChipLatency, ::testing::Values(1, 2, 16, 255));

TEST(UsbChipLatencyFull, AFullPacketGoesAtOnceAndOnlyAShortOneWaitsForTheTimer) {
  Chip c;
  c.Sync(16);
  (void)c.chip.BulkIn(64);  // the timer starts again from this packet
  const std::uint64_t waits = c.chip.Stats().latency_waits;
  ASSERT_EQ(c.Out(62), 62U);
  Ticks before = c.clock.Now();
  EXPECT_EQ(c.chip.BulkIn(64).size(), 64U);  // one packet asked, and it is full
  EXPECT_LT(c.clock.Now() - before, Us(400));
  EXPECT_EQ(c.chip.Stats().latency_waits, waits);

  // Two packets asked: the full one goes at once, the transfer then ends
  // only with an empty packet when the timer has run out again.
  ASSERT_EQ(c.Out(62), 62U);
  before = c.clock.Now();
  const std::vector<std::uint8_t> wire = c.chip.BulkIn(128);
  EXPECT_EQ(wire.size(), 64U + kStatusBytes);
  EXPECT_GE(c.clock.Now() - before, 16 * kTicksPerMs);
  EXPECT_EQ(c.chip.Stats().latency_waits, waits + 1);
}

// --- Byte rate ---

struct RateCase {
  std::uint16_t value;
  std::uint16_t index;
  Ticks period;  // one bit-bang byte
};

class UsbChipRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(UsbChipRate, TheDivisorSetsTheByteRate) {
  const RateCase& rc = GetParam();
  Chip c;
  c.Sync();
  c.chip.SetBaudDivisor(rc.value, rc.index);
  EXPECT_EQ(c.chip.BytePeriod(), rc.period);
}

INSTANTIATE_TEST_SUITE_P(
    Divisors, UsbChipRate,
    ::testing::Values(RateCase{0, 0, 128},            // 3 Mbaud: the chip's fastest, 3 MHz
                      RateCase{1, 0, 128},            // 2 Mbaud: 16 times that is still capped
                      RateCase{20, 0, 160},           // 150 kbaud: 2.4 MHz
                      RateCase{20 | 0x4000, 0, 164},  // 20.5
                      RateCase{20 | 0xC000, 0, 161},  // 20.125
                      RateCase{20, 1, 163},           // 20.375 (index bit 0 is fraction bit 2)
                      RateCase{20 | 0x4000, 1, 165},  // 20.625
                      RateCase{150, 0, 1200},         // 20 kbaud: 320 kHz
                      RateCase{3000, 0, 24000}));     // 1 kbaud: 16 kHz

// The TCK said for a --freq setting is the one the chip clocks: two byte
// periods a TCK period.
TEST(UsbChipRateTiming, TheTckOfASettingIsTwoBytePeriods) {
  for (const std::uint64_t hertz : {1465ULL, 100000ULL, 333000ULL, 1499999ULL, 2000000ULL}) {
    const auto setting = SettingForTck(hertz);
    ASSERT_TRUE(setting) << hertz;
    const BaudDivisor d = setting->rate ? Ft232rDivisorFor(*setting->rate).value_or(BaudDivisor{}) : BaudDivisor{};
    Chip c;
    c.Sync();
    c.chip.SetBaudDivisor(d.value, d.index);
    EXPECT_DOUBLE_EQ(static_cast<double>(2 * c.chip.BytePeriod()), 1e6 * kTicksPerUs / setting->tck.Hertz()) << hertz;
  }
}

TEST(UsbChipRateTiming, AnswersComeOneBytePeriodApart) {
  for (const std::uint16_t divisor : {std::uint16_t{150}, std::uint16_t{3000}}) {
    Chip c;
    c.Sync(255);
    c.chip.SetBaudDivisor(divisor, 0);
    const Ticks period = c.chip.BytePeriod();
    ASSERT_EQ(c.Out(128), 128U);
    c.chip.CatchUp();
    const std::size_t first = c.chip.RxLevel();
    ASSERT_LE(first + 50, 128U);
    c.Idle(50 * period);
    EXPECT_EQ(c.chip.RxLevel() - first, 50U) << divisor;
  }
}

TEST(UsbChipRateModes, SerialDataTakesTenBitTimesAndAnswersNothing) {
  Chip c;
  c.chip.SetBaudDivisor(20, 0);  // 150 kbaud
  EXPECT_EQ(c.chip.BytePeriod(), 160U * 160U);
  ASSERT_EQ(c.Out(10, kTck), 10U);
  c.Idle(Us(1000));
  EXPECT_EQ(c.chip.RxLevel(), 0U);
  EXPECT_EQ(c.chip.TxLevel(), 0U);
  EXPECT_EQ(c.chip.Pins().Chain().RisingEdges(), 0U);  // the pins are not driven
}

// --- Request costs ---

struct CostCase {
  const char* profile;
  Ticks control;  // one control request after another
  Ticks write;    // one small bulk write after another
};

class UsbChipCosts : public ::testing::TestWithParam<CostCase> {};

TEST_P(UsbChipCosts, RequestsStartOnTheGridAndCostTheirProfilesTime) {
  const CostCase& cc = GetParam();
  Chip c(*ProfileByName(cc.profile));
  c.clock.AdvanceTo(Us(10));  // between grid points: the first request waits for the next
  c.chip.Control();
  const Ticks first = c.clock.Now();
  for (int i = 0; i < 4; ++i) c.chip.Control();
  c.chip.Control();
  EXPECT_EQ(c.chip.Stats().control_requests, 6U);
  const Ticks grid = c.chip.Host().grid;
  const Ticks after_first = (first + grid - 1) / grid * grid;
  EXPECT_EQ((c.clock.Now() + grid - 1) / grid * grid - after_first, 5 * cc.control);
  EXPECT_GE(first, grid);  // the first started on the grid point after 10 us

  const Ticks before = (c.clock.Now() + grid - 1) / grid * grid;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(c.Out(3), 3U);
  EXPECT_EQ((c.clock.Now() + grid - 1) / grid * grid - before, 10 * cc.write);
}

INSTANTIATE_TEST_SUITE_P(Profiles, UsbChipCosts,
                         ::testing::Values(CostCase{"frame", Us(1000), Us(1000)},
                                           CostCase{"fast", Us(250), Us(125)}));

TEST(UsbChipProfiles, OnlyTheTwoProfilesAreKnownByName) {
  EXPECT_EQ(ProfileByName("frame")->grid, Us(1000));
  EXPECT_EQ(ProfileByName("fast")->grid, Us(125));
  EXPECT_FALSE(ProfileByName("slow").has_value());
}

TEST(UsbChipClock, SleepsMoveTheSimulatedTimeAndAreCounted) {
  const HostProfile p = FrameProfile();
  SimClock clock(p);
  clock.SleepMs(20);
  clock.SleepBriefly();
  EXPECT_EQ(clock.Now(), 20 * kTicksPerMs + p.sleep_overshoot + p.sleep_brief);
  EXPECT_EQ(clock.NowMicros(), clock.Now() / kTicksPerUs);
  EXPECT_EQ(clock.Slept(), 20 * kTicksPerMs + p.sleep_overshoot);
  EXPECT_EQ(clock.Polls(), 1U);
  clock.AdvanceTo(5);  // never back
  EXPECT_EQ(clock.Now(), 20 * kTicksPerMs + p.sleep_overshoot + p.sleep_brief);
}

}  // namespace
}  // namespace tavrin::adapter::usbsim
