// SPDX-License-Identifier: Apache-2.0
// The log pane: its first line, appends, replacing, the caret and the
// newest line in view; how lines wrap into rows; selecting and copying.
#include <random>

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>

#include "ui/log_pane.h"
#include "ui/log_text.h"
#include "ui_rig.h"

namespace tavrin::ui::testing {

namespace {

struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

// Two cells for the CJK block, none for combining marks, one otherwise.
int TestCells(char32_t cp) {
  if (cp >= 0x4E00 && cp <= 0x9FFF) return 2;
  if (cp >= 0x300 && cp <= 0x36F) return 0;
  return 1;
}

// The positions where the code points of bytes begin, decoded on their own.
std::vector<std::int64_t> UnitStarts(const std::string& bytes, std::int64_t from, std::int64_t to) {
  std::vector<std::int64_t> starts;
  for (std::int64_t p = from; p < to;) {
    starts.push_back(p);
    int n = 1;
    (void)LogText::Decode(bytes.data() + p, bytes.data() + to, &n);
    p += n;
  }
  return starts;
}

// Rows of a whole log, checked to tile each line without gap or overlap.
std::vector<LogText::Row> AllRows(LogText& t) {
  std::vector<LogText::Row> rows;
  const std::int64_t count = t.RowCount();
  for (std::int64_t r = 0; r < count; ++r) rows.push_back(t.RowAt(r));
  return rows;
}

}  // namespace

class LogTest : public QObject {
  Q_OBJECT

 private slots:
  void appends_data() {
    QTest::addColumn<QStringList>("ops");  // "L:text" AppendLog, "N:text" AppendLogNoBreak, "R:text" ReplaceLog
    QTest::addColumn<QString>("log");
    QTest::newRow("start") << QStringList{} << "Merrow Log...\r\n";
    QTest::newRow("one line") << QStringList{"L:Sent: A5"} << "Merrow Log...\r\nSent: A5\r\n";
    QTest::newRow("empty line") << QStringList{"L:", "L:x"} << "Merrow Log...\r\n\r\nx\r\n";
    QTest::newRow("no break joins") << QStringList{"N:A", "L:B"} << "Merrow Log...\r\nAB\r\n";
    QTest::newRow("no break at the end") << QStringList{"L:a", "N:b"} << "Merrow Log...\r\na\r\nb";
    QTest::newRow("empty no break") << QStringList{"N:", "L:a"} << "Merrow Log...\r\na\r\n";
    QTest::newRow("two no breaks") << QStringList{"N:Masked ", "N:Expectation", "L: Pass!"}
                                   << "Merrow Log...\r\nMasked Expectation Pass!\r\n";
    QTest::newRow("blanks kept") << QStringList{"L:  two  blanks  "} << "Merrow Log...\r\n  two  blanks  \r\n";
    QTest::newRow("replace") << QStringList{"L:old", "R:Opening /tmp/x.svf\r\n"} << "Opening /tmp/x.svf\r\n";
    QTest::newRow("replace then append") << QStringList{"R:Opening f\r\n", "L:> STATE RESET;"}
                                         << "Opening f\r\n> STATE RESET;\r\n";
    QTest::newRow("CR LF inside") << QStringList{"L:a\r\nb"} << "Merrow Log...\r\na\r\nb\r\n";
    QTest::newRow("lone CR and LF") << QStringList{"L:a\rb\nc\n\rd"} << "Merrow Log...\r\na\r\nb\r\nc\r\n\r\nd\r\n";
    QTest::newRow("UTF-8 kept") << QStringList{"L:// 5 µs, Größe"} << "Merrow Log...\r\n// 5 µs, Größe\r\n";
  }

