// SPDX-License-Identifier: Apache-2.0

#include "svf/gatherer.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tavrin::svf {

bool StatementGatherer::Append(std::string_view piece, std::uint64_t line_number) {
  piece = Trim(piece);
  if (piece.empty()) return true;
  const std::size_t blank = pending_.empty() ? 0 : 1;
  if (pending_.size() + blank + piece.size() > max_statement_) {
    pending_.clear();
    return false;
  }
  if (pending_.empty()) {
    pending_line_ = line_number;
  } else {
    pending_.push_back(' ');
  }
  pending_.append(piece);
  return true;
}

std::size_t StatementGatherer::NextMark(std::string_view text, bool& comment) const {
  comment = false;
  if (!comments_anywhere_) return text.find(';');
  // Most characters are none of ";", "!" and "/": a table tells at once.
  static constexpr auto kMarks = [] {
    std::array<bool, 256> t{};
    t[static_cast<unsigned char>(';')] = t[static_cast<unsigned char>('!')] = t[static_cast<unsigned char>('/')] = true;
    return t;
  }();
  // Eight characters at a time while none of them can be a mark (lines of
  // hexadecimal digits have none): a byte equal to c turns on its top bit in
  // Match(c); a byte above a match may too, so the bytes are then looked at
  // one by one from the first of the eight.
  constexpr std::uint64_t kOnes = 0x0101010101010101U;
  constexpr std::uint64_t kTops = 0x8080808080808080U;
  const auto match = [](std::uint64_t word, unsigned char c) {
    const std::uint64_t v = word ^ (kOnes * c);
    return (v - kOnes) & ~v & kTops;
  };
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    if ((match(word, ';') | match(word, '!') | match(word, '/')) != 0) break;
  }
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (!kMarks[static_cast<unsigned char>(c)]) continue;
    if (c == ';') return i;
    if (c == '!' || (i + 1 < text.size() && text[i + 1] == '/')) {
      comment = true;
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace tavrin::svf
