// SPDX-License-Identifier: Apache-2.0

#include <algorithm>
#include <initializer_list>

#include "common/numbers.h"
#include "svf/interpreter.h"

namespace tavrin::svf {

namespace {

std::size_t Digits(std::int64_t bits) { return static_cast<std::size_t>((bits + 3) / 4); }

// A value as a number of `bits` bits: lined up at its right end, 0 digits
// added at the left, digits beyond the length dropped, and the bits of the
// top digit beyond the length cleared.
std::string Fit(std::string_view value, std::int64_t bits) {
  const std::size_t digits = Digits(bits);
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

std::string Ones(std::int64_t bits) { return Fit(std::string(Digits(bits), 'F'), bits); }

struct Piece {
  std::string_view hex;  // Digits(bits) digits
  std::int64_t bits;
};

// The pieces shifted one after the other, the first one first: as one
// number, the first piece holds the low bits.
std::string Join(std::initializer_list<Piece> pieces) {
  std::int64_t total = 0;
  for (const Piece& p : pieces) total += p.bits;
  std::string out(Digits(total), '0');
  std::int64_t at = 0;
  for (const Piece& p : pieces) {
    const std::size_t n = p.hex.size();
    for (std::int64_t b = 0; b < p.bits; ++b, ++at) {
      const int nibble = HexDigitValue(p.hex[n - 1 - static_cast<std::size_t>(b / 4)]);
      if (((static_cast<unsigned>(nibble) >> static_cast<unsigned>(b % 4)) & 1U) == 0) continue;
      char& digit = out[out.size() - 1 - static_cast<std::size_t>(at / 4)];
      digit = HexDigitChar(static_cast<unsigned>(HexDigitValue(digit)) | (1U << static_cast<unsigned>(at % 4)));
    }
  }
  return out;
}

std::string Shown(const std::string& text) { return text.size() > 40 ? text.substr(0, 40) + "..." : text; }

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
    BailOut("Uh Oh, the value of " + name + " is not a hexadecimal number: " + Shown(word) + ".  Bailing Out");
    return false;
  }
  value.assign(digits);
  return true;
}

bool Interpreter::ScanLength(const std::vector<std::string>& words, std::int64_t& length) {
  if (words.size() < 2) {
    BailOut("Uh Oh, " + words[0] + " is missing its length.  Bailing Out");
    return false;
  }
  // A whole number of bits, written as a number and nothing else; 0 is a
  // scan that shifts nothing.
  const std::optional<double> parsed = ParseDecimalWord(words[1]);
  const std::string shown_length = words[1].substr(0, 40);
  if (!parsed || *parsed < 0 || RoundHalfEven(*parsed) != *parsed) {
    BailOut("Uh Oh, " + words[0] + " wants a length in bits, not " + shown_length + ".  Bailing Out");
    return false;
  }
  if (*parsed > static_cast<double>(max_scan_bits)) {
    BailOut("Uh Oh, a scan of " + shown_length + " bits is more than I can shift.  Bailing Out");
    return false;
  }
  length = static_cast<std::int64_t>(*parsed);
  return true;
}

bool Interpreter::ScanValues(const std::vector<std::string>& words, Values& values) {
  // Each keyword takes the value in parentheses after it; a later keyword of
  // the same name wins. Anything else is refused: a misspelt TDO would
  // otherwise drop its check without a word.
  for (std::size_t i = 2; i < words.size(); i += 2) {
    std::string* target = nullptr;
    if (words[i] == "TDI") {
      target = &values.tdi;
      values.has_tdi = true;
    } else if (words[i] == "SMASK") {
      target = &values.smask;
      values.has_smask = true;
    } else if (words[i] == "TDO") {
      target = &values.tdo;
      values.has_tdo = true;
    } else if (words[i] == "MASK") {
      target = &values.mask;
      values.has_mask = true;
    } else {
      BailOut("Uh Oh, I don't know what " + Shown(words[i]) + " means in a " + words[0] + ".  Bailing Out");
      return false;
    }
    if (!ScanValue(words, i, *target)) return false;
  }
  return true;
}

bool Interpreter::Resolve(Command command, std::int64_t length, const Values& given, Resolved& out) {
  Remembered& r = remembered_[command];
  const bool same = r.length == length;
  const bool padding = command >= kHir;
  // MASK: as given, else the last one while the length stays, else all ones.
  std::string mask = given.has_mask ? Fit(given.mask, length) : same && !r.mask.empty() ? r.mask : Ones(length);
  std::string smask;
  if (given.has_smask) {
    smask = Fit(given.smask, length);
  } else if (rules_.remember_values && same) {
    smask = r.smask;
  }
  std::string tdi;
  if (given.has_tdi) {
    tdi = Fit(given.tdi, length);
  } else if (rules_.remember_values && same && !r.tdi.empty()) {
    tdi = r.tdi;
  } else if (padding) {
    // Header and trailer bits of other devices: BYPASS (all ones) for
    // instruction registers, zeros for data registers.
    tdi = command == kHir || command == kTir ? Ones(length) : Fit("", length);
  } else if (rules_.remember_values && length > 0) {
    BailOut("Uh Oh, " + std::string(command == kSir ? "SIR" : "SDR") + " " + std::to_string(length) +
            " needs its TDI: none was given for this length.  Bailing Out");
    return false;
  } else {
    tdi = Fit("", length);
  }
  r = Remembered{length, tdi, smask, mask};

  out.tdi = smask.empty() ? std::move(tdi) : MaskHexDigits(smask, tdi, Digits(length));
  out.check = given.has_tdo;
  out.tdo = given.has_tdo ? Fit(given.tdo, length) : Fit("", length);
  out.care = given.has_tdo ? std::move(mask) : Fit("", length);
  return true;
}

void Interpreter::HeaderTrailer(const std::vector<std::string>& words) {
  struct Kind {
    const char* command;
    Command id;
    const char* ok;      // after the length
    const char* suffix;  // of the refusal
  };
  static constexpr Kind kKinds[] = {
      {"HDR", kHdr, " trailing DR bits OK", " trailing DR bits.  Bailing Out"},
      {"HIR", kHir, " trailing IR bits OK", " trailing IR bits.  Bailing Out"},
      {"TDR", kTdr, " leading DR bits OK", " leading DR bits.  Bailing Out"},
      {"TIR", kTir, " leading IR bits OK", " leading IR bits.  Bailing Out"},
  };
  for (const Kind& k : kKinds) {
    if (words[0] != k.command) continue;
    if (!rules_.headers_and_trailers) {
      if (ParseNumber(words[1]) == 0) {
        window_.AppendLog(std::string("0") + k.ok);
      } else {
        BailOut("Uh Oh, I don't know how to process " + words[1] + k.suffix);
        looks_standard_ = true;
      }
      return;
    }
    std::int64_t length = 0;
    Values values;
    Resolved bits;
    if (!ScanLength(words, length) || !ScanValues(words, values) || !Resolve(k.id, length, values, bits)) return;
    padding_[k.id - kHir] = Padding{length, std::move(bits)};
    window_.AppendLog(std::to_string(length) + k.ok);
    return;
  }
}

void Interpreter::ExecuteScanStatement(const std::vector<std::string>& words) {
  const bool ir = words[0] == "SIR";
  std::int64_t length = 0;
  Values values;
  Resolved body;
  if (!ScanLength(words, length) || !ScanValues(words, values) || !Resolve(ir ? kSir : kSdr, length, values, body)) {
    return;
  }
  const Padding& header = padding_[(ir ? kHir : kHdr) - kHir];
  const Padding& trailer = padding_[(ir ? kTir : kTdr) - kHir];
  const std::int64_t total = header.length + length + trailer.length;
  if (total > max_scan_bits) {
    BailOut("Uh Oh, a scan of " + std::to_string(total) + " bits is more than I can shift.  Bailing Out");
    return;
  }
  // The header bits go first (to the devices nearest TDO), the trailer bits
  // last; without either the scan is the statement's own.
  Resolved all;
  if (header.length == 0 && trailer.length == 0) {
    all = std::move(body);
  } else {
    const auto join = [&](std::string Resolved::*field) {
      return Join({{header.bits.*field, header.length}, {body.*field, length}, {trailer.bits.*field, trailer.length}});
    };
    all.tdi = join(&Resolved::tdi);
    all.tdo = join(&Resolved::tdo);
    all.care = join(&Resolved::care);
    all.check = header.bits.check || body.check || trailer.bits.check;
  }

  // A scan of 0 bits goes from Capture to Exit1 without entering Shift.
  if (rules_.scans_capture_anew) engine_.MoveToState(ir ? "IRCAPTURE" : "DRCAPTURE");
  if (total > 0) {
    engine_.MoveToState(ir ? "IRSHIFT" : "DRSHIFT");
  } else {
    engine_.MoveToState(ir ? "IRCAPTURE" : "DRCAPTURE");
    engine_.MoveToState(ir ? "IREXIT1" : "DREXIT1");
  }
  // A walk that failed or was stopped: the scan is never clocked.
  if (flags_.StopRequested == kTrue) return;
  const std::string& end_state = ir ? EndIrState : EndDrState;
  const bool decides = all.check && all.care.find_first_not_of('0') != std::string::npos;
  if (ordered_ == nullptr || decides) {
    const std::string captured = engine_.ShiftBits(end_state, static_cast<std::int32_t>(total), all.tdi);
    // A scan cut short by a stop has nothing to report or compare.
    if (engine_.LastScanCut()) return;
    Report(all, total, captured).AppendTo(window_);
    return;
  }
  window_.AppendLog(jtag::ScanSizeLine(static_cast<std::int32_t>(total)));
  const OrderedLog::Slot slot = ordered_->Reserve();
  const std::string tdi = all.tdi;  // the report keeps its own
  engine_.ShiftBitsThen(end_state, static_cast<std::int32_t>(total), tdi,
                        [this, slot, all = std::move(all), total](std::string captured, bool cut) {
                          ordered_->Fill(slot, cut ? LogLines{} : Report(all, total, std::move(captured)));
                        });
}

LogLines Interpreter::Report(const Resolved& all, std::int64_t total, std::string captured) {
  LogLines lines;
  lines.Add({"Sent: ", all.tdi});
  lines.Add({"Got: ", captured});
  if (!all.check) return lines;
  // Only scans clocked in full are reported; the fit is for safety.
  captured = Fit(captured, total);
  const std::string expected = MaskHexDigits(all.tdo, all.care, Digits(total));
  const std::string result = MaskHexDigits(captured, all.care, Digits(total));
  lines.Add({"Masked Expectation: ", expected, ", Masked Result: ", result}, true);
  ++checks_made_;
  if (expected == result) {
    ++checks_passed_;
    lines.Add({" Pass!"});
  } else {
    if (stop_on_failed_check) {
      lines.Add({" Fail!  Bailing out..."});
      flags_.StopRequested = kTrue;
    } else {
      lines.Add({" Fail!"});
    }
    failed_check_ = FailedCheck{all.tdo, captured, all.care};
  }
  return lines;
}

}  // namespace tavrin::svf
