// SPDX-License-Identifier: Apache-2.0

#include "ui/log_text.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrin::ui {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsControl(char32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0); }

bool IsPrintable(char c) { return static_cast<unsigned char>(static_cast<unsigned char>(c) - 0x20U) < 0x5FU; }

// Whether every byte is printable ASCII (0x20 to 0x7E): sixteen bytes at a
// time where the processor has SSE2, else eight at a time (a byte is not
// printable when its top bit is set, when it is below 0x20, or when it is
// 0x7F).
bool AllPrintable(std::string_view part) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi8(0x1F);
  const __m128i high = _mm_set1_epi8(0x7F);
  __m128i bad = _mm_setzero_si128();
  for (; i + 16 <= part.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(part.data() + i));
    // Signed compares: bytes from 0x80 up are negative and fail the first.
    const __m128i ok = _mm_and_si128(_mm_cmpgt_epi8(v, low), _mm_cmplt_epi8(v, high));
    bad = _mm_or_si128(bad, _mm_xor_si128(ok, _mm_set1_epi8(-1)));
  }
  if (_mm_movemask_epi8(bad) != 0) return false;
#else
  constexpr std::uint64_t kOnes = 0x0101010101010101U;
  constexpr std::uint64_t kTops = 0x8080808080808080U;
  std::uint64_t bad = 0;
  for (; i + 8 <= part.size(); i += 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, part.data() + i, 8);
    const std::uint64_t del = w ^ (0x7FU * kOnes);
    bad |= w | ((w - 0x20U * kOnes) & ~w) | ((del - kOnes) & ~del);
  }
  if ((bad & kTops) != 0) return false;
#endif
  for (; i < part.size(); ++i) {
    if (!IsPrintable(part[i])) return false;
  }
  return true;
}

}  // namespace

LogText::LogText() { Clear(); }

void LogText::Clear() {
  // The next run's log is usually as long as the last: keep the memory,
  // unless the last was very long.
  constexpr std::size_t kKeepBytes = std::size_t{64} << 20U;
  if (bytes_.capacity() > kKeepBytes) {
    std::string().swap(bytes_);
    std::vector<std::int64_t>().swap(starts_);
    std::vector<std::uint8_t>().swap(simple_);
    std::vector<std::int64_t>().swap(rows_before_);
  }
  bytes_.clear();
  starts_.assign(1, 0);
  simple_.assign(1, 1);
  line_bytes_cut_ = 0;
  lines_dropped_ = 0;
  Invalidate();
}

void LogText::SetLimits(std::size_t max_bytes, std::size_t max_line_bytes) {
  max_bytes_ = std::max<std::size_t>(max_bytes, 2);
  max_line_bytes_ = max_line_bytes;
}

void LogText::AddBytes(std::string_view part, bool printable) {
  if (part.empty()) return;
  const auto line_bytes = static_cast<std::size_t>(Size() - starts_.back());
  if (line_bytes_cut_ > 0 || line_bytes + part.size() > max_line_bytes_) {
    std::size_t take = line_bytes_cut_ > 0 || line_bytes >= max_line_bytes_ ? 0 : max_line_bytes_ - line_bytes;
    // Not in the middle of a UTF-8 sequence.
    while (take > 0 && (static_cast<unsigned char>(part[take]) & 0xC0U) == 0x80U) --take;
    line_bytes_cut_ += part.size() - take;
    part = part.substr(0, take);
    if (part.empty()) return;
  }
  bytes_.append(part);
  if (!printable && simple_.back() != 0 && !AllPrintable(part)) simple_.back() = 0;
}

void LogText::EndLine() {
  if (line_bytes_cut_ > 0) {
    bytes_.append(" ... (" + std::to_string(line_bytes_cut_) + " more bytes of this line are not kept in the window)");
    line_bytes_cut_ = 0;
  }
  bytes_.append("\r\n");
  starts_.push_back(Size());
  simple_.push_back(1);
  if (bytes_.size() > max_bytes_) DropOldest();
}

