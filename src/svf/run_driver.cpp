// SPDX-License-Identifier: Apache-2.0

#include "svf/run_driver.h"

#include <algorithm>
#include <climits>

#include "common/numbers.h"
#include "svf/gatherer.h"
#include "svf/line_reader.h"

namespace tavrin::svf {

namespace {

int ProgressValue(std::uint64_t lines) { return static_cast<int>(std::min<std::uint64_t>(lines, INT_MAX)); }

// The echo of a statement or comment: a long one (a block of comments
// gathered into one statement, a scan of many digits) is cut to a readable
// length, with the count of what is left out. The statement is read whole.
std::string Echo(const std::string& text) {
  constexpr std::size_t kShown = 256;
  if (text.size() <= kShown) return "> " + text;
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) --cut;
  return "> " + text.substr(0, cut) + " ... (" + std::to_string(text.size() - cut) + " more characters)";
}

}  // namespace

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
  outcome_ = Run();
  // Scans still on their way are answered (or cut) before the run's last
  // words.
  interpreter_.Settle();
  // Whatever stopped the run, nothing waits for Step any more: a flag left
  // set would make the window wait for events at every digit of later runs.
  flags_.AwaitingStep = kFalse;
  stopped_by_operator_ = outcome_ == RunOutcome::Failed && flags_.OperatorStop;
  if (stopped_by_operator_) {
    const std::uint64_t line = StopLine();
    window_.AppendLog(line == 0 ? std::string("Uh Oh, the operator stopped the run before it began.  Bailing Out")
                                : "Uh Oh, the operator stopped the run at line " + std::to_string(line) +
                                      ".  Bailing Out");
  }
  running_ = false;
}

bool RunDriver::Execute(std::string& statement) {
  window_.AppendLog(Echo(statement));
  const bool stepping = window_.SingleStepValue() != 0;
  if (stepping) {
    // The operator sees everything up to this statement before it runs.
    interpreter_.Settle();
    flags_.AwaitingStep = kTrue;
    while (flags_.AwaitingStep == kTrue) {
      window_.ProcessPendingEvents();
      if (flags_.StopRequested == kTrue) return false;
    }
  }
  ++statements_;
  interpreter_.ExecuteSvfStatement(statement);
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

  // Counting pass, for the progress bar.
  std::uint64_t line_count = 0;
  {
    LineReader counter;
    const std::string error = counter.Open(path);
    if (!error.empty()) {
      window_.ShowMessage("Cannot open " + path + ": " + error);
      return RunOutcome::FileError;
    }
    std::string line;
    // A huge file takes a while to count: Break and closing are seen.
    constexpr std::uint64_t kLinesPerEventPass = 1U << 14;
    while (counter.ReadLine(line)) {
      if (++line_count % kLinesPerEventPass == 0) {
        window_.ProcessPendingEventsNow();
        if (flags_.StopRequested == kTrue) return RunOutcome::Failed;
      }
    }
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
  window_.SetProgressMax(ProgressValue(line_count));
  const ReadingRules rules = window_.StandardSvfValue() != 0 ? ReadingRules::Standard() : ReadingRules{};
  interpreter_.StartRun(rules);
  std::uint64_t consumed = 0;
  std::string line;
  StatementGatherer gatherer(max_statement, rules.comments_anywhere);

  while (flags_.StopRequested != kTrue && file.ReadLine(line)) {
    lines_read_ = ++consumed;
    const bool whole = gatherer.AddLine(
        line, consumed, [&](StatementGatherer::Kind kind, std::string& text, std::uint64_t first_line) {
          if (kind == StatementGatherer::Kind::Comment) {
            window_.AppendLog(Echo(text));
          } else {
            window_.SetProgressValue(ProgressValue(consumed));
            statement_line_ = first_line;
            (void)Execute(text);  // false: Break in the single-step wait, seen below
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
  window_.SetProgressValue(ProgressValue(consumed));

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
  return RunOutcome::Completed;
}

}  // namespace tavrin::svf