  void appends() {
    QFETCH(QStringList, ops);
    QFETCH(QString, log);
    UiRig rig;
    auto* pane = rig.Get<LogPane>("txt_log");
    QVERIFY(pane != nullptr);
    for (const QString& op : ops) {
      const std::string text = op.mid(2).toStdString();
      if (op.startsWith(QLatin1String("L:"))) rig.window->AppendLog(text);
      if (op.startsWith(QLatin1String("N:"))) rig.window->AppendLogNoBreak(text);
      if (op.startsWith(QLatin1String("R:"))) rig.window->ReplaceLog(text);
      // After every write the caret stands at the end, nothing selected.
      QVERIFY(pane->CaretAtEnd());
    }
    QCOMPARE(QString::fromStdString(rig.window->LogText()), log);
    QCOMPARE(pane->Changes(), static_cast<long long>(ops.size()));
  }

  // A long log keeps its end: a long line is cut with a note (never inside
  // a UTF-8 sequence), the oldest lines go with a count in their place, and
  // the index of lines follows.
  void keepsTheEndOfALongLog() {
    LogText t;
    t.SetLimits(200, 5);
    t.Append("abcd\xc3\xa9xyz", false);
    t.Append("tail", true);
    const std::string note = " ... (9 more bytes of this line are not kept in the window)\r\n";
    QCOMPARE(t.Bytes(), "abcd" + note);
    QVERIFY(t.IsSimple(0));
    int dropped_before = 0;
    for (int i = 0; i < 60; ++i) {
      t.Append("line" + std::to_string(i % 10), true);
      QVERIFY(t.Size() <= 200);
      if (t.Bytes()[0] == '(') dropped_before = std::stoi(t.Bytes().substr(1));
    }
    const std::string& b = t.Bytes();
    QVERIFY(b.rfind("(" + std::to_string(dropped_before) + " earlier lines of the log are not kept in the window)\r\n", 0) == 0);
    // The note, the lines kept and the empty last line: 61 lines in all.
    QCOMPARE(static_cast<int>(t.LineCount()) - 2 + dropped_before, 61);
    for (std::int64_t line = 1; line + 1 < t.LineCount(); ++line) {
      QCOMPARE(b.substr(static_cast<std::size_t>(t.LineStart(line) - 2), 2), std::string("\r\n"));
      QCOMPARE(t.LineEnd(line) - t.LineStart(line), std::int64_t{5});
    }
    QVERIFY(b.size() >= 7 && b.substr(b.size() - 7) == "line9\r\n");
    t.Clear();
    t.Append("x", true);
    QCOMPARE(t.Bytes(), std::string("x\r\n"));
  }

  // Lines of printable ASCII wrap by division; a position on the boundary
  // of two rows is at the start of the second, except at the line's end.
  void wrapsByColumns() {
    LogText t;
    t.SetColumns(10);
    for (const int n : {0, 1, 9, 10, 11, 30}) t.Append(std::string(static_cast<std::size_t>(n), '7'), true);
    const std::vector<std::int64_t> expected_rows = {1, 1, 1, 1, 2, 3, 1};  // the last: the empty line
    QCOMPARE(t.LineCount(), 7);
    std::int64_t total = 0;
    for (std::int64_t line = 0; line < t.LineCount(); ++line) {
      const std::int64_t first = t.RowOf(t.LineStart(line));
      const std::int64_t last = t.RowOf(t.LineEnd(line));
      QCOMPARE(last - first + 1, expected_rows[static_cast<std::size_t>(line)]);
      QCOMPARE(first, total);
      total += expected_rows[static_cast<std::size_t>(line)];
    }
    QCOMPARE(t.RowCount(), total);
    // The 30-digit line: rows at 0, 10 and 20 digits in.
    const std::int64_t start = t.LineStart(5);
    const std::int64_t row0 = t.RowOf(start);
    QCOMPARE(t.RowOf(start + 9), row0);
    QCOMPARE(t.RowOf(start + 10), row0 + 1);
    QCOMPARE(t.RowOf(start + 30), row0 + 2);
    const LogText::Row middle = t.RowAt(row0 + 1);
    QCOMPARE(middle.begin, start + 10);
    QCOMPARE(middle.end, start + 20);
    QVERIFY(!middle.last_of_line);
    QVERIFY(t.RowAt(row0 + 2).last_of_line);
    // Narrower: every line counted again.
    t.SetColumns(3);
    QCOMPARE(t.RowCount(), 1 + 1 + 3 + 4 + 4 + 10 + 1);
  }

