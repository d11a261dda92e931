// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "adapter/adapter.h"
#include "common/clock.h"
#include "common/flags.h"
#include "common/window.h"
#include "jtag/engine.h"
#include "svf/interpreter.h"
#include "svf/line_reader.h"
#include "svf/reading.h"
#include "svf/work.h"

namespace tavrin::svf {

// How the last run ended.
enum class RunOutcome {
  NotRun,     // no run yet
  Completed,  // the end of the file, with no bail-out
  Failed,     // a bail-out, a verification failure, a failed chip call, Break, an unfinished statement
  Refused,    // set-up missing, no file chosen, not an .svf name
  FileError,  // the file could not be opened or read
};

// Whether a file's name ends in .svf, in any case: the only files a run
// plays.
bool HasSvfEnding(std::string_view name);

// "Process SVF File": reads the file, gathers statements, echoes them and
// hands them to the interpreter one at a time.
class RunDriver {
 public:
  RunDriver(adapter::Adapter& adapter, jtag::Engine& engine, Interpreter& interpreter, Window& window,
            RunFlags& flags, Clock& clock)
      : adapter_(adapter), engine_(engine), interpreter_(interpreter), window_(window), flags_(flags), clock_(clock) {}

  void cmd_Process_Click();
  void cmd_step_Click() { flags_.AwaitingStep = kFalse; }
  void cmd_breakstep_Click() {
    flags_.StopRequested = kTrue;
    flags_.OperatorStop = true;
  }

  [[nodiscard]] bool Running() const { return running_; }
  [[nodiscard]] RunOutcome LastOutcome() const { return outcome_; }
  // Statements handed to the interpreter in the last run.
  [[nodiscard]] std::uint64_t StatementsExecuted() const { return statements_; }
  // The file's line (from 1) that the statement being carried out, or the
  // last one, began on.
  [[nodiscard]] std::uint64_t StatementLine() const { return statement_line_; }

  // Where the run stopped or ended: the statement being carried out, or the
  // line being read; 0 before the first line. And whether the operator
  // stopped it.
  [[nodiscard]] std::uint64_t StopLine() const { return statement_line_ != 0 ? statement_line_ : lines_read_; }
  [[nodiscard]] bool StoppedByOperator() const { return stopped_by_operator_; }

  // The progress bar counts work (see WorkUnits): the bar's length is the
  // whole file's, its value the work of the statements done, and inside a
  // statement the clocks gone out and the time waited so far. Called from
  // the window's event passes during a run; nothing outside one.
  void ShowProgress();
  // The work of the whole file, counted before the last run, and of the
  // statements it finished (those before the statement it stopped at).
  [[nodiscard]] const Work& TotalWork() const { return total_; }
  [[nodiscard]] const Work& WorkDone() const { return done_; }

  // The longest statement gathered, in characters.
  std::size_t max_statement = std::size_t{64} << 20;

 private:
  RunOutcome Run();
  bool Execute(std::string& statement, const Work& work);
  // Counts the file's lines and work; false when the count was stopped.
  bool Count(LineReader& counter, const ReadingRules& rules, std::uint64_t& lines);
  void StartProgress();
  // "> " and the statement or comment, cut when long, in echo_.
  const std::string& Echo(std::string_view text);
  [[nodiscard]] int BarValue(const Work& work) const;

  adapter::Adapter& adapter_;
  jtag::Engine& engine_;
  Interpreter& interpreter_;
  Window& window_;
  RunFlags& flags_;
  Clock& clock_;
  bool running_ = false;
  RunOutcome outcome_ = RunOutcome::NotRun;
  std::uint64_t statements_ = 0;
  std::uint64_t statement_line_ = 0;
  std::uint64_t lines_read_ = 0;
  bool stopped_by_operator_ = false;

  // Progress: the file's work, that of the finished statements, and the
  // statement under way (its work, the engine's stream offset and the time
  // when it began).
  Work total_;
  Work done_;
  Work statement_work_;
  bool in_statement_ = false;
  bool progress_started_ = false;  // the count is done and the bar has its length
  std::uint64_t statement_bytes_ = 0;
  std::uint64_t statement_start_us_ = 0;
  std::uint64_t run_start_us_ = 0;
  std::uint64_t paused_us_ = 0;  // spent waiting for Step: no part of the estimate
  std::uint64_t last_estimate_us_ = 0;
  std::uint64_t units_per_step_ = 1;  // the bar's int range holds the whole file
  int shown_value_ = -1;
  std::string echo_;  // kept for its memory
};

}  // namespace tavrin::svf
