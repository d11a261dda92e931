#include <algorithm>

#include "common/numbers.h"
#include "svf/interpreter.h"

namespace tavrin::svf {

namespace {

// A value as a number of `digits` digits: lined up at its right end, 0
// digits added at the left, digits beyond the length dropped, and the bits
// of the top digit beyond the length cleared.
std::string Fit(const std::string& value, std::size_t digits, std::int64_t bits) {
  std::string out(digits, '0');
  const std::size_t take = std::min(value.size(), digits);
  std::copy(value.end() - static_cast<std::ptrdiff_t>(take), value.end(),
            out.end() - static_cast<std::ptrdiff_t>(take));
  const auto top_bits = static_cast<unsigned>(bits % 4);
  if (digits > 0 && top_bits != 0) {
    out[0] = HexDigitChar(static_cast<unsigned>(HexDigitValue(out[0])) & ((1U << top_bits) - 1U));
  }
  return out;
}

}  // namespace

bool Interpreter::ScanValue(const std::vector<std::string>& words, std::size_t keyword, std::string& value) {
  const std::string& name = words[keyword];
  if (keyword + 1 >= words.size() || words[keyword + 1].empty() || words[keyword + 1][0] != '(') {
    BailOut("Uh Oh, " + name + " has no value in parentheses.  Bailing Out");
    return false;
  }
  const std::string& word = words[keyword + 1];
  if (word.back() != ')') {
    BailOut("Uh Oh, the value of " + name + " has a '(' without its ')'.  Bailing Out");
    return false;
  }
  const std::string_view digits(word.data() + 1, word.size() - 2);
  const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigitValue(c) >= 0; });
  if (digits.empty() || !hex) {
    const std::string shown = word.size() > 40 ? word.substr(0, 40) + "..." : word;
    BailOut("Uh Oh, the value of " + name + " is not a hexadecimal number: " + shown + ".  Bailing Out");
    return false;
  }
  value.assign(digits);
  return true;
}

void Interpreter::ExecuteScanStatement(const std::vector<std::string>& words) {
  const bool ir = words[0] == "SIR";
  if (words.size() < 2) {
    BailOut("Uh Oh, " + words[0] + " is missing its length.  Bailing Out");
    return;
  }
  // The length is a whole number of bits, written as a number and nothing
  // else; 0 is a scan that shifts nothing.
  const std::optional<double> parsed = ParseDecimalWord(words[1]);
  const std::string shown_length = words[1].substr(0, 40);
  if (!parsed || *parsed < 0 || RoundHalfEven(*parsed) != *parsed) {
    BailOut("Uh Oh, " + words[0] + " wants a length in bits, not " + shown_length + ".  Bailing Out");
    return;
  }
  if (*parsed > static_cast<double>(max_scan_bits)) {
    BailOut("Uh Oh, a scan of " + shown_length + " bits is more than I can shift.  Bailing Out");
    return;
  }
  const auto length = static_cast<std::int64_t>(*parsed);

  // Each keyword takes the value in parentheses after it; a later keyword of
  // the same name wins. Anything else in a scan is refused: a misspelt TDO
  // would otherwise drop its check without a word.
  std::string tdi;
  std::string smask;
  std::string tdo;
  std::string mask;
  bool has_tdo = false;
  bool has_mask = false;
  for (std::size_t i = 2; i < words.size(); i += 2) {
    std::string* target = nullptr;
    if (words[i] == "TDI") {
      target = &tdi;
    } else if (words[i] == "SMASK") {
      target = &smask;
    } else if (words[i] == "TDO") {
      target = &tdo;
      has_tdo = true;
    } else if (words[i] == "MASK") {
      target = &mask;
      has_mask = true;
    } else {
      const std::string shown = words[i].size() > 40 ? words[i].substr(0, 40) + "..." : words[i];
      BailOut("Uh Oh, I don't know what " + shown + " means in a " + words[0] + ".  Bailing Out");
      return;
    }
    if (!ScanValue(words, i, *target)) return;
  }

  const auto digits = static_cast<std::size_t>((length + 3) / 4);
  tdi = Fit(tdi, digits, length);
  if (!smask.empty()) tdi = MaskHexDigits(Fit(smask, digits, length), tdi, digits);

  // A scan that gives TDO without MASK compares under the last MASK of its
  // kind while the length stays the same, else under all ones.
  RememberedMask& remembered = last_mask_[ir ? 0 : 1];
  if (has_mask) {
    remembered.length = length;
    remembered.digits = Fit(mask, digits, length);
  } else if (remembered.length != length) {
    remembered.length = length;
    remembered.digits.clear();
  }

  // A scan of 0 bits goes from Capture to Exit1 without entering Shift.
  if (length > 0) {
    engine_.MoveToState(ir ? "IRSHIFT" : "DRSHIFT");
  } else {
    engine_.MoveToState(ir ? "IRCAPTURE" : "DRCAPTURE");
    engine_.MoveToState(ir ? "IREXIT1" : "DREXIT1");
  }
  const std::string& end_state = ir ? EndIrState : EndDrState;
  std::string captured = engine_.ShiftBits(end_state, static_cast<std::int32_t>(length), tdi);
  // A scan cut short by a stop has nothing to report or compare.
  if (engine_.LastScanCut()) return;
  window_.AppendLog("Sent: " + tdi);
  window_.AppendLog("Got: " + captured);

  if (!has_tdo) return;
  // A short read-back (the run stops then anyway) compares as zeros.
  captured = Fit(captured, digits, length);
  const std::string care =
      remembered.digits.empty() ? Fit(std::string(digits, 'F'), digits, length) : remembered.digits;
  const std::string wanted = Fit(tdo, digits, length);
  const std::string expected = MaskHexDigits(wanted, care, digits);
  const std::string result = MaskHexDigits(captured, care, digits);
  window_.AppendLogNoBreak("Masked Expectation: " + expected + ", Masked Result: " + result);
  ++checks_made_;
  if (expected == result) {
    ++checks_passed_;
    window_.AppendLog(" Pass!");
  } else {
    window_.AppendLog(" Fail!  Bailing out...");
    flags_.StopRequested = kTrue;
    failed_check_ = FailedCheck{wanted, captured, care};
  }
}

}  // namespace tavrin::svf
