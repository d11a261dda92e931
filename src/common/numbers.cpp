// SPDX-License-Identifier: Apache-2.0

#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tavrin {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

double ParseHexWhole(const std::string& clean) {
  double value = 0;
  for (std::size_t i = 2; i < clean.size(); ++i) {
    const int d = HexDigitValue(clean[i]);
    if (d < 0) break;
    value = value * 16 + d;
  }
  return value;
}

}  // namespace

double ParseNumber(std::string_view word) {
  // Blanks and tabs anywhere are skipped. Only the leading part that can
  // belong to a number matters, so a long word is not copied whole.
  std::string clean;
  for (const char c : word) {
    if (c == ' ' || c == '\t') continue;
    if (clean.size() >= 4096) break;
    clean.push_back(c);
  }
  if (clean.size() > 2 && clean[0] == '&' && (clean[1] == 'H' || clean[1] == 'h')) {
    return ParseHexWhole(clean);
  }

  std::string number;
  std::size_t i = 0;
  if (i < clean.size() && (clean[i] == '+' || clean[i] == '-')) number.push_back(clean[i++]);
  bool digits = false;
  while (i < clean.size() && IsDigit(clean[i])) {
    number.push_back(clean[i++]);
    digits = true;
  }
  if (i < clean.size() && clean[i] == '.') {
    number.push_back(clean[i++]);
    while (i < clean.size() && IsDigit(clean[i])) {
      number.push_back(clean[i++]);
      digits = true;
    }
  }
  if (!digits) return 0;
  if (i < clean.size() && (clean[i] == 'E' || clean[i] == 'e' || clean[i] == 'D' || clean[i] == 'd')) {
    std::string exponent = "e";
    std::size_t j = i + 1;
    if (j < clean.size() && (clean[j] == '+' || clean[j] == '-')) exponent.push_back(clean[j++]);
    bool exp_digits = false;
    while (j < clean.size() && IsDigit(clean[j])) {
      exponent.push_back(clean[j++]);
      exp_digits = true;
    }
    if (exp_digits) number += exponent;
  }

  const char* first = number.data();
  const char* last = number.data() + number.size();
  const bool negative = *first == '-';
  if (*first == '+' || *first == '-') ++first;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too large reads as infinity, too small as zero.
    const bool huge = number.find("e-") == std::string::npos;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc()) {
    value = 0;
  }
  (void)ptr;
  return negative ? -value : value;
}

std::optional<double> ParseDecimalWord(std::string_view word) {
  // The usual word, a whole number of up to 15 digits, is exact as a double
  // read digit by digit.
  if (!word.empty() && word.size() <= 15) {
    std::uint64_t whole = 0;
    std::size_t k = 0;
    while (k < word.size() && IsDigit(word[k])) whole = whole * 10 + static_cast<std::uint64_t>(word[k++] - '0');
    if (k == word.size()) return static_cast<double>(whole);
  }
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < word.size() && IsDigit(word[i])) ++i;
    return i - start;
  };
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < word.size() && word[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < word.size() && (word[i] == 'E' || word[i] == 'e' || word[i] == 'D' || word[i] == 'd')) {
    ++i;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    if (digits() == 0) return std::nullopt;
  }
  if (i != word.size()) return std::nullopt;
  return ParseNumber(word);
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
}

std::optional<std::int32_t> RoundToInt32(double value) {
  const double r = RoundHalfEven(value);
  if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(r);
}

std::string HexUpper(std::uint32_t value) {
  std::string out;
  do {
    out.insert(out.begin(), HexDigitChar(value & 0xFU));
    value >>= 4U;
  } while (value != 0);
  return out;
}

std::string FormatWhole(double value) {
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 0);
  if (ec != std::errc()) return "0";
  return {buf, ptr};
}

}  // namespace tavrin
