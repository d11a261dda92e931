#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::svf {

// What one line of a file completes: a comment to echo, or a statement.
struct Gathered {
  enum class Kind { Comment, Statement };
  Kind kind;
  std::string text;
  std::uint64_t line;  // the line the comment or statement begins on, from 1
};

// Turns the lines of an SVF file into statements.
//
// - A statement ends at its ";", wherever that stands on a line; what
//   follows on the line begins the next statement.
// - A line whose first character is "/", or whose first non-blank
//   characters are "//", is a comment line, also inside a statement spread
//   over lines. A "//" after a ";" makes the rest of the line a comment.
// - The lines of a statement are joined by one blank, each piece trimmed of
//   blanks and tabs at both ends; empty lines add nothing.
class StatementGatherer {
 public:
  explicit StatementGatherer(std::size_t max_statement) : max_statement_(max_statement) {}

  // Takes the next line of the file (numbered from 1) and appends to `out`
  // what it completes, in order. False when the statement being gathered
  // would grow past the bound; it is dropped then.
  bool AddLine(std::string_view line, std::uint64_t line_number, std::vector<Gathered>& out);

  // The statement still being gathered (no ";" yet), and the line it began on.
  [[nodiscard]] const std::string& Pending() const { return pending_; }
  [[nodiscard]] std::uint64_t PendingLine() const { return pending_line_; }

 private:
  bool Append(std::string_view piece, std::uint64_t line_number);

  std::size_t max_statement_;
  std::string pending_;
  std::uint64_t pending_line_ = 0;
};

}  // namespace tavrin::svf
