// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "adapter/adapter.h"
#include "common/flags.h"
#include "common/window.h"
#include "jtag/engine.h"
#include "svf/interpreter.h"
#include "svf/reading.h"

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
            RunFlags& flags)
      : adapter_(adapter), engine_(engine), interpreter_(interpreter), window_(window), flags_(flags) {}

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

  // The longest statement gathered, in characters.
  std::size_t max_statement = std::size_t{64} << 20;

 private:
  RunOutcome Run();
  bool Execute(std::string& statement);

  adapter::Adapter& adapter_;
  jtag::Engine& engine_;
  Interpreter& interpreter_;
  Window& window_;
  RunFlags& flags_;
  bool running_ = false;
  RunOutcome outcome_ = RunOutcome::NotRun;
  std::uint64_t statements_ = 0;
  std::uint64_t statement_line_ = 0;
  std::uint64_t lines_read_ = 0;
  bool stopped_by_operator_ = false;
};

}  // namespace tavrin::svf
