// SPDX-License-Identifier: Apache-2.0
// TCK in hertz: the frequencies as typed, the rate chosen for one, and the
// TCK a rate gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "adapter/baud_divisor.h"
#include "adapter/tck.h"

namespace tavrin::adapter {
namespace {

// The TCK of the first rate above `rate` whose divisor is another.
std::optional<Tck> NextFaster(std::uint32_t rate) {
  const auto here = TckOfRate(rate);
  for (std::uint32_t r = rate + 1; here && r < rate + 100000; ++r) {
    const auto tck = TckOfRate(r);
    if (tck && tck->eighths != here->eighths) return tck;
  }
  return std::nullopt;
}

TEST(TckTest, FrequenciesAsTyped) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> hertz;
  } cases[] = {
      {"250000", 250000},     {"100k", 100000},      {"100K", 100000},   {"1M", 1000000},
      {"1m", 1000000},        {"1.5M", 1500000},     {"12.5kHz", 12500}, {"250000HZ", 250000},
      {"0.0015k", 1},         {"1.0009k", 1000},     {"007", 7},         {"1000000000000", 1000000000000},
      {"", std::nullopt},     {"k", std::nullopt},   {"Hz", std::nullopt}, {"0", std::nullopt},
      {"0.4", std::nullopt},  {"-5", std::nullopt},  {"+5", std::nullopt}, {"1e6", std::nullopt},
      {"100 k", std::nullopt}, {" 100", std::nullopt}, {"1.", std::nullopt}, {".5M", std::nullopt},
      {"1.2.3", std::nullopt}, {"100kk", std::nullopt}, {"100G", std::nullopt}, {"0x10", std::nullopt},
      {"1.0000000001M", std::nullopt}, {"1000000000001", std::nullopt}, {"99999999999999999999M", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFrequency(c.text), c.hertz) << "'" << c.text << "'";
}

// The rate for a TCK: the fastest at or below it, the rate written as the
// divisor stands for it; the TCK said as a person reads it, never more than
// it is.
TEST(TckTest, RateForATck) {
  const struct {
    std::uint64_t asked;
    std::optional<std::uint32_t> rate;  // nothing: Max CLK
    const char* tck;
    bool above;
  } cases[] = {
      {100000, 12500, "100 kHz", false},        {1000000, 125000, "1 MHz", false},
      {250000, 31250, "250 kHz", false},        {333000, 41594, "332.755 kHz", false},  // 192 MHz / 577
      {100001, 12500, "100 kHz", false},        {99999, 12493, "99.947 kHz", false},  // 192 MHz / 1921
      {1499999, 186047, "1.488 MHz", false},    {1500000, std::nullopt, "1.5 MHz", false},
      {1500001, std::nullopt, "1.5 MHz", true}, {50000000, std::nullopt, "1.5 MHz", true},
      {1465, 183, "1.464 kHz", false},  // the slowest divisor, which no rate stands for exactly
  };
  for (const auto& c : cases) {
    const auto s = SettingForTck(c.asked);
    ASSERT_TRUE(s) << c.asked;
    EXPECT_EQ(s->rate, c.rate) << c.asked;
    EXPECT_EQ(s->tck.Text(), c.tck) << c.asked;
    EXPECT_EQ(s->above_fastest, c.above) << c.asked;
    EXPECT_LE(s->tck.Hertz(), static_cast<double>(c.asked)) << c.asked;
    if (s->rate) {
      // The rate, through the chip's divisor rule, gives that TCK.
      const auto tck = TckOfRate(*s->rate);
      ASSERT_TRUE(tck) << c.asked;
      EXPECT_EQ(tck->eighths, s->tck.eighths) << c.asked;
      // And any faster rate is faster than asked.
      const auto next = NextFaster(*s->rate);
      ASSERT_TRUE(next) << c.asked;
      EXPECT_GT(next->Hertz(), static_cast<double>(c.asked)) << c.asked;
    }
  }
  EXPECT_EQ(SlowestTckHertz(), 1465U);
  EXPECT_FALSE(SettingForTck(1464));
  EXPECT_FALSE(SettingForTck(1));
  EXPECT_FALSE(SettingForTck(0));
}

// Rounding down holds across the range: at a divisor's TCK and a hertz
// either side of it, the setting is at or below what was asked, and the
// next faster rate above it.
TEST(TckTest, NeverFasterThanAsked) {
  for (std::uint32_t e = 129; e <= kMaxBaudEighths; e += 997) {
    const auto exact = static_cast<std::uint64_t>(Tck{e}.Hertz());
    for (const std::uint64_t asked : {exact - 1, exact, exact + 1}) {
      const auto s = SettingForTck(asked);
      if (!s) {
        EXPECT_LT(asked, SlowestTckHertz()) << asked;
        continue;
      }
      EXPECT_LE(s->tck.Hertz(), static_cast<double>(asked)) << asked;
      ASSERT_TRUE(s->rate) << asked;
      const auto next = NextFaster(*s->rate);
      ASSERT_TRUE(next) << asked;
      EXPECT_GT(next->Hertz(), static_cast<double>(asked)) << asked;
    }
  }
}

TEST(TckTest, TckOfARate) {
  const struct {
    std::uint32_t rate;
    std::optional<std::string> tck;
  } cases[] = {
      {150000, "1.2 MHz"},  // the window's default: 2.4 MHz bytes
      {187500, "1.5 MHz"},  {3000000, "1.5 MHz"}, {2000000, "1.5 MHz"},  // the byte clock's ceiling
      {9600, "76.8 kHz"},   {183, "1.464 kHz"},   {174, std::nullopt},   {2500000, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto tck = TckOfRate(c.rate);
    EXPECT_EQ(tck ? std::optional<std::string>(tck->Text()) : std::nullopt, c.tck) << c.rate;
  }
  EXPECT_EQ(Tck{0}.Text(), "1.5 MHz");  // Max CLK, divisor 0
}

}  // namespace
}  // namespace tavrin::adapter
