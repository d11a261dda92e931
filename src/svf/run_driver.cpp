#include "svf/run_driver.h"

#include <algorithm>
#include <climits>

#include "svf/line_reader.h"

namespace tavrin::svf {

namespace {

int ProgressValue(std::uint64_t lines) { return static_cast<int>(std::min<std::uint64_t>(lines, INT_MAX)); }

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

void RunDriver::cmd_Process_Click() {
  // Only one run may hold the file; a click during a run (while the window
  // handles events inside it) is turned away.
  if (running_) {
    window_.ShowMessage("A file is being processed already.  Press Break to stop it.");
    return;
  }
  running_ = true;
  statements_ = 0;
  outcome_ = Run();
  running_ = false;
}

bool RunDriver::Execute(std::string& statement) {
  window_.AppendLog("> " + statement);
  if (window_.SingleStepValue() != 0) {
    flags_.AwaitingStep = kTrue;
    while (flags_.AwaitingStep == kTrue) {
      window_.ProcessPendingEvents();
      if (flags_.StopRequested == kTrue) return false;
    }
  }
  ++statements_;
  interpreter_.ExecuteSvfStatement(statement);
  return true;
}

RunOutcome RunDriver::Run() {
  flags_.StopRequested = kFalse;
  if (adapter_.InterfaceOpen != kTrue) {
    adapter_.cmd_Find_Click();
    adapter_.cmd_OpenInterface_Click();
    adapter_.cmd_FTSetup_Click();
  }
  if (adapter_.PortSetupValid != kTrue) {
    window_.ShowMessage(adapter::kMsgPortSetup);
    return RunOutcome::Refused;
  }
  const std::string name = window_.SelectedFileName();
  if (name.empty()) {
    window_.ShowMessage("Please choose a file first");
    return RunOutcome::Refused;
  }
  if (Upper(name.size() >= 4 ? name.substr(name.size() - 4) : name) != ".SVF") {
    window_.ShowMessage("Error - expecting a .SVF file");
    return RunOutcome::Refused;
  }

  const std::string path = window_.FilePathText();
  window_.ReplaceLog("Resetting State Machine " + path + "\r\n");
  engine_.MoveToState("RESET");
  engine_.MoveToState("RESET");
  window_.ReplaceLog("Opening " + path + "\r\n");
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
    while (counter.ReadLine(line)) ++line_count;
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
  std::uint64_t consumed = 0;
  std::string statement;
  std::string line;

  while (!file.AtEnd()) {
    statement.clear();
    while ((statement.empty() || statement.back() != ';') && flags_.StopRequested != kTrue && !file.AtEnd()) {
      if (!file.ReadLine(line)) break;
      ++consumed;
      if (!line.empty() && line[0] == '/') {
        window_.AppendLog("> " + line);
      } else if (statement.size() + line.size() > max_statement) {
        window_.AppendLog("Uh Oh, the statement at line " + std::to_string(consumed) +
                          " is longer than I can handle.  Bailing Out");
        flags_.StopRequested = kTrue;
      } else {
        statement += line;
      }
    }
    window_.SetProgressValue(ProgressValue(consumed));

    if (file.Failed()) {
      window_.ShowMessage(file.TooLong() ? "Cannot read " + path + ": a line is longer than the player accepts"
                                         : "Cannot read " + path);
      return RunOutcome::FileError;
    }
    if (flags_.StopRequested == kTrue) return RunOutcome::Failed;
    if (file.AtEnd()) {
      // The last statement of the file is carried out like any other; a
      // fragment without its ";" is reported, and the run counts as failed.
      if (!statement.empty() && statement.back() == ';') {
        if (!Execute(statement)) return RunOutcome::Failed;
      } else if (!IsBlank(statement)) {
        window_.AppendLog("Uh Oh, the file ends inside a statement that has no ';': " + statement.substr(0, 80) +
                          (statement.size() > 80 ? "..." : ""));
        flags_.StopRequested = kTrue;
      }
      break;
    }
    if (!Execute(statement)) return RunOutcome::Failed;
  }
  return flags_.StopRequested == kTrue ? RunOutcome::Failed : RunOutcome::Completed;
}

}  // namespace tavrin::svf