void LogText::DropOldest() {
  // The first line that begins within the newest half; the note of lines
  // dropped before (line 0, once there is one) is not counted as a line.
  const auto keep = static_cast<std::int64_t>(max_bytes_ / 2);
  const auto first = std::lower_bound(starts_.begin() + 1, starts_.end(), Size() - keep);
  const auto line = static_cast<std::size_t>(first - starts_.begin());
  lines_dropped_ += line - (lines_dropped_ > 0 ? 1U : 0U);
  const std::int64_t cut = starts_[line];
  std::string kept = "(" + std::to_string(lines_dropped_) + " earlier lines of the log are not kept in the window)\r\n";
  const auto shift = static_cast<std::int64_t>(kept.size()) - cut;
  kept.reserve(kept.size() + bytes_.size() - static_cast<std::size_t>(cut));
  kept.append(bytes_, static_cast<std::size_t>(cut));
  bytes_.swap(kept);
  std::vector<std::int64_t> starts{0};
  starts.reserve(starts_.size() - line + 1);
  for (std::size_t i = line; i < starts_.size(); ++i) starts.push_back(starts_[i] + shift);
  starts_.swap(starts);
  std::vector<std::uint8_t> simple{1};
  simple.insert(simple.end(), simple_.begin() + static_cast<std::ptrdiff_t>(line), simple_.end());
  simple_.swap(simple);
  Invalidate();
}

void LogText::Append(std::string_view text, bool line_break) {
  // The usual report: printable ASCII, so no line break inside and nothing
  // that would make the line other than simple.
  if (AllPrintable(text)) {
    AddBytes(text, true);
    if (line_break) EndLine();
    return;
  }
  const char* p = text.data();
  const char* const end = p + text.size();
  // The next CR and the next LF at or after p (end when there is none);
  // each is looked for again only once p has passed it.
  auto next = [end](const char* from, char c) {
    const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
    return hit == nullptr ? end : static_cast<const char*>(hit);
  };
  const char* cr = next(p, '\r');
  const char* lf = next(p, '\n');
  while (p < end) {
    if (cr < p) cr = next(p, '\r');
    if (lf < p) lf = next(p, '\n');
    const char* brk = std::min(cr, lf);
    AddBytes(std::string_view(p, static_cast<std::size_t>(brk - p)));
    if (brk == end) break;
    EndLine();
    p = brk + ((*brk == '\r' && brk + 1 < end && brk[1] == '\n') ? 2 : 1);
  }
  if (line_break) EndLine();
}

std::int64_t LogText::LineEnd(std::int64_t line) const {
  return line + 1 < LineCount() ? LineStart(line + 1) - 2 : Size();
}

std::int64_t LogText::LineOf(std::int64_t position) const {
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), position);
  return std::max<std::int64_t>(0, (it - starts_.begin()) - 1);
}

void LogText::SetColumns(int columns) {
  columns = std::max(1, columns);
  if (columns == columns_) return;
  columns_ = columns;
  Invalidate();
}

void LogText::SetCellWidth(CellWidth cell_width) {
  cell_width_ = std::move(cell_width);
  Invalidate();
}

void LogText::Invalidate() {
  rows_before_.assign(1, 0);
  walks_ = {};
  next_walk_ = 0;
}

