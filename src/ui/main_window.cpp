// SPDX-License-Identifier: Apache-2.0

#include "ui/main_window.h"

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/file_chooser.h"
#include "ui/indicator.h"
#include "player/verdict.h"
#include "ui/log_pane.h"

namespace tavrin::ui {

namespace {

QString FromBytes(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) { return text.toStdString(); }

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* Button(const char* name, const char* caption) {
  return Named(new QPushButton(QString::fromLatin1(caption)), name);
}

QLabel* Label(const char* name, const char* caption) {
  return Named(new QLabel(QString::fromLatin1(caption)), name);
}

QComboBox* EditableCombo(const char* name, const char* text) {
  auto* box = Named(new QComboBox, name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setCompleter(nullptr);
  box->setEditText(QString::fromLatin1(text));
  return box;
}

// The verdict's colours: a pass, a stop by the operator, a failure.
constexpr QRgb kPassColour = 0x008000;
constexpr QRgb kStopColour = 0xAA5F00;
constexpr QRgb kFailColour = 0xCC0000;

// The last lines of the log (which ends in CR LF), oldest first, each cut
// to max_chars: where a failure without a message says why.
std::vector<std::string> LastLines(std::string_view log, std::size_t count, std::size_t max_chars) {
  std::vector<std::string> lines;
  while (lines.size() < count && !log.empty()) {
    if (log.back() == '\n') log.remove_suffix(1);
    if (!log.empty() && log.back() == '\r') log.remove_suffix(1);
    const std::size_t newline = log.rfind('\n');
    const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
    lines.insert(lines.begin(), std::string(log.substr(start, max_chars)));
    log.remove_suffix(log.size() - start);
  }
  return lines;
}

}  // namespace

MainWindow::MainWindow(adapter::D2xx& chip, Clock& clock, QWidget* parent)
    : QWidget(parent), clock_(clock), player_(*this, chip, clock) {
  Build();
  Bind();
  wake_.setSingleShot(true);
  since_events_.start();
}

MainWindow::~MainWindow() = default;

void MainWindow::Build() {
  setObjectName(QStringLiteral("Tavrin"));
  setWindowTitle(QStringLiteral("Tavrin Player"));

  // --- Left column: Manual Functions ---
  auto* Label12 = Label("Label12", "Manual Functions");
  QFont bold = Label12->font();
  bold.setBold(true);
  Label12->setFont(bold);
  cmd_Find_ = Button("cmd_Find", "Find All FTDI Interfaces");
  cmb_Interfaces_ = EditableCombo("cmb_Interfaces", "No Interfaces yet..");
  cmd_OpenInterface_ = Button("cmd_OpenInterface", "Open Interface");
  sh_DevState_ = Named(new IndicatorShape, "sh_DevState");
  sh_DevState_->setFixedSize(28, 18);
  sh_DevState_->setToolTip(QStringLiteral("Adapter: red, none open (closed, or not opened yet); green, open."));
  cmd_CloseInterface_ = Button("cmd_CloseInterface", "Close Interface");
  auto* Label3 = Label("Label3", "Baud Register");
  txt_Baud_ = Named(new QLineEdit(QStringLiteral("150000")), "txt_Baud");
  txt_Baud_->setMaximumWidth(90);
  chk_MaxClk_ = Named(new QCheckBox(QStringLiteral("Max CLK")), "chk_MaxClk");
  chk_MaxClk_->setChecked(true);
  auto* Label1 = Label("Label1", "ISP Setup assuming SparkFun FT232RL");
  auto* Label6 = Label("Label6", "TMS");
  cmb_TMS_ = EditableCombo("cmb_TMS", "TMS");
  auto* Label4 = Label("Label4", "TDO");
  cmb_TDO_ = EditableCombo("cmb_TDO", "TDO");
  auto* Label5 = Label("Label5", "TCK");
  cmb_TCK_ = EditableCombo("cmb_TCK", "TCK");
  auto* Label2 = Label("Label2", "TDI");
  cmb_TDI_ = EditableCombo("cmb_TDI", "TDI");
  cmd_FTSetup_ = Button("cmd_FTSetup", "Start BitBang Mode");
  sh_ISPState_ = Named(new IndicatorShape, "sh_ISPState");
  sh_ISPState_->setFixedSize(28, 18);
  sh_ISPState_->setToolTip(
      QStringLiteral("Bit-bang mode: red, not set up (not yet, or the adapter has been closed); blue, set up by "
                     "\"Start BitBang Mode\"."));

  auto* left = new QVBoxLayout;
  left->setSpacing(5);
  left->addWidget(Label12);
  left->addWidget(cmd_Find_);
  left->addWidget(cmb_Interfaces_);
  auto* row3 = new QHBoxLayout;
  row3->addWidget(cmd_OpenInterface_, 1);
  row3->addWidget(sh_DevState_);
  row3->addWidget(cmd_CloseInterface_, 1);
  left->addLayout(row3);
  auto* row4 = new QHBoxLayout;
  row4->addWidget(Label3);
  row4->addWidget(txt_Baud_);
  row4->addWidget(chk_MaxClk_);
  left->addLayout(row4);
  left->addWidget(Label1);
  auto* pins = new QGridLayout;
  pins->addWidget(Label6, 0, 0);
  pins->addWidget(cmb_TMS_, 0, 1);
  pins->addWidget(Label4, 0, 2);
  pins->addWidget(cmb_TDO_, 0, 3);
  pins->addWidget(Label5, 1, 0);
  pins->addWidget(cmb_TCK_, 1, 1);
  pins->addWidget(Label2, 1, 2);
  pins->addWidget(cmb_TDI_, 1, 3);
  pins->setColumnStretch(1, 1);
  pins->setColumnStretch(3, 1);
  left->addLayout(pins);
  auto* row8 = new QHBoxLayout;
  row8->addWidget(cmd_FTSetup_, 1);
  row8->addStretch(0);
  row8->addWidget(sh_ISPState_);
  row8->addSpacing(12);
  left->addLayout(row8);
  left->addStretch(1);

  auto* Line4 = Named(new QFrame, "Line4");
  Line4->setFrameShape(QFrame::VLine);
  Line4->setFrameShadow(QFrame::Sunken);

  // --- File and run area ---
  Drive1_ = Named(new DriveList, "Drive1");
  Dir1_ = Named(new FolderList, "Dir1");
  File1_ = Named(new FileList, "File1");
  txt_filepath_ = Named(new QLineEdit(QStringLiteral("file")), "txt_filepath");
  cmd_Process_ = Button("cmd_Process", "Process SVF File");
  chk_SingleStep_ = Named(new QCheckBox(QStringLiteral("Single Step")), "chk_SingleStep");
  chk_SingleStep_->setChecked(true);
  chk_StandardSvf_ = Named(new QCheckBox(QStringLiteral("Standard SVF")), "chk_StandardSvf");
  chk_StandardSvf_->setChecked(false);
  chk_StandardSvf_->setToolTip(
      QStringLiteral("Read files as standard SVF (revision E): \"!\" comments, header and trailer bits, "
                     "remembered values, RUNTEST clocks. Read when a run starts."));
  cmd_step_ = Button("cmd_step", "Step");
  cmd_breakstep_ = Button("cmd_breakstep", "Break");
  // Beside the path box: says at once that a typed path does not exist.
  lbl_PathHint_ = Named(new QLabel, "lbl_PathHint");
  QPalette hint_palette = lbl_PathHint_->palette();
  hint_palette.setColor(QPalette::WindowText, QColor::fromRgb(kFailColour));
  lbl_PathHint_->setPalette(hint_palette);
  txt_filepath_->setToolTip(
      QStringLiteral("The file that plays. Type a file, a folder or a pattern such as *.svf, then Enter: the lists "
                     "follow it."));
  chooser_ = std::make_unique<FileChooser>(*Drive1_, *Dir1_, *File1_, *txt_filepath_, *lbl_PathHint_);

  auto* lists = new QGridLayout;
  lists->addWidget(Drive1_, 0, 0);
  lists->addWidget(Dir1_, 1, 0);
  lists->addWidget(File1_, 0, 1, 2, 1);
  lists->setColumnStretch(0, 1);
  lists->setColumnStretch(1, 1);
  lists->setRowStretch(1, 1);
  auto* path_row = new QHBoxLayout;
  path_row->addWidget(txt_filepath_, 1);
  path_row->addWidget(lbl_PathHint_);
  path_row->addWidget(cmd_Process_);
  auto* run_row = new QHBoxLayout;
  run_row->addWidget(chk_SingleStep_);
  run_row->addWidget(chk_StandardSvf_);
  run_row->addStretch(1);
  run_row->addWidget(cmd_step_);
  run_row->addWidget(cmd_breakstep_);
  auto* right = new QVBoxLayout;
  right->addLayout(lists, 1);
  right->addLayout(path_row);
  right->addLayout(run_row);

  auto* top = new QHBoxLayout;
  top->addLayout(left, 0);
  top->addWidget(Line4);
  top->addLayout(right, 1);

  // --- Log, verdict and progress across the bottom ---
  txt_log_ = Named(new LogPane, "txt_log");
  // How the last run ended, right above the bar the operator watched.
  lbl_Verdict_ = Named(new QLabel, "lbl_Verdict");
  lbl_Verdict_->setWordWrap(true);
  lbl_Verdict_->setFont(bold);
  lbl_Verdict_->setMinimumHeight(lbl_Verdict_->fontMetrics().height());
  lbl_Verdict_->setToolTip(
      QStringLiteral("How the last run ended, as tavrin-play's summary says it: green, the file played to its end; "
                     "red, a check or the run failed; amber, stopped by the operator. The log ends with it too."));
  pb1_ = Named(new QProgressBar, "pb1");
  pb1_->setRange(0, 100);
  pb1_->setValue(0);
  pb1_->setTextVisible(false);
  pb1_->setFixedHeight(16);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(8, 8, 8, 8);
  root->addLayout(top, 3);
  root->addWidget(txt_log_, 2);
  root->addWidget(lbl_Verdict_);
  root->addWidget(pb1_);
  resize(768, 488);

  // Keyboard focus order; nothing else takes the focus.
  QWidget* const order[] = {cmd_Find_,   cmb_Interfaces_, cmd_OpenInterface_, cmd_CloseInterface_, cmd_FTSetup_,
                            txt_Baud_,   chk_MaxClk_,     cmb_TMS_,           cmb_TDO_,            cmb_TDI_,
                            cmb_TCK_,    Drive1_,         Dir1_,              File1_,              txt_filepath_,
                            txt_log_,    cmd_Process_,    chk_SingleStep_,    chk_StandardSvf_,   cmd_step_,
                            cmd_breakstep_};
  for (QWidget* w : order) w->setFocusPolicy(Qt::StrongFocus);
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  cmd_Find_->setFocus();
}

void MainWindow::Bind() {
  connect(cmd_Find_, &QPushButton::clicked, this, [this] { player_.cmd_Find_Click(); });
  connect(cmd_OpenInterface_, &QPushButton::clicked, this, [this] { player_.cmd_OpenInterface_Click(); });
  connect(cmd_CloseInterface_, &QPushButton::clicked, this, [this] { CloseClicked(); });
  connect(cmd_FTSetup_, &QPushButton::clicked, this, [this] { player_.cmd_FTSetup_Click(); });
  connect(cmd_Process_, &QPushButton::clicked, this, [this] { ProcessClicked(); });
  connect(cmd_step_, &QPushButton::clicked, this, [this] { player_.cmd_step_Click(); });
  connect(cmd_breakstep_, &QPushButton::clicked, this, [this] { player_.cmd_breakstep_Click(); });
  connect(txt_Baud_, &QLineEdit::textChanged, this, [this] { player_.txt_Baud_Change(); });

  // A pin box changes when another entry is chosen or its text is edited.
  const std::pair<QComboBox*, void (player::Player::*)()> pin_boxes[] = {
      {cmb_TCK_, &player::Player::cmb_TCK_Change},
      {cmb_TMS_, &player::Player::cmb_TMS_Change},
      {cmb_TDI_, &player::Player::cmb_TDI_Change},
      {cmb_TDO_, &player::Player::cmb_TDO_Change},
  };
  for (const auto& [box, procedure] : pin_boxes) {
    // First forget what the boxes held, then run the procedure.
    auto forget = [this] { ForgetPinIndexes(); };
    connect(box, &QComboBox::currentIndexChanged, this, forget);
    connect(box, &QComboBox::editTextChanged, this, forget);
    connect(box, &QComboBox::currentTextChanged, this, forget);
    connect(box->model(), &QAbstractItemModel::rowsInserted, this, forget);
    connect(box->model(), &QAbstractItemModel::rowsRemoved, this, forget);
    connect(box->model(), &QAbstractItemModel::dataChanged, this, forget);
    connect(box->model(), &QAbstractItemModel::modelReset, this, forget);
    auto run = [this, proc = procedure] { (player_.*proc)(); };
    connect(box, &QComboBox::currentIndexChanged, this, run);
    connect(box, &QComboBox::editTextChanged, this, run);
  }
}

void MainWindow::Load() {
  if (loaded_) return;
  loaded_ = true;
  player_.Form_Load();
  EmptyBar();  // nothing played yet
  // The lists start where the last file was played, when that folder is
  // still there; else where they are (the current folder).
  if (settings_) {
    const QString folder = settings_->value(QStringLiteral("files/last_folder")).toString();
    if (!folder.isEmpty() && Dir1_->SetPath(folder)) SetFilePathText(DirPath() + "/*.svf");
  }
}

void MainWindow::UseSettings(std::unique_ptr<QSettings> settings) { settings_ = std::move(settings); }

std::string MainWindow::LogText() const { return txt_log_->Text(); }
std::string MainWindow::VerdictText() const { return ToBytes(lbl_Verdict_->text()); }

void MainWindow::EmptyBar() {
  progress_max_ = 100;
  progress_value_ = 0;
  progress_pending_ = false;
  pb1_->setRange(0, progress_max_);
  pb1_->setValue(0);
  SetTimeLeft("");
  pb1_->setTextVisible(false);
}

void MainWindow::SetTimeLeft(std::string_view text) {
  // The share of the work done, and during a run the time left once it
  // can be told.
  pb1_->setFormat(text.empty() ? QStringLiteral("%p%") : QStringLiteral("%p%, ") + FromBytes(text));
}

QString MainWindow::ProgressText() const { return pb1_->isTextVisible() ? pb1_->text() : QString(); }

void MainWindow::CloseClicked() {
  player_.cmd_CloseInterface_Click();
  // During a run the adapter closes once the run has returned.
  if (player_.Running()) {
    empty_bar_after_run_ = true;
  } else {
    EmptyBar();
  }
}

void MainWindow::ShowVerdict(std::uint64_t started_us) {
  const double seconds = static_cast<double>(clock_.NowMicros() - started_us) / 1e6;
  constexpr std::size_t kReasonLines = 4;
  constexpr std::size_t kReasonChars = 300;
  const std::string file = std::filesystem::path(FilePathText()).filename().string();
  const auto facts = player::FactsOfLastRun(player_, file, seconds, run_messages_,
                                            LastLines(txt_log_->Text(), kReasonLines, kReasonChars));
  run_messages_.clear();
  std::vector<std::string> rehearsal;
  std::size_t refusals = 0;
  std::string state_error;
  if (rehearsal_hook) rehearsal = rehearsal_hook(&refusals, &state_error);
  if (!facts) return;  // refused, or the file unusable: the message said why
  for (const auto& l : player::RehearsalLines(rehearsal)) player_.log.AppendLog(l);
  if (refusals != 0) player_.log.AppendLog(player::RefusalLine(refusals));
  if (!state_error.empty()) player_.log.AppendLog(state_error);

  // The run has left the bar full when it reached the end of the file, and
  // at the work before the statement it stopped at otherwise; a file with
  // no work, shown full, is empty again after a failure.
  if (facts->end != player::RunFacts::End::Completed && progress_max_ <= 0) pb1_->setValue(pb1_->minimum());
  const std::string line = player::SummaryLine(*facts);
  player_.log.AppendLog(line);
  const QRgb colour = facts->end == player::RunFacts::End::Completed  ? kPassColour
                        : facts->end == player::RunFacts::End::Operator ? kStopColour
                                                                         : kFailColour;
  QPalette palette = lbl_Verdict_->palette();
  palette.setColor(QPalette::WindowText, QColor::fromRgb(colour));
  lbl_Verdict_->setPalette(palette);
  lbl_Verdict_->setText(FromBytes(facts->looks_standard ? line + "\n" + svf::kStandardSvfHint : line));
}

void MainWindow::ProcessClicked() {
  if (player_.Running()) {
    player_.cmd_Process_Click();  // turned away by the run underneath
    return;
  }
  // A typed text is used as typed: the lists follow it, and a folder or a
  // pattern chooses no file.
  (void)chooser_->Apply();
  run_messages_.clear();
  lbl_Verdict_->clear();
  EmptyBar();
  if (settings_ && !txt_filepath_->text().isEmpty()) {
    settings_->setValue(QStringLiteral("files/last_folder"), QFileInfo(txt_filepath_->text()).absolutePath());
    settings_->sync();
  }
  const std::uint64_t started = clock_.NowMicros();
  player_.cmd_Process_Click();
  ShowVerdict(started);
  if (empty_bar_after_run_) {
    empty_bar_after_run_ = false;
    EmptyBar();
  }
  ShowProgress();
  // Closed while the run was going on: the player has now shut the adapter
  // down, and the window can go.
  if (!player_.Running() && close_when_idle_ && player_.UnloadDone()) close();
}

void MainWindow::setVisible(bool visible) {
  if (visible && !loaded_) Load();
  QWidget::setVisible(visible);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!unloaded_) {
    unloaded_ = true;
    player_.Form_Unload();
  }
  if (player_.UnloadDone()) {
    close_when_idle_ = false;
    event->accept();
    return;
  }
  // A run is active underneath: it stops at its next check, and the window
  // closes once it has returned.
  close_when_idle_ = true;
  event->ignore();
}

// --- The Window seam ---

QComboBox* MainWindow::PinBox(Signal signal) const {
  switch (signal) {
    case Signal::TCK:
      return cmb_TCK_;
    case Signal::TMS:
      return cmb_TMS_;
    case Signal::TDI:
      return cmb_TDI_;
    case Signal::TDO:
      return cmb_TDO_;
  }
  return cmb_TCK_;
}

void MainWindow::AddPinEntry(Signal signal, const std::string& text) {
  ForgetPinIndexes();
  QComboBox* box = PinBox(signal);
  const QSignalBlocker block(box);
  // Adding to an empty list selects nothing: the box keeps showing its text.
  const bool first = box->count() == 0;
  const QString shown = box->currentText();
  box->addItem(FromBytes(text));
  if (first) {
    box->setCurrentIndex(-1);
    box->setEditText(shown);
  }
}

void MainWindow::SetPinListIndex(Signal signal, int index) {
  ForgetPinIndexes();
  QComboBox* box = PinBox(signal);
  if (index < -1 || index >= box->count()) return;
  box->setCurrentIndex(index);
  if (index >= 0) box->setEditText(box->itemText(index));
}

int MainWindow::PinListIndex(Signal signal) const {
  const auto slot = static_cast<std::size_t>(signal);
  if (slot < pin_index_.size() && pin_index_known_[slot]) return pin_index_[slot];
  const QComboBox* box = PinBox(signal);
  int index = box->currentIndex();
  if (index >= 0 && box->currentText() != box->itemText(index)) index = -1;
  if (slot < pin_index_.size()) {
    pin_index_[slot] = index;
    pin_index_known_[slot] = true;
  }
  return index;
}

std::string MainWindow::BaudText() const { return ToBytes(txt_Baud_->text()); }
int MainWindow::MaxClkValue() const { return chk_MaxClk_->isChecked() ? 1 : 0; }
void MainWindow::SetMaxClkValue(int value) { chk_MaxClk_->setChecked(value != 0); }
int MainWindow::SingleStepValue() const { return chk_SingleStep_->isChecked() ? 1 : 0; }
int MainWindow::StandardSvfValue() const { return chk_StandardSvf_->isChecked() ? 1 : 0; }

void MainWindow::AddInterfaceEntry(const std::string& text) {
  const QSignalBlocker block(cmb_Interfaces_);
  const bool first = cmb_Interfaces_->count() == 0;
  const QString shown = cmb_Interfaces_->currentText();
  cmb_Interfaces_->addItem(FromBytes(text));
  if (first) {
    cmb_Interfaces_->setCurrentIndex(-1);
    cmb_Interfaces_->setEditText(shown);
  }
}

int MainWindow::InterfaceEntryCount() const { return cmb_Interfaces_->count(); }

void MainWindow::SelectInterfaceEntry(int index) {
  if (index < 0 || index >= cmb_Interfaces_->count()) return;
  cmb_Interfaces_->setCurrentIndex(index);
  cmb_Interfaces_->setEditText(cmb_Interfaces_->itemText(index));
}

std::string MainWindow::InterfaceText() const { return ToBytes(cmb_Interfaces_->currentText()); }

void MainWindow::SetDevStateColour(std::uint32_t colour) { sh_DevState_->SetColour(colour); }
void MainWindow::SetIspStateColour(std::uint32_t colour) { sh_ISPState_->SetColour(colour); }

std::string MainWindow::SelectedFileName() const { return ToBytes(chooser_->FileName()); }
std::string MainWindow::FilePathText() const { return ToBytes(txt_filepath_->text()); }
void MainWindow::SetFilePathText(const std::string& text) { txt_filepath_->setText(FromBytes(text)); }
std::string MainWindow::DirPath() const { return ToBytes(Dir1_->Path()); }

bool MainWindow::ChooseFile(const std::string& path) {
  const QFileInfo info(FromBytes(path));
  if (!info.isFile() || !Dir1_->SetPath(info.absolutePath())) return false;
  File1_->SetPath(Dir1_->Path());  // listed afresh, even in the same folder
  const QList<QListWidgetItem*> found = File1_->findItems(info.fileName(), Qt::MatchExactly);
  if (found.isEmpty()) return false;
  File1_->setCurrentItem(found.front());
  txt_filepath_->setText(Dir1_->Path() + QLatin1Char('/') + info.fileName());
  return true;
}
void MainWindow::SetDirPath(const std::string& path) {
  // A folder that cannot be listed leaves the chooser where it is.
  (void)Dir1_->SetPath(FromBytes(path));
}

void MainWindow::SetProgressMax(int max) {
  progress_max_ = max;
  pb1_->setTextVisible(true);  // a run has begun
  // A file without lines has nothing left to do: the bar shows full.
  if (max <= 0) {
    pb1_->setRange(0, 1);
    pb1_->setValue(1);
  } else {
    pb1_->setRange(0, max);
  }
}

void MainWindow::SetProgressValue(int value) {
  if (progress_max_ <= 0) return;
  progress_value_ = std::clamp(value, 0, progress_max_);
  if (!player_.Running() || !pb1_->isVisible()) {
    ShowProgress();
    return;
  }
  if (progress_pending_) return;
  progress_pending_ = true;
  QTimer::singleShot(0, this, [this] { ShowProgress(); });
}

void MainWindow::ShowProgress() {
  progress_pending_ = false;
  if (progress_max_ > 0) pb1_->setValue(progress_value_);
}

void MainWindow::AppendLog(std::string_view text) { txt_log_->Append(text, true); }
void MainWindow::AppendLogNoBreak(std::string_view text) { txt_log_->Append(text, false); }
void MainWindow::ReplaceLog(std::string_view text) { txt_log_->Replace(text); }
void MainWindow::RepaintLog() { txt_log_->RepaintNow(); }

void MainWindow::ShowMessage(std::string_view text) {
  // A message during a run that does not end it (a click turned away) waits
  // for the operator beside the run; one that ends it is the run's reason,
  // and waits for OK as always.
  const bool beside_run = player_.Running() && player_.flags.StopRequested != kTrue;
  if (player_.Running() && !beside_run) run_messages_.emplace_back(text);
  if (message_hook) {
    message_hook(text);
    return;
  }
  QString shown = FromBytes(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (beside_run) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tavrin"), shown, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tavrin"), shown, QMessageBox::Ok,
                  isVisible() ? this : nullptr);
  box.exec();
}

void MainWindow::ProcessPendingEvents() {
  // The engine calls this once a block of clocks and the driver once a
  // statement: cheap calls, with the events handled every few milliseconds.
  if (events_hook) events_hook();
  if (QCoreApplication::instance() == nullptr) return;
  if (player_.flags.AwaitingStep == kTrue) {
    // The single-step wait: sleep until something happens (a click, a key,
    // a repaint), but never longer than one slice, so the driver looks at
    // its flags again.
    if (progress_pending_) ShowProgress();
    wake_.start(step_wait_slice_ms);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake_.stop();
  } else {
    if (since_events_.elapsed() < pump_interval_ms) return;
    QCoreApplication::processEvents();
  }
  ++event_passes_;
  since_events_.restart();
}

void MainWindow::ProcessPendingEventsNow() {
  // From the waits, every few milliseconds: no call count to wait for, only
  // the pump interval, so that the window repaints and answers throughout.
  if (events_hook) events_hook();
  if (QCoreApplication::instance() == nullptr) return;
  if (since_events_.elapsed() < pump_interval_ms) return;
  if (progress_pending_) ShowProgress();
  QCoreApplication::processEvents();
  ++event_passes_;
  since_events_.restart();
}

}  // namespace tavrin::ui
