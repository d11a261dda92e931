// SPDX-License-Identifier: Apache-2.0
// The window's controls, their design-time contents and places, start-up,
// the focus order and the binding of each control event to its procedure.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include "ui/log_pane.h"
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSet>
#include <QTest>

#include "adapter/adapter.h"
#include "ui/file_chooser.h"
#include "ui/indicator.h"
#include "ui_rig.h"

namespace tavrin::ui::testing {

namespace {

const char* const kControls[] = {
    "Label12", "cmd_Find",  "cmb_Interfaces", "cmd_OpenInterface", "sh_DevState", "cmd_CloseInterface",
    "Label3",  "txt_Baud",  "chk_MaxClk",     "Label1",            "Label6",      "cmb_TMS",
    "Label4",  "cmb_TDO",   "Label5",         "cmb_TCK",           "Label2",      "cmb_TDI",
    "cmd_FTSetup", "sh_ISPState", "Line4",    "Drive1",            "Dir1",        "File1",
    "txt_filepath", "cmd_Process", "chk_SingleStep", "chk_StandardSvf", "cmd_step", "cmd_breakstep",
    "txt_log", "lbl_Verdict", "pb1", "lbl_PathHint"};

const char* const kFocusOrder[] = {"cmd_Find",     "cmb_Interfaces", "cmd_OpenInterface", "cmd_CloseInterface",
                                   "cmd_FTSetup",  "txt_Baud",       "chk_MaxClk",        "cmb_TMS",
                                   "cmb_TDO",      "cmb_TDI",        "cmb_TCK",           "Drive1",
                                   "Dir1",         "File1",          "txt_filepath",      "txt_log",
                                   "cmd_Process",  "chk_SingleStep", "chk_StandardSvf",   "cmd_step",
                                   "cmd_breakstep"};

// What a control shows as its caption or text.
QString Shown(const QWidget* w) {
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (const auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
  if (const auto* t = dynamic_cast<const LogPane*>(w)) return QString::fromStdString(t->Text());
  return {};
}

// The control that has the keyboard focus (an editable combo box's text
// field stands for its box).
QString FocusName() {
  static const QSet<QString> names = [] {
    QSet<QString> s;
    for (const char* n : kControls) s.insert(QString::fromLatin1(n));
    return s;
  }();
  for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
    if (names.contains(w->objectName())) return w->objectName();
  }
  return QStringLiteral("(none)");
}

bool IsKind(const QWidget* w, const QString& kind) {
  if (kind == QLatin1String("tavrin::ui::IndicatorShape")) return dynamic_cast<const IndicatorShape*>(w) != nullptr;
  if (kind == QLatin1String("tavrin::ui::DriveList")) return dynamic_cast<const DriveList*>(w) != nullptr;
  if (kind == QLatin1String("tavrin::ui::FolderList")) return dynamic_cast<const FolderList*>(w) != nullptr;
  if (kind == QLatin1String("tavrin::ui::FileList")) return dynamic_cast<const FileList*>(w) != nullptr;
  if (kind == QLatin1String("tavrin::ui::LogPane")) return dynamic_cast<const LogPane*>(w) != nullptr;
  return w->inherits(kind.toLatin1().constData());
}

QRect Area(const UiRig& rig, const char* name) {
  const QWidget* w = rig.Get<QWidget>(name);
  if (w == nullptr) return {};
  return {w->mapTo(rig.window.get(), QPoint(0, 0)), w->size()};
}

QStringList Entries(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, const char* kind, const char* shown) {
      QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(shown);
    };
    row("Label12", "QLabel", "Manual Functions");
    row("cmd_Find", "QPushButton", "Find All FTDI Interfaces");
    row("cmb_Interfaces", "QComboBox", "No Interfaces yet..");
    row("cmd_OpenInterface", "QPushButton", "Open Interface");
    row("sh_DevState", "tavrin::ui::IndicatorShape", "");
    row("cmd_CloseInterface", "QPushButton", "Close Interface");
    row("Label3", "QLabel", "Baud Register");
    row("txt_Baud", "QLineEdit", "150000");
    row("chk_MaxClk", "QCheckBox", "Max CLK");
    row("Label1", "QLabel", "ISP Setup assuming SparkFun FT232RL");
    row("Label6", "QLabel", "TMS");
    row("cmb_TMS", "QComboBox", "TMS");
    row("Label4", "QLabel", "TDO");
    row("cmb_TDO", "QComboBox", "TDO");
    row("Label5", "QLabel", "TCK");
    row("cmb_TCK", "QComboBox", "TCK");
    row("Label2", "QLabel", "TDI");
    row("cmb_TDI", "QComboBox", "TDI");
    row("cmd_FTSetup", "QPushButton", "Start BitBang Mode");
    row("sh_ISPState", "tavrin::ui::IndicatorShape", "");
    row("Line4", "QFrame", "");
    row("Drive1", "tavrin::ui::DriveList", "");
    row("Dir1", "tavrin::ui::FolderList", "");
    row("File1", "tavrin::ui::FileList", "");
    row("txt_filepath", "QLineEdit", "file");
    row("cmd_Process", "QPushButton", "Process SVF File");
    row("chk_SingleStep", "QCheckBox", "Single Step");
    row("chk_StandardSvf", "QCheckBox", "Standard SVF");
    row("cmd_step", "QPushButton", "Step");
    row("cmd_breakstep", "QPushButton", "Break");
    row("txt_log", "tavrin::ui::LogPane", "Merrow Log...\r\n");
    row("lbl_Verdict", "QLabel", "");
    row("pb1", "QProgressBar", "");
    row("lbl_PathHint", "QLabel", "");
  }

