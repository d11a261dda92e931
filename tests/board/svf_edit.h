// SPDX-License-Identifier: Apache-2.0
#pragma once
// Small edits of a vendor file's text for the rehearsal tests.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace tavrin::board {

using Lines = std::vector<std::string>;

inline Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

inline std::string JoinLines(const Lines& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// The index of the `nth` line (0 first) from `from` on that matches.
inline std::size_t Find(const Lines& lines, const std::string& pattern, std::size_t from = 0, int nth = 0) {
  const std::regex re(pattern);
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (std::regex_search(lines[i], re) && nth-- == 0) return i;
  }
  ADD_FAILURE() << "no line matches " << pattern;
  return lines.size() - 1;
}

// Flips bit `bit` (0 = the first shifted) of the hex value that ends with
// the first ')' from line `at` on, across the lines it spans.
inline void FlipBit(Lines& lines, std::size_t at, std::size_t bit) {
  std::size_t line = at;
  while (line < lines.size() && lines[line].find(')') == std::string::npos) ++line;
  ASSERT_LT(line, lines.size());
  std::size_t pos = lines[line].find(')');
  for (std::size_t digits = bit / 4;; --pos) {
    while (pos == 0) {
      ASSERT_GT(line, at);
      pos = lines[--line].size();
    }
    const char c = lines[line][pos - 1];
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) continue;
    if (digits-- > 0) continue;
    const int v = std::stoi(std::string(1, c), nullptr, 16) ^ (1 << (bit % 4));
    lines[line][pos - 1] = "0123456789ABCDEF"[v];
    return;
  }
}

// Shortens the scan that starts on line `at` by `digits` hex digits of each
// of its values (TDI, SMASK): the bits shifted last are dropped.
inline void CutScan(Lines& lines, std::size_t at, std::size_t digits, const std::vector<std::string>& fields) {
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[at], m, std::regex(R"(^SDR\s+(\d+))")));
  const std::uint64_t length = std::stoull(m[1].str());
  lines[at].replace(static_cast<std::size_t>(m.position(1)), static_cast<std::size_t>(m.length(1)),
                    std::to_string(length - 4 * digits));
  for (const auto& field : fields) {
    std::size_t line = at;
    std::size_t pos = std::string::npos;
    for (; line < lines.size(); ++line) {
      pos = lines[line].find(field + " (");
      if (pos != std::string::npos) break;
    }
    ASSERT_LT(line, lines.size()) << field;
    pos += field.size() + 2;
    for (std::size_t left = digits; left > 0;) {
      if (pos >= lines[line].size()) {
        ++line;
        pos = 0;
        continue;
      }
      if (std::isxdigit(static_cast<unsigned char>(lines[line][pos])) != 0) {
        lines[line].erase(pos, 1);
        --left;
      } else {
        ++pos;
      }
    }
  }
}

// Flips bit 0 (the first shifted) of the hex value after `field` on the line.
inline void FlipFirstBit(std::string& line, const std::string& field) {
  const std::size_t close = line.find(')', line.find(field));
  ASSERT_NE(close, std::string::npos) << line;
  char& digit = line[close - 1];
  const int v = std::stoi(std::string(1, digit), nullptr, 16) ^ 1;
  digit = "0123456789ABCDEF"[v];
}

}  // namespace tavrin::board
