// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QElapsedTimer>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "adapter/d2xx.h"
#include "common/clock.h"
#include "common/window.h"
#include "player/player.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tavrin::ui {

class DriveList;
class FileChooser;
class FileList;
class FolderList;
class IndicatorShape;
class LogPane;

// The operator's window, "Tavrin Player": the controls with their
// design-time contents, each bound event running its procedure of the
// player, and the Window seam the procedures read and write through.
class MainWindow final : public QWidget, public tavrin::Window {
 public:
  MainWindow(adapter::D2xx& chip, Clock& clock, QWidget* parent = nullptr);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Form_Load, once; showing the window runs it first if nobody has.
  void Load();
  [[nodiscard]] bool Loaded() const { return loaded_; }

  [[nodiscard]] player::Player& Core() { return player_; }
  // The log as the pane holds it, lines ending in CR LF.
  [[nodiscard]] std::string LogText() const;
  // How the last run ended, in the words of tavrin-play's summary line
  // (which also ends the log); empty before a run and after one that was
  // refused or could not open its file.
  [[nodiscard]] std::string VerdictText() const;

  // When set, message boxes are handed to this instead of being shown.
  std::function<void(std::string_view)> message_hook;
  // Runs every time a procedure lets the window process its pending events.
  std::function<void()> events_hook;
  // After a run: the modelled parts' accounts for the end of the log, the
  // steps they did not carry out, and what went wrong keeping their flash.
  std::function<std::vector<std::string>(std::size_t* refusals, std::string* state_error)> rehearsal_hook;

  // Milliseconds between two real event-processing passes during a scan
  // (each may redraw the log and the bar: 50 a second at most).
  int pump_interval_ms = 20;
  // The longest single wait for events during the single-step wait.
  int step_wait_slice_ms = 50;
  // Real event-processing passes so far.
  [[nodiscard]] long long EventPasses() const { return event_passes_; }

  // --- The Window seam ---
  void AddPinEntry(Signal signal, const std::string& text) override;
  void SetPinListIndex(Signal signal, int index) override;
  [[nodiscard]] int PinListIndex(Signal signal) const override;
  [[nodiscard]] std::string BaudText() const override;
  [[nodiscard]] int MaxClkValue() const override;
  void SetMaxClkValue(int value) override;
  [[nodiscard]] int SingleStepValue() const override;
  [[nodiscard]] int StandardSvfValue() const override;
  void AddInterfaceEntry(const std::string& text) override;
  [[nodiscard]] int InterfaceEntryCount() const override;
  void SelectInterfaceEntry(int index) override;
  [[nodiscard]] std::string InterfaceText() const override;
  void SetDevStateColour(std::uint32_t colour) override;
  void SetIspStateColour(std::uint32_t colour) override;
  [[nodiscard]] std::string SelectedFileName() const override;
  [[nodiscard]] std::string FilePathText() const override;
  void SetFilePathText(const std::string& text) override;
  [[nodiscard]] std::string DirPath() const override;
  void SetDirPath(const std::string& path) override;
  // The file chosen as a click in the lists would choose it, with its folder
  // shown: for `tavrin FILE.svf`. False when it is no file that the lists
  // show.
  bool ChooseFile(const std::string& path);
  // Where the folder of the last file played is kept between sessions
  // (none: not kept). Given before Load, which starts the lists there.
  void UseSettings(std::unique_ptr<QSettings> settings);
  void SetProgressMax(int max) override;
  void SetProgressValue(int value) override;
  void SetTimeLeft(std::string_view text) override;
  // What the bar says: the share of the work done and the time left; empty
  // while it shows no text (before a run, after Close Interface).
  [[nodiscard]] QString ProgressText() const;
  void AppendLog(std::string_view text) override;
  void AppendLogNoBreak(std::string_view text) override;
  void ReplaceLog(std::string_view text) override;
  void RepaintLog() override;
  void ShowMessage(std::string_view text) override;
  void ProcessPendingEvents() override;
  void ProcessPendingEventsNow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 public:
  // Showing the window runs Form_Load first if nobody has: the load's
  // message boxes come before the window.
  void setVisible(bool visible) override;

 private:
  void Build();
  void Bind();
  void ProcessClicked();
  void CloseClicked();
  // The end of a run: the verdict under the log and at the log's end, and
  // the bar, full only when the run reached the end of its file.
  void ShowVerdict(std::uint64_t started_us);
  void EmptyBar();
  [[nodiscard]] QComboBox* PinBox(Signal signal) const;
  // PinListIndex is asked at every TAP step; reading a box's texts costs
  // more than the step. The answers are kept until a box or its list
  // changes.
  mutable std::array<int, 4> pin_index_{};
  mutable std::array<bool, 4> pin_index_known_{};
  void ForgetPinIndexes() { pin_index_known_.fill(false); }

  QPushButton* cmd_Find_ = nullptr;
  QComboBox* cmb_Interfaces_ = nullptr;
  QPushButton* cmd_OpenInterface_ = nullptr;
  IndicatorShape* sh_DevState_ = nullptr;
  QPushButton* cmd_CloseInterface_ = nullptr;
  QLineEdit* txt_Baud_ = nullptr;
  QCheckBox* chk_MaxClk_ = nullptr;
  QComboBox* cmb_TMS_ = nullptr;
  QComboBox* cmb_TDO_ = nullptr;
  QComboBox* cmb_TCK_ = nullptr;
  QComboBox* cmb_TDI_ = nullptr;
  QPushButton* cmd_FTSetup_ = nullptr;
  IndicatorShape* sh_ISPState_ = nullptr;
  DriveList* Drive1_ = nullptr;
  FolderList* Dir1_ = nullptr;
  FileList* File1_ = nullptr;
  QLineEdit* txt_filepath_ = nullptr;
  QLabel* lbl_PathHint_ = nullptr;
  QPushButton* cmd_Process_ = nullptr;
  QCheckBox* chk_SingleStep_ = nullptr;
  QCheckBox* chk_StandardSvf_ = nullptr;
  QPushButton* cmd_step_ = nullptr;
  QPushButton* cmd_breakstep_ = nullptr;
  LogPane* txt_log_ = nullptr;
  QLabel* lbl_Verdict_ = nullptr;
  QProgressBar* pb1_ = nullptr;
  std::unique_ptr<FileChooser> chooser_;
  std::unique_ptr<QSettings> settings_;

  Clock& clock_;
  player::Player player_;
  // Messages shown during the current run: the reason of a failure.
  std::vector<std::string> run_messages_;
  bool empty_bar_after_run_ = false;  // Close Interface during a run
  bool loaded_ = false;
  bool unloaded_ = false;       // Form_Unload has run
  bool close_when_idle_ = false;  // closed during a run: close once it has returned
  int progress_max_ = 100;
  // During a run the bar takes its value when the window is next drawn: a
  // progress bar redraws the whole window at once each time its value moves
  // by a step, which on a file of many short lines cost more than the run.
  int progress_value_ = 0;
  bool progress_pending_ = false;
  void ShowProgress();
  QElapsedTimer since_events_;
  QTimer wake_;
  long long event_passes_ = 0;
};

}  // namespace tavrin::ui
