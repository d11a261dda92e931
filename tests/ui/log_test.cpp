// The log pane: its first line, appends in place, replacing, the caret
// and the newest line in view.
#include <QApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "ui/log_pane.h"
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
    QTest::newRow("two no breaks") << QStringList{"N:Masked ", "N:Expectation", "L: Pass!"}
                                   << "Merrow Log...\r\nMasked Expectation Pass!\r\n";
    QTest::newRow("blanks kept") << QStringList{"L:  two  blanks  "} << "Merrow Log...\r\n  two  blanks  \r\n";
    QTest::newRow("replace") << QStringList{"L:old", "R:Opening /tmp/x.svf\r\n"} << "Opening /tmp/x.svf\r\n";
    QTest::newRow("replace then append") << QStringList{"R:Opening f\r\n", "L:> STATE RESET;"}
                                         << "Opening f\r\n> STATE RESET;\r\n";
    QTest::newRow("CR LF inside") << QStringList{"L:a\r\nb"} << "Merrow Log...\r\na\r\nb\r\n";
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
      QVERIFY(pane->textCursor().atEnd());
      QVERIFY(!pane->textCursor().hasSelection());
    }
    QCOMPARE(QString::fromStdString(rig.window->LogText()), log);
    // The accessor is the pane's own text.
    QString shown = pane->toPlainText();
    shown.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QCOMPARE(shown, log);
    QVERIFY(pane->Changes() >= static_cast<long long>(ops.size()));
  }

  // A long line is held in pieces but stays one line of the log, also when
  // it is continued by the next append.
  void longLines() {
    UiRig rig;
    auto* pane = rig.Get<LogPane>("txt_log");
    const std::string digits(3 * LogPane::kPieceChars + 5, '7');
    rig.window->AppendLogNoBreak("Masked Expectation: " + digits);
    rig.window->AppendLog(", Masked Result: " + digits);
    rig.window->AppendLog("next");
    QCOMPARE(rig.window->LogText(),
             "Merrow Log...\r\nMasked Expectation: " + digits + ", Masked Result: " + digits + "\r\nnext\r\n");
    QVERIFY(pane->document()->blockCount() > 6);
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
      QVERIFY(b.text().size() <= LogPane::kPieceChars);
    }
    QVERIFY(pane->textCursor().atEnd());
  }

  // An append only adds at the end: the document reports an insertion of
  // exactly the new characters and removes nothing.
  void appendsInPlace() {
    UiRig rig;
    auto* pane = rig.Get<LogPane>("txt_log");
    for (int i = 0; i < 200; ++i) rig.window->AppendLog("line " + std::to_string(i));
    QTextDocument* doc = pane->document();
    const QTextBlock first = doc->firstBlock();
    int removed = 0;
    int added = 0;
    int at = -1;
    connect(doc, &QTextDocument::contentsChange, this, [&](int position, int chars_removed, int chars_added) {
      at = position;
      removed += chars_removed;
      added += chars_added;
    });
    const int end = doc->characterCount() - 1;
    rig.window->AppendLog("Got: 5A");
    QCOMPARE(removed, 0);
    QCOMPARE(added, 8);  // the text and one paragraph break
    QCOMPARE(at, end);
    QCOMPARE(doc->firstBlock().text(), first.text());
    QVERIFY(doc->firstBlock() == first);
  }

  // Whatever the length, the newest line is in view once the pane is drawn,
  // even after the operator has scrolled up or clicked into the text.
  void newestLineInView() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto* pane = rig.Get<LogPane>("txt_log");
    for (int i = 0; i < 500; ++i) rig.window->AppendLog("line " + std::to_string(i));
    QApplication::processEvents();
    QScrollBar* bar = pane->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(bar->value() > bar->maximum() - 3);
    QVERIFY(pane->viewport()->rect().contains(pane->cursorRect().center()));
    // The last report is on screen, above the caret's empty line.
    QTextCursor last(pane->document()->lastBlock().previous());
    QCOMPARE(last.block().text(), QStringLiteral("line 499"));
    QVERIFY(pane->viewport()->rect().contains(pane->cursorRect(last).center()));

    bar->setValue(0);
    QTextCursor c = pane->textCursor();
    c.setPosition(3);
    c.setPosition(10, QTextCursor::KeepAnchor);
    pane->setTextCursor(c);
    rig.window->AppendLog(std::string(5000, 'x'));  // one long line, wrapped
    QApplication::processEvents();
    QVERIFY(pane->textCursor().atEnd());
    QVERIFY(!pane->textCursor().hasSelection());
    QVERIFY(bar->value() > 100);
    const QRect caret = pane->cursorRect();
    QVERIFY(pane->viewport()->rect().contains(caret.center()));
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

  void designFont() {
    UiRig rig;
    const QFont f = rig.Get<LogPane>("txt_log")->document()->defaultFont();
    QCOMPARE(f.pointSizeF(), 8.5);
  }
};

std::unique_ptr<QObject> MakeLogTest() { return std::make_unique<LogTest>(); }

}  // namespace tavrin::ui::testing

#include "log_test.moc"
