#include "svf/interpreter.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"

namespace tavrin::svf {

std::vector<std::string> StatementWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
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
    for (std::size_t i = 1; i < words.size(); ++i) engine_.MoveToState(words[i]);
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

void Interpreter::RunTest(const std::vector<std::string>& words) {
  // With four words or more, word 1 is the run state.
  const bool has_state = words.size() >= 4;
  engine_.MoveToState(has_state ? words[1] : std::string("IDLE"));
  const std::string& count_word = has_state ? words[2] : words[1];
  const double ticks = ParseNumber(count_word);
  const double ms = RoundHalfEven(ticks / 1000 + 1);
  if (!(ticks >= 0) || !(ms <= static_cast<double>(max_wait_ms))) {
    BailOut("Uh Oh, I can't wait " + count_word + " ticks.  Bailing Out");
    return;
  }
  window_.AppendLog("Waiting " + count_word + " ticks, " + FormatWhole(ms) + " ms...");
  clock_.SleepMs(static_cast<std::uint32_t>(ms));
}

}  // namespace tavrin::svf