char32_t LogText::Decode(const char* p, const char* end, int* length) {
  *length = 1;
  const auto b0 = static_cast<unsigned char>(*p);
  if (b0 < 0x80) return b0;
  int n = 0;
  char32_t cp = 0;
  char32_t least = 0;
  if ((b0 & 0xE0U) == 0xC0U) {
    n = 2, cp = b0 & 0x1FU, least = 0x80;
  } else if ((b0 & 0xF0U) == 0xE0U) {
    n = 3, cp = b0 & 0x0FU, least = 0x800;
  } else if ((b0 & 0xF8U) == 0xF0U) {
    n = 4, cp = b0 & 0x07U, least = 0x10000;
  } else {
    return kReplacement;
  }
  if (end - p < n) return kReplacement;
  for (int i = 1; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if ((c & 0xC0U) != 0x80U) return kReplacement;
    cp = (cp << 6U) | (c & 0x3FU);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  *length = n;
  return cp;
}

int LogText::CellsOf(char32_t cp) const {
  if ((cp >= 0x20 && cp < 0x7F) || IsControl(cp) || cp == kReplacement || !cell_width_) return 1;
  return std::clamp(cell_width_(cp), 0, kMaxCellsPerCodePoint);
}

int LogText::CellsAt(char32_t cp, int used) const {
  if (cp != '\t') return CellsOf(cp);
  return std::max(1, std::min(kTabCells - used % kTabCells, columns_ - used));
}

std::vector<LogText::Unit> LogText::Units(const Row& row) const {
  std::vector<Unit> units;
  const char* const base = bytes_.data();
  const char* const end = base + row.end;
  int cells = 0;
  for (const char* p = base + row.begin; p < end;) {
    Unit u;
    u.position = p - base;
    const char32_t cp = Decode(p, end, &u.bytes);
    u.code_point = cp == '\t' ? U' ' : IsControl(cp) ? kReplacement : cp;
    u.cells = CellsAt(cp, cells);
    cells += u.cells;
    p += u.bytes;
    units.push_back(u);
  }
  return units;
}

std::vector<std::int64_t> LogText::WalkRows(std::int64_t line) const {
  const char* const base = bytes_.data();
  const char* const end = base + LineEnd(line);
  std::vector<std::int64_t> starts{LineStart(line)};
  int cells = 0;
  for (const char* p = base + LineStart(line); p < end;) {
    int length = 1;
    const char32_t cp = Decode(p, end, &length);
    int w = CellsAt(cp, cells);
    if (cells > 0 && cells + w > columns_) {
      starts.push_back(p - base);
      cells = 0;
      w = CellsAt(cp, 0);
    }
    cells += w;
    p += length;
  }
  return starts;
}

const std::vector<std::int64_t>& LogText::RowStarts(std::int64_t line) {
  const std::int64_t length = LineEnd(line) - LineStart(line);
  for (const Walk& w : walks_) {
    if (w.line == line && w.length == length) return w.starts;
  }
  Walk& w = walks_[next_walk_];
  next_walk_ = (next_walk_ + 1) % walks_.size();
  w.line = line;
  w.length = length;
  w.starts = WalkRows(line);
  return w.starts;
}

std::int64_t LogText::RowsOf(std::int64_t line) {
  if (!IsSimple(line)) return static_cast<std::int64_t>(RowStarts(line).size());
  const std::int64_t length = LineEnd(line) - LineStart(line);
  return std::max<std::int64_t>(1, (length + columns_ - 1) / columns_);
}

void LogText::LayOutClosedLines() {
  const auto lines = static_cast<std::size_t>(LineCount());
  rows_before_.reserve(lines);
  while (rows_before_.size() < lines) {
    const auto line = static_cast<std::int64_t>(rows_before_.size()) - 1;
    const std::int64_t rows =
        IsSimple(line) ? RowsOf(line) : static_cast<std::int64_t>(WalkRows(line).size());
    rows_before_.push_back(rows_before_.back() + rows);
  }
}

std::int64_t LogText::RowCount() {
  LayOutClosedLines();
  return rows_before_.back() + RowsOf(LineCount() - 1);
}

LogText::Row LogText::RowAt(std::int64_t row) {
  LayOutClosedLines();
  const auto it = std::upper_bound(rows_before_.begin(), rows_before_.end(), std::max<std::int64_t>(0, row));
  Row r;
  r.line = (it - rows_before_.begin()) - 1;
  const std::int64_t rows = RowsOf(r.line);
  const std::int64_t k = std::clamp<std::int64_t>(row - rows_before_[static_cast<std::size_t>(r.line)], 0, rows - 1);
  const std::int64_t line_end = LineEnd(r.line);
  if (IsSimple(r.line)) {
    r.begin = LineStart(r.line) + k * columns_;
    r.end = std::min(r.begin + columns_, line_end);
  } else {
    const std::vector<std::int64_t>& starts = RowStarts(r.line);
    r.begin = starts[static_cast<std::size_t>(k)];
    r.end = k + 1 < rows ? starts[static_cast<std::size_t>(k + 1)] : line_end;
  }
  r.last_of_line = k + 1 == rows;
  return r;
}

std::int64_t LogText::RowOf(std::int64_t position) {
  LayOutClosedLines();
  const std::int64_t line = LineOf(position);
  const std::int64_t at = std::clamp(position, LineStart(line), LineEnd(line));
  const std::int64_t rows = RowsOf(line);
  std::int64_t k = 0;
  if (IsSimple(line)) {
    k = std::min((at - LineStart(line)) / columns_, rows - 1);
  } else {
    const std::vector<std::int64_t>& starts = RowStarts(line);
    k = (std::upper_bound(starts.begin(), starts.end(), at) - starts.begin()) - 1;
  }
  return rows_before_[static_cast<std::size_t>(line)] + k;
}

}  // namespace tavrin::ui
