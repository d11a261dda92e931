// SPDX-License-Identifier: Apache-2.0

#include "adapter/baud_divisor.h"

#include <algorithm>
#include <array>

namespace tavrin::adapter {

namespace {

// The code of each fraction of the divisor (in eighths): its two low bits
// go to value bits 14-15, its third bit to index bit 0.
constexpr std::array<std::uint16_t, 8> kFractionCode = {0, 3, 2, 4, 1, 5, 6, 7};
// The generator runs at 3 MHz in eighths: 24,000,000 / eighths is the rate.
constexpr std::uint64_t kBaudEighths = 24'000'000;

BaudDivisor Nearest(std::uint64_t rate) {
  BaudDivisor d;
  if (rate >= 3'000'000) {
    d.rate = 3'000'000;
    d.eighths = 8;
    return d;
  }
  if (rate >= 2'000'000) {
    d.value = 1;
    d.rate = 2'000'000;
    d.eighths = 12;
    return d;
  }
  std::uint64_t eighths = rate >= 1'500'000 ? 16 : (2 * kBaudEighths / rate + 1) / 2;
  eighths = std::min<std::uint64_t>(eighths, kMaxBaudEighths);
  const std::uint16_t code = kFractionCode[eighths & 7U];
  d.value = static_cast<std::uint16_t>((eighths >> 3U) | (static_cast<std::uint64_t>(code & 3U) << 14U));
  d.index = static_cast<std::uint16_t>(code >> 2U);
  d.rate = kBaudEighths / eighths;
  d.eighths = static_cast<std::uint32_t>(eighths);
  return d;
}

}  // namespace

std::optional<BaudDivisor> Ft232rDivisorFor(std::uint32_t rate) {
  if (rate == 0) return std::nullopt;
  const BaudDivisor d = Nearest(rate);
  const std::uint64_t asked = rate;
  const bool off = d.rate < asked ? d.rate * 21 < asked * 20 : asked * 21 < d.rate * 20;
  if (off) return std::nullopt;
  return d;
}

}  // namespace tavrin::adapter
