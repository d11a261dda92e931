// SPDX-License-Identifier: Apache-2.0
// The real-adapter backend on the simulated USB chip, with its transfers in
// flight, under arbitrary call sequences: the input picks the host profile
// and how strict the chip is (whole OUT slots, status bytes in the receive
// FIFO, lost IN packets), then writes of any size, queue queries, waits on
// the bus, reads, purges, latency and rate changes, sleeps and reopening.
//
// Every pin is an output, so each answer is the byte written before it. A
// model beside the backend predicts the answers: they come in order, never
// more than were written, and, with no IN packet lost, all of them within a
// bounded time. Every call's simulated time is bounded, nothing is left in
// flight after a purge of both directions or a close, and no more than the
// chip holds is ever written and not answered.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ftdi/ftdi_d2xx.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "board/board_spec.h"

namespace {

namespace ad = tavrin::adapter;
namespace sim = tavrin::adapter::usbsim;

constexpr int kMaxCalls = 300;
constexpr std::uint32_t kMaxWrite = 2000;

const char* g_step = "open";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "usb_fuzzer: %s (at %s)\n", what.c_str(), g_step);
  std::fflush(stderr);
  std::abort();
}

void Require(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

struct Bench {
  explicit Bench(const sim::HostProfile& p) : clock(p) {
    auto owned = std::make_unique<sim::SimFtdiApi>(tavrin::board::DefaultBoard(), p, clock);
    api = owned.get();
    chip = std::make_unique<ad::FtdiD2xx>(std::move(owned));
  }
  sim::SimClock clock;
  sim::SimFtdiApi* api = nullptr;
  std::unique_ptr<ad::FtdiD2xx> chip;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  sim::HostProfile profile = in.ConsumeBool() ? sim::FrameProfile() : sim::FastProfile();
  profile.chip.whole_out_slots = in.ConsumeBool();
  profile.chip.status_in_rx = in.ConsumeBool();
  profile.chip.drop_every_nth_in = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(1, 40) : 0;
  const bool lossless = profile.chip.drop_every_nth_in == 0;
  Bench b(profile);
  ad::FtdiD2xx& chip = *b.chip;
  sim::UsbFt232r& usb = b.api->Chip();

  ad::FtHandle h = 0;
  const auto open = [&] {
    g_step = "open";
    Require(chip.FT_OpenEx(sim::kSimDescription, ad::FT_OPEN_BY_DESCRIPTION, &h) == ad::FT_OK, "open");
    Require(chip.FT_SetLatencyTimer(h, 2) == ad::FT_OK && chip.FT_SetBitMode(h, 0xFF, ad::FT_BITMODE_SYNC_BITBANG) == ad::FT_OK &&
                chip.FT_SetDivisor(h, 0) == ad::FT_OK,
            "set-up");
  };
  open();
  bool sync = true;
  std::uint64_t latency = 2;          // ms
  std::uint8_t last = 0;              // the pins before the next byte
  std::deque<std::uint8_t> expected;  // answers written for, not yet read
  bool holey = !lossless;             // answers were lost or purged: only counts are sure
  // With both directions emptied, the answers are known again from the
  // pins on.
  const auto resync = [&] {
    expected.clear();
    holey = !lossless;
    Require(chip.FT_GetBitMode(h, &last) == ad::FT_OK, "pins");
  };
  resync();

  for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; ++call) {
    const sim::Ticks before = b.clock.Now();
    sim::Ticks bound = sim::Us(50000);
    std::uint32_t rx = 0;
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 0: {  // a write
        g_step = "FT_Write";
        const auto n = in.ConsumeIntegralInRange<std::uint32_t>(0, kMaxWrite);
        // The bytes from a seed, so that a long write leaves input for the
        // calls after it.
        std::uint32_t x = in.ConsumeIntegral<std::uint32_t>() | 1U;
        std::vector<std::uint8_t> bytes(n);
        for (std::uint8_t& byte : bytes) {
          x = x * 1664525U + 1013904223U;
          byte = static_cast<std::uint8_t>(x >> 24U);
        }
        std::uint32_t written = 0;
        const ad::FtStatus s = chip.FT_Write(h, bytes.data(), n, &written);
        Require(written <= n, "more written than asked");
        // A chip whose answers are lost stops taking bytes; a lossless one
        // takes every byte.
        if (lossless && !holey) {
          Require(s == ad::FT_OK && written == n, "a lossless chip refused a write: " + chip.LastErrorText());
        }
        for (std::uint32_t i = 0; i < written; ++i) {
          if (sync) expected.push_back(last);
          last = bytes[i];
        }
        if (s != ad::FT_OK) holey = true;
        // A piece that does not end on a whole packet waits for the latency
        // timer before the next piece can go.
        // After a purge of one direction alone, the answers owed are not
        // known: a write may wait for some that never come.
        bound = lossless && !holey ? sim::Us(20000) + sim::Us(3000) * (n / 62 + 1) + sim::Us(1000 * latency + 4000) * (n / 300 + 1)
                         : sim::Us(8'000'000);
        break;
      }
      case 1:
        g_step = "FT_GetQueueStatus";
        Require(chip.FT_GetQueueStatus(h, &rx) == ad::FT_OK || !lossless, "queue status");
        break;
      case 2: {
        g_step = "WaitForQueue";
        const auto ms = in.ConsumeIntegralInRange<std::uint32_t>(0, 50);
        const auto want = in.ConsumeIntegralInRange<std::uint32_t>(0, 4000);
        const ad::FtStatus s = chip.WaitForQueue(h, want, ms, &rx);
        Require(s == ad::FT_OK || s == ad::FT_NOT_SUPPORTED || !lossless, "wait");
        bound = sim::Us(1000) * (ms + 2);
        break;
      }
      case 3: {
        g_step = "FT_Read";
        const auto n = in.ConsumeIntegralInRange<std::uint32_t>(0, 3000);
        std::vector<std::uint8_t> got(n);
        std::uint32_t read = 0;
        if (chip.FT_Read(h, got.data(), n, &read) == ad::FT_OK) {
          Require(read <= n, "more read than asked");
          Require(!sync || holey || read <= expected.size(), "more answers than bytes written");
          for (std::uint32_t i = 0; i < read && sync && !holey; ++i) {
            Require(got[i] == expected.front(), "an answer is not the byte written before it");
            expected.pop_front();
          }
          if (holey) expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(read, expected.size())));
        }
        break;
      }
      case 4: {
        g_step = "FT_Purge";
        const auto mask = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
        const bool ok = chip.FT_Purge(h, mask) == ad::FT_OK;
        if (mask == 3 && ok) {
          Require(!usb.OutInFlight() && !usb.InInFlight(), "transfers left in flight after a purge");
          resync();
        } else if (mask != 0) {
          holey = true;
          expected.clear();
        }
        break;
      }
      case 5:
        g_step = "FT_SetLatencyTimer";
        if (const auto ms = in.ConsumeIntegralInRange<std::uint8_t>(0, 20); chip.FT_SetLatencyTimer(h, ms) == ad::FT_OK) {
          latency = ms;
        }
        break;
      case 6:
        g_step = "FT_SetDivisor";
        (void)chip.FT_SetDivisor(h, in.ConsumeIntegralInRange<std::uint16_t>(0, 40));
        break;
      case 7:
        g_step = "sleep";
        b.clock.SleepMs(in.ConsumeIntegralInRange<std::uint32_t>(0, 30));
        bound = sim::Us(31000);
        break;
      case 8: {
        g_step = "FT_SetBitMode";
        sync = in.ConsumeBool();
        Require(chip.FT_SetBitMode(h, 0xFF, sync ? ad::FT_BITMODE_SYNC_BITBANG : ad::FT_BITMODE_ASYNC_BITBANG) ==
                    ad::FT_OK,
                "mode");
        Require(!usb.OutInFlight() && !usb.InInFlight(), "transfers left in flight after a mode change");
        // Bytes still in the chip's FIFOs are answered, or not, in the new mode.
        (void)chip.FT_Purge(h, ad::FT_PURGE_RX | ad::FT_PURGE_TX);
        resync();
        break;
      }
      default:
        g_step = "close";
        Require(chip.FT_Close(h) == ad::FT_OK, "close");
        Require(!usb.OutInFlight() && !usb.InInFlight(), "transfers left in flight after closing");
        open();
        sync = true;
        latency = 2;
        resync();
        bound = sim::Us(100000);
        break;
    }
    if (b.clock.Now() - before > bound) {
      Fail("a call took too long in simulated time: " + std::to_string(sim::Seconds(b.clock.Now() - before)) +
           " s; " + (lossless ? "lossless" : "lossy") + (profile.chip.whole_out_slots ? " slots" : "") +
           (profile.chip.status_in_rx ? " status" : "") + " " + profile.name + " " + chip.LastErrorText());
    }
  }
  // A lossless chip gives every answer owed, in order, within a second.
  if (sync && lossless && !holey) {
    g_step = "the end";
    const std::size_t owed = expected.size();
    std::uint32_t rx = 0;
    const sim::Ticks start = b.clock.Now();
    while (rx < owed && b.clock.Now() - start < sim::Us(1'000'000)) {
      if (chip.WaitForQueue(h, static_cast<std::uint32_t>(owed), 100, &rx) != ad::FT_OK) Fail("wait at the end");
      if (rx < owed) b.clock.SleepBriefly();
    }
    if (rx != owed) {
      Fail("answers owed never came: " + std::to_string(rx) + " of " + std::to_string(owed) + "; " + profile.name +
           (profile.chip.whole_out_slots ? " slots" : "") + (profile.chip.status_in_rx ? " status" : "") + " latency " +
           std::to_string(latency));
    }
  }
  return 0;
}