  // A line is wrapped by division only when every byte of it is printable
  // ASCII, wherever in the line the one odd byte stands.
  void printableLines() {
    for (const int odd : {0x00, 0x09, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xC3, 0xFF}) {
      const bool printable = odd >= 0x20 && odd < 0x7F;
      for (std::size_t at = 0; at < 40; ++at) {
        LogText t;
        std::string line(40, 'A');
        line[at] = static_cast<char>(odd);
        // In two pieces (the second long enough to be looked at in blocks):
        // each is looked at on its own.
        t.Append(line.substr(0, 5), false);
        t.Append(line.substr(5), true);
        QVERIFY2(t.IsSimple(0) == printable, qPrintable(QStringLiteral("%1 at %2").arg(odd).arg(at)));
        QVERIFY(t.IsSimple(1));
      }
    }
  }

  // Text that is not plain ASCII is wrapped by the cells of its code
  // points: no row begins inside a character, none is wider than the pane
  // unless one character alone is, and the rows hold every byte once.
  void wrapsMixedText_data() {
    QTest::addColumn<int>("columns");
    for (int c = 1; c <= 13; ++c) QTest::newRow(qPrintable(QString::number(c))) << c;
  }

  void wrapsMixedText() {
    QFETCH(int, columns);
    LogText t;
    t.SetCellWidth(TestCells);
    t.SetColumns(columns);
    const std::string line = "// Gr\xC3\xB6\xC3\x9F" "e!\t\xE6\xBC\xA2\xE5\xAD\x97 x\xCC\x81 \xFF\x80 \x01tab\tend \xE2\x82";
    t.Append(line, true);
    t.Append("next", false);
    const std::vector<std::int64_t> units = UnitStarts(t.Bytes(), 0, t.LineEnd(0));
    std::int64_t covered = 0;
    for (const LogText::Row& row : AllRows(t)) {
      if (row.line != 0) continue;
      QCOMPARE(row.begin, covered);
      covered = row.end;
      if (row.end > row.begin) QVERIFY(std::binary_search(units.begin(), units.end(), row.begin));
      int cells = 0;
      const std::vector<LogText::Unit> row_units = t.Units(row);
      for (const LogText::Unit& u : row_units) cells += u.cells;
      QVERIFY2(cells <= columns || row_units.size() == 1, qPrintable(QString::number(cells)));
    }
    QCOMPARE(covered, static_cast<std::int64_t>(line.size()));
    // Drawn as: tabs as blanks, controls and bad bytes as U+FFFD.
    t.SetColumns(1000);
    const std::vector<LogText::Unit> all = t.Units(t.RowAt(0));
    std::u32string shown;
    for (const LogText::Unit& u : all) shown += u.code_point;
    QCOMPARE(all[9].cells, 7);  // the tab after "// Größe!" (9 cells in) reaches 16
    QVERIFY(shown.find(U"\uFFFD\uFFFD \uFFFDtab ") != std::u32string::npos);
    QCOMPARE(shown.back(), U'\uFFFD');  // the cut-off sequence at the end
  }

  void decodesUtf8_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint>("code_point");
    QTest::addColumn<int>("length");
    QTest::newRow("ASCII") << QByteArray("A") << 0x41U << 1;
    QTest::newRow("two bytes") << QByteArray("\xC3\xA9") << 0xE9U << 2;
    QTest::newRow("three bytes") << QByteArray("\xE6\xBC\xA2") << 0x6F22U << 3;
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << 0x1F600U << 4;
    QTest::newRow("overlong") << QByteArray("\xC0\x80") << 0xFFFDU << 1;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << 0xFFFDU << 1;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << 0xFFFDU << 1;
    QTest::newRow("cut off") << QByteArray("\xE2\x82") << 0xFFFDU << 1;
    QTest::newRow("lone continuation") << QByteArray("\x80") << 0xFFFDU << 1;
    QTest::newRow("bad continuation") << QByteArray("\xC3\x41") << 0xFFFDU << 1;
  }

