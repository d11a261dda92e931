// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <cstddef>
#include <vector>

namespace tavrin::player {

class Player;

// What a run left behind, for the line that ends it: tavrin-play prints it
// on standard error, the window shows it under the log.
struct RunFacts {
  enum class End { Completed, CheckFailed, Operator, WriteFailed, Other };
  struct Check {
    std::string expected, got, mask;  // hex digits, as many as the length needs
  };

  std::string file;            // as the operator named it
  End end = End::Completed;
  std::uint64_t line = 0;      // the file's line where the run stopped; 0 before the first
  std::uint64_t statements = 0;
  std::uint64_t checks_passed = 0;
  double seconds = 0;
  std::optional<Check> check;  // End::CheckFailed
  int write_error = 0;         // End::WriteFailed: errno of the write
  std::string reason;          // End::Other: a few words
  // The run stopped in the default reading at something only standard SVF
  // has: the line after the summary says so.
  bool looks_standard = false;
  std::string adapter;         // what the file was played into; empty: not known
};

// "idcode.svf: 7 statements, 2 checks passed, 0.02 s; on virtual board (built-in board)",
// "idcode.svf:12: check failed: expected F6E5F093, got 00000000, mask 0FFFFFFF",
// "idcode.svf:40: stopped by the operator", "idcode.svf:9: <reason>".
// Without a line (stopped before the first) the prefix is "idcode.svf: ".
// The adapter, when known, ends every form ("; on <adapter>").
std::string SummaryLine(const RunFacts& facts);

// The modelled parts' accounts for the end of a run's log: "Rehearsal:",
// then each line indented; nothing without models.
std::vector<std::string> RehearsalLines(const std::vector<std::string>& report);
// "2 steps of the file not carried out by the modelled parts (see the
// rehearsal above)"; empty for none.
std::string RefusalLine(std::size_t refusals);

// The most digits of a value a summary shows.
inline constexpr std::size_t kShownDigits = 64;

// The three values of a failed check as the summary shows them: whole when
// they have at most kShownDigits digits, else the same window of each, the
// first compared digit that differs near its left end, "..." where digits
// are left out, and which digits are shown.
std::string DescribeFailedCheck(const RunFacts::Check& check);

// A log line or message as a reason: without "Uh Oh, " or "Hmm.  " in front
// and "  Bailing Out" at the end; empty for lines that say nothing about why
// (a generic bail-out, "Stopped at line N.", an echoed statement).
std::string ReasonFromText(std::string_view text);

// Why a run that failed without a check, a stop or a write failure ended:
// the last message shown during the run (with the chip library's words for
// a failed chip call), else the last log line that gives a reason.
std::string ReasonOfFailure(const std::vector<std::string>& run_messages, const std::vector<std::string>& last_log_lines,
                            const std::string& chip_error);

// The facts of the player's last run, read from its core; nothing when no
// run was made (refused, or the file could not be used: the message said
// why). run_messages are the messages shown during the run and
// last_log_lines the log's last lines, for the reason of a failure.
std::optional<RunFacts> FactsOfLastRun(Player& player, std::string file, double seconds,
                                       const std::vector<std::string>& run_messages,
                                       const std::vector<std::string>& last_log_lines);

}  // namespace tavrin::player
