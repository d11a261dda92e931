// SPDX-License-Identifier: Apache-2.0
// Whole runs on the fake chip, driven through the widgets: Single Step with
// Step clicks, Break, the buttons during a run, and closing the window in
// the middle of one.
#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>

#include "adapter/adapter.h"
#include "common/memory_window.h"
#include "player/player.h"
#include "ui/file_chooser.h"
#include "ui/indicator.h"
#include "ui/log_pane.h"
#include "ui/screenshot.h"
#include "ui_rig.h"
#ifdef TAVRIN_HAVE_VIRTUAL
#include "board/board_state.h"
#include "board/models/catalogue.h"
#include "board/virtual_d2xx.h"
#endif

namespace tavrin::ui::testing {

namespace {

const std::string kFile =
    "// whole run\r\n"
    "ENDDR IDLE;\r\n"
    "SIR 8 TDI (01);\r\n"
    "SDR 8 TDI (A5)\r\n"
    "  TDO (A5) MASK (FF);\r\n"
    "RUNTEST 10 TCK;\r\n"
    "SDR 16 TDI (1234) TDO (1234) MASK (FFFF);\r\n";
constexpr int kStatements = 5;
// The bar's work before each statement of kFile, and of the whole file: a
// unit a statement, one a bit, and RUNTEST 10 TCK's 1 ms wait as 100.
const std::vector<int> kWorkBefore{0, 1, 1 + (1 + 8), 1 + 2 * (1 + 8), 1 + 2 * (1 + 8) + (1 + 100)};
constexpr int kWork = 1 + 2 * (1 + 8) + (1 + 100) + (1 + 16);

// The line that ends the log of a whole run of kFile on the fake chip.
const std::string kPassed = "run.svf: 5 statements, 2 checks passed, 0.00 s; on FT232R USB UART";

const char* const kBusy = "Not while a file is being processed.  Press Break first.";
const char* const kAlreadyRunning = "A file is being processed already.  Press Break to stop it.";

// A window on the fake chip, shown, with a file chosen in its lists.
struct RunRig : UiRig {
  QTemporaryDir dir;
  QString path;
  int waits = 0;  // single-step waits seen by the operator timer
  QTimer operator_timer;

  explicit RunRig(const std::string& text = kFile, const QString& name = QStringLiteral("run.svf"),
                  adapter::D2xx* other_chip = nullptr)
      : UiRig(other_chip) {
    LoopTdiToTdo();
    window->show();
    path = QDir::cleanPath(dir.path()) + QLatin1Char('/') + name;
    WriteFile(path, text);
    window->SetDirPath(QDir::cleanPath(dir.path()).toStdString());
    auto* files = Get<FileList>("File1");
    const QList<QListWidgetItem*> found = files->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty()) files->setCurrentItem(found.front());
  }

  // The operator: each time the run waits for Step, act(wait number) runs
  // (the first wait is 1).
  void Operator(std::function<void(int)> act) {
    operator_timer.setInterval(1);
    QObject::connect(&operator_timer, &QTimer::timeout, window.get(), [this, act] {
      if (Core().flags.AwaitingStep != kTrue || waits_seen_ == Core().driver.StatementsExecuted() + 1) return;
      waits_seen_ = Core().driver.StatementsExecuted() + 1;
      act(++waits);
    });
    operator_timer.start();
  }

  void Click(const char* name) { QTest::mouseClick(Get<QPushButton>(name), Qt::LeftButton); }
  // Ready for another operator.
  static void Reset(RunRig& rig) {
    rig.waits = 0;
    rig.waits_seen_ = 0;
    QObject::disconnect(&rig.operator_timer, nullptr, nullptr, nullptr);
  }
  QProgressBar* Bar() { return Get<QProgressBar>("pb1"); }

 private:
  std::uint64_t waits_seen_ = 0;
};

// The same file played on the core with the window in memory: what the
// log must hold.
std::string CoreLog(const QString& path, const QString& name) {
  MemoryWindow memory;
  adapter::FakeD2xx chip;
  chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x40U : 0x00U; };
  FakeClock clock;
  player::Player p(memory, chip, clock);
  p.Form_Load();
  memory.selected_file = name.toStdString();
  memory.file_path = path.toStdString();
  memory.single_step = 0;
  p.cmd_Process_Click();
  return memory.log;
}

