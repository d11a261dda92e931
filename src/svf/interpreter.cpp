#include "svf/interpreter.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"
#include "jtag/tap.h"

namespace tavrin::svf {

std::vector<std::string> StatementWords(std::string_view text) {
  std::vector<std::string> words;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0;
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
      continue;
    }
    std::string word;
    if (text[i] == '(') {
      // Long values are copied in runs between blanks, not byte by byte.
      const std::size_t close = text.find(')', i);
      const std::size_t stop = close == std::string_view::npos ? text.size() : close + 1;
      word.reserve(stop - i);
      while (i < stop) {
        std::size_t run = i;
        while (run < stop && !blank(text[run])) ++run;
        word.append(text.substr(i, run - i));
        i = run;
        while (i < stop && blank(text[i])) ++i;
      }
    } else {
      const std::size_t start = i;
      while (i < text.size() && !blank(text[i]) && text[i] != '(') ++i;
      word.assign(text.substr(start, i - start));
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string MaskHexDigits(std::string_view a, std::string_view b, std::size_t positions) {
  std::string out(positions, '0');
  for (std::size_t k = 0; k < positions; ++k) {
    const int x = k < a.size() ? std::max(HexDigitValue(a[k]), 0) : 0;
    const int y = k < b.size() ? std::max(HexDigitValue(b[k]), 0) : 0;
    out[k] = HexDigitChar(static_cast<unsigned>(x & y));
  }
  return out;
}

void Interpreter::StartRun() {
  for (RememberedMask& m : last_mask_) m = RememberedMask{};
  checks_made_ = 0;
  checks_passed_ = 0;
  failed_check_.reset();
}

void Interpreter::BailOut(const std::string& line) {
  window_.AppendLog(line);
  flags_.StopRequested = kTrue;
}

void Interpreter::ExecuteSvfStatement(std::string& statement) {
  if (!statement.empty() && statement.back() == ';') statement.pop_back();
  std::string upper = statement;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const std::vector<std::string> words = StatementWords(upper);
  if (words.empty()) return;

  const std::string& command = words[0];
  const bool needs_value = command == "ENDIR" || command == "ENDDR" || command == "HDR" || command == "HIR" ||
                           command == "TDR" || command == "TIR" || command == "RUNTEST";
  if (needs_value && words.size() < 2) {
    BailOut("Uh Oh, " + command + " is missing its value.  Bailing Out");
    return;
  }

  if (command == "ENDIR") {
    EndIrState = words[1];
    window_.AppendLog("Set IR end state to " + words[1]);
  } else if (command == "ENDDR") {
    EndDrState = words[1];
    window_.AppendLog("Set DR end state to " + words[1]);
  } else if (command == "FREQUENCY") {
    window_.AppendLog("My frequency is very low, ignoring this directive.. ");
  } else if (command == "HDR" || command == "HIR" || command == "TDR" || command == "TIR") {
    HeaderTrailer(words);
  } else if (command == "RUNTEST") {
    RunTest(words);
  } else if (command == "SIR" || command == "SDR") {
    ExecuteScanStatement(words);
  } else if (command == "STATE") {
    State(words);
  } else if (command == "TRST") {
    window_.AppendLog("No control over RST, ignoring ");
  } else if (command.compare(0, 2, "//") == 0) {
    // A comment that reached the interpreter: ignored whole.
  } else {
    window_.AppendLog("Hmm.  I don't know how to do a " + command);
    BailOut("Sorry, I've got to bail out.. ");
  }
}

void Interpreter::HeaderTrailer(const std::vector<std::string>& words) {
  struct Kind {
    const char* command;
    const char* ok;
    const char* suffix;
  };
  static constexpr Kind kKinds[] = {
      {"HDR", "0 trailing DR bits OK", " trailing DR bits.  Bailing Out"},
      {"HIR", "0 trailing IR bits OK", " trailing IR bits.  Bailing Out"},
      {"TDR", "0 leading DR bits OK", " leading DR bits.  Bailing Out"},
      {"TIR", "0 leading IR bits OK", " leading IR bits.  Bailing Out"},
  };
  for (const Kind& k : kKinds) {
    if (words[0] != k.command) continue;
    if (ParseNumber(words[1]) == 0) {
      window_.AppendLog(k.ok);
    } else {
      BailOut("Uh Oh, I don't know how to process " + words[1] + k.suffix);
    }
    return;
  }
}

bool Interpreter::Wait(std::uint32_t ms) {
  // In slices, with the window's events handled between them, so that it
  // repaints and a stop cuts the wait short. The end is a point in time, so
  // the slices add up to the whole wait.
  constexpr std::uint64_t kSliceUs = 20'000;
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

void Interpreter::State(const std::vector<std::string>& words) {
  // The walk stops at the first word that is no state (reported once by the
  // walk itself) or at a failed step.
  for (std::size_t i = 1; i < words.size(); ++i) {
    engine_.MoveToState(words[i]);
    window_.ProcessPendingEvents();
    if (flags_.StopRequested == kTrue) return;
  }
}

// RUNTEST [run_state] [run_count TCK|SCK] [min_time SEC [MAXIMUM max_time SEC]]
//         [ENDSTATE end_state]
// The TAP waits in the run state on the computer's clock: run_count at one
// microsecond a tick plus 1 ms, and never less than min_time.
void Interpreter::RunTest(const std::vector<std::string>& words) {
  const std::size_t n = words.size();
  std::size_t i = 1;
  std::string run_state = "IDLE";
  if (jtag::TapStateFromName(words[i])) {
    run_state = words[i++];
  } else if (n > 2 && !ParseDecimalWord(words[1]) && words[1] != "ENDSTATE") {
    // Meant as the run state, but no state: reported by the walk.
    engine_.MoveToState(words[1]);
    return;
  }
  const std::string* count_word = nullptr;
  const std::string* time_word = nullptr;
  double ticks = 0;
  double seconds = 0;
  if (i < n && ParseDecimalWord(words[i]) && !(i + 1 < n && words[i + 1] == "SEC")) {
    count_word = &words[i];
    ticks = ParseNumber(words[i]);
    ++i;
    if (i < n && (words[i] == "TCK" || words[i] == "SCK")) ++i;
  }
  if (i + 1 < n && words[i + 1] == "SEC" && ParseDecimalWord(words[i])) {
    time_word = &words[i];
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
  const std::string* end_state = nullptr;
  if (i < n && words[i] == "ENDSTATE") {
    if (i + 1 >= n) {
      BailOut("Uh Oh, RUNTEST ENDSTATE is missing its state.  Bailing Out");
      return;
    }
    end_state = &words[i + 1];
    i += 2;
  }
  if (i < n) {
    BailOut("Uh Oh, I don't know what " + words[i].substr(0, 40) + " means in a RUNTEST.  Bailing Out");
    return;
  }
  if (count_word == nullptr && time_word == nullptr) {
    BailOut("Uh Oh, RUNTEST is missing its value.  Bailing Out");
    return;
  }
  if (end_state != nullptr && !jtag::TapStateFromName(*end_state)) {
    engine_.MoveToState(*end_state);  // reports the unknown state
    return;
  }

  const std::string what = time_word == nullptr  ? *count_word + " ticks"
                           : count_word == nullptr ? *time_word + " SEC"
                                                   : *count_word + " ticks and " + *time_word + " SEC";
  const double tick_ms = RoundHalfEven(ticks / 1000 + 1);
  const double limit = static_cast<double>(max_wait_ms);
  if (!(ticks >= 0) || !(seconds >= 0) || !(tick_ms <= limit) || !(seconds * 1000 <= limit)) {
    BailOut("Uh Oh, I can't wait " + what + ".  Bailing Out");
    return;
  }
  // The time the file asks for, rounded up to whole milliseconds (through
  // nanoseconds, so that 2.0E-3 is 2 ms and not 3).
  const auto ns = static_cast<std::uint64_t>(std::llround(seconds * 1e9));
  const std::uint64_t whole_ms = (ns + 999'999U) / 1'000'000U;
  const auto time_ms = static_cast<double>(whole_ms);
  const double ms = std::max(tick_ms, time_ms);
  if (!(ms <= limit)) {
    BailOut("Uh Oh, I can't wait " + what + ".  Bailing Out");
    return;
  }

  engine_.MoveToState(run_state);
  if (flags_.StopRequested == kTrue) return;
  window_.AppendLog("Waiting " + what + ", " + FormatWhole(ms) + " ms...");
  if (!Wait(static_cast<std::uint32_t>(ms))) return;
  if (end_state != nullptr) engine_.MoveToState(*end_state);
}

}  // namespace tavrin::svf
