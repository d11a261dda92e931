// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

// The numeric reading of a word: the decimal number at its start (sign,
// digits, fraction, exponent with E or D), blanks and tabs skipped, 0 when the
// word does not begin with a number. "&H" introduces a hexadecimal whole
// number. The decimal point is "." whatever the locale.
double ParseNumber(std::string_view word);

// The value of a word that is a decimal number and nothing else: an optional
// sign, digits, an optional fraction and an optional exponent (E or D); no
// blanks. Nothing otherwise.
std::optional<double> ParseDecimalWord(std::string_view word);

// Rounds to the nearest integer, a half going to the even neighbour.
double RoundHalfEven(double value);

// RoundHalfEven, then the 32-bit integer; nothing when it does not fit.
std::optional<std::int32_t> RoundToInt32(double value);

namespace detail {
constexpr std::array<std::int8_t, 256> MakeHexTable() {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return t;
}
inline constexpr std::array<std::int8_t, 256> kHexValue = MakeHexTable();
}  // namespace detail

// Value of one hexadecimal digit (either case), or -1.
inline int HexDigitValue(char c) { return detail::kHexValue[static_cast<unsigned char>(c)]; }

inline char HexDigitChar(unsigned value) { return "0123456789ABCDEF"[value & 0xFU]; }

// Upper-case hexadecimal without leading zeros ("0" for zero).
std::string HexUpper(std::uint32_t value);

// A number written as a whole number when it is one, as the log shows it.
std::string FormatWhole(double value);

// The pieces one after the other, as one text.
inline std::string Concat(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (const std::string_view p : pieces) size += p.size();
  std::string text;
  text.reserve(size);
  for (const std::string_view p : pieces) text.append(p);
  return text;
}

// The text with a to z made A to Z (statements, names, hex digits).
inline std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace tavrin
