#pragma once
#include <string>
#include <string_view>

#include <QPlainTextEdit>
#include <QTextCursor>

namespace tavrin::ui {

// The log pane (txt_log): plain text. Reports are appended in place at the
// end of the document, so an append costs time in proportion to what it
// adds, not to the length of the log; after every change the caret goes to
// the end so that the newest line is in view.
//
// A log line is one paragraph of the document, except that a long line (a
// scan of a million bits gives lines of 250,000 digits) is held in pieces
// of kPieceChars characters, each piece after the first marked as the
// continuation of its line. The pane then lays out and draws only the
// pieces on screen instead of the whole line; Text() and copying join the
// pieces again.
class LogPane final : public QPlainTextEdit {
 public:
  explicit LogPane(QWidget* parent = nullptr);

  static constexpr int kPieceChars = 4096;

  // The text, then a line break when line_break is set. A CR LF, a lone CR
  // or a lone LF inside the text each break the line as well.
  void Append(std::string_view text, bool line_break);
  // The whole log := text.
  void Replace(std::string_view text);
  // Redraws the pane before returning (when it is on screen).
  void RepaintNow();

  // The log as the pane holds it, with CR LF line breaks.
  [[nodiscard]] std::string Text() const;

  // txt_log_Change: caret to the end of the text, nothing selected, the end
  // in view. Runs after every change of the text. Bringing the end into view
  // lays out the lines above it, so it is done once before the window is
  // next drawn rather than after each of the appends in between.
  void txt_log_Change();

  // Changes of the text seen so far (each runs txt_log_Change once).
  [[nodiscard]] long long Changes() const { return changes_; }

 protected:
  [[nodiscard]] QMimeData* createMimeDataFromSelection() const override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Adds text without line breaks to the current line, in pieces.
  static void AddToLine(QTextCursor& cursor, const QString& text, qsizetype from, qsizetype to);
  // The text between two positions, the pieces of a line joined, line
  // breaks as given.
  [[nodiscard]] QString Joined(int from, int to, const QString& line_break) const;

  void ScrollToEndIfPending();

  long long changes_ = 0;
  bool scroll_pending_ = false;
};

}  // namespace tavrin::ui
