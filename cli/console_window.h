#pragma once
#include <cstdio>
#include <functional>
#include <string>

#include "common/memory_window.h"

namespace tavrin::cli {

// The window on a console: the log goes to standard output line by line as
// it is appended (LF line ends), message boxes to standard error, and a
// progress bar to standard error when that is a terminal.
class ConsoleWindow final : public MemoryWindow {
 public:
  ConsoleWindow(std::FILE* out, std::FILE* err, bool quiet);

  void AppendLog(std::string_view text) override;
  void AppendLogNoBreak(std::string_view text) override;
  void ReplaceLog(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ProcessPendingEvents() override;
  void SetProgressMax(int max) override;
  void SetProgressValue(int value) override;

  // Prints what the log still holds unprinted (the run's last replaced text
  // when nothing was appended to it) and ends the progress line.
  void Finish();

  // Asked inside ProcessPendingEvents: true while the run waits for Step.
  std::function<bool()> awaiting_step;
  // Step and Break, as the buttons do.
  std::function<void()> step;
  std::function<void()> brk;
  // Where single-step answers are read from.
  std::FILE* terminal = stdin;

 private:
  void Emit(std::string_view text);
  void DrawProgress(bool force);

  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  bool progress_tty_;
  // Text replaced into the log that is printed only once something is
  // appended to it: the start-up line and the run's first line are replaced
  // before anything follows them.
  std::string held_;
  bool holding_start_up_ = true;
  std::string partial_;  // a line begun with AppendLogNoBreak
  int last_drawn_ = -1;
  bool progress_shown_ = false;
};

// Set by the SIGINT handler; the console window turns it into Break.
void InstallInterruptHandler();

}  // namespace tavrin::cli