  void decodesUtf8() {
    QFETCH(QByteArray, bytes);
    QFETCH(uint, code_point);
    QFETCH(int, length);
    int n = 0;
    QCOMPARE(static_cast<uint>(LogText::Decode(bytes.constData(), bytes.constData() + bytes.size(), &n)), code_point);
    QCOMPARE(n, length);
  }

  // The rows are counted as the log grows, line by line and piece by piece;
  // whenever they are looked at, they are the rows of the same text laid
  // out at once.
  void growingLogLaysOutAsAWhole() {
    std::mt19937 random(7);
    const std::vector<std::string> pieces = {"", "Sent: ", std::string(25, 'A'), "\xC3\xA9t\xC3\xA9", "\t",
                                             "a\r\nb", std::string(3, '\xE6'), "x\ry"};
    int compared = 0;
    for (int round = 0; round < 20; ++round) {
      LogText grown;
      grown.SetCellWidth(TestCells);
      grown.SetColumns(7);
      std::string all;
      for (int i = 0; i < 40; ++i) {
        const std::string& piece = pieces[random() % pieces.size()];
        const bool line_break = random() % 3 == 0;
        grown.Append(piece, line_break);
        all += piece;
        if (line_break) all += "\n";
        if (random() % 10 == 0) grown.SetColumns(static_cast<int>(random() % 9) + 1);
        if (random() % 4 != 0 && i != 39) continue;
        LogText whole;
        whole.SetCellWidth(TestCells);
        whole.SetColumns(grown.Columns());
        whole.Append(all, false);
        QCOMPARE(grown.Bytes(), whole.Bytes());
        const std::vector<LogText::Row> a = AllRows(grown);
        const std::vector<LogText::Row> b = AllRows(whole);
        QCOMPARE(a.size(), b.size());
        for (std::size_t r = 0; r < a.size(); ++r) {
          QCOMPARE(a[r].begin, b[r].begin);
          QCOMPARE(a[r].end, b[r].end);
          QCOMPARE(grown.RowOf(a[r].begin), static_cast<std::int64_t>(r));
        }
        ++compared;
      }
    }
    QVERIFY(compared > 100);
  }

  // Whatever the length, the newest line is in view once the pane is drawn,
  // even after the operator has scrolled up and selected something.
  void newestLineInView() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto* pane = rig.Get<LogPane>("txt_log");
    for (int i = 0; i < 500; ++i) rig.window->AppendLog("line " + std::to_string(i));
    QApplication::processEvents();
    QScrollBar* bar = pane->verticalScrollBar();
    QVERIFY(bar->maximum() > 400);
    QCOMPARE(bar->value(), bar->maximum());
    const QRect viewport = pane->viewport()->rect();
    QVERIFY(viewport.contains(pane->PositionRect(pane->CaretPosition()).center()));
    // The last report is on screen, above the caret's empty line.
    LogText& text = pane->Layout();
    const std::int64_t last = text.LineCount() - 2;
    QCOMPARE(text.Bytes().substr(static_cast<std::size_t>(text.LineStart(last)), 8), std::string("line 499"));
    QVERIFY(viewport.contains(pane->PositionRect(text.LineStart(last)).center()));
    QVERIFY(pane->PositionRect(text.LineStart(0)).isEmpty());  // the first line scrolled away

