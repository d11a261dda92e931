// SPDX-License-Identifier: Apache-2.0

#include "svf/interpreter.h"

#include <algorithm>
#include <cmath>

#include "adapter/tck.h"
#include "common/numbers.h"
#include "jtag/tap.h"

namespace tavrin::svf {

std::string MaskHexDigits(std::string_view a, std::string_view b, std::size_t positions) {
  std::string out(positions, '0');
  for (std::size_t k = 0; k < positions; ++k) {
    const int x = k < a.size() ? std::max(HexDigitValue(a[k]), 0) : 0;
    const int y = k < b.size() ? std::max(HexDigitValue(b[k]), 0) : 0;
    out[k] = HexDigitChar(static_cast<unsigned>(x & y));
  }
  return out;
}

void Interpreter::StartRun(const ReadingRules& rules) {
  rules_ = rules;
  for (Remembered& r : remembered_) r = Remembered{};
  for (Padding& p : padding_) p = Padding{};
  frequency_hz_ = 1e6;
  run_state_ = "IDLE";
  run_end_state_ = "IDLE";
  checks_made_ = 0;
  checks_passed_ = 0;
  failed_check_.reset();
  looks_standard_ = false;
}

void Interpreter::BailOut(std::string_view line) {
  window_.AppendLog(line);
  flags_.StopRequested = kTrue;
}

void Interpreter::ExecuteSvfStatement(std::string& statement) {
  if (!statement.empty() && statement.back() == ';') statement.pop_back();
  words_.Split(statement);
  const Words& words = words_;
  if (words.empty()) return;

  const std::string_view command = words[0];
  if (command == "SDR" || command == "SIR") {
    ExecuteScanStatement(words);
    return;
  }
  const bool needs_value = command == "ENDIR" || command == "ENDDR" || command == "HDR" || command == "HIR" ||
                           command == "TDR" || command == "TIR" || command == "RUNTEST";
  if (needs_value && words.size() < 2) {
    BailOut(Concat({"Uh Oh, ", command, " is missing its value.  Bailing Out"}));
    return;
  }

  if (command == "ENDIR") {
    if (!EndState(words, EndIrState)) return;
    window_.AppendLog(Concat({"Set IR end state to ", words[1]}));
  } else if (command == "ENDDR") {
    if (!EndState(words, EndDrState)) return;
    window_.AppendLog(Concat({"Set DR end state to ", words[1]}));
  } else if (command == "FREQUENCY") {
    // The clock is the bit-bang rate; the frequency only times RUNTEST's
    // clocks in the standard reading (1 MHz when none is given).
    if (rules_.runtest_clocks) {
      const std::optional<double> hz = words.size() > 1 ? ParseDecimalWord(words[1]) : std::nullopt;
      if (words.size() > 1 &&
          (!hz || !(*hz > 0) || !std::isfinite(*hz) || words.size() > 3 || (words.size() == 3 && words[2] != "HZ"))) {
        BailOut(Concat({"Uh Oh, FREQUENCY wants a number of HZ, not ", words[1].substr(0, 40), ".  Bailing Out"}));
        return;
      }
      frequency_hz_ = hz ? *hz : 1e6;
    }
    window_.AppendLog("My frequency is very low, ignoring this directive.. ");
  } else if (rules_.strict_statements && (command == "PIO" || command == "PIOMAP")) {
    BailOut(Concat({"Uh Oh, ", command, " is not supported: this player drives no other pins.  Bailing Out"}));
  } else if (rules_.strict_statements && command == "TRST" &&
             (words.size() != 2 ||
              (words[1] != "ON" && words[1] != "OFF" && words[1] != "Z" && words[1] != "ABSENT"))) {
    BailOut("Uh Oh, TRST wants ON, OFF, Z or ABSENT.  Bailing Out");
  } else if (command == "HDR" || command == "HIR" || command == "TDR" || command == "TIR") {
    HeaderTrailer(words);
  } else if (command == "RUNTEST") {
    RunTest(words);
  } else if (command == "STATE") {
    State(words);
  } else if (command == "TRST") {
    window_.AppendLog("No control over RST, ignoring ");
  } else if (command.substr(0, 2) == "//") {
    // A comment that reached the interpreter: ignored whole.
  } else {
    window_.AppendLog(Concat({"Hmm.  I don't know how to do a ", command}));
    BailOut("Sorry, I've got to bail out.. ");
    looks_standard_ = !rules_.comments_anywhere && command[0] == '!';
  }
}

bool Interpreter::Wait(std::uint32_t ms) {
  // In slices, with the window's events handled between them, so that it
  // repaints and a stop cuts the wait short. The end is a point in time, so
  // the slices add up to the whole wait.
  constexpr std::uint64_t kSliceUs = 20'000;
  // The wait starts once everything before it has been clocked.
  if (!engine_.Sync()) return false;
  const std::uint64_t end = clock_.NowMicros() + std::uint64_t{ms} * 1000U;
  for (;;) {
    const std::uint64_t now = clock_.NowMicros();
    if (now >= end) return true;
    const std::uint64_t slice = std::min(end - now, kSliceUs);
    clock_.SleepMs(static_cast<std::uint32_t>((slice + 999U) / 1000U));
    window_.ProcessPendingEventsNow();
    if (flags_.StopRequested == kTrue) return false;
  }
}

namespace {

bool Stable(std::string_view state) {
  return state == "IDLE" || state == "RESET" || state == "DRPAUSE" || state == "IRPAUSE";
}

// A time in seconds as whole milliseconds, rounded up (through nanoseconds,
// so that 2.0E-3 is 2 ms and not 3). The caller bounds the time first.
std::uint64_t WholeMsAtLeast(double seconds) {
  const auto ns = static_cast<std::uint64_t>(std::llround(seconds * 1e9));
  return (ns + 999'999U) / 1'000'000U;
}

}  // namespace

bool Interpreter::EndState(const Words& words, std::string& state) {
  // The default reading stores the word as it stands; a walk to it reports
  // a name that is no state.
  if (rules_.strict_statements && (words.size() != 2 || !Stable(words[1]))) {
    BailOut(Concat({"Uh Oh, ", words[0], " wants one of IDLE, RESET, DRPAUSE and IRPAUSE, not ", words[1].substr(0, 40),
                    ".  Bailing Out"}));
    return false;
  }
  state = words[1];
  return true;
}

void Interpreter::State(const Words& words) {
  // The standard reading walks a path that ends in a stable state; nothing
  // is clocked for a path that does not.
  if (rules_.strict_statements && words.size() > 1) {
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (!jtag::TapStateFromName(words[i])) {
        engine_.MoveToState(std::string(words[i]));  // reports the unknown state
        return;
      }
    }
    if (!Stable(words.back())) {
      BailOut(Concat({"Uh Oh, STATE must end in IDLE, RESET, DRPAUSE or IRPAUSE, not ", words.back(), ".  Bailing Out"}));
      return;
    }
    // A path of several states is walked as written: each state one clock
    // from the one before (RESET is reached from anywhere; the first may
    // name the state the TAP is in). Anything else would clock a walk the
    // file did not ask for.
    if (words.size() > 2) {
      const jtag::TapTables& t = engine_.Tables();
      int at = engine_.CurrentTapState;
      for (std::size_t i = 1; i < words.size(); ++i) {
        const int next = *jtag::TapStateFromName(words[i]);
        const auto& edges = t.NextStateTable[static_cast<std::size_t>(at)];
        const bool restated = i == 1 && next == at;
        if (!restated && next != jtag::RESET && edges[0] != next && edges[1] != next) {
          BailOut(Concat({"Uh Oh, STATE cannot go from ", jtag::kTapStateNames[static_cast<std::size_t>(at)], " to ",
                          words[i], " in one step: a path must follow the state diagram.  Bailing Out"}));
          return;
        }
        at = next;
      }
    }
  }
  // The walk stops at the first word that is no state (reported once by the
  // walk itself) or at a failed step.
  for (std::size_t i = 1; i < words.size(); ++i) {
    engine_.MoveToState(std::string(words[i]));
    window_.ProcessPendingEvents();
    if (flags_.StopRequested == kTrue) return;
  }
}

// RUNTEST [run_state] [run_count TCK|SCK] [min_time SEC [MAXIMUM max_time SEC]]
//         [ENDSTATE end_state]
// The default reading waits in the run state on the computer's clock:
// run_count at one microsecond a tick plus 1 ms, and never less than
// min_time. The standard reading clocks run_count TCK in the run state, then
// waits until the larger of min_time and run_count at the FREQUENCY has
// passed since the statement began; it remembers the run and end states.
// (A word is never empty: an empty view is a part not given.)
void Interpreter::RunTest(const Words& words) {
  const std::size_t n = words.size();
  std::size_t i = 1;
  std::string_view given_state;
  if (jtag::TapStateFromName(words[i])) {
    given_state = words[i++];
  } else if (n > 2 && !ParseDecimalWord(words[1]) && words[1] != "ENDSTATE") {
    // Meant as the run state, but no state: reported by the walk.
    engine_.MoveToState(std::string(words[1]));
    return;
  }
  std::string_view count_word;
  std::string_view time_word;
  bool tck = true;  // the count is of TCK clocks (not SCK)
  double ticks = 0;
  double seconds = 0;
  if (i < n && ParseDecimalWord(words[i]) && !(i + 1 < n && words[i + 1] == "SEC")) {
    count_word = words[i];
    ticks = ParseNumber(words[i]);
    ++i;
    if (i < n && (words[i] == "TCK" || words[i] == "SCK")) {
      tck = words[i] == "TCK";
      ++i;
    } else if (rules_.strict_statements) {
      BailOut("Uh Oh, RUNTEST wants TCK or SCK after its count.  Bailing Out");
      return;
    }
  }
  if (i + 1 < n && words[i + 1] == "SEC" && ParseDecimalWord(words[i])) {
    time_word = words[i];
    seconds = ParseNumber(words[i]);
    i += 2;
    if (i < n && words[i] == "MAXIMUM") {
      // The longest time allowed is read and not used: the player never
      // waits longer than it must.
      if (i + 2 < n && ParseDecimalWord(words[i + 1]) && words[i + 2] == "SEC") {
        i += 3;
      } else {
        BailOut("Uh Oh, RUNTEST MAXIMUM wants a time in SEC.  Bailing Out");
        return;
      }
    }
  }
  std::string_view end_state;
  if (i < n && words[i] == "ENDSTATE") {
    if (i + 1 >= n) {
      BailOut("Uh Oh, RUNTEST ENDSTATE is missing its state.  Bailing Out");
      return;
    }
    end_state = words[i + 1];
    i += 2;
  }
  if (i < n) {
    BailOut(Concat({"Uh Oh, I don't know what ", words[i].substr(0, 40), " means in a RUNTEST.  Bailing Out"}));
    return;
  }
  if (count_word.empty() && time_word.empty()) {
    BailOut("Uh Oh, RUNTEST is missing its value.  Bailing Out");
    return;
  }
  if (!end_state.empty() && !jtag::TapStateFromName(end_state)) {
    engine_.MoveToState(std::string(end_state));  // reports the unknown state
    return;
  }
  if (rules_.runtest_clocks) {
    RunTestClocks(given_state, count_word, tck, ticks, time_word, seconds, end_state);
    return;
  }
  const std::string run_state(given_state.empty() ? std::string_view("IDLE") : given_state);

  const std::string what = time_word.empty()    ? Concat({count_word, " ticks"})
                           : count_word.empty() ? Concat({time_word, " SEC"})
                                                : Concat({count_word, " ticks and ", time_word, " SEC"});
  const double tick_ms = RoundHalfEven(ticks / 1000 + 1);
  const double limit = static_cast<double>(max_wait_ms);
  if (!(ticks >= 0) || !(seconds >= 0) || !(tick_ms <= limit) || !(seconds * 1000 <= limit)) {
    BailOut("Uh Oh, I can't wait " + what + ".  Bailing Out");
    return;
  }
  // Both waits are within the limit, a whole number of ms, so the larger is.
  const double ms = std::max(tick_ms, static_cast<double>(WholeMsAtLeast(seconds)));

  engine_.MoveToState(run_state);
  if (flags_.StopRequested == kTrue) return;
  window_.AppendLog("Waiting " + what + ", " + FormatWhole(ms) + " ms...");
  if (!Wait(static_cast<std::uint32_t>(ms))) return;
  if (!end_state.empty()) engine_.MoveToState(std::string(end_state));
}

void Interpreter::RunTestClocks(std::string_view given_state, std::string_view count_word, bool tck, double count,
                                std::string_view time_word, double seconds, std::string_view end_state) {
  const std::string run_state = given_state.empty() ? run_state_ : std::string(given_state);
  // An ENDSTATE is kept for the next RUNTEST; a run state given without one
  // is also the end state.
  const std::string end = !end_state.empty()     ? std::string(end_state)
                          : !given_state.empty() ? std::string(given_state)
                                                 : run_end_state_;
  for (const std::string* s : {&run_state, &end}) {
    if (!Stable(*s)) {
      BailOut("Uh Oh, RUNTEST wants IDLE, RESET, DRPAUSE or IRPAUSE, not " + *s + ".  Bailing Out");
      return;
    }
  }
  // The statement lasts the larger of the two times; the clocks count
  // towards it. Both are bounded like any wait.
  const double count_s = count / frequency_hz_;
  const double limit_s = static_cast<double>(max_wait_ms) / 1000;
  std::string what = count_word.empty() ? std::string() : Concat({count_word, tck ? " TCK" : " SCK"});
  if (!time_word.empty()) what += Concat({what.empty() ? "" : ", ", time_word, " SEC"});
  if (!(count >= 0) || !(seconds >= 0) || !(count_s <= limit_s) || !(seconds <= limit_s)) {
    BailOut("Uh Oh, I can't wait " + what + ".  Bailing Out");
    return;
  }
  // The FREQUENCY may promise more than the adapter can clock: the clocks
  // are bounded at the fastest the chip can really take them, before any
  // goes out.
  const double clocking_s = tck ? count * jtag::kBytesPerClockInPlace / jtag::kMostAnswersPerSecond : 0;
  if (!(clocking_s <= limit_s)) {
    BailOut("Uh Oh, " + what + " would take at least " + FormatWhole(std::ceil(clocking_s)) +
            " s to clock, more than the " + FormatWhole(limit_s) + " s a RUNTEST may last.  Bailing Out");
    return;
  }
  run_state_ = run_state;
  run_end_state_ = end;
  const std::uint64_t ms = WholeMsAtLeast(std::max(count_s, seconds));

  engine_.MoveToState(run_state);
  if (flags_.StopRequested == kTrue) return;
  window_.AppendLog("Running " + what + " in " + run_state + ", " + std::to_string(ms) + " ms...");
  if (tck && count >= 1 && !engine_.ClockTck(static_cast<std::uint64_t>(count))) return;
  if (!engine_.Sync()) return;
  // The clocks count towards the time in the run state, at the fastest TCK
  // the chip has (a slower TCK only adds to it). What was still being clocked
  // when the statement began, the scans before it, does not: the part was
  // not in the run state then.
  const auto clocked_ms = tck ? static_cast<std::uint64_t>(count * 1000 / static_cast<double>(adapter::kFastestTck)) : 0;
  if (clocked_ms < ms && !Wait(static_cast<std::uint32_t>(ms - clocked_ms))) return;
  engine_.MoveToState(end);
}

}  // namespace tavrin::svf
