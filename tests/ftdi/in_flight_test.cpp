// SPDX-License-Identifier: Apache-2.0
// Whole runs on the real-adapter backend over the fake bus, with the reads
// in flight while the blocks go out: how every way a run can end in the
// middle of the transfers keeps its bounds and leaves nothing in flight.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "adapter/ftdi/fake_ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "board/board_spec.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::adapter {
namespace {

using ftdi::FakeChip;

constexpr std::uint8_t kTdi = 0x20;  // D5
constexpr std::uint8_t kTdo = 0x40;  // D6

// Three long scans through a wire from TDI to TDO, each checked, then short
// checked scans: 12,000 bits, about 100 blocks.
std::string File() {
  std::string text = "SIR 8 TDI (ff);\n";
  for (int i = 0; i < 3; ++i) {
    text.append("SDR 4000 TDI (").append(1000, 'a').append(") TDO (").append(1000, 'a');
    text.append(") MASK (").append(1000, 'f').append(");\n");
  }
  for (int i = 0; i < 50; ++i) text += "SDR 16 TDI (1234) TDO (1234) MASK (ffff);\n";
  return text;
}

struct Rig {
  Rig() : chip(Api()), player(window, chip, clock) {}
  std::unique_ptr<ftdi::FtdiApi> Api() {
    auto api = std::make_unique<ftdi::FakeFtdiApi>();
    fake = &api->AddChip();
    // TDO follows TDI; the hook runs for every byte the chip answers.
    fake->wiring = [this](std::uint8_t driven) -> std::uint8_t {
      ++answered;
      if (on_byte) on_byte(answered);
      return (driven & kTdi) != 0 ? kTdo : 0;
    };
    return api;
  }
  void Play(const std::string& path) {
    player.Form_Load();
    window.single_step = 0;
    window.selected_file = "f.svf";
    window.file_path = path;
    player.cmd_Process_Click();
  }
  [[nodiscard]] bool Logged(const std::string& text) const {
    const auto lines = window.LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

  FakeChip* fake = nullptr;
  long answered = 0;
  std::function<void(long)> on_byte;
  MemoryWindow window;
  FakeClock clock;
  FtdiD2xx chip;
  player::Player player;
};

TEST(InFlight, EveryWayARunEndsKeepsItsBoundsAndLeavesNothingInFlight) {
  const std::string path = "/tmp/tavrin-in-flight-" + std::to_string(::getpid()) + ".svf";
  std::ofstream(path, std::ios::binary) << File();
  constexpr long kAt = 5000;  // a byte in the middle of the first long scan
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    const char* said;     // in the log or a message box; empty: the run completes
    bool at_once;         // the run ends within a block of kAt
    bool waits_timeout;   // ... once the read-back time-out has passed
  };
  const std::vector<Case> cases = {
      {"completed", [](Rig&) {}, "", false, false},
      {"Break in a block in flight",
       [](Rig& r) { r.on_byte = [&r](long n) { if (n == kAt) r.player.cmd_breakstep_Click(); }; },
       "the operator stopped the run at line 2", true, false},
      {"a chip that stops answering",
       [](Rig& r) { r.on_byte = [&r](long n) { if (n == kAt) r.fake->silent = true; }; },
       "The adapter answered", true, true},
      {"a lost IN packet",
       [](Rig& r) { r.on_byte = [&r](long n) { if (n == kAt) r.fake->lose_answers = 62; }; },
       "The adapter answered", true, true},
      {"a failed write", [](Rig& r) { r.fake->FailCall("SubmitWrite", 12, -4); },
       "Bad result: FT_Write - packet write returned 0x4", false, false},
      // The answers come in pieces; the write's wait brings the first, the
      // next wait fails.
      {"a transfer that fails while answers are awaited",
       [](Rig& r) {
         r.fake->deliver_per_read = 100;
         r.on_byte = [&r](long n) {
           if (n == kAt) r.fake->FailCall("Pump", r.fake->calls["Pump"] + 2, -4);
         };
       },
       "Bad result: FT_GetQueueStatus - check for input data returned 0x4", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.arrange(r);
    const std::uint64_t start = r.clock.NowMicros();
    r.Play(path);
    const bool completed = std::string(c.said).empty();
    EXPECT_EQ(r.player.driver.LastOutcome(), completed ? svf::RunOutcome::Completed : svf::RunOutcome::Failed);
    EXPECT_EQ(r.player.interpreter.ChecksMade(), r.player.interpreter.ChecksPassed())
        << "no check is judged on answers that never came";
    if (!completed) {
      const auto& m = r.window.messages;
      EXPECT_TRUE(r.Logged(c.said) || std::any_of(m.begin(), m.end(), [&](const std::string& s) {
                    return s.find(c.said) != std::string::npos;
                  }));
    }
    if (c.at_once) {
      EXPECT_LE(r.answered, kAt + 372 + 62) << "within the block in flight";
    }
    const std::uint64_t took_us = r.clock.NowMicros() - start;
    if (c.waits_timeout) {
      EXPECT_GE(took_us, 1000000U);
      EXPECT_LT(took_us, 1100000U);
    }
    EXPECT_EQ(r.fake->reading, 0U) << "nothing is left in flight";
    EXPECT_TRUE(r.fake->open);
  }
  std::remove(path.c_str());
}

// On the simulated chip, clocking slowly: a purge of both directions while
// the chip still has bytes to clock leaves no answer to come afterwards
// (the bytes not yet clocked are dropped before the answers are), so the
// next block's answers are its own.
TEST(InFlightOnTheSimulatedChip, APurgeOfBothDirectionsLeavesNoAnswerToComeLater) {
  const usbsim::HostProfile profile = usbsim::FrameProfile();
  usbsim::SimClock clock(profile);
  FtdiD2xx chip(std::make_unique<usbsim::SimFtdiApi>(board::DefaultBoard(), profile, clock));
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(usbsim::kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  ASSERT_EQ(chip.FT_SetBitMode(h, 0xFF, FT_BITMODE_SYNC_BITBANG), FT_OK);
  ASSERT_EQ(chip.FT_SetDivisor(h, 200), FT_OK);  // 4 us a byte
  std::vector<std::uint8_t> block(300, 0x11);
  std::uint32_t n = 0;
  ASSERT_EQ(chip.FT_Write(h, block.data(), 300, &n), FT_OK);
  ASSERT_EQ(chip.FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  block.assign(62, 0x22);
  ASSERT_EQ(chip.FT_Write(h, block.data(), 62, &n), FT_OK);
  clock.SleepMs(50);
  ASSERT_EQ(chip.WaitForQueue(h, 1000, 100, &n), FT_OK);
  EXPECT_EQ(n, 62U);
  std::vector<std::uint8_t> answers(62);
  ASSERT_EQ(chip.FT_Read(h, answers.data(), 62, &n), FT_OK);
  EXPECT_EQ(std::count(answers.begin() + 1, answers.end(), 0x22), 61);
}

}  // namespace
}  // namespace tavrin::adapter
