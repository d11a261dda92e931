// SPDX-License-Identifier: Apache-2.0

#include "adapter/tck.h"

#include <cctype>

#include "adapter/baud_divisor.h"

namespace tavrin::adapter {

namespace {

// The baud generator's 24 MHz (3 MHz in eighths), times 16 bytes a baud,
// over two bytes a TCK period: TCK = kTckEighths / eighths.
constexpr std::uint64_t kTckEighths = 24'000'000 * kBitbangBytesPerBaud / kBytesPerTck;
static_assert(kTckEighths == 192'000'000);
// Divisors of this many eighths or fewer clock bytes as fast as the chip can.
constexpr std::uint64_t kFastestEighths = kTckEighths / kFastestTck;
// The rate of that divisor: every rate from here up gives the fastest TCK.
constexpr std::uint32_t kFastestRate = 24'000'000 / kFastestEighths;
constexpr std::uint64_t kMaxHertz = 1'000'000'000'000;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::optional<std::uint32_t> EighthsOfRate(std::uint32_t rate) {
  const auto d = Ft232rDivisorFor(rate);
  if (!d) return std::nullopt;
  return d->eighths;
}

}  // namespace

double Tck::Hertz() const {
  if (eighths <= kFastestEighths) return static_cast<double>(kFastestTck);
  return static_cast<double>(kTckEighths) / eighths;
}

std::string Tck::Text() const {
  const bool fastest = eighths <= kFastestEighths;
  const std::uint64_t num = fastest ? kFastestTck : kTckEighths;
  const std::uint64_t den = fastest ? 1 : eighths;
  std::uint64_t unit = 1;
  const char* name = " Hz";
  if (num >= 1'000'000 * den) {
    unit = 1'000'000;
    name = " MHz";
  } else if (num >= 1'000 * den) {
    unit = 1'000;
    name = " kHz";
  }
  const std::uint64_t thousandths = num * 1000 / (den * unit);
  std::string text = std::to_string(thousandths / 1000);
  std::uint64_t fraction = thousandths % 1000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 3 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text + name;
}

std::optional<Tck> TckOfRate(std::uint32_t rate) {
  const auto eighths = EighthsOfRate(rate);
  if (!eighths) return std::nullopt;
  return Tck{*eighths};
}

std::optional<TckSetting> SettingForTck(std::uint64_t hertz) {
  if (hertz == 0) return std::nullopt;
  if (hertz >= kFastestTck) return TckSetting{std::nullopt, Tck{0}, hertz > kFastestTck};
  // TCK <= hertz  <=>  eighths >= kTckEighths / hertz.
  const std::uint64_t least = (kTckEighths + hertz - 1) / hertz;
  if (least > kMaxBaudEighths) return std::nullopt;
  // From rate 1 up, the rates are first too slow for the chip (refused),
  // then their divisors shrink as the rate grows: the last rate whose
  // divisor has `least` eighths or more is the one. kFastestRate has too few.
  auto slow_enough = [least](std::uint32_t rate) {
    const auto eighths = EighthsOfRate(rate);
    return !eighths || *eighths >= least;
  };
  std::uint32_t low = 1;
  std::uint32_t high = kFastestRate;
  while (high - low > 1) {
    const std::uint32_t mid = low + (high - low) / 2;
    (slow_enough(mid) ? low : high) = mid;
  }
  const auto eighths = EighthsOfRate(low);
  if (!eighths) return std::nullopt;
  // Of the rates with that divisor, the one it stands for (12500 rather than
  // 12503 for 100 kHz), when it rounds back to it.
  const auto exact = static_cast<std::uint32_t>((2 * 24'000'000 / *eighths + 1) / 2);
  const std::uint32_t rate = EighthsOfRate(exact) == eighths ? exact : low;
  return TckSetting{rate, Tck{*eighths}, false};
}

std::uint64_t SlowestTckHertz() { return (kTckEighths + kMaxBaudEighths - 1) / kMaxBaudEighths; }

std::optional<std::uint64_t> ParseFrequency(std::string_view text) {
  if (text.size() > 2 && EqualsIgnoringCase(text.substr(text.size() - 2), "hz")) text.remove_suffix(2);
  std::uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
    scale = 1'000;
    text.remove_suffix(1);
  } else if (!text.empty() && (text.back() == 'm' || text.back() == 'M')) {
    scale = 1'000'000;
    text.remove_suffix(1);
  }
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  auto digits_only = [](std::string_view s) {
    for (const char c : s) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  if (whole.empty() || !digits_only(whole) || !digits_only(fraction)) return std::nullopt;
  if (point != std::string_view::npos && (fraction.empty() || fraction.size() > 9)) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : whole) {
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > kMaxHertz) return std::nullopt;
  }
  value *= scale;
  std::uint64_t part = 0;
  std::uint64_t tenths = 1;
  for (const char c : fraction) {
    part = part * 10 + static_cast<std::uint64_t>(c - '0');
    tenths *= 10;
  }
  value += part * scale / tenths;
  if (value == 0 || value > kMaxHertz) return std::nullopt;
  return value;
}

}  // namespace tavrin::adapter
