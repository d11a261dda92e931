// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ui {

// The log's text, its lines and how they wrap into rows of a fixed number
// of character cells. No Qt in here: the pane measures the font and draws,
// this class knows where every row begins and ends.
//
// The text is held as it is read back, UTF-8 with CR LF line breaks. A CR
// LF, a lone CR or a lone LF in an appended text each end a line; they are
// stored as CR LF. The last line is the one being written; after a line
// break it is empty, and that is where the caret stands.
//
// Rows: a line of printable ASCII (the hexadecimal digits of a long scan)
// takes one cell per byte, so its rows are found by division, whatever its
// length. Other lines are walked code point by code point: a tab reaches
// the next multiple of 8 cells, a control character or a byte that is not
// UTF-8 takes one cell (shown as a replacement character), and any other
// code point takes the cells the pane's font gives it. Appending only
// records where the new lines begin; rows are counted later, for what is
// new, when the pane is drawn.
class LogText {
 public:
  // Cells for a code point that is neither printable ASCII nor a tab nor a
  // control character (the pane measures it in its font).
  using CellWidth = std::function<int(char32_t)>;

  static constexpr int kTabCells = 8;
  static constexpr int kMaxCellsPerCodePoint = 4;

  LogText();

  // log := log, text, and a line break when line_break is set.
  void Append(std::string_view text, bool line_break);
  // An empty log (the memory of a long one given back).
  void Clear();

  // The window keeps the end of a long log (tavrin-play writes it whole):
  // a line keeps its first max_line_bytes, with a note of how much more it
  // had; once the log passes max_bytes its oldest lines go, down to half of
  // that, and one line at the top counts them.
  void SetLimits(std::size_t max_bytes, std::size_t max_line_bytes);
  static constexpr std::size_t kMaxBytes = std::size_t{48} << 20U;
  static constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20U;

  [[nodiscard]] const std::string& Bytes() const { return bytes_; }
  [[nodiscard]] std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }

  // Lines: at least one. A line's end is where its CR LF starts.
  [[nodiscard]] std::int64_t LineCount() const { return static_cast<std::int64_t>(starts_.size()); }
  [[nodiscard]] std::int64_t LineStart(std::int64_t line) const { return starts_[static_cast<std::size_t>(line)]; }
  [[nodiscard]] std::int64_t LineEnd(std::int64_t line) const;
  // The line holding a position (0 to Size()); a position inside a line
  // break belongs to the line the break ends.
  [[nodiscard]] std::int64_t LineOf(std::int64_t position) const;
  // Whether the line is printable ASCII only.
  [[nodiscard]] bool IsSimple(std::int64_t line) const { return simple_[static_cast<std::size_t>(line)] != 0; }

  // Wrapping. Either change lays everything out again.
  void SetColumns(int columns);
  void SetCellWidth(CellWidth cell_width);
  [[nodiscard]] int Columns() const { return columns_; }

  struct Row {
    std::int64_t line = 0;
    std::int64_t begin = 0;  // byte positions in Bytes()
    std::int64_t end = 0;
    bool last_of_line = true;
  };
  // Rows of the whole log (at least one).
  [[nodiscard]] std::int64_t RowCount();
  // row: 0 to RowCount() - 1.
  [[nodiscard]] Row RowAt(std::int64_t row);
  // The row of a position: a position where one row ends and the next
  // begins is at the start of the next, except at the end of a line.
  [[nodiscard]] std::int64_t RowOf(std::int64_t position);

  // One code point (or a byte that is not UTF-8) as the row shows it.
  struct Unit {
    std::int64_t position = 0;  // its first byte
    int bytes = 1;
    char32_t code_point = 0;  // as drawn: tabs as blanks, controls and bad bytes as U+FFFD
    int cells = 1;
  };
  // The units of a row, in order, for drawing and hit testing.
  [[nodiscard]] std::vector<Unit> Units(const Row& row) const;

  // One code point of UTF-8 at p (p < end): its value and its length;
  // anything that is not well-formed UTF-8 gives U+FFFD for one byte.
  static char32_t Decode(const char* p, const char* end, int* length);

 private:
  // Cells of a code point that is not a tab.
  [[nodiscard]] int CellsOf(char32_t cp) const;
  // Cells of a code point when `used` cells of its row are taken: a tab
  // reaches the next multiple of kTabCells but not past the row's end.
  [[nodiscard]] int CellsAt(char32_t cp, int used) const;
  // Where the rows of a line that is not simple begin (the first is the
  // line's start), walking it code point by code point.
  [[nodiscard]] std::vector<std::int64_t> WalkRows(std::int64_t line) const;
  // The same, remembered for a few lines, so that a long line on screen is
  // walked once per layout and not once per draw.
  const std::vector<std::int64_t>& RowStarts(std::int64_t line);
  [[nodiscard]] std::int64_t RowsOf(std::int64_t line);
  // Counts the rows of the lines that are complete and not yet counted.
  void LayOutClosedLines();
  void Invalidate();
  // Adds to the last line, up to its limit; `printable` when the caller
  // knows the part is printable ASCII.
  void AddBytes(std::string_view part, bool printable = false);
  void EndLine();
  // Drops the oldest lines, down to half of max_bytes_.
  void DropOldest();

  std::string bytes_;
  std::vector<std::int64_t> starts_;
  std::vector<std::uint8_t> simple_;
  // rows_before_[i]: rows of the lines before line i, for the lines counted.
  std::vector<std::int64_t> rows_before_;
  int columns_ = 80;
  CellWidth cell_width_;
  std::size_t max_bytes_ = kMaxBytes;
  std::size_t max_line_bytes_ = kMaxLineBytes;
  std::uint64_t line_bytes_cut_ = 0;  // of the last line, beyond its limit
  std::uint64_t lines_dropped_ = 0;   // from the top, counted by line 0

  struct Walk {
    std::int64_t line = -1;
    std::int64_t length = -1;
    std::vector<std::int64_t> starts;
  };
  std::array<Walk, 4> walks_{};
  std::size_t next_walk_ = 0;
};

}  // namespace tavrin::ui
