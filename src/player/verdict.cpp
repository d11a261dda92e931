// SPDX-License-Identifier: Apache-2.0

#include "player/verdict.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/numbers.h"
#include "player/player.h"

namespace tavrin::player {

namespace {

// Reasons longer than this are cut, so that the summary stays one line.
constexpr std::size_t kMaxReason = 200;

std::string Counted(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Cut(std::string text) {
  if (text.size() > kMaxReason) {
    text.resize(kMaxReason);
    text += "...";
  }
  return text;
}

}  // namespace

std::string DescribeFailedCheck(const RunFacts::Check& check) {
  const std::string expected = AsciiUpper(check.expected);
  const std::string got = AsciiUpper(check.got);
  const std::string mask = AsciiUpper(check.mask);
  const std::size_t length = std::max({expected.size(), got.size(), mask.size()});
  if (length <= kShownDigits) return "expected " + expected + ", got " + got + ", mask " + mask;

  // The first digit (from the left) where the compared bits differ.
  std::size_t first = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const int e = i < expected.size() ? HexDigitValue(expected[i]) : 0;
    const int g = i < got.size() ? HexDigitValue(got[i]) : 0;
    const int m = i < mask.size() ? HexDigitValue(mask[i]) : 15;
    if (e < 0 || g < 0 || m < 0 || ((e ^ g) & m) != 0) {
      first = i;
      break;
    }
  }
  // A few digits of context before it.
  constexpr std::size_t kContext = 8;
  const std::size_t start = std::min(first > kContext ? first - kContext : 0, length - kShownDigits);
  const std::size_t end = start + kShownDigits;
  auto window = [&](const std::string& value) {
    std::string shown = start > 0 ? "..." : "";
    if (start < value.size()) shown += value.substr(start, kShownDigits);
    if (end < length) shown += "...";
    return shown;
  };
  return "expected " + window(expected) + ", got " + window(got) + ", mask " + window(mask) + " (digits " +
         std::to_string(start + 1) + " to " + std::to_string(end) + " of " + std::to_string(length) + ")";
}

namespace {

std::string SummaryOfRun(const RunFacts& facts) {
  if (facts.end == RunFacts::End::Completed) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", facts.seconds);
    return facts.file + ": " + Counted(facts.statements, "statement", "statements") + ", " +
           Counted(facts.checks_passed, "check passed", "checks passed") + ", " + seconds;
  }
  const std::string where = facts.line != 0 ? facts.file + ":" + std::to_string(facts.line) + ": " : facts.file + ": ";
  switch (facts.end) {
    case RunFacts::End::CheckFailed:
      return where + "check failed: " + (facts.check ? DescribeFailedCheck(*facts.check) : std::string("(no values)"));
    case RunFacts::End::Operator: return where + "stopped by the operator";
    case RunFacts::End::WriteFailed:
      return where + "cannot write the log to standard output: " + std::strerror(facts.write_error);
    default: return where + (facts.reason.empty() ? std::string("the run stopped") : Cut(facts.reason));
  }
}

}  // namespace

std::vector<std::string> RehearsalLines(const std::vector<std::string>& report) {
  std::vector<std::string> lines;
  if (report.empty()) return lines;
  lines.emplace_back("Rehearsal:");
  for (const auto& l : report) lines.push_back("  " + l);
  return lines;
}

std::string RefusalLine(std::size_t refusals) {
  if (refusals == 0) return {};
  return std::to_string(refusals) + (refusals == 1 ? " step" : " steps") +
         " of the file not carried out by the modelled parts (see the rehearsal above)";
}

std::string SummaryLine(const RunFacts& facts) {
  std::string line = SummaryOfRun(facts);
  if (!facts.adapter.empty()) line += "; on " + facts.adapter;
  return line;
}

std::string ReasonFromText(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  if (text.empty() || StartsWith(text, "> ") || StartsWith(text, "Sorry, I've got to bail out") ||
      StartsWith(text, "Stopped at line ") || text == svf::kStandardSvfHint) {
    return {};
  }
  for (const std::string_view prefix : {"Uh Oh, ", "Hmm.  ", "Bad result: "}) {
    if (StartsWith(text, prefix)) text.remove_prefix(prefix.size());
  }
  for (const std::string_view suffix : {"  Bailing Out", "  Bailing out...", " Bailing Out"}) {
    if (EndsWith(text, suffix)) text.remove_suffix(suffix.size());
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.remove_suffix(1);
  return std::string(text);
}

std::string ReasonOfFailure(const std::vector<std::string>& run_messages, const std::vector<std::string>& last_log_lines,
                            const std::string& chip_error) {
  for (auto m = run_messages.rbegin(); m != run_messages.rend(); ++m) {
    // A message of several lines: its first line that gives a reason.
    std::string_view rest = *m;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string reason = ReasonFromText(rest.substr(0, end));
      if (!reason.empty()) {
        if (StartsWith(*m, "Bad result: ") && !chip_error.empty()) reason += ": " + chip_error;
        return reason;
      }
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  for (auto l = last_log_lines.rbegin(); l != last_log_lines.rend(); ++l) {
    std::string reason = ReasonFromText(*l);
    if (!reason.empty()) return reason;
  }
  return {};
}

std::optional<RunFacts> FactsOfLastRun(Player& player, std::string file, double seconds,
                                       const std::vector<std::string>& run_messages,
                                       const std::vector<std::string>& last_log_lines) {
  const svf::RunOutcome outcome = player.driver.LastOutcome();
  if (outcome != svf::RunOutcome::Completed && outcome != svf::RunOutcome::Failed) return std::nullopt;
  RunFacts f;
  f.file = std::move(file);
  f.seconds = seconds;
  f.line = player.driver.StopLine();
  f.statements = player.driver.StatementsExecuted();
  f.checks_passed = player.interpreter.ChecksPassed();
  f.looks_standard = player.interpreter.LooksLikeStandardSvf();
  f.adapter = player.adapter.OpenedName();
  if (outcome == svf::RunOutcome::Completed) {
    f.end = RunFacts::End::Completed;
  } else if (player.driver.StoppedByOperator()) {
    f.end = RunFacts::End::Operator;
  } else if (const auto& check = player.interpreter.LastFailedCheck()) {
    f.end = RunFacts::End::CheckFailed;
    f.check = RunFacts::Check{check->expected, check->got, check->mask};
  } else {
    f.end = RunFacts::End::Other;
    f.reason = ReasonOfFailure(run_messages, last_log_lines, player.adapter.Chip().LastErrorText());
  }
  return f;
}

}  // namespace tavrin::player
