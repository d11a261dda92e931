// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/fd_writer.h"
#include "common/clock.h"
#include "common/memory_window.h"

namespace tavrin::cli {

// The computer's clock read cheaply (to a few milliseconds), for the
// console's pacing, which looks at it for every log line.
class CoarseClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override { SystemClock().SleepMs(ms); }
  void SleepBriefly() override { SystemClock().SleepBriefly(); }
  [[nodiscard]] std::uint64_t NowMicros() const override;
};

// What the console is: which streams are terminals, and what is shown.
struct ConsoleSettings {
  bool quiet = false;                // no log on standard output
  bool escape_log = false;           // standard output is a terminal: its control characters are shown escaped
  bool escape_messages = false;      // the same for standard error
  bool progress = false;             // the progress bar is drawn on standard error (a terminal)
  bool bar_shares_terminal = false;  // the log and the bar are on one terminal: the bar is cleared for log lines
  int columns = 0;                   // the bar's terminal width; 0: asked of the terminal at every draw

  static ConsoleSettings Detect(std::FILE* out, std::FILE* err, bool quiet);
};

// Text as a terminal should show it: control characters (below 0x20 but the
// tab, 0x7F, and U+0080 to U+009F) and bytes that are no UTF-8 as \xNN, so
// that a file cannot move the cursor, change colours or retitle the
// terminal, nor garble what follows.
void AppendEscaped(std::string& to, std::string_view text);

// The window on a console: the log goes to standard output line by line
// (LF line ends), message boxes to standard error, and a progress bar to
// standard error when that is a terminal.
//
// Standard output is written in bursts: a completed line goes out at once
// unless the last write was less than kFlushIntervalUs ago; what is held is
// written by the next line or event pass after that (or once kFlushBytes
// are held), so a reader sees every line within a few milliseconds while a
// fast run does not pay a write per line. With the bar on the log's
// terminal, log and bar are redrawn together at most every kBarIntervalUs.
//
// Break signals and failed writes to standard output become Break.
class ConsoleWindow final : public MemoryWindow {
 public:
  ConsoleWindow(std::FILE* out, std::FILE* err, const ConsoleSettings& settings, Clock& clock);

  void AppendLog(std::string_view text) override;
  void AppendLogNoBreak(std::string_view text) override;
  void ReplaceLog(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ProcessPendingEvents() override;
  void ProcessPendingEventsNow() override;
  void SetProgressMax(int max) override;
  void SetProgressValue(int value) override;
  void SetTimeLeft(std::string_view text) override;

  // Prints what the log still holds unprinted (the run's last replaced text
  // when nothing was appended to it), writes everything held and removes
  // the progress bar.
  void Finish();
  // One line on standard error (escaped on a terminal), after the log
  // written so far.
  void PrintError(std::string_view text);
  // The same for text that must stay one line: on a terminal its line
  // breaks are escaped too.
  void PrintErrorLine(std::string_view text);

  // errno of a failed write to standard output; 0 while none failed.
  [[nodiscard]] int OutputError() const { return out_.Error(); }
  // The last complete log lines, oldest first, each cut to kRememberedChars.
  [[nodiscard]] std::vector<std::string> RecentLines() const;
  // How often the bar was drawn, and the log written out.
  [[nodiscard]] int BarDraws() const { return bar_draws_; }
  [[nodiscard]] int OutputWrites() const { return output_writes_; }

  // Asked inside ProcessPendingEvents: true while the run waits for Step.
  std::function<bool()> awaiting_step;
  // Step and Break, as the buttons do.
  std::function<void()> step;
  std::function<void()> brk;
  // Where single-step answers are read from.
  std::FILE* terminal = stdin;

  static constexpr std::uint64_t kFlushIntervalUs = 5'000;
  static constexpr std::uint64_t kBarIntervalUs = 100'000;
  static constexpr std::size_t kFlushBytes = std::size_t{64} << 10U;
  static constexpr std::size_t kRememberedLines = 4;
  static constexpr std::size_t kRememberedChars = 300;
  // A scan calls ProcessPendingEvents for every digit: the clock is read on
  // every this many calls only.
  static constexpr unsigned kEventsPerTick = 256;
  static constexpr const char* kStepPrompt = "Step: Enter, Break: b then Enter > ";

 private:
  enum class Answer { Line, End, Interrupted };

  void Break();
  void ReleaseHeld();
  void SplitPartial();
  void Line(std::string_view line);
  void Tick();
  // Writes the held log lines; then the bar is redrawn when it is due.
  void Flush(std::uint64_t now, bool redraw_bar = true);
  [[nodiscard]] std::uint64_t FlushInterval() const;
  [[nodiscard]] bool BarWanted() const;
  // Draws the bar when it changed and its time has come.
  void MaybeDrawBar(std::uint64_t now);
  void DrawBar(std::uint64_t now);
  void ClearBar();
  void WriteError(std::string_view text);
  void AskStep();
  Answer ReadAnswer(std::string& answer);

  FdWriter out_;
  FdWriter err_;
  ConsoleSettings settings_;
  Clock& clock_;
  // Text replaced into the log that is printed only once something is
  // appended to it: the start-up line and the run's first line are replaced
  // before anything follows them.
  std::string held_;
  bool holding_start_up_ = true;
  std::string partial_;  // the log's text after its last CR LF
  std::string pending_;  // lines for standard output, not written yet
  std::uint64_t last_flush_us_ = 0;
  bool flushed_once_ = false;
  unsigned events_ = 0;
  int output_writes_ = 0;

  std::array<std::string, kRememberedLines> recent_;
  std::size_t recent_next_ = 0;
  std::size_t recent_count_ = 0;

  bool bar_active_ = false;  // a run has set the bar's length
  bool bar_shown_ = false;
  int drawn_value_ = -1;
  int drawn_max_ = -1;
  std::string drawn_time_left_;
  std::uint64_t last_draw_us_ = 0;
  bool drawn_once_ = false;
  int bar_draws_ = 0;
};

}  // namespace tavrin::cli
