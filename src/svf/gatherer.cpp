// SPDX-License-Identifier: Apache-2.0

#include "svf/gatherer.h"

#include <array>

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
  for (std::size_t i = 0; i < text.size(); ++i) {
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
