#include "svf/gatherer.h"

namespace tavrin::svf {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

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

bool StatementGatherer::AddLine(std::string_view line, std::uint64_t line_number, std::vector<Gathered>& out) {
  const std::string_view trimmed = Trim(line);
  if ((!line.empty() && line[0] == '/') || trimmed.substr(0, 2) == "//") {
    out.push_back({Gathered::Kind::Comment, std::string(line), line_number});
    return true;
  }
  std::string_view rest = line;
  for (;;) {
    const std::size_t semi = rest.find(';');
    if (semi == std::string_view::npos) return Append(rest, line_number);
    if (!Append(rest.substr(0, semi), line_number)) return false;
    // A ";" alone still makes a (empty) statement, as it always did.
    if (pending_.empty()) pending_line_ = line_number;
    pending_.push_back(';');
    out.push_back({Gathered::Kind::Statement, std::move(pending_), pending_line_});
    pending_.clear();
    rest = Trim(rest.substr(semi + 1));
    if (rest.empty()) return true;
    if (rest.substr(0, 2) == "//") {
      out.push_back({Gathered::Kind::Comment, std::string(rest), line_number});
      return true;
    }
  }
}

}  // namespace tavrin::svf
