// SPDX-License-Identifier: Apache-2.0

#include "svf/work.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"
#include "jtag/tap.h"
#include "svf/interpreter.h"

namespace tavrin::svf {

namespace {

// A length in bits as the interpreter takes it; 0 for anything else.
std::uint64_t Length(const Words& words) {
  if (words.size() < 2) return 0;
  const std::optional<double> n = ParseDecimalWord(words[1]);
  if (!n || !(*n >= 0) || *n > static_cast<double>(kMaxScanBits)) return 0;
  return static_cast<std::uint64_t>(*n);
}

// Seconds bounded as the interpreter bounds a wait (a longer one stops the
// run), as whole microseconds.
std::uint64_t WaitMicros(double seconds) {
  const double limit = static_cast<double>(kMaxWaitMs) / 1000;
  if (!(seconds > 0)) return 0;
  return static_cast<std::uint64_t>(std::llround(std::min(seconds, limit) * 1e6));
}

}  // namespace

std::uint64_t WorkUnits(const Work& work) {
  return work.statements + work.clocks + work.wait_us / (1'000'000 / kClocksPerWaitSecond);
}

const Words& WorkCounter::LeadingWords(std::string_view statement) {
  constexpr std::size_t kLead = 80;
  std::string_view lead = statement.substr(0, std::min(statement.find('('), kLead));
  if (!lead.empty() && lead.back() == ';') lead.remove_suffix(1);
  words_.Split(lead);
  return words_;
}

Work WorkCounter::Of(std::string_view statement) {
  Work work;
  work.statements = 1;
  // The command is the statement's first word: it ends at a blank, a "(" or
  // the ";".
  const std::size_t command_end = statement.find_first_of(" \t(;");
  const std::string_view command_text = statement.substr(0, command_end);
  char command_buffer[12] = {};
  if (command_text.size() >= sizeof command_buffer) return work;  // no command that counts is so long
  for (std::size_t i = 0; i < command_text.size(); ++i) {
    const char c = command_text[i];
    command_buffer[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view command(command_buffer, command_text.size());
  if (command == "SIR" || command == "SDR") {
    work.clocks = Length(LeadingWords(statement));
    if (rules_.headers_and_trailers) work.clocks += command == "SIR" ? padding_[0] + padding_[2] : padding_[1] + padding_[3];
    return work;
  }
  if (command == "HIR" || command == "HDR" || command == "TIR" || command == "TDR") {
    if (!rules_.headers_and_trailers) return work;
    const std::size_t slot = (command[0] == 'T' ? 2U : 0U) + (command[1] == 'D' ? 1U : 0U);
    padding_[slot] = Length(LeadingWords(statement));
    return work;
  }
  if (command == "FREQUENCY") {
    if (!rules_.runtest_clocks) return work;
    const Words& words = LeadingWords(statement);
    const std::optional<double> hz = words.size() > 1 ? ParseDecimalWord(words[1]) : std::optional<double>(1e6);
    if (hz && *hz > 0 && std::isfinite(*hz)) frequency_hz_ = *hz;
    return work;
  }
  if (command != "RUNTEST") return work;

  // RUNTEST [state] [count TCK|SCK] [time SEC [MAXIMUM time SEC]] [ENDSTATE state]
  const Words& words = LeadingWords(statement);
  std::size_t i = 1;
  if (i < words.size() && jtag::TapStateFromName(words[i])) ++i;
  double count = 0;
  bool tck = true;
  double seconds = 0;
  if (i < words.size() && ParseDecimalWord(words[i]) && !(i + 1 < words.size() && words[i + 1] == "SEC")) {
    count = ParseNumber(words[i++]);
    if (i < words.size() && (words[i] == "TCK" || words[i] == "SCK")) tck = words[i++] == "TCK";
  }
  if (i + 1 < words.size() && words[i + 1] == "SEC" && ParseDecimalWord(words[i])) seconds = ParseNumber(words[i]);
  if (!(count >= 0) || !(seconds >= 0)) return work;
  if (!rules_.runtest_clocks) {
    // Waited on the computer's clock: a microsecond a tick and 1 ms more,
    // in whole milliseconds, and never less than the time.
    work.wait_us = std::max(WaitMicros(RoundHalfEven(count / 1000 + 1) / 1000), WaitMicros(seconds));
    return work;
  }
  // The clocks go out in the run state; the statement lasts the longer of
  // its count at the FREQUENCY and its time, the clocks counting towards it.
  if (tck) work.clocks = static_cast<std::uint64_t>(std::min(count, 1e12));
  const std::uint64_t lasts = std::max(WaitMicros(count / frequency_hz_), WaitMicros(seconds));
  const std::uint64_t clocking = work.clocks * (1'000'000 / kClocksPerWaitSecond);
  work.wait_us = lasts > clocking ? lasts - clocking : 0;
  return work;
}

std::optional<double> SecondsLeft(const Work& done, const Work& total, double active_seconds) {
  if (!(active_seconds >= kSecondsBeforeEstimate)) return std::nullopt;
  auto left = [](std::uint64_t all, std::uint64_t part) { return all - std::min(all, part); };
  const double waits_left = static_cast<double>(left(total.wait_us, done.wait_us)) / 1e6;
  const std::uint64_t rest_done = std::min(done.statements, total.statements) + std::min(done.clocks, total.clocks);
  const std::uint64_t rest_left = left(total.statements, done.statements) + left(total.clocks, done.clocks);
  if (rest_left == 0) return waits_left;
  const double rest_seconds = active_seconds - static_cast<double>(std::min(done.wait_us, total.wait_us)) / 1e6;
  if (rest_done == 0 || !(rest_seconds > 0)) {
    // No pace yet: statements alone take next to no time, clocks cannot be told.
    if (total.clocks <= done.clocks) return waits_left;
    return std::nullopt;
  }
  return waits_left + static_cast<double>(rest_left) * rest_seconds / static_cast<double>(rest_done);
}

std::string TimeLeftText(double seconds) {
  const auto s = static_cast<std::uint64_t>(std::ceil(std::clamp(seconds, 1.0, 1e9)));
  std::string text = "about ";
  if (s < 60) {
    text += std::to_string(s) + " s";
  } else if (s < 3600) {
    text += std::to_string(s / 60) + " min";
    if (s % 60 != 0) text += ' ' + std::to_string(s % 60) + " s";
  } else {
    text += std::to_string(s / 3600) + " h";
    if (s % 3600 / 60 != 0) text += ' ' + std::to_string(s % 3600 / 60) + " min";
  }
  return text + " left";
}

}  // namespace tavrin::svf
