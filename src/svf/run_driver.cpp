// SPDX-License-Identifier: Apache-2.0

#include "svf/run_driver.h"

#include <algorithm>
#include <climits>

#include "common/numbers.h"
#include "svf/gatherer.h"
#include "svf/line_reader.h"

namespace tavrin::svf {

// The echo of a statement or comment: a long one (a block of comments
// gathered into one statement, a scan of many digits) is cut to a readable
// length, with the count of what is left out. The statement is read whole.
const std::string& RunDriver::Echo(std::string_view text) {
  constexpr std::size_t kShown = 256;
  echo_.assign("> ");
  if (text.size() <= kShown) {
    echo_.append(text);
    return echo_;
  }
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) --cut;
  echo_.append(text.substr(0, cut));
  echo_.append(" ... (" + std::to_string(text.size() - cut) + " more characters)");
  return echo_;
}

bool HasSvfEnding(std::string_view name) {
  return AsciiUpper(std::string(name.size() >= 4 ? name.substr(name.size() - 4) : name)) == ".SVF";
}

void RunDriver::cmd_Process_Click() {
  // Only one run may hold the file; a click during a run (while the window
  // handles events inside it) is turned away.
  if (running_) {
    window_.ShowMessage("A file is being processed already.  Press Break to stop it.");
    return;
  }
  running_ = true;
  statements_ = 0;
  statement_line_ = 0;
  lines_read_ = 0;
  progress_started_ = false;
  window_.SetTimeLeft("");
  outcome_ = Run();
  // Scans still on their way are answered (or cut) before the run's last
  // words.
  interpreter_.Settle();
  // Whatever stopped the run, nothing waits for Step any more: a flag left
  // set would make the window wait for events at every digit of later runs.
  flags_.AwaitingStep = kFalse;
  // A failed run's bar shows the work before the statement it stopped at.
  if (outcome_ == RunOutcome::Failed && progress_started_) window_.SetProgressValue(BarValue(done_));
  window_.SetTimeLeft("");
  stopped_by_operator_ = outcome_ == RunOutcome::Failed && flags_.OperatorStop;
  if (stopped_by_operator_) {
    const std::uint64_t line = StopLine();
    window_.AppendLog(line == 0 ? std::string("Uh Oh, the operator stopped the run before it began.  Bailing Out")
                                : "Uh Oh, the operator stopped the run at line " + std::to_string(line) +
                                      ".  Bailing Out");
  }
  running_ = false;
}

bool RunDriver::Execute(std::string& statement, const Work& work) {
  window_.AppendLog(Echo(statement));
  // The bar shows the statements before this one.
  ShowProgress();
  const bool stepping = window_.SingleStepValue() != 0;
  if (stepping) {
    // The operator sees everything up to this statement before it runs.
    interpreter_.Settle();
    const std::uint64_t waiting_since = clock_.NowMicros();
    flags_.AwaitingStep = kTrue;
    while (flags_.AwaitingStep == kTrue) {
      window_.ProcessPendingEvents();
      if (flags_.StopRequested == kTrue) return false;
    }
    paused_us_ += clock_.NowMicros() - waiting_since;
  }
  ++statements_;
  statement_work_ = work;
  statement_bytes_ = engine_.BytesStreamed();
  statement_start_us_ = clock_.NowMicros();
  in_statement_ = true;
  interpreter_.ExecuteSvfStatement(statement);
  in_statement_ = false;
  // A statement that stopped the run is not done: the bar stays before it.
  if (flags_.StopRequested != kTrue) done_ += work;
  // Without the single-step wait, a run of statements that clock little
  // (or nothing) still lets the window answer.
  if (!stepping) window_.ProcessPendingEvents();
  return true;
}