    bar->setValue(0);
    pane->Select(3, 10);
    QVERIFY(pane->HasSelection());
    rig.window->AppendLog(std::string(5000, 'x'));  // one long line, wrapped
    QVERIFY(pane->CaretAtEnd());
    QApplication::processEvents();
    QVERIFY(bar->value() > 500);
    QVERIFY(viewport.contains(pane->PositionRect(pane->CaretPosition()).center()));
  }

  // A row of digits fills the width of the pane and no more.
  void rowsFitTheWidth() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto* pane = rig.Get<LogPane>("txt_log");
    rig.window->AppendLog("Got: " + std::string(3000, 'F'));
    QApplication::processEvents();
    const QFontMetricsF fm(pane->font());
    const double room = pane->viewport()->width() - 2.0 * LogPane::kMargin;
    LogText& text = pane->Layout();
    const LogText::Row row = text.RowAt(text.RowOf(text.LineStart(1)));
    QVERIFY(!row.last_of_line);
    const QString shown = QString::fromStdString(text.Bytes().substr(static_cast<std::size_t>(row.begin),
                                                                     static_cast<std::size_t>(row.end - row.begin)));
    QVERIFY(fm.horizontalAdvance(shown) <= room);
    QVERIFY(fm.horizontalAdvance(shown + QLatin1Char('F')) > room);
    // Narrower: the end stays in view.
    rig.window->resize(500, 488);
    QApplication::processEvents();
    QCOMPARE(pane->verticalScrollBar()->value(), pane->verticalScrollBar()->maximum());
    QVERIFY(pane->viewport()->rect().contains(pane->PositionRect(pane->CaretPosition()).center()));
  }

  // Ctrl+A and Ctrl+C copy the whole log; a double click takes a value; a
  // drag selects from where it starts to where it ends.
  void selectAndCopy() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto* pane = rig.Get<LogPane>("txt_log");
    rig.window->AppendLog("Sent: 00000000");
    rig.window->AppendLog("Got: F6E5F093");
    QApplication::processEvents();
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Merrow Log...\nSent: 00000000\nGot: F6E5F093\n"));

    const std::int64_t value = static_cast<std::int64_t>(pane->Text().find("F6E5"));
    QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, pane->PositionRect(value + 3).center());
    QCOMPARE(pane->SelectedText(), std::string("F6E5F093"));

    const std::int64_t sent = static_cast<std::int64_t>(pane->Text().find("Sent"));
    const QPoint from = pane->PositionRect(sent + 6).topLeft() + QPoint(0, 2);
    const QPoint to = pane->PositionRect(value + 2).topLeft() + QPoint(0, 2);
    QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, pane->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(pane->viewport(), &move);
    QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(pane->SelectedText(), std::string("00000000\nGot: F6"));

    // The next report ends the selection.
    rig.window->AppendLog("next");
    QVERIFY(pane->CaretAtEnd());
  }

  void repaintAtOnce() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QApplication::processEvents();
    auto* pane = rig.Get<LogPane>("txt_log");
    PaintCounter counter;
    pane->viewport()->installEventFilter(&counter);
    rig.window->ReplaceLog("Opening f\r\n");
    QCOMPARE(counter.paints, 0);  // not before events are processed...
    rig.window->RepaintLog();
    QCOMPARE(counter.paints, 1);  // ...but at once when asked
    pane->viewport()->removeEventFilter(&counter);
  }

  // The log's font: DejaVu Sans Mono where it is installed, and whichever
  // font is used, every character of a scan report as wide as the others,
  // so that the digits line up.
  void designFont() {
    UiRig rig;
    const QFont f = rig.Get<LogPane>("txt_log")->font();
    QCOMPARE(f.pointSizeF(), LogPane::kPointSize);
    const QString dejavu = QStringLiteral("DejaVu Sans Mono");
    if (QFontDatabase::hasFamily(dejavu)) QCOMPARE(QFontInfo(f).family(), dejavu);
    const QFontMetricsF metrics(f);
    const qreal width = metrics.horizontalAdvance(QLatin1Char('0'));
    QVERIFY(width > 0);
    for (char c = ' '; c <= '~'; ++c) {
      QVERIFY2(qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(c)), width),
               qPrintable(QStringLiteral("'%1' is not as wide as '0' in %2").arg(QChar::fromLatin1(c), QFontInfo(f).family())));
    }
  }
};

std::unique_ptr<QObject> MakeLogTest() { return std::make_unique<LogTest>(); }

}  // namespace tavrin::ui::testing

#include "log_test.moc"
