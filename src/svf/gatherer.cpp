#include "svf/gatherer.h"

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

}  // namespace tavrin::svf
