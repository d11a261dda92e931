// SPDX-License-Identifier: Apache-2.0

#include "ui/log_pane.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace tavrin::ui {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

LogPane::LogPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Always there: a bar that comes and goes would change the width the
  // rows wrap to, and with it the number of rows.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(false);
  // DejaVu Sans Mono first (the package list installs it): what the
  // "Monospace" alias resolves to differs between set-ups, and not every
  // font it may name is fixed pitch to Qt.
  QFont f(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPointSizeF(kPointSize);
  setFont(f);
  FontChanged();
  text_.Append("Merrow Log...", true);
  txt_log_Change();
  changes_ = 0;
}

// --- The text ---

void LogPane::Append(std::string_view text, bool line_break) {
  text_.Append(text, line_break);
  txt_log_Change();
}

void LogPane::Replace(std::string_view text) {
  text_.Clear();
  text_.Append(text, false);
  txt_log_Change();
}

void LogPane::txt_log_Change() {
  ++changes_;
  anchor_ = caret_ = text_.Size();
  selecting_ = false;
  scroll_pending_ = true;
  dirty_ = true;
  RequestUpdate();
}

void LogPane::RequestUpdate() {
  // One request per draw: the appends of a busy run come far faster than
  // the window is drawn.
  if (update_posted_ || !isVisible()) return;
  update_posted_ = true;
  viewport()->update();
}

void LogPane::RepaintNow() {
  if (!isVisible()) return;
  LayOut();
  viewport()->repaint();
}

// --- Selection ---

void LogPane::Select(std::int64_t anchor, std::int64_t caret) {
  anchor_ = std::clamp<std::int64_t>(anchor, 0, text_.Size());
  caret_ = std::clamp<std::int64_t>(caret, 0, text_.Size());
  viewport()->update();
}

void LogPane::SelectAll() { Select(0, text_.Size()); }

std::string LogPane::SelectedText() const {
  const auto from = static_cast<std::size_t>(std::min(anchor_, caret_));
  const auto to = static_cast<std::size_t>(std::max(anchor_, caret_));
  std::string out;
  out.reserve(to - from);
  const std::string& bytes = text_.Bytes();
  for (std::size_t i = from; i < to; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out.push_back(bytes[i]);
  }
  return out;
}

