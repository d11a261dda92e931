// SPDX-License-Identifier: Apache-2.0
// The player on the real-adapter backend, over a fake FT232R whose pins are
// wired as a test asks: the set-up as the chip sees it, and the loopback
// self-test against a jumper and against wirings it must reject.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "adapter/ftdi/fake_ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::adapter {
namespace {

using ftdi::FakeChip;

constexpr std::uint8_t kTck = 0x80;  // D7
constexpr std::uint8_t kTdi = 0x20;  // D5
constexpr std::uint8_t kTms = 0x02;  // D1
constexpr std::uint8_t kTdo = 0x40;  // D6

struct Bench {
  Bench() : chip(Api()), player(window, chip, clock) {}
  std::unique_ptr<ftdi::FtdiApi> Api() {
    auto api = std::make_unique<ftdi::FakeFtdiApi>();
    fake = &api->AddChip();
    return api;
  }

  // Plays the self-test from the examples folder, without single-step.
  svf::RunOutcome PlaySelfTest() {
    window.selected_file = "selftest-loopback.svf";
    window.file_path = std::string(TAVRIN_SOURCE_DIR) + "/examples/selftest-loopback.svf";
    window.single_step = 0;
    player.cmd_Process_Click();
    return player.driver.LastOutcome();
  }
  [[nodiscard]] long Count(const std::string& needle) const {
    const auto lines = window.LogLines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(needle) != std::string::npos; });
  }

  FakeChip* fake = nullptr;
  MemoryWindow window;
  FakeClock clock;
  FtdiD2xx chip;
  player::Player player;
};

TEST(FtdiPlayerTest, SetUpReachesTheChipAsTheVendorLibraryWouldSetIt) {
  Bench b;
  b.window.max_clk = 0;
  b.window.baud_text = "150000";
  b.player.Form_Load();
  b.player.cmd_OpenInterface_Click();
  b.player.cmd_FTSetup_Click();
  EXPECT_TRUE(b.window.messages.empty()) << b.window.messages.front();
  EXPECT_EQ(b.fake->mode, FT_BITMODE_SYNC_BITBANG);
  EXPECT_EQ(b.fake->direction, kTck | kTdi | kTms);
  EXPECT_EQ(b.fake->uart_rate, 150000);
  EXPECT_EQ(b.fake->read_chunk, 128U);
  EXPECT_EQ(b.fake->latency, 16);
  EXPECT_EQ(b.fake->written, (std::vector<std::uint8_t>{0x00}));

  b.window.max_clk = 1;  // "Max CLK": divisor 0
  b.player.cmd_FTSetup_Click();
  EXPECT_EQ(b.fake->divisor_value, 0);
}

TEST(FtdiPlayerTest, Ft232bSetUpFailsAtTheBitModeWithNotSupported) {
  Bench b;
  b.fake->description = "USB <-> Serial FT232B";
  b.fake->type = ftdi::ChipType::kBm;
  b.player.Form_Load();
  b.player.cmd_OpenInterface_Click();
  b.player.cmd_FTSetup_Click();
  ASSERT_FALSE(b.window.messages.empty());
  EXPECT_EQ(b.window.messages.back(), "Bad result: FT_SetBitMode-BB Mode returned 0x11");
  EXPECT_EQ(b.fake->mode, FT_BITMODE_RESET);
}

TEST(FtdiPlayerTest, SelfTestPassesThroughAJumper) {
  Bench b;
  b.fake->wiring = [](std::uint8_t driven) { return static_cast<std::uint8_t>((driven & kTdi) != 0 ? kTdo : 0); };
  b.player.Form_Load();
  EXPECT_EQ(b.PlaySelfTest(), svf::RunOutcome::Completed) << b.window.log;
  EXPECT_EQ(b.Count(" Pass!"), 10);
  EXPECT_EQ(b.Count("Fail!"), 0);
}

// A one-bit register between TDI and TDO: takes TDI on the rising edge of
// TCK and shows it on TDO after the falling one.
std::function<std::uint8_t(std::uint8_t)> OneClockRegister() {
  struct State {
    bool tck = false;
    bool taken = false;
    bool tdo = false;
  };
  auto s = std::make_shared<State>();
  return [s](std::uint8_t driven) {
    const bool tck = (driven & kTck) != 0;
    if (tck && !s->tck) s->taken = (driven & kTdi) != 0;
    if (!tck && s->tck) s->tdo = s->taken;
    s->tck = tck;
    return static_cast<std::uint8_t>(s->tdo ? kTdo : 0);
  };
}

struct BadWiring {
  const char* name;
  std::function<std::uint8_t(std::uint8_t)> wiring;
};

class SelfTestRejects : public ::testing::TestWithParam<BadWiring> {};

TEST_P(SelfTestRejects, Wiring) {
  Bench b;
  b.fake->wiring = GetParam().wiring;
  b.player.Form_Load();
  EXPECT_EQ(b.PlaySelfTest(), svf::RunOutcome::Failed);
  EXPECT_EQ(b.Count("Fail!"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SelfTestRejects,
    ::testing::Values(
        BadWiring{"NoJumper", nullptr},
        BadWiring{"StuckHigh", [](std::uint8_t) { return kTdo; }},
        BadWiring{"OnTck", [](std::uint8_t d) { return static_cast<std::uint8_t>((d & kTck) != 0 ? kTdo : 0); }},
        BadWiring{"OnTms", [](std::uint8_t d) { return static_cast<std::uint8_t>((d & kTms) != 0 ? kTdo : 0); }},
        BadWiring{"OneClockLate", OneClockRegister()}),
    [](const ::testing::TestParamInfo<BadWiring>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tavrin::adapter