RunOutcome RunDriver::Run() {
  flags_.StopRequested = kFalse;
  flags_.OperatorStop = false;
  flags_.AwaitingStep = kFalse;
  if (!adapter_.SetUpIfNeeded()) return RunOutcome::Refused;
  const std::string name = window_.SelectedFileName();
  if (name.empty()) {
    window_.ShowMessage("Please choose a file first");
    return RunOutcome::Refused;
  }
  if (!HasSvfEnding(name)) {
    window_.ShowMessage("Error - expecting a .SVF file");
    return RunOutcome::Refused;
  }

  const std::string path = window_.FilePathText();
  window_.ReplaceLog("Resetting State Machine " + path + "\r\n");
  // The model may believe RESET while the target is elsewhere (start-up,
  // a run cut short, another tool): the first move always clocks the reset.
  engine_.ResetTap();
  engine_.MoveToState("RESET");
  // What the file is played into, then the file.
  const std::string adapter_name = adapter_.OpenedName();
  window_.ReplaceLog((adapter_name.empty() ? std::string() : "Adapter: " + adapter_name + "\r\n") + "Opening " +
                     path + "\r\n");
  window_.RepaintLog();

  // Counting pass, for the progress bar: the lines, and the work of the
  // statements, read as the run reads them.
  const ReadingRules rules = window_.StandardSvfValue() != 0 ? ReadingRules::Standard() : ReadingRules{};
  std::uint64_t line_count = 0;
  {
    LineReader counter;
    const std::string error = counter.Open(path);
    if (!error.empty()) {
      window_.ShowMessage("Cannot open " + path + ": " + error);
      return RunOutcome::FileError;
    }
    if (!Count(counter, rules, line_count)) return RunOutcome::Failed;
    if (counter.Failed()) {
      window_.ShowMessage(counter.TooLong() ? "Cannot read " + path + ": a line is longer than the player accepts"
                                            : "Cannot read " + path);
      return RunOutcome::FileError;
    }
  }

  LineReader file;
  const std::string error = file.Open(path);
  if (!error.empty()) {
    window_.ShowMessage("Cannot open " + path + ": " + error);
    return RunOutcome::FileError;
  }
  StartProgress();
  interpreter_.StartRun(rules);
  std::uint64_t consumed = 0;
  std::string_view line;
  StatementGatherer gatherer(max_statement, rules.comments_anywhere);
  WorkCounter work_counter(rules);

  while (flags_.StopRequested != kTrue && file.ReadLine(line)) {
    lines_read_ = ++consumed;
    const bool whole = gatherer.AddLine(
        line, consumed, [&](StatementGatherer::Kind kind, std::string& text, std::uint64_t first_line) {
          if (kind == StatementGatherer::Kind::Comment) {
            window_.AppendLog(Echo(text));
          } else {
            statement_line_ = first_line;
            const Work work = work_counter.Of(text);
            (void)Execute(text, work);  // false: Break in the single-step wait, seen below
            if (flags_.StopRequested == kTrue && flags_.OperatorStop != true) {
              window_.AppendLog("Stopped at line " + std::to_string(first_line) + ".");
              if (interpreter_.LooksLikeStandardSvf()) window_.AppendLog(kStandardSvfHint);
            }
          }
          return flags_.StopRequested != kTrue;
        });
    if (!whole && flags_.StopRequested != kTrue) {
      window_.AppendLog("Uh Oh, the statement at line " + std::to_string(consumed) +
                        " is longer than I can handle.  Bailing Out");
      flags_.StopRequested = kTrue;
    }
  }
  // The last statements' clocks go out now: a failure there fails the run.
  interpreter_.Settle();
  if (flags_.StopRequested == kTrue) return RunOutcome::Failed;

  if (file.Failed()) {
    // Part of the file has been played: this is a failed run, not a file
    // that could not be used.
    const std::string why = file.TooLong() ? "a line is longer than the player accepts" : "a read failed";
    window_.AppendLog("Uh Oh, I can't read " + path + " after line " + std::to_string(consumed) + ": " + why +
                      ".  Bailing Out");
    flags_.StopRequested = kTrue;
    window_.ShowMessage("Cannot read " + path + ": " + why);
    return RunOutcome::Failed;
  }
  // A fragment without its ";" at the end of the file is reported, and the
  // run counts as failed.
  const std::string& rest = gatherer.Pending();
  if (!rest.empty()) {
    statement_line_ = gatherer.PendingLine();
    window_.AppendLog("Uh Oh, the file ends inside a statement that has no ';': " + rest.substr(0, 80) +
                      (rest.size() > 80 ? "..." : ""));
    flags_.StopRequested = kTrue;
    return RunOutcome::Failed;
  }
  // A file cut short while it played (or rewritten in between) must not
  // pass for one that was played whole.
  if (consumed < line_count) {
    const std::string text = "Uh Oh, " + path + " ended at line " + std::to_string(consumed) + " of " +
                             std::to_string(line_count) + ": it changed while it played.  Bailing Out";
    window_.AppendLog(text);
    flags_.StopRequested = kTrue;
    window_.ShowMessage(text);
    return RunOutcome::Failed;
  }
  window_.SetProgressValue(BarValue(total_));
  return RunOutcome::Completed;
}

