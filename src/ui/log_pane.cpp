#include "ui/log_pane.h"

#include <algorithm>
#include <cstring>

#include <QEvent>
#include <QFont>
#include <QMimeData>
#include <QTextBlock>
#include <QTextDocument>

namespace tavrin::ui {

namespace {

// The user state of a block that continues the line of the block before it.
constexpr int kContinued = 1;
constexpr int kNewLine = 0;

QString FromBytes(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsBreak(QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); }

bool HasBreak(std::string_view text) {
  return std::memchr(text.data(), '\n', text.size()) != nullptr ||
         std::memchr(text.data(), '\r', text.size()) != nullptr;
}

}  // namespace

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  // An unbounded running record: no undo history, nothing trimmed.
  setUndoRedoEnabled(false);
  setMaximumBlockCount(0);
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setFocusPolicy(Qt::StrongFocus);
  setTabChangesFocus(true);
  // Digits without blanks: wrap anywhere (looking for word ends in a line
  // without any costs time in proportion to its square).
  setWordWrapMode(QTextOption::WrapAnywhere);
  QFont f(QStringLiteral("Sans Serif"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(8.5);
  document()->setDefaultFont(f);
  setPlainText(QStringLiteral("Merrow Log...\n"));
  connect(this, &QPlainTextEdit::textChanged, this, [this] { txt_log_Change(); });
  txt_log_Change();
  changes_ = 0;
}

void LogPane::AddToLine(QTextCursor& cursor, const QString& text, qsizetype from, qsizetype to) {
  while (from < to) {
    qsizetype room = kPieceChars - (cursor.block().length() - 1);
    if (room <= 0) {
      cursor.insertBlock();
      cursor.block().setUserState(kContinued);
      room = kPieceChars;
    }
    const qsizetype take = std::min(room, to - from);
    // The document copies the characters: no copy of our own.
    cursor.insertText(QString::fromRawData(text.constData() + from, take));
    from += take;
  }
}

void LogPane::Append(std::string_view text, bool line_break) {
  const QString q = FromBytes(text);
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  c.beginEditBlock();
  qsizetype start = 0;
  const qsizetype scan_to = HasBreak(text) ? q.size() : 0;
  for (qsizetype i = 0; i < scan_to; ++i) {
    if (!IsBreak(q[i])) continue;
    AddToLine(c, q, start, i);
    if (q[i] == QLatin1Char('\r') && i + 1 < q.size() && q[i + 1] == QLatin1Char('\n')) ++i;
    c.insertBlock();
    c.block().setUserState(kNewLine);
    start = i + 1;
  }
  AddToLine(c, q, start, q.size());
  if (line_break) {
    c.insertBlock();
    c.block().setUserState(kNewLine);
  }
  c.endEditBlock();
}

void LogPane::Replace(std::string_view text) {
  document()->clear();
  Append(text, false);
}

void LogPane::RepaintNow() {
  if (!isVisible()) return;
  ScrollToEndIfPending();
  viewport()->repaint();
}

void LogPane::ScrollToEndIfPending() {
  if (!scroll_pending_) return;
  scroll_pending_ = false;
  ensureCursorVisible();
}

void LogPane::showEvent(QShowEvent* event) {
  // The window's update request comes before anything of it is drawn.
  window()->removeEventFilter(this);
  window()->installEventFilter(this);
  scroll_pending_ = true;
  QPlainTextEdit::showEvent(event);
}

bool LogPane::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::UpdateRequest && watched == window()) ScrollToEndIfPending();
  return QPlainTextEdit::eventFilter(watched, event);
}

QString LogPane::Joined(int from, int to, const QString& line_break) const {
  QString out;
  const QTextDocument* doc = document();
  for (QTextBlock b = doc->findBlock(from); b.isValid() && b.position() <= to; b = b.next()) {
    const int begin = std::max(from, b.position());
    const int end = std::min(to, b.position() + b.length() - 1);
    if (b.position() > from && b.userState() != kContinued) out += line_break;
    if (end > begin) out += b.text().mid(begin - b.position(), end - begin);
  }
  return out;
}

std::string LogPane::Text() const {
  return Joined(0, document()->characterCount() - 1, QStringLiteral("\r\n")).toStdString();
}

QMimeData* LogPane::createMimeDataFromSelection() const {
  const QTextCursor c = textCursor();
  auto* mime = new QMimeData;
  mime->setText(Joined(c.selectionStart(), c.selectionEnd(), QStringLiteral("\n")));
  return mime;
}

void LogPane::txt_log_Change() {
  ++changes_;
  QTextCursor c = textCursor();
  if (!c.atEnd() || c.hasSelection()) {
    c.clearSelection();
    c.movePosition(QTextCursor::End);
    setTextCursor(c);  // also brings it into view
    scroll_pending_ = false;
  } else if (isVisible()) {
    scroll_pending_ = true;
  }
}

}  // namespace tavrin::ui