  // Design-time contents, before start-up.
  void controls() {
    QFETCH(QString, kind);
    QFETCH(QString, shown);
    UiRig rig;
    const QList<QWidget*> found = rig.window->findChildren<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(found.size(), 1);
    const QWidget* w = found.front();
    QVERIFY2(IsKind(w, kind), w->metaObject()->className());
    if (!shown.isEmpty()) QCOMPARE(Shown(w), shown);
  }

  void controlsAndTheCaption() {
    UiRig rig;
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tavrin Player"));
    QCOMPARE(rig.window->size(), QSize(768, 488));
    QSet<QString> names;
    for (const QWidget* w : rig.window->findChildren<QWidget*>()) {
      for (const char* n : kControls) {
        if (w->objectName() == QLatin1String(n)) names.insert(w->objectName());
      }
    }
    QCOMPARE(names.size(), static_cast<qsizetype>(std::size(kControls)));
    QVERIFY(rig.Get<QLabel>("Label12")->font().bold());
    QVERIFY(!rig.Get<QLabel>("Label3")->font().bold());
    QCOMPARE(rig.Get<QFrame>("Line4")->frameShape(), QFrame::VLine);
    for (const char* shape : {"sh_DevState", "sh_ISPState"}) {
      const auto* s = rig.Get<IndicatorShape>(shape);
      QVERIFY(s != nullptr);
      QCOMPARE(s->Colour(), 255U);
      QCOMPARE(s->palette().color(QPalette::Window), QColor(255, 0, 0));
      QVERIFY(s->autoFillBackground());
    }
    QVERIFY(rig.Get<QCheckBox>("chk_MaxClk")->isChecked());
    QVERIFY(rig.Get<QCheckBox>("chk_SingleStep")->isChecked());
    QVERIFY(!rig.Get<QCheckBox>("chk_StandardSvf")->isChecked());
    QCOMPARE(rig.Get<QProgressBar>("pb1")->minimum(), 0);
    QCOMPARE(rig.Get<QProgressBar>("pb1")->maximum(), 100);
    for (const char* box : {"cmb_Interfaces", "cmb_TMS", "cmb_TDO", "cmb_TCK", "cmb_TDI"}) {
      QVERIFY2(rig.Get<QComboBox>(box)->isEditable(), box);
    }
    QVERIFY(rig.Get<QComboBox>("Drive1")->count() >= 1);
    QCOMPARE(rig.Get<QComboBox>("Drive1")->itemText(0), QStringLiteral("/"));
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), QDir::cleanPath(QDir::currentPath()));
    QCOMPARE(rig.window->LogText(), std::string("Merrow Log...\r\n"));
    QVERIFY(!rig.window->Loaded());
  }

  // `tavrin FILE.svf`: the file chosen and its folder shown, as a click
  // would; a missing file or a folder is not chosen.
  void chooseFileAtStartUp() {
    UiRig rig;
    QTemporaryDir dir;
    const QString folder = QDir::cleanPath(dir.path());
    QVERIFY(WriteFile(folder + QStringLiteral("/board.svf"), "STATE RESET;\n"));
    QVERIFY(rig.window->ChooseFile((folder + QStringLiteral("/board.svf")).toStdString()));
    QCOMPARE(rig.window->SelectedFileName(), std::string("board.svf"));
    QCOMPARE(rig.window->FilePathText(), (folder + QStringLiteral("/board.svf")).toStdString());
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), folder);
    QVERIFY(!rig.window->ChooseFile((folder + QStringLiteral("/none.svf")).toStdString()));
    QVERIFY(!rig.window->ChooseFile(folder.toStdString()));
  }

  // The lists start where the last file was played, kept between sessions;
  // a folder gone since leaves them where they are.
  void startUpFolderIsTheLastPlayed() {
    QTemporaryDir dir;
    const QString played = QDir::cleanPath(dir.path()) + QStringLiteral("/played");
    QVERIFY(QDir().mkpath(played));
    QVERIFY(WriteFile(played + QStringLiteral("/a.svf"), "STATE RESET;\n"));
    const QString conf = dir.path() + QStringLiteral("/tavrin.conf");
    auto settings = [&] { return std::make_unique<QSettings>(conf, QSettings::IniFormat); };
    {
      UiRig rig;
      rig.window->UseSettings(settings());
      rig.window->Load();
      QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), QDir::cleanPath(QDir::currentPath()));
      QVERIFY(rig.window->ChooseFile((played + QStringLiteral("/a.svf")).toStdString()));
      rig.Get<QCheckBox>("chk_SingleStep")->setChecked(false);
      QTest::mouseClick(rig.Get<QPushButton>("cmd_Process"), Qt::LeftButton);
    }
    {
      UiRig rig;
      rig.window->UseSettings(settings());
      rig.window->Load();
      QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), played);
    }
    QVERIFY(QDir(played).removeRecursively());
    UiRig rig;
    rig.window->UseSettings(settings());
    rig.window->Load();
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), QDir::cleanPath(QDir::currentPath()));
  }

  void startUp() {
    UiRig rig;
    rig.window->Load();
    const char* const pin_boxes[] = {"cmb_TMS", "cmb_TDO", "cmb_TDI", "cmb_TCK"};
    QStringList pins;
    for (const char* e : adapter::kPinEntries) pins << QString::fromLatin1(e);
    for (const char* box : pin_boxes) QCOMPARE(Entries(rig.Get<QComboBox>(box)), pins);
    QCOMPARE(rig.Get<QComboBox>("cmb_TCK")->currentText(), QStringLiteral("D7 - RI"));
    QCOMPARE(rig.Get<QComboBox>("cmb_TMS")->currentText(), QStringLiteral("D1 - RxD"));
    QCOMPARE(rig.Get<QComboBox>("cmb_TDI")->currentText(), QStringLiteral("D5 - DSR"));
    QCOMPARE(rig.Get<QComboBox>("cmb_TDO")->currentText(), QStringLiteral("D6 - DCD"));
    QCOMPARE(rig.window->PinListIndex(Signal::TCK), 7);
    QCOMPARE(rig.window->PinListIndex(Signal::TMS), 1);
    QCOMPARE(rig.window->PinListIndex(Signal::TDI), 5);
    QCOMPARE(rig.window->PinListIndex(Signal::TDO), 6);

    const auto* bar = rig.Get<QProgressBar>("pb1");
    QCOMPARE(bar->value(), 0);  // empty until a file is played
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(rig.Get<QCheckBox>("chk_SingleStep")->isChecked());
    QVERIFY(rig.Get<QCheckBox>("chk_MaxClk")->isChecked());
    QCOMPARE(rig.Get<QLineEdit>("txt_Baud")->text(), QStringLiteral("150000"));
    QCOMPARE(rig.window->LogText(), std::string("Merrow Log...\r\n"));

    // The lists start in the current folder.
    const QString here = QDir::cleanPath(QDir::currentPath());
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), here + QStringLiteral("/*.svf"));
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), here);
    QCOMPARE(rig.Get<FileList>("File1")->Path(), here);
    QCOMPARE(rig.Get<FileList>("File1")->FileName(), QString());

    // The first search found the fake's adapter and chose it; nothing opened.
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->count(), 1);
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->currentText(), QStringLiteral(" 0 - FT232R USB UART"));
    QVERIFY(rig.messages.empty());
    QVERIFY(!rig.chip.open);
    QCOMPARE(rig.Core().adapter.InterfaceOpen, kFalse);
    QCOMPARE(rig.Core().adapter.PortSetupValid, kFalse);
    QCOMPARE(rig.Core().interpreter.EndIrState, std::string("IDLE"));
    QCOMPARE(rig.Core().interpreter.EndDrState, std::string("IDLE"));
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), 255U);
  }

  // With no adapter the search's message comes before the window is shown,
  // and the window still opens.
  void startUpWithoutAdapter() {
    UiRig rig;
    rig.chip.descriptions.clear();
    rig.window->show();
    QCOMPARE(rig.messages.size(), std::size_t{1});
    QCOMPARE(rig.messages[0], std::string("No FTDI Devices Detected.\r\nPlease connect one.."));
    QCOMPARE(rig.shown_at_message[0], false);
    QVERIFY(rig.window->isVisible());
    QVERIFY(rig.window->Loaded());
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->count(), 0);
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->currentText(), QStringLiteral("No Interfaces yet.."));
    QCOMPARE(rig.Core().adapter.InterfaceOpen, kFalse);
    // Showing again does not load again.
    rig.window->hide();
    rig.window->show();
    QCOMPARE(rig.messages.size(), std::size_t{1});
  }

  void places() {
    UiRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    const QRect line = Area(rig, "Line4");
    const QRect log = Area(rig, "txt_log");
    const QRect bar = Area(rig, "pb1");
    for (const char* left : {"Label12", "cmd_Find", "cmb_Interfaces", "cmd_OpenInterface", "sh_DevState",
                             "cmd_CloseInterface", "txt_Baud", "chk_MaxClk", "Label1", "cmb_TMS", "cmb_TDO",
                             "cmb_TCK", "cmb_TDI", "cmd_FTSetup", "sh_ISPState"}) {
      QVERIFY2(Area(rig, left).right() < line.left(), left);
      QVERIFY2(Area(rig, left).bottom() < log.top(), left);
    }
    for (const char* right : {"Drive1", "Dir1", "File1", "txt_filepath", "cmd_Process", "chk_SingleStep",
                              "chk_StandardSvf", "cmd_step", "cmd_breakstep"}) {
      QVERIFY2(Area(rig, right).left() > line.right(), right);
      QVERIFY2(Area(rig, right).bottom() < log.top(), right);
    }
    // Rows of the left column, top to bottom.
    QVERIFY(Area(rig, "Label12").bottom() <= Area(rig, "cmd_Find").top());
    QVERIFY(Area(rig, "cmd_Find").bottom() <= Area(rig, "cmb_Interfaces").top());
    QVERIFY(Area(rig, "cmd_OpenInterface").right() < Area(rig, "sh_DevState").left());
    QVERIFY(Area(rig, "sh_DevState").right() < Area(rig, "cmd_CloseInterface").left());
    QVERIFY(Area(rig, "cmb_TMS").bottom() < Area(rig, "cmb_TCK").top());
    QVERIFY(Area(rig, "cmb_TMS").right() < Area(rig, "cmb_TDO").left());
    QVERIFY(Area(rig, "cmb_TCK").bottom() < Area(rig, "cmd_FTSetup").top());
    // The file area: the drive list above the folder list, the file list beside them.
    QVERIFY(Area(rig, "Drive1").bottom() < Area(rig, "Dir1").top());
    QVERIFY(Area(rig, "Dir1").right() < Area(rig, "File1").left());
    QVERIFY(Area(rig, "File1").bottom() < Area(rig, "txt_filepath").top());
    QVERIFY(Area(rig, "txt_filepath").right() < Area(rig, "cmd_Process").left());
    QVERIFY(Area(rig, "cmd_Process").bottom() < Area(rig, "cmd_step").top());
    // The log, the verdict and the bar across the whole width at the bottom.
    const QRect verdict = Area(rig, "lbl_Verdict");
    QVERIFY(log.width() > 700);
    QVERIFY(verdict.width() > 700);
    QVERIFY(bar.width() > 700);
    QVERIFY(log.bottom() < verdict.top());
    QVERIFY(verdict.bottom() < bar.top());
    QVERIFY(line.height() > Area(rig, "cmd_FTSetup").bottom() - Area(rig, "cmd_Find").top());
  }

  void focusOrder() {
    UiRig rig;
    rig.window->show();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QCOMPARE(FocusName(), QStringLiteral("cmd_Find"));
    QStringList seen{FocusName()};
    for (std::size_t i = 1; i <= std::size(kFocusOrder); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      seen << FocusName();
    }
    QStringList expected;
    for (const char* n : kFocusOrder) expected << QString::fromLatin1(n);
    expected << QStringLiteral("cmd_Find");  // and round again
    QCOMPARE(seen, expected);
  }

  // --- Bindings: an operator's action runs its procedure ---

  void findOpenSetUpClose() {
    UiRig rig;
    rig.window->show();
    QCOMPARE(rig.chip.CountCalls("FT_OpenEx"), 0);
    QTest::mouseClick(rig.Get<QPushButton>("cmd_Find"), Qt::LeftButton);
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->count(), 2);  // start-up's search and this one

    QTest::mouseClick(rig.Get<QPushButton>("cmd_OpenInterface"), Qt::LeftButton);
    QVERIFY(rig.chip.open);
    QCOMPARE(rig.Core().adapter.LastOpenedDescription(), std::string("FT232R USB UART"));
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), 65280U);
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->palette().color(QPalette::Window), QColor(0, 255, 0));

    QTest::mouseClick(rig.Get<QPushButton>("cmd_FTSetup"), Qt::LeftButton);
    QCOMPARE(rig.Core().adapter.PortSetupValid, kTrue);
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), 16711680U);
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->palette().color(QPalette::Window), QColor(0, 0, 255));
    // Direction mask of the default pins: TMS D1, TDI D5, TCK D7.
    bool mode_set = false;
    for (const auto& call : rig.chip.calls) {
      if (call.name == "FT_SetBitMode" && call.args == "162,4") mode_set = true;
    }
    QVERIFY2(mode_set, "no bit-bang mode with the mask 0xA2");

    QTest::mouseClick(rig.Get<QPushButton>("cmd_CloseInterface"), Qt::LeftButton);
    QVERIFY(!rig.chip.open);
    QCOMPARE(rig.Get<IndicatorShape>("sh_DevState")->Colour(), 255U);
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), 255U);  // the set-up went with the adapter
    QCOMPARE(rig.Core().adapter.PortSetupValid, kFalse);
    QVERIFY(rig.messages.empty());
  }

  void setUpWithoutOpenIsRefused() {
    UiRig rig;
    rig.window->show();
    QTest::mouseClick(rig.Get<QPushButton>("cmd_FTSetup"), Qt::LeftButton);
    QCOMPARE(rig.messages, std::vector<std::string>{adapter::kMsgOpenFirst});
    QCOMPARE(rig.Get<IndicatorShape>("sh_ISPState")->Colour(), 255U);
  }

  // Each indicator's tooltip says what its colours mean, and names no colour
  // it never takes.
  void indicatorToolTips_data() {
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QStringList>("meanings");
    QTest::addColumn<QString>("never");
    QTest::newRow("sh_DevState") << QStringLiteral("sh_DevState")
                                 << QStringList{QStringLiteral("red, none open"), QStringLiteral("green, open")}
                                 << QStringLiteral("blue");
    QTest::newRow("sh_ISPState") << QStringLiteral("sh_ISPState")
                                 << QStringList{QStringLiteral("red, not set up"), QStringLiteral("blue, set up")}
                                 << QStringLiteral("green");
  }
  void indicatorToolTips() {
    QFETCH(QString, shape);
    QFETCH(QStringList, meanings);
    QFETCH(QString, never);
    UiRig rig;
    const QString tip = rig.Get<IndicatorShape>(shape.toLatin1().constData())->toolTip();
    for (const QString& meaning : meanings) QVERIFY2(tip.contains(meaning), qPrintable(tip));
    QVERIFY2(!tip.contains(never), qPrintable(tip));
  }

  void pinChange_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("typed");
    QTest::addColumn<int>("index_after");
    const struct {
      const char* box;
      Signal signal;
      int before;
    } boxes[] = {{"cmb_TCK", Signal::TCK, 7}, {"cmb_TMS", Signal::TMS, 1}, {"cmb_TDI", Signal::TDI, 5},
                 {"cmb_TDO", Signal::TDO, 6}};
    for (const auto& b : boxes) {
      QTest::newRow(qPrintable(QString::fromLatin1(b.box) + QStringLiteral(" entry chosen")))
          << QString::fromLatin1(b.box) << static_cast<int>(b.signal) << false << b.before - 1;
      QTest::newRow(qPrintable(QString::fromLatin1(b.box) + QStringLiteral(" text typed")))
          << QString::fromLatin1(b.box) << static_cast<int>(b.signal) << true << -1;
    }
  }

  // Choosing another entry or typing marks the set-up outdated; a typed text
  // that is no entry gives the list index -1, and the next scan refuses.
  void pinChange() {
    QFETCH(QString, box);
    QFETCH(int, signal);
    QFETCH(bool, typed);
    QFETCH(int, index_after);
    UiRig rig;
    rig.window->show();
    rig.window->Core().cmd_OpenInterface_Click();
    rig.window->Core().cmd_FTSetup_Click();
    QCOMPARE(rig.Core().adapter.PortSetupValid, kTrue);
    auto* combo = rig.window->findChild<QComboBox*>(box);
    QVERIFY(combo != nullptr);
    if (typed) {
      combo->lineEdit()->selectAll();
      QTest::keyClicks(combo->lineEdit(), QStringLiteral("D9 - none"));
    } else {
      QTest::keyClick(combo, Qt::Key_Up);
    }
    QCOMPARE(rig.Core().adapter.PortSetupValid, kFalse);
    QCOMPARE(rig.window->PinListIndex(static_cast<Signal>(signal)), index_after);
    QCOMPARE(rig.Get<QComboBox>("cmb_Interfaces")->count(), 1);  // nothing else ran
    QVERIFY(rig.messages.empty());
  }

  // The typed text of the chosen entry is that entry again.
  void pinTextRetyped() {
    UiRig rig;
    rig.window->Load();
    auto* combo = rig.Get<QComboBox>("cmb_TDO");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("D6 - DC"));
    QCOMPARE(rig.window->PinListIndex(Signal::TDO), -1);
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("D"));
    QCOMPARE(combo->currentText(), QStringLiteral("D6 - DCD"));
    QCOMPARE(rig.window->PinListIndex(Signal::TDO), 6);
    QCOMPARE(combo->count(), 8);
  }

  void baudChange() {
    UiRig rig;
    rig.window->show();
    rig.window->Core().cmd_OpenInterface_Click();
    rig.window->Core().cmd_FTSetup_Click();
    QTest::keyClick(rig.Get<QLineEdit>("txt_Baud"), Qt::Key_0);
    QCOMPARE(rig.Get<QLineEdit>("txt_Baud")->text(), QStringLiteral("1500000"));
    QCOMPARE(rig.Core().adapter.PortSetupValid, kFalse);
    QVERIFY(!rig.Get<QCheckBox>("chk_MaxClk")->isChecked());
    // The set-up now uses the typed rate.
    rig.chip.ClearRecord();
    QTest::mouseClick(rig.Get<QPushButton>("cmd_FTSetup"), Qt::LeftButton);
    QCOMPARE(rig.chip.CountCalls("FT_SetBaudRate"), 1);
    QCOMPARE(rig.chip.CountCalls("FT_SetDivisor"), 0);
  }

  // Check boxes, the adapter list and the path box have no procedures.
  void unboundControls() {
    UiRig rig;
    rig.window->show();
    rig.window->Core().cmd_OpenInterface_Click();
    rig.window->Core().cmd_FTSetup_Click();
    rig.chip.ClearRecord();
    QTest::mouseClick(rig.Get<QCheckBox>("chk_MaxClk"), Qt::LeftButton);
    QVERIFY(!rig.Get<QCheckBox>("chk_MaxClk")->isChecked());
    QTest::mouseClick(rig.Get<QCheckBox>("chk_SingleStep"), Qt::LeftButton);
    QVERIFY(!rig.Get<QCheckBox>("chk_SingleStep")->isChecked());
    QCOMPARE(rig.window->SingleStepValue(), 0);
    QTest::mouseClick(rig.Get<QCheckBox>("chk_StandardSvf"), Qt::LeftButton);
    QCOMPARE(rig.window->StandardSvfValue(), 1);
    QTest::keyClicks(rig.Get<QComboBox>("cmb_Interfaces")->lineEdit(), QStringLiteral("x"));
    QTest::keyClicks(rig.Get<QLineEdit>("txt_filepath"), QStringLiteral("y"));
    QCOMPARE(rig.Core().adapter.PortSetupValid, kTrue);
    QVERIFY(rig.chip.calls.empty());
    QVERIFY(rig.messages.empty());
  }

  void stepAndBreak() {
    UiRig rig;
    rig.window->show();
    // Step while nothing waits changes nothing.
    QTest::mouseClick(rig.Get<QPushButton>("cmd_step"), Qt::LeftButton);
    QCOMPARE(rig.Core().flags.AwaitingStep, kFalse);
    rig.Core().flags.AwaitingStep = kTrue;
    QTest::mouseClick(rig.Get<QPushButton>("cmd_step"), Qt::LeftButton);
    QCOMPARE(rig.Core().flags.AwaitingStep, kFalse);
    QCOMPARE(rig.Core().flags.StopRequested, kFalse);
    QTest::mouseClick(rig.Get<QPushButton>("cmd_breakstep"), Qt::LeftButton);
    QCOMPARE(rig.Core().flags.StopRequested, kTrue);
    QVERIFY(rig.messages.empty());
  }

  // Closing with no adapter open only sets StopRequested.
  void closeWhileIdle() {
    UiRig rig;
    rig.window->show();
    QVERIFY(rig.window->close());
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.Core().flags.StopRequested, kTrue);
    QVERIFY(rig.Core().UnloadDone());
    QCOMPARE(rig.chip.CountCalls("FT_Close"), 0);
    QVERIFY(rig.messages.empty());
  }

  void closeShutsTheAdapterDown() {
    UiRig rig;
    rig.window->show();
    rig.window->Core().cmd_OpenInterface_Click();
    rig.window->Core().cmd_FTSetup_Click();
    QVERIFY(rig.window->close());
    QCOMPARE(rig.chip.CountCalls("FT_Close"), 1);
    QVERIFY(!rig.chip.open);
    // A second close does not unload again.
    rig.window->show();
    QVERIFY(rig.window->close());
    QCOMPARE(rig.chip.CountCalls("FT_Close"), 1);
  }
};

std::unique_ptr<QObject> MakeWindowTest() { return std::make_unique<WindowTest>(); }

}  // namespace tavrin::ui::testing

#include "window_test.moc"