bool Contains(const std::string& log, const std::string& line) { return log.find(line) != std::string::npos; }

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  // Single Step ticked, Step clicked at every wait.
  void wholeRunStepByStep() {
    RunRig rig;
    QCOMPARE(rig.window->SelectedFileName(), std::string("run.svf"));
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), rig.path);
    std::vector<std::string> echoed_at_wait;
    std::vector<int> bar_at_wait;
    rig.Operator([&](int) {
      bar_at_wait.push_back(rig.Bar()->value());
      // The statement is in the log while the run waits.
      const std::string log = rig.window->LogText();
      const std::size_t last = log.rfind("\r\n> ");
      echoed_at_wait.push_back(last == std::string::npos ? "" : log.substr(last + 2, log.find("\r\n", last + 2) - last - 2));
      QTest::mouseClick(rig.Get<QPushButton>("cmd_step"), Qt::LeftButton);
    });
    rig.Click("cmd_Process");

    QCOMPARE(rig.waits, kStatements);
    // While the operator looks, the bar shows the work done so far.
    QCOMPARE(bar_at_wait, kWorkBefore);
    QCOMPARE(echoed_at_wait.front(), std::string("> ENDDR IDLE;"));
    QCOMPARE(echoed_at_wait[2], std::string("> SDR 8 TDI (A5) TDO (A5) MASK (FF);"));
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    QVERIFY(rig.messages.empty());
    const std::string log = rig.window->LogText();
    QCOMPARE(log, CoreLog(rig.path, QStringLiteral("run.svf")) + kPassed + "\r\n");
    QVERIFY(log.rfind("Adapter: FT232R USB UART\r\nOpening " + rig.path.toStdString() +
                          "\r\n> // whole run\r\n> ENDDR IDLE;\r\n",
                      0) == 0);
    QVERIFY(Contains(log, "Sent: A5\r\nGot: A5\r\nMasked Expectation: A5, Masked Result: A5 Pass!\r\n"));
    QVERIFY(Contains(log, "Masked Expectation: 1234, Masked Result: 1234 Pass!\r\n"));
    QCOMPARE(rig.Bar()->maximum(), kWork);
    QCOMPARE(rig.Bar()->value(), kWork);
    QCOMPARE(rig.window->ProgressText(), QStringLiteral("100%"));
    QVERIFY(rig.Get<LogPane>("txt_log")->CaretAtEnd());
  }

  // Single Step unticked: one click plays the file; a second run starts a
  // fresh log and keeps the end states.
  void wholeRunAtOnce() {
    RunRig rig;
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    const std::string first = rig.window->LogText();
    QCOMPARE(first, CoreLog(rig.path, QStringLiteral("run.svf")) + kPassed + "\r\n");
    rig.Click("cmd_Process");
    QCOMPARE(rig.window->LogText(), first);
    QCOMPARE(rig.Bar()->value(), kWork);
  }

  // Break at the third wait: the run ends there, the bar short of the
  // statement it held.
  void breakInTheMiddle() {
    RunRig rig;
    rig.Operator([&](int wait) {
      QTest::mouseClick(rig.Get<QPushButton>(wait < 3 ? "cmd_step" : "cmd_breakstep"), Qt::LeftButton);
    });
    rig.Click("cmd_Process");
    QCOMPARE(rig.waits, 3);
    QCOMPARE(rig.Core().driver.StatementsExecuted(), std::uint64_t{2});
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
    QCOMPARE(rig.Core().flags.StopRequested, kTrue);
    const std::string log = rig.window->LogText();
    const std::string tail =
        "> SDR 8 TDI (A5) TDO (A5) MASK (FF);\r\nUh Oh, the operator stopped the run at line 4.  Bailing Out\r\n"
        "run.svf:4: stopped by the operator; on FT232R USB UART\r\n";
    QCOMPARE(log.substr(log.size() - tail.size()), tail);
    QVERIFY(!Contains(log, "Sent: A5"));
    QCOMPARE(rig.Bar()->value(), kWorkBefore[2]);  // the work before the held statement
    QVERIFY(rig.chip.open);           // the adapter stays open
    QVERIFY(rig.messages.empty());
  }

  // After a Break in the single-step wait, later runs play at full speed:
  // nothing is left waiting for Step.
  void fullSpeedAfterABreakInTheStepWait() {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "SDR 8 TDI (A5);\r\n";
    // Milliseconds for the whole file, or -1 when it did not play whole.
    const auto timed_run = [](RunRig& rig) -> qint64 {
      rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
      QElapsedTimer t;
      t.start();
      rig.Click("cmd_Process");
      return rig.Core().driver.StatementsExecuted() == 2000 ? t.elapsed() : -1;
    };
    RunRig fresh(text);
    const qint64 fresh_ms = timed_run(fresh);
    QVERIFY(fresh_ms >= 0);

    RunRig rig(text);
    rig.Operator([&](int) { rig.Click("cmd_breakstep"); });
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
    RunRig::Reset(rig);
    rig.operator_timer.stop();
    const qint64 after_ms = timed_run(rig);
    QVERIFY(after_ms >= 0);
    qInfo("2,000 statements: %lld ms fresh, %lld ms after a Break", static_cast<long long>(fresh_ms),
          static_cast<long long>(after_ms));
    QVERIFY2(after_ms <= 3 * fresh_ms + 500, "runs after a Break crawl");
  }

  // A RUNTEST wait keeps the window answering: a timer of 5 ms fires
  // throughout the wait (the gaps are the wait's 20 ms slices), and Break
  // cuts the wait short.
  void windowAnswersDuringAWait() {
    adapter::FakeD2xx chip;
    chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x40U : 0x00U; };
    SystemClock clock;
    MainWindow window(chip, clock);
    window.message_hook = [](std::string_view) {};
    window.show();
    QTemporaryDir dir;
    const QString path = QDir::cleanPath(dir.path()) + QStringLiteral("/wait.svf");
    QVERIFY(WriteFile(path, "RUNTEST 0.4 SEC;\r\nRUNTEST 30 SEC;\r\n"));
    window.SetDirPath(QDir::cleanPath(dir.path()).toStdString());
    auto* files = window.findChild<FileList*>(QStringLiteral("File1"));
    files->setCurrentItem(files->findItems(QStringLiteral("wait.svf"), Qt::MatchExactly).front());
    window.findChild<QCheckBox*>(QStringLiteral("chk_SingleStep"))->setChecked(false);

    QElapsedTimer run;
    qint64 last = 0;
    qint64 widest = 0;
    qint64 break_at = -1;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
      const qint64 now = run.elapsed();
      widest = std::max(widest, now - last);
      last = now;
      // Break once the first wait is over and the second has begun.
      if (break_at < 0 && now > 600) {
        break_at = now;
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmd_breakstep")), Qt::LeftButton);
      }
    });
    run.start();
    ticker.start();
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmd_Process")), Qt::LeftButton);
    const qint64 ended = run.elapsed();
    ticker.stop();
    qInfo("widest gap between events during the waits: %lld ms; run ended %lld ms after Break",
          static_cast<long long>(widest), static_cast<long long>(ended - break_at));
    QCOMPARE(window.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
    QVERIFY(break_at > 0);
    QVERIFY2(widest < 200, "the window froze during a wait");
    QVERIFY2(ended - break_at < 1000, "Break did not cut the wait short");
    QVERIFY(window.LogText().find("Uh Oh, the operator stopped the run at line 2.  Bailing Out") != std::string::npos);
  }

  // "Standard SVF" is read when a run starts: a file with "!" comments
  // ends at its first line without it, and plays with it.
  void standardSvfBox() {
    RunRig rig("! a vendor's comment\r\nSIR 8 TDI (01); ! select\r\nSDR 8 TDI (A5) TDO (A5);\r\n");
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
    rig.Get<QCheckBox>("chk_StandardSvf")->setChecked(true);
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    const std::string log = rig.window->LogText();
    QVERIFY(Contains(log, "> ! a vendor's comment\r\n> SIR 8 TDI (01);\r\n"));
    QVERIFY(Contains(log, "Masked Expectation: A5, Masked Result: A5 Pass!\r\n"));
  }

  // The single-step wait sleeps until something happens instead of
  // spinning: a third of a second brings few passes.
  void stepWaitDoesNotSpin() {
    RunRig rig;
    rig.Operator([&](int) {
      const long long before = rig.window->EventPasses();
      QTimer::singleShot(300, rig.window.get(), [&rig, before] {
        QVERIFY(rig.window->EventPasses() - before < 100);
        QTest::mouseClick(rig.Get<QPushButton>("cmd_breakstep"), Qt::LeftButton);
      });
      rig.operator_timer.stop();
    });
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
  }

  // A click turned away during a run shows its box beside the run: the run
  // goes on at its pace, and the box waits for the operator.
  void boxBesideARun() {
    std::string file;
    for (int i = 0; i < 20000; ++i) file += "SDR 16 TDI (1234) TDO (1234) MASK (FFFF);\r\n";
    qint64 times[2] = {0, 0};
    for (const bool click : {false, true}) {
      RunRig rig(file);
      rig.window->message_hook = nullptr;  // real boxes
      rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
      bool clicked = false;
      rig.window->events_hook = [&] {
        if (!click || clicked) return;
        clicked = true;
        rig.Click("cmd_Process");
      };
      // A box that held the run up is closed after a second, so that the
      // test fails instead of waiting for ever.
      QTimer unstick;
      unstick.setSingleShot(true);
      QObject::connect(&unstick, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      });
      unstick.start(1000);
      QElapsedTimer run;
      run.start();
      rig.Click("cmd_Process");
      times[click ? 1 : 0] = run.elapsed();
      QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
      QMessageBox* box = rig.window->findChild<QMessageBox*>();
      QCOMPARE(box != nullptr, click);
      if (box != nullptr) {
        QVERIFY(box->isVisible());
        QCOMPARE(box->text(), QString::fromLatin1(kAlreadyRunning));
        box->accept();
      }
    }
    qInfo("20,000 checked scans: %lld ms alone, %lld ms with a box open beside the run",
          static_cast<long long>(times[0]), static_cast<long long>(times[1]));
    QVERIFY2(times[1] <= 2 * times[0] + 500, "the run waited behind the box");
  }

  // The buttons while a run waits: Open, set-up and Process are turned
  // away, Close stops the run and closes the adapter once it has returned.
  void buttonsDuringARun() {
    RunRig rig;
    rig.Operator([&](int) {
      rig.messages.clear();
      rig.Click("cmd_OpenInterface");
      rig.Click("cmd_FTSetup");
      rig.Click("cmd_Process");
      QCOMPARE(rig.messages, (std::vector<std::string>{kBusy, kBusy, kAlreadyRunning}));
      rig.Click("cmd_CloseInterface");
      QVERIFY(rig.chip.open);  // not under the running run
    });
    rig.Click("cmd_Process");
    QCOMPARE(rig.waits, 1);
    QCOMPARE(rig.Core().driver.StatementsExecuted(), std::uint64_t{0});
    // The run ended at once, and the log says so.
    const std::string log = rig.window->LogText();
    const std::string tail = "> ENDDR IDLE;\r\nUh Oh, the operator stopped the run at line 2.  Bailing Out\r\n"
                             "run.svf:2: stopped by the operator\r\n";
    QCOMPARE(log.substr(log.size() - std::min(log.size(), tail.size())), tail);
    QVERIFY(!rig.chip.open);
    QCOMPARE(rig.Bar()->value(), 0);  // emptied with the adapter's close
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), 255U);
    QCOMPARE(rig.Core().adapter.InterfaceOpen, kFalse);
    QVERIFY(rig.window->isVisible());
    // The next run opens and sets up again by itself.
    rig.operator_timer.stop();
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    QVERIFY(rig.chip.open);
  }

  // Closing during the single-step wait: the close waits for the run to
  // return, then the adapter is shut down and the window goes.
  void closeDuringStepWait() {
    RunRig rig;
    bool closed_at_once = true;
    rig.Operator([&](int wait) {
      if (wait == 2) {
        closed_at_once = rig.window->close();
        QVERIFY(rig.window->isVisible());
      } else {
        rig.Click("cmd_step");
      }
    });
    rig.Click("cmd_Process");
    QVERIFY(!closed_at_once);
    QCOMPARE(rig.Core().driver.StatementsExecuted(), std::uint64_t{1});
    QVERIFY(rig.Core().UnloadDone());
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.chip.CountCalls("FT_Close"), 1);
    QVERIFY(!rig.chip.open);
    QVERIFY(rig.messages.empty());
  }

  // Closing inside a long scan: the scan ends after the block in flight and
  // the bits already queued (the rest of 16, padded to a packet), the
  // adapter is closed, the window goes.
  void closeDuringAScan() {
    const std::string long_scan = "SDR 40000 TDI (" + std::string(10000, '5') + ");\r\n";
    RunRig rig("STATE IDLE;\r\n" + long_scan + "SIR 8 TDI (01);\r\n");
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.chip.record_calls = false;
    std::size_t bytes_at_close = 0;
    rig.window->events_hook = [&] {
      if (bytes_at_close == 0 && rig.chip.written_bytes.size() > 6000) {
        bytes_at_close = rig.chip.written_bytes.size();
        QVERIFY(!rig.window->close());
      }
    };
    rig.Click("cmd_Process");
    QVERIFY(bytes_at_close > 0);
    QVERIFY(rig.chip.written_bytes.size() > bytes_at_close);
    QVERIFY(rig.chip.written_bytes.size() <= bytes_at_close + 62);  // not one block more
    QVERIFY(rig.chip.written_bytes.size() < 120000);
    QVERIFY(!rig.chip.open);
    QVERIFY(rig.Core().UnloadDone());
    QVERIFY(!rig.window->isVisible());
    QVERIFY(!Contains(rig.window->LogText(), "> SIR 8 TDI (01);"));
    QVERIFY(rig.messages.empty());
  }

  // The end of a run under the log and at its end, in tavrin-play's words:
  // a failure in red; the bar full only for a file played to its end, and
  // empty again after Close Interface.
  void verdict_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("break_at");  // the wait that Break is clicked at; 0: no Single Step
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("bar");
    QTest::newRow("passed") << QByteArray::fromStdString(kFile) << 0 << QString::fromStdString(kPassed)
                            << QRgb{0x008000} << kWork;
    QTest::newRow("check failed") << QByteArray("SIR 8 TDI (01);\r\nSDR 8 TDI (A5) TDO (5A);\r\n") << 0
                                  << QStringLiteral("run.svf:2: check failed: expected 5A, got A5, mask FF; on FT232R USB UART")
                                  << QRgb{0xCC0000} << 1 + 8;
    QTest::newRow("stopped") << QByteArray::fromStdString(kFile) << 1
                             << QStringLiteral("run.svf:2: stopped by the operator; on FT232R USB UART") << QRgb{0xAA5F00} << 0;
    QTest::newRow("failed") << QByteArray("STATE IDLE;\r\nFROB 3;\r\n") << 0
                            << QStringLiteral("run.svf:2: I don't know how to do a FROB; on FT232R USB UART") << QRgb{0xCC0000} << 1;
  }
  void verdict() {
    QFETCH(QByteArray, file);
    QFETCH(int, break_at);
    QFETCH(QString, verdict);
    QFETCH(QRgb, colour);
    QFETCH(int, bar);
    RunRig rig(file.toStdString());
    QCOMPARE(rig.window->VerdictText(), std::string());
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(break_at != 0);
    rig.Operator([&](int wait) { rig.Click(wait < break_at ? "cmd_step" : "cmd_breakstep"); });
    rig.Click("cmd_Process");
    const std::string line = verdict.toStdString();
    QCOMPARE(rig.window->VerdictText(), line);
    const std::string log = rig.window->LogText();
    QCOMPARE(log.substr(log.size() - std::min(log.size(), line.size() + 2)), line + "\r\n");
    QCOMPARE(rig.Get<QLabel>("lbl_Verdict")->palette().color(QPalette::WindowText).rgb(), colour | 0xFF000000U);
    QCOMPARE(rig.Bar()->value(), bar);
    QCOMPARE(rig.Bar()->maximum() == bar, break_at == 0 && colour == 0x008000);

    rig.operator_timer.stop();
    rig.Click("cmd_CloseInterface");
    QCOMPARE(rig.Bar()->value(), 0);
    QCOMPARE(rig.window->ProgressText(), QString());
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), 255U);
    QCOMPARE(rig.window->VerdictText(), line);  // still there to read
  }

  // --- Refusals before a run ---

  void nothingChosen() {
    UiRig rig;
    rig.window->show();
    QTest::mouseClick(rig.Get<QPushButton>("cmd_Process"), Qt::LeftButton);
    // Find, Open and the set-up ran first, silently on the fake.
    QCOMPARE(rig.messages, std::vector<std::string>{"Please choose a file first"});
    QCOMPARE(rig.Core().adapter.PortSetupValid, kTrue);
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->count(), 2);
    QCOMPARE(rig.window->LogText(), std::string("Merrow Log...\r\n"));
    QCOMPARE(rig.Get<QProgressBar>("pb1")->value(), 0);
    QCOMPARE(rig.window->VerdictText(), std::string());
  }

  void noAdapter() {
    UiRig rig;
    rig.chip.descriptions.clear();
    rig.window->show();
    rig.messages.clear();
    QTest::mouseClick(rig.Get<QPushButton>("cmd_Process"), Qt::LeftButton);
    QCOMPARE(rig.messages, (std::vector<std::string>{"No FTDI Devices Detected.\r\nPlease connect one..",
                                                     "Find and choose interface first..",
                                                     adapter::kMsgOpenFirst, adapter::kMsgPortSetup}));
  }

  void notAnSvfName() {
    RunRig rig("STATE RESET;\r\n", QStringLiteral("board.xsvf"));
    QCOMPARE(rig.window->SelectedFileName(), std::string("board.xsvf"));
    rig.Click("cmd_Process");
    QCOMPARE(rig.messages, std::vector<std::string>{"Error - expecting a .SVF file"});
    QCOMPARE(rig.window->LogText(), std::string("Merrow Log...\r\n"));
  }

  // After a click on run.svf, a typed text is what a run takes, as typed:
  // a file plays (and the lists follow it), anything else is turned away
  // with its own reason, never by opening the text. "@" is the folder.
  void typedPathIsPlayed_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");  // empty: played
    QTest::newRow("a file elsewhere") << "@/sub/other.svf" << "";
    QTest::newRow("relative to the folder shown") << "sub/other.svf" << "";
    QTest::newRow("not an .svf name") << "@/other.txt" << "Error - expecting a .SVF file";
    QTest::newRow("a pattern") << "@/*.svf" << "Please choose a file first";
    QTest::newRow("a folder") << "@/sub" << "Please choose a file first";
    QTest::newRow("a file that does not exist") << "@/gone.svf" << "Cannot open @/gone.svf: ";
  }
  void typedPathIsPlayed() {
    QFETCH(QString, typed);
    QFETCH(QString, message);
    RunRig rig;
    const QString folder = QDir::cleanPath(rig.dir.path());
    QVERIFY(QDir(folder).mkpath(QStringLiteral("sub")));
    const QString other = folder + QStringLiteral("/sub/other.svf");
    QVERIFY(WriteFile(other, "STATE IDLE;\r\n"));
    QVERIFY(WriteFile(folder + QStringLiteral("/other.txt"), "STATE IDLE;\r\n"));
    QCOMPARE(rig.window->SelectedFileName(), std::string("run.svf"));
    auto* box = rig.Get<QLineEdit>("txt_filepath");
    box->selectAll();
    QTest::keyClicks(box, typed.replace(QLatin1Char('@'), folder));
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    if (message.isEmpty()) {
      QVERIFY(rig.messages.empty());
      QCOMPARE(rig.window->LogText(), "Adapter: FT232R USB UART\r\nOpening " + other.toStdString() +
                                          "\r\n> STATE IDLE;\r\nother.svf: 1 statement, 0 checks passed, 0.00 s; on "
                                          "FT232R USB UART\r\n");
      QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), folder + QStringLiteral("/sub"));
      QCOMPARE(rig.Get<FileList>("File1")->FileName(), QStringLiteral("other.svf"));
      QCOMPARE(rig.Bar()->value(), rig.Bar()->maximum());
      return;
    }
    QCOMPARE(rig.messages.size(), std::size_t{1});
    QVERIFY2(rig.messages[0].rfind(message.replace(QLatin1Char('@'), folder).toStdString(), 0) == 0,
             rig.messages[0].c_str());
    QCOMPARE(rig.Core().driver.StatementsExecuted(), std::uint64_t{0});
    QVERIFY(!Contains(rig.window->LogText(), "> STATE IDLE;"));
    QCOMPARE(rig.Get<FileList>("File1")->FileName(), QString());  // run.svf no longer highlighted
  }

  // The bar counts work, not lines: through a file of three lines it moves
  // inside the big scan by its bits, then with the wait's time, and says
  // the time left once two seconds have gone.
  void barCountsWork() {
    RunRig rig("SIR 8 TDI (01);\r\nSDR 20000 TDI (0);\r\nRUNTEST 4 SEC;\r\n");
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.window->pump_interval_ms = 0;
    std::vector<int> values;
    QStringList texts;
    rig.window->events_hook = [&] {
      values.push_back(rig.Bar()->value());
      texts << rig.window->ProgressText();
    };
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    constexpr int kScanFrom = 1 + 8;
    constexpr int kWaitFrom = kScanFrom + 1 + 20000;
    QCOMPARE(rig.Bar()->maximum(), kWaitFrom + 1 + 4 * 100000);
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    const auto count_between = [&](int low, int high) {
      return std::count_if(values.begin(), values.end(), [&](int v) { return v > low && v < high; });
    };
    QVERIFY(count_between(kScanFrom, kWaitFrom) > 10);           // inside the scan
    QVERIFY(count_between(kWaitFrom + 1, rig.Bar()->maximum()) > 10);  // inside the wait
    static const QRegularExpression kLeft(QStringLiteral("^\\d+%, about \\d s left$"));
    QVERIFY2(!texts.filter(kLeft).isEmpty(), qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY(texts.first().indexOf(QLatin1String("left")) < 0);  // not before two seconds
    QCOMPARE(rig.window->ProgressText(), QStringLiteral("100%"));
  }

  // A file without lines leaves the bar full.
  void emptyFile() {
    RunRig rig("");
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    QCOMPARE(rig.window->LogText(), "Adapter: FT232R USB UART\r\nOpening " + rig.path.toStdString() +
                                        "\r\nrun.svf: 0 statements, 0 checks passed, 0.00 s; on FT232R USB UART\r\n");
    QCOMPARE(rig.Bar()->value(), rig.Bar()->maximum());
  }

#ifdef TAVRIN_HAVE_VIRTUAL
  // A long run of checked scans on the virtual board (instruction and
  // IDCODE pairs, as in the verify stretches of vendor files): the window
  // answers throughout, and Break, or closing the window, ends the run at
  // once. The file is long enough for the run to outlast the stop at 400 ms
  // several times over.
  void breakAndCloseDuringCheckedScans() {
    std::string file;
    for (int i = 0; i < 400000; ++i) file += "SIR 8 TDI (01);\r\nSDR 32 TDI (0) TDO (F6E5F093) MASK (FFFFFFFF);\r\n";
    for (const bool closing : {false, true}) {
      struct Board {
        board::VirtualD2xx chip;
      } board;
      RunRig rig(file, QStringLiteral("checked.svf"), &board.chip);
      rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
      QElapsedTimer run;
      qint64 last = 0;
      qint64 widest = 0;
      qint64 stop_at = -1;
      QTimer ticker;
      ticker.setInterval(2);
      QObject::connect(&ticker, &QTimer::timeout, rig.window.get(), [&] {
        const qint64 now = run.elapsed();
        widest = std::max(widest, now - last);
        last = now;
        if (stop_at >= 0 || now < 400) return;
        stop_at = now;
        if (closing) {
          QVERIFY(!rig.window->close());
        } else {
          rig.Click("cmd_breakstep");
        }
      });
      run.start();
      ticker.start();
      rig.Click("cmd_Process");
      const qint64 ended = run.elapsed();
      ticker.stop();
      qInfo("%s: widest gap between events %lld ms; run ended %lld ms after the stop, %llu statements",
            closing ? "closing" : "Break", static_cast<long long>(widest), static_cast<long long>(ended - stop_at),
            static_cast<unsigned long long>(rig.Core().driver.StatementsExecuted()));
      QVERIFY2(stop_at > 0, "the run ended before the stop");
      QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
      QVERIFY2(widest <= 50, "the window froze during the scans");
      QVERIFY2(ended - stop_at <= 100, "the stop was not seen at once");
      QCOMPARE(rig.window->isVisible(), !closing);
    }
  }

  // The operator's whole session on the virtual board: it is the one entry
  // of the list, Open and the set-up light their shapes, the IDCODE comes
  // back with Single Step and a Step at each wait, and a Break in the next
  // run ends it where it stands.
  // A modelled part on the virtual board: its account, and a step it did
  // not carry out, come before the summary at the end of the log.
  void rehearsalEndsTheLog() {
    board::ModelChoice choice;
    choice.part = "XC2C32A";
    board::BoardSpec spec;
    spec.chain.push_back(board::ModelledDevice(choice));
    board::VirtualD2xx chip(spec);
    RunRig rig("SIR 8 TDI (01);\r\nSDR 32 TDI (00000000) TDO (06E1F093) MASK (0FFF8FFF);\r\n"
               "SIR 8 TDI (ED);\r\nRUNTEST 200000 TCK;\r\n",
               QStringLiteral("part.svf"), &chip);
    rig.window->rehearsal_hook = [&chip](std::size_t* refusals, std::string*) {
      auto r = board::EndRehearsal(chip.Chain());
      *refusals = r.refusals;
      return r.report;
    };
    rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
    rig.Click("cmd_Process");
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    const std::string log = rig.window->LogText();
    const std::string tail = "Rehearsal:\r\n  XC2C32A: 0 erases, 0 rows programmed, 0 rows read\r\n"
                             "  XC2C32A: refused erase outside ISC mode\r\n"
                             "1 step of the file not carried out by the modelled parts (see the rehearsal above)\r\n"
                             "part.svf: 4 statements, 1 check passed";
    QVERIFY2(Contains(log, tail), log.c_str());
  }

  void virtualBoardThroughTheWidgets() {
    const std::string file =
        "// read the IDCODE\r\n"
        "SIR 8 TDI (01);\r\n"
        "SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\r\n"
        "SIR 8 TDI (FF);\r\n";
    struct Board {
      board::VirtualD2xx chip;
    } board;
    RunRig rig(file, QStringLiteral("idcode.svf"), &board.chip);
    auto* list = rig.Get<QComboBox>("cmb_Interfaces");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentText(), QStringLiteral(" 0 - FT232R Virtual Board"));
    rig.Click("cmd_OpenInterface");
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), kColourGreen);
    rig.Click("cmd_FTSetup");
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), kColourBlue);
    QVERIFY(rig.messages.empty());

    rig.Operator([&](int) { QTest::mouseClick(rig.Get<QPushButton>("cmd_step"), Qt::LeftButton); });
    rig.Click("cmd_Process");
    QCOMPARE(rig.waits, 3);
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    const std::string log = rig.window->LogText();
    QVERIFY(Contains(log, "\r\n> SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\r\n"));
    QVERIFY(Contains(log, "\r\nGot: F6E5F093\r\n"));
    QVERIFY(Contains(log, "\r\nMasked Expectation: F6E5F093, Masked Result: F6E5F093 Pass!\r\n"));
    QVERIFY(log.rfind("Adapter: virtual board (built-in board)\r\nOpening " + rig.path.toStdString() +
                          "\r\n> // read the IDCODE\r\n",
                      0) == 0);
    QCOMPARE(rig.Bar()->value(), (1 + 8) + (1 + 32) + (1 + 8));
    QCOMPARE(rig.Bar()->maximum(), rig.Bar()->value());
    QVERIFY(rig.messages.empty());

    // Again, with Break at the second wait: the IDCODE is never read.
    rig.operator_timer.stop();
    RunRig::Reset(rig);
    rig.Operator([&](int wait) {
      QTest::mouseClick(rig.Get<QPushButton>(wait < 2 ? "cmd_step" : "cmd_breakstep"), Qt::LeftButton);
    });
    rig.Click("cmd_Process");
    QCOMPARE(rig.waits, 2);
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Failed);
    QVERIFY(!Contains(rig.window->LogText(), "Got: F6E5F093"));
    QVERIFY(Contains(rig.window->LogText(), "\r\n> SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\r\n"));
    QCOMPARE(rig.Bar()->value(), 1 + 8);
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), kColourGreen);  // still open
  }
#endif

  // The program's own picture of itself.
  void screenshot() {
    RunRig rig;
    const QString png = QDir::cleanPath(rig.dir.path()) + QStringLiteral("/shot.png");
    std::string error;
    QVERIFY(PlayForScreenshot(*rig.window, rig.path, png, &error));
    QVERIFY(error.empty());
    const QImage image(png);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), rig.window->size() * rig.window->devicePixelRatio());
    QVERIFY(!rig.Get<QCheckBox>("chk_SingleStep")->isChecked());
    QCOMPARE(rig.Core().driver.LastOutcome(), svf::RunOutcome::Completed);
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), 16711680U);
    QVERIFY(!PlayForScreenshot(*rig.window, rig.path + QStringLiteral(".missing"), png, &error));
    QVERIFY(!error.empty());
  }
};

std::unique_ptr<QObject> MakeRunTest() { return std::make_unique<RunTest>(); }

}  // namespace tavrin::ui::testing

#include "run_test.moc"
