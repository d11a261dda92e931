// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::svf {

// Turns the lines of an SVF file into statements.
//
// - A statement ends at its ";", wherever that stands on a line; what
//   follows on the line begins the next statement.
// - A line whose first character is "/", or whose first non-blank
//   characters are "//", is a comment line, also inside a statement spread
//   over lines. A "//" after a ";" makes the rest of the line a comment.
//   With comments_anywhere, "!" and "//" begin a comment wherever they
//   stand, running to the end of the line.
// - The lines of a statement are joined by one blank, each piece trimmed of
//   blanks and tabs at both ends; empty lines add nothing.
class StatementGatherer {
 public:
  StatementGatherer(std::size_t max_statement, bool comments_anywhere)
      : max_statement_(max_statement), comments_anywhere_(comments_anywhere) {}

  // What a line completes, handed over in order as it is found.
  enum class Kind { Comment, Statement };

  // Takes the next line of the file (numbered from 1) and calls
  // sink(kind, text, first_line) for each comment and complete statement it
  // holds. The text (a std::string&) is valid during the call only, and the
  // sink may change it: a statement is handed over in place, not copied. The sink returns false to
  // stop taking the line. AddLine returns false when the statement being
  // gathered would grow past the bound (it is dropped then) or the sink
  // stopped.
  template <typename Sink>
  bool AddLine(std::string_view line, std::uint64_t line_number, Sink&& sink);

  // The statement still being gathered (no ";" yet), and the line it began on.
  [[nodiscard]] const std::string& Pending() const { return pending_; }
  [[nodiscard]] std::uint64_t PendingLine() const { return pending_line_; }

 private:
  bool Append(std::string_view piece, std::uint64_t line_number);
  static bool IsBlank(char c) { return c == ' ' || c == '\t'; }
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
  }

  // Where the next ";" or comment mark stands in text, and whether it is a
  // comment; npos when there is neither.
  [[nodiscard]] std::size_t NextMark(std::string_view text, bool& comment) const;

  std::size_t max_statement_;
  bool comments_anywhere_;
  std::string pending_;
  std::uint64_t pending_line_ = 0;
};

template <typename Sink>
bool StatementGatherer::AddLine(std::string_view line, std::uint64_t line_number, Sink&& sink) {
  const std::string_view trimmed = Trim(line);
  if ((!line.empty() && line[0] == '/') || trimmed.substr(0, 2) == "//") {
    std::string comment(line);
    return sink(Kind::Comment, comment, line_number);
  }
  std::string_view rest = line;
  for (;;) {
    bool comment = false;
    const std::size_t semi = NextMark(rest, comment);
    if (semi == std::string_view::npos) return Append(rest, line_number);
    if (!Append(rest.substr(0, semi), line_number)) return false;
    if (comment) {
      std::string text(rest.substr(semi));
      return sink(Kind::Comment, text, line_number);
    }
    // A ";" alone still makes an (empty) statement.
    if (pending_.empty()) pending_line_ = line_number;
    pending_.push_back(';');
    const bool go_on = sink(Kind::Statement, pending_, pending_line_);
    pending_.clear();  // keeps its memory for the next statement
    if (!go_on) return false;
    rest = Trim(rest.substr(semi + 1));
    if (rest.empty()) return true;
    if (rest.substr(0, 2) == "//") {
      std::string text(rest);
      return sink(Kind::Comment, text, line_number);
    }
  }
}

}  // namespace tavrin::svf