void LogPane::Copy() const {
  if (!HasSelection()) return;
  const std::string text = SelectedText();
  QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

// --- Layout ---

void LogPane::FontChanged() {
  const QFontMetricsF fm(font());
  cell_ = 1.0;
  for (std::size_t i = 0; i < ascii_advance_.size(); ++i) {
    ascii_advance_[i] = fm.horizontalAdvance(QChar(static_cast<char16_t>(0x20 + i)));
    cell_ = std::max(cell_, ascii_advance_[i]);
  }
  row_height_ = std::max(1, static_cast<int>(std::ceil(fm.lineSpacing())));
  ascent_ = fm.ascent();
  cells_of_.clear();
  text_.SetCellWidth([this](char32_t cp) {
    const auto hit = cells_of_.constFind(cp);
    if (hit != cells_of_.constEnd()) return hit.value();
    const double advance = QFontMetricsF(font()).horizontalAdvance(QString::fromUcs4(&cp, 1));
    const int cells = static_cast<int>(std::ceil(advance / cell_ - 1e-6));
    cells_of_.insert(cp, cells);
    return cells;
  });
  UpdateColumns();
  dirty_ = true;
  viewport()->update();
}

void LogPane::UpdateColumns() {
  const double width = viewport()->width() - 2.0 * kMargin;
  text_.SetColumns(std::max(1, static_cast<int>(std::floor(width / cell_))));
}

int LogPane::VisibleRows() const { return std::max(1, (viewport()->height() - 2 * kMargin) / row_height_); }

void LogPane::LayOut() {
  if (!dirty_) return;
  dirty_ = false;
  const std::int64_t rows = text_.RowCount();
  const int visible = VisibleRows();
  QScrollBar* bar = verticalScrollBar();
  bar->setSingleStep(1);
  bar->setPageStep(visible);
  bar->setRange(0, static_cast<int>(std::clamp<std::int64_t>(rows - visible, 0, INT_MAX)));
  if (scroll_pending_) {
    scroll_pending_ = false;
    const std::int64_t row = text_.RowOf(caret_);
    if (row < bar->value()) {
      bar->setValue(static_cast<int>(std::min<std::int64_t>(row, INT_MAX)));
    } else if (row >= static_cast<std::int64_t>(bar->value()) + visible) {
      bar->setValue(static_cast<int>(std::min<std::int64_t>(row - visible + 1, INT_MAX)));
    }
  }
}

LogText& LogPane::Layout() {
  LayOut();
  return text_;
}

LogPane::RowView LogPane::View(const LogText::Row& row, bool with_geometry) const {
  RowView v;
  const std::string& bytes = text_.Bytes();
  const auto n = static_cast<std::size_t>(row.end - row.begin);
  double x = 0;
  if (text_.IsSimple(row.line)) {
    v.text = QString::fromLatin1(bytes.data() + row.begin, static_cast<qsizetype>(n));
    if (!with_geometry) return v;
    v.positions.reserve(n + 1);
    v.xs.reserve(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
      v.positions.push_back(row.begin + static_cast<std::int64_t>(i));
      v.xs.push_back(x);
      x += ascii_advance_[static_cast<unsigned char>(bytes[row.begin + static_cast<std::int64_t>(i)]) - 0x20U];
    }
  } else {
    const QFontMetricsF fm(font());
    for (const LogText::Unit& u : text_.Units(row)) {
      v.positions.push_back(u.position);
      v.xs.push_back(x);
      QString s;
      if (u.code_point == U' ') {
        s = QString(u.cells, QLatin1Char(' '));
      } else {
        s = QString::fromUcs4(&u.code_point, 1);
      }
      x += (u.code_point < 0x7F && u.code_point >= 0x20)
               ? ascii_advance_[u.code_point - 0x20] * static_cast<double>(s.size())
               : fm.horizontalAdvance(s);
      v.text += s;
    }
  }
  v.positions.push_back(row.end);
  v.xs.push_back(x);
  return v;
}

std::size_t LogPane::IndexOf(const RowView& view, std::int64_t position) {
  const auto it = std::lower_bound(view.positions.begin(), view.positions.end(), position);
  return std::min<std::size_t>(static_cast<std::size_t>(it - view.positions.begin()), view.positions.size() - 1);
}

QRect LogPane::PositionRect(std::int64_t position) {
  LayOut();
  const std::int64_t row = text_.RowOf(std::clamp<std::int64_t>(position, 0, text_.Size()));
  const std::int64_t on_screen = row - verticalScrollBar()->value();
  if (on_screen < 0 || on_screen > VisibleRows()) return {};
  const int y = kMargin + static_cast<int>(on_screen) * row_height_;
  if (y >= viewport()->height()) return {};
  const RowView view = View(text_.RowAt(row), true);
  const double x = kMargin + view.xs[IndexOf(view, position)];
  return {static_cast<int>(std::floor(x)), y, 1, row_height_};
}

std::int64_t LogPane::PositionAt(QPoint point) {
  LayOut();
  const std::int64_t rows = text_.RowCount();
  const std::int64_t row = std::clamp<std::int64_t>(
      verticalScrollBar()->value() + static_cast<std::int64_t>(std::floor(double(point.y() - kMargin) / row_height_)),
      0, rows - 1);
  const RowView view = View(text_.RowAt(row), true);
  const double x = point.x() - kMargin;
  std::size_t best = 0;
  for (std::size_t i = 1; i < view.xs.size(); ++i) {
    if (std::abs(view.xs[i] - x) < std::abs(view.xs[best] - x)) best = i;
  }
  return view.positions[best];
}

// --- Events ---

void LogPane::paintEvent(QPaintEvent* /*event*/) {
  update_posted_ = false;
  LayOut();
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().base());
  p.setFont(font());
  const std::int64_t from = std::min(anchor_, caret_);
  const std::int64_t to = std::max(anchor_, caret_);
  const std::int64_t rows = text_.RowCount();
  const double space = ascii_advance_[0];
  int y = kMargin;
  for (std::int64_t r = verticalScrollBar()->value(); r < rows && y < viewport()->height(); ++r, y += row_height_) {
    const LogText::Row row = text_.RowAt(r);
    // The selection: the part of the row inside it, and a blank's width
    // past the end when it takes the line break too.
    const bool has_break = row.last_of_line && row.line + 1 < text_.LineCount();
    const std::int64_t row_to = row.end + (has_break ? 2 : 0);
    const bool selected = from < to && from < row_to && to > row.begin;
    const RowView view = View(row, selected);
    const QPointF baseline(kMargin, y + ascent_);
    p.setPen(palette().text().color());
    p.drawText(baseline, view.text);
    if (selected) {
      const double x0 = view.xs[IndexOf(view, std::max(from, row.begin))];
      const double x1 = to >= row_to ? view.xs.back() + (has_break ? space : 0.0) : view.xs[IndexOf(view, to)];
      const QRectF band(kMargin + x0, y, x1 - x0, row_height_);
      p.save();
      p.setClipRect(band);
      p.fillRect(band, palette().highlight());
      p.setPen(palette().highlightedText().color());
      p.drawText(baseline, view.text);
      p.restore();
    }
  }
  if (hasFocus() && !HasSelection()) {
    const QRect caret = PositionRect(caret_);
    if (!caret.isEmpty()) p.fillRect(caret, palette().text());
  }
}

void LogPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // Keep the end in view if it was, else the first line on screen.
  QScrollBar* bar = verticalScrollBar();
  const bool at_end = bar->value() >= bar->maximum();
  const std::int64_t top = text_.RowAt(bar->value()).begin;
  UpdateColumns();
  dirty_ = true;
  LayOut();
  const std::int64_t row = at_end ? bar->maximum() : text_.RowOf(top);
  bar->setValue(static_cast<int>(std::min<std::int64_t>(row, INT_MAX)));
}

void LogPane::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) FontChanged();
}

void LogPane::showEvent(QShowEvent* event) {
  // The window's update request comes before anything of it is drawn: the
  // rows and the scroll bar are brought up to date then.
  window()->removeEventFilter(this);
  window()->installEventFilter(this);
  UpdateColumns();
  dirty_ = true;
  scroll_pending_ = true;
  QAbstractScrollArea::showEvent(event);
}

bool LogPane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window() && event->type() == QEvent::UpdateRequest) LayOut();
  return QAbstractScrollArea::eventFilter(watched, event);
}

void LogPane::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

void LogPane::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (event->matches(QKeySequence::Copy)) {
    Copy();
  } else if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument) || event->key() == Qt::Key_Home) {
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
  } else if (event->matches(QKeySequence::MoveToEndOfDocument) || event->key() == Qt::Key_End) {
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
  } else {
    QAbstractScrollArea::keyPressEvent(event);  // arrows and pages scroll
    return;
  }
  event->accept();
}

void LogPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const std::int64_t at = PositionAt(event->position().toPoint());
  Select((event->modifiers() & Qt::ShiftModifier) != 0 ? anchor_ : at, at);
  selecting_ = true;
}

void LogPane::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || (event->buttons() & Qt::LeftButton) == 0) return;
  const QPoint at = event->position().toPoint();
  // Dragging past the top or the bottom scrolls.
  if (at.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (at.y() >= viewport()->height()) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  Select(anchor_, PositionAt(at));
}

void LogPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && selecting_) EndSelectionDrag();
  QAbstractScrollArea::mouseReleaseEvent(event);
}

void LogPane::EndSelectionDrag() {
  selecting_ = false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection()) {
    const std::string text = SelectedText();
    clipboard->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QClipboard::Selection);
  }
}

void LogPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The word under the pointer: the run of non-blank characters around it
  // (a value such as F6E5F093), within its line.
  const std::int64_t at = PositionAt(event->position().toPoint());
  const std::int64_t line = text_.LineOf(at);
  const std::string& bytes = text_.Bytes();
  std::int64_t begin = at;
  std::int64_t end = at;
  while (begin > text_.LineStart(line) && !IsBlank(bytes[static_cast<std::size_t>(begin - 1)])) --begin;
  while (end < text_.LineEnd(line) && !IsBlank(bytes[static_cast<std::size_t>(end)])) ++end;
  Select(begin, end);
  selecting_ = false;
}

void LogPane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("&Copy"), this, [this] { Copy(); });
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu.addSeparator();
  QAction* all = menu.addAction(tr("Select &All"), this, [this] { SelectAll(); });
  all->setShortcut(QKeySequence::SelectAll);
  menu.exec(event->globalPos());
}

void LogPane::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void LogPane::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace tavrin::ui
