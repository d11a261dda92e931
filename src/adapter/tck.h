// SPDX-License-Identifier: Apache-2.0

#pragma once
// TCK in hertz, and the "Baud Register" rate that gives it.
//
// In synchronous bit-bang the FT232R clocks one byte per sixteenth of a baud
// period, so 16 bytes per baud, and never more than 3 million bytes a
// second (the baud generator's base clock). The engine writes two bytes per
// TCK period (TCK high, then low). So a rate r, which the chip runs at
// 24,000,000 / e for its divisor of e eighths, gives
//
//   TCK = min(16 * r, 3 MHz) / 2 = min(192,000,000 / e, 1,500,000) Hz.
//
// The figure is the chip's clock while it has bytes to clock: a run's
// average is lower, since the USB transfers around the scans take time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::adapter {

inline constexpr std::uint64_t kBitbangBytesPerBaud = 16;
inline constexpr std::uint64_t kFastestByteRate = 3'000'000;
inline constexpr std::uint64_t kBytesPerTck = 2;
inline constexpr std::uint64_t kFastestTck = kFastestByteRate / kBytesPerTck;

// A TCK frequency, exactly: 192 MHz / eighths, at most 1.5 MHz.
struct Tck {
  std::uint32_t eighths = 0;  // the baud divisor in eighths; 128 or less (or 0): the fastest TCK

  [[nodiscard]] double Hertz() const;
  // "100 kHz", "1.5 MHz", "332.755 kHz": at most three decimals, cut, so it
  // never says more than the clock is.
  [[nodiscard]] std::string Text() const;
};

// The TCK that a Baud Register rate gives; nothing when the chip takes no
// such rate (Ft232rDivisorFor).
std::optional<Tck> TckOfRate(std::uint32_t rate);

// How the clock is set for a TCK asked in hertz.
struct TckSetting {
  std::optional<std::uint32_t> rate;  // the Baud Register rate; nothing: "Max CLK" (divisor 0)
  Tck tck;                            // what it gives: the fastest TCK at or below the one asked
  bool above_fastest = false;         // asked for more than the chip can clock
};

// Nothing when even the slowest TCK is faster than `hertz`.
std::optional<TckSetting> SettingForTck(std::uint64_t hertz);

// The slowest TCK, rounded up to whole hertz: the least SettingForTck takes.
std::uint64_t SlowestTckHertz();

// A frequency as typed: "250000", "100k", "1M", "1.5M", "12.5kHz" (k and M
// in any case, "Hz" optional). Fractions of a hertz are dropped. Nothing for
// anything else, for 0, or for more than 1 THz.
std::optional<std::uint64_t> ParseFrequency(std::string_view text);

}  // namespace tavrin::adapter