bool RunDriver::Count(LineReader& counter, const ReadingRules& rules, std::uint64_t& lines) {
  total_ = Work{};
  StatementGatherer gatherer(max_statement, rules.comments_anywhere);
  WorkCounter work(rules);
  std::string_view line;
  // A huge file takes a while to count: the window keeps answering, and
  // Break and closing are seen. (The window handles events only when their
  // time has come, so asking often costs little.)
  constexpr std::uint64_t kLinesPerEventPass = 1U << 9;
  while (counter.ReadLine(line)) {
    ++lines;
    (void)gatherer.AddLine(line, lines, [&](StatementGatherer::Kind kind, std::string& text, std::uint64_t) {
      if (kind == StatementGatherer::Kind::Statement) total_ += work.Of(text);
      return true;
    });
    if (lines % kLinesPerEventPass == 0) {
      window_.ProcessPendingEvents();
      if (flags_.StopRequested == kTrue) return false;
    }
  }
  return true;
}

void RunDriver::StartProgress() {
  done_ = Work{};
  in_statement_ = false;
  paused_us_ = 0;
  run_start_us_ = clock_.NowMicros();
  last_estimate_us_ = run_start_us_;
  const std::uint64_t units = WorkUnits(total_);
  units_per_step_ = units / static_cast<std::uint64_t>(INT_MAX) + 1;
  shown_value_ = 0;
  progress_started_ = true;
  window_.SetProgressMax(BarValue(total_));
  window_.SetProgressValue(0);
}

int RunDriver::BarValue(const Work& work) const {
  const std::uint64_t units = std::min(WorkUnits(work), WorkUnits(total_));
  return static_cast<int>(std::min<std::uint64_t>(units / units_per_step_, INT_MAX));
}

void RunDriver::ShowProgress() {
  if (!running_ || !progress_started_) return;
  const std::uint64_t now = clock_.NowMicros();
  Work done = done_;
  if (in_statement_) {
    // Three bytes go out for each clock of a scan; the wait is timed.
    const std::uint64_t bytes = engine_.BytesStreamed() - std::min(engine_.BytesStreamed(), statement_bytes_);
    done.clocks += std::min(statement_work_.clocks, bytes / 3);
    done.wait_us += std::min(statement_work_.wait_us, now - std::min(now, statement_start_us_));
  }
  const int value = BarValue(done);
  if (value != shown_value_) {
    shown_value_ = value;
    window_.SetProgressValue(value);
  }
  constexpr std::uint64_t kEstimateIntervalUs = 500'000;
  if (now - last_estimate_us_ < kEstimateIntervalUs) return;
  last_estimate_us_ = now;
  const std::uint64_t active_us = now - std::min(now, run_start_us_ + paused_us_);
  const std::optional<double> left = SecondsLeft(done, total_, static_cast<double>(active_us) / 1e6);
  window_.SetTimeLeft(left ? TimeLeftText(*left) : std::string());
}

}  // namespace tavrin::svf
