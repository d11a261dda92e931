// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractScrollArea>
#include <QHash>
#include <QString>

#include "ui/log_text.h"

namespace tavrin::ui {

// The log pane (txt_log): plain text, read only, selectable and copyable.
//
// The pane holds the log as bytes with an index of its lines (LogText) and
// draws only the rows on screen, so an append costs time in proportion to
// what it adds, and a scan of a million bits, whose report lines run to
// hundreds of thousands of digits, is shown without laying out the whole
// line. The font is a fixed-pitch one, so that the digits of a line stand
// in columns and a line of digits wraps by division.
//
// After every change the caret goes to the end of the text, nothing is
// selected, and the end is brought into view the next time the pane is
// drawn (once per draw rather than after each of the appends in between).
class LogPane final : public QAbstractScrollArea {
 public:
  explicit LogPane(QWidget* parent = nullptr);

  static constexpr double kPointSize = 8.5;
  static constexpr int kMargin = 4;

  // The text, then a line break when line_break is set. A CR LF, a lone CR
  // or a lone LF inside the text each break the line as well.
  void Append(std::string_view text, bool line_break);
  // The whole log := text.
  void Replace(std::string_view text);
  // Redraws the pane before returning (when it is on screen).
  void RepaintNow();

  // The log as the pane holds it, with CR LF line breaks.
  [[nodiscard]] const std::string& Text() const { return text_.Bytes(); }

  // txt_log_Change: caret to the end of the text, nothing selected, the end
  // in view. Runs after every change of the text.
  void txt_log_Change();
  // Changes of the text seen so far (each runs txt_log_Change once).
  [[nodiscard]] long long Changes() const { return changes_; }

  // The caret and the selection, as byte positions in Text().
  [[nodiscard]] std::int64_t CaretPosition() const { return caret_; }
  [[nodiscard]] bool HasSelection() const { return anchor_ != caret_; }
  [[nodiscard]] bool CaretAtEnd() const { return caret_ == text_.Size() && !HasSelection(); }
  void Select(std::int64_t anchor, std::int64_t caret);
  void SelectAll();
  // The selection with LF line breaks, as it goes to the clipboard.
  [[nodiscard]] std::string SelectedText() const;
  void Copy() const;

  // Geometry in viewport coordinates, laid out for the pane's current size:
  // the caret's rectangle if it stood at a position (empty when that row is
  // not on screen), and the position nearest to a point.
  [[nodiscard]] QRect PositionRect(std::int64_t position);
  [[nodiscard]] std::int64_t PositionAt(QPoint point);
  // The rows as they are laid out for the pane's width.
  LogText& Layout();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // A row as drawn: its text, and (with_geometry) for each boundary between
  // its units the byte position and the distance from the row's left edge.
  struct RowView {
    QString text;
    std::vector<std::int64_t> positions;
    std::vector<double> xs;
  };
  [[nodiscard]] RowView View(const LogText::Row& row, bool with_geometry) const;
  [[nodiscard]] static std::size_t IndexOf(const RowView& view, std::int64_t position);

  void FontChanged();
  void UpdateColumns();
  // Scroll range for the rows as they now are, and the pending scroll.
  void LayOut();
  [[nodiscard]] int VisibleRows() const;
  void RequestUpdate();
  void EndSelectionDrag();

  LogText text_;
  std::int64_t anchor_ = 0;
  std::int64_t caret_ = 0;
  long long changes_ = 0;
  bool scroll_pending_ = false;
  bool dirty_ = true;
  bool update_posted_ = false;
  bool selecting_ = false;

  // Font measures: the advance of each printable ASCII character, the
  // widest of them (a cell), the row height and the baseline.
  std::array<double, 95> ascii_advance_{};
  double cell_ = 7.0;
  int row_height_ = 14;
  double ascent_ = 11.0;
  QHash<char32_t, int> cells_of_;
};

}  // namespace tavrin::ui
