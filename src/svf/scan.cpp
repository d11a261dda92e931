// SPDX-License-Identifier: Apache-2.0

#include <algorithm>
#include <initializer_list>

#include "common/numbers.h"
#include "svf/interpreter.h"

namespace tavrin::svf {

namespace {

std::size_t Digits(std::int64_t bits) { return static_cast<std::size_t>((bits + 3) / 4); }

// A value as a number of `bits` bits, written into `out` (whose memory is
// used again): lined up at its right end, 0 digits added at the left,
// digits beyond the length dropped, and the bits of the top digit beyond the
// length cleared. `value` must not be a view into `out`.
void FitInto(std::string& out, std::string_view value, std::int64_t bits) {
  const std::size_t digits = Digits(bits);
  const std::size_t take = std::min(value.size(), digits);
  out.assign(digits - take, '0');
  out.append(value.substr(value.size() - take));
  const auto top_bits = static_cast<unsigned>(bits % 4);
  if (digits > 0 && top_bits != 0) {
    out[0] = HexDigitChar(static_cast<unsigned>(HexDigitValue(out[0])) & ((1U << top_bits) - 1U));
  }
}

std::string Fit(std::string_view value, std::int64_t bits) {
  std::string out;
  FitInto(out, value, bits);
  return out;
}

std::string Ones(std::int64_t bits) { return Fit(std::string(Digits(bits), 'F'), bits); }

// Digit-by-digit AND of two texts of valid digits, `a` at least as long as
// `b`, into `out`: MaskHexDigits where nothing is missing or junk.
void MaskInto(std::string& out, std::string_view a, std::string_view b) {
  out.resize(b.size());
  for (std::size_t k = 0; k < b.size(); ++k) {
    out[k] = HexDigitChar(static_cast<unsigned>(HexDigitValue(a[k]) & HexDigitValue(b[k])));
  }
}

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

std::string Shown(std::string_view text) {
  return text.size() > 40 ? Concat({text.substr(0, 40), "..."}) : std::string(text);
}

}  // namespace

bool Interpreter::ScanValue(const Words& words, std::size_t keyword, std::string_view& value) {
  const std::string_view name = words[keyword];
  if (keyword + 1 >= words.size() || words[keyword + 1].empty() || words[keyword + 1][0] != '(') {
    BailOut(Concat({"Uh Oh, ", name, " has no value in parentheses.  Bailing Out"}));
    return false;
  }
  const std::string_view word = words[keyword + 1];
  if (word.back() != ')') {
    BailOut(Concat({"Uh Oh, the value of ", name, " has a '(' without its ')'.  Bailing Out"}));
    return false;
  }
  const std::string_view digits = word.substr(1, word.size() - 2);
  const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigitValue(c) >= 0; });
  if (digits.empty() || !hex) {
    BailOut(Concat({"Uh Oh, the value of ", name, " is not a hexadecimal number: ", Shown(word), ".  Bailing Out"}));
    return false;
  }
  value = digits;
  return true;
}

bool Interpreter::ScanLength(const Words& words, std::int64_t& length) {
  if (words.size() < 2) {
    BailOut(Concat({"Uh Oh, ", words[0], " is missing its length.  Bailing Out"}));
    return false;
  }
  // A whole number of bits, written as a number and nothing else; 0 is a
  // scan that shifts nothing.
  const std::optional<double> parsed = ParseDecimalWord(words[1]);
  const std::string_view shown_length = words[1].substr(0, 40);
  if (!parsed || *parsed < 0 || RoundHalfEven(*parsed) != *parsed) {
    BailOut(Concat({"Uh Oh, ", words[0], " wants a length in bits, not ", shown_length, ".  Bailing Out"}));
    return false;
  }
  if (*parsed > static_cast<double>(max_scan_bits)) {
    BailOut(Concat({"Uh Oh, a scan of ", shown_length, " bits is more than I can shift.  Bailing Out"}));
    return false;
  }
  length = static_cast<std::int64_t>(*parsed);
  return true;
}

bool Interpreter::ScanValues(const Words& words, Values& values) {
  // Each keyword takes the value in parentheses after it; a later keyword of
  // the same name wins. Anything else is refused: a misspelt TDO would
  // otherwise drop its check without a word.
  for (std::size_t i = 2; i < words.size(); i += 2) {
    std::string_view* target = nullptr;
    const std::string_view keyword = words[i];
    if (keyword == "TDI") {
      target = &values.tdi;
      values.has_tdi = true;
    } else if (keyword == "SMASK") {
      target = &values.smask;
      values.has_smask = true;
    } else if (keyword == "TDO") {
      target = &values.tdo;
      values.has_tdo = true;
    } else if (keyword == "MASK") {
      target = &values.mask;
      values.has_mask = true;
    } else {
      BailOut(Concat({"Uh Oh, I don't know what ", Shown(keyword), " means in a ", words[0], ".  Bailing Out"}));
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
  // TDI: as given, else (standard reading) the last one while the length
  // stays, else the padding's own bits, else zeros. Decided before anything
  // is remembered: a bail-out changes nothing.
  const bool tdi_remembered = !given.has_tdi && rules_.remember_values && same && !r.tdi.empty();
  if (!given.has_tdi && !tdi_remembered && !padding && rules_.remember_values && length > 0) {
    BailOut(Concat({"Uh Oh, ", command == kSir ? "SIR" : "SDR", " ", std::to_string(length),
                    " needs its TDI: none was given for this length.  Bailing Out"}));
    return false;
  }
  if (given.has_tdi) {
    FitInto(out.tdi, given.tdi, length);
  } else if (tdi_remembered) {
    out.tdi = r.tdi;
  } else if (padding && (command == kHir || command == kTir)) {
    // Header and trailer bits of other devices: BYPASS (all ones) for
    // instruction registers, zeros for data registers.
    out.tdi = Ones(length);
  } else {
    FitInto(out.tdi, "", length);
  }
  if (rules_.remember_values) r.tdi = out.tdi;
  // SMASK: as given, else (standard reading) the last one while the length
  // stays, else none.
  if (given.has_smask) {
    FitInto(r.smask, given.smask, length);
  } else if (!(rules_.remember_values && same)) {
    r.smask.clear();
  }
  // MASK: as given, else the last one while the length stays, else all ones.
  if (given.has_mask) {
    FitInto(r.mask, given.mask, length);
    r.mask_all = false;
  } else if (!same) {
    r.mask_all = true;
  }
  r.length = length;

  if (!r.smask.empty()) MaskInto(out.tdi, r.smask, out.tdi);
  out.check = given.has_tdo;
  out.care_all = given.has_tdo && r.mask_all;
  out.tdo.clear();
  out.care.clear();
  if (given.has_tdo) {
    FitInto(out.tdo, given.tdo, length);
    if (!r.mask_all) out.care = r.mask;
  }
  return true;
}

namespace {

// What a Resolved stands for, as text of `bits` bits: its TDI, its expected
// TDO or the bits it compares (zeros when it checks nothing).
std::string Tdo(const std::string& tdo, bool check, std::int64_t bits) { return check ? tdo : Fit("", bits); }
std::string Care(const std::string& care, bool check, bool all, std::int64_t bits) {
  return !check ? Fit("", bits) : all ? Ones(bits) : care;
}

}  // namespace

void Interpreter::HeaderTrailer(const Words& words) {
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
        BailOut(Concat({"Uh Oh, I don't know how to process ", words[1], k.suffix}));
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

void Interpreter::ExecuteScanStatement(const Words& words) {
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
    const auto join = [&](const std::string& h, const std::string& b, const std::string& t) {
      return Join({{h, header.length}, {b, length}, {t, trailer.length}});
    };
    const auto tdo = [](const Padding& p) { return Tdo(p.bits.tdo, p.bits.check, p.length); };
    const auto care = [](const Padding& p) { return Care(p.bits.care, p.bits.check, p.bits.care_all, p.length); };
    all.tdi = join(header.bits.tdi, body.tdi, trailer.bits.tdi);
    all.check = header.bits.check || body.check || trailer.bits.check;
    if (all.check) {
      all.tdo = join(tdo(header), Tdo(body.tdo, body.check, length), tdo(trailer));
      all.care = join(care(header), Care(body.care, body.check, body.care_all, length), care(trailer));
    }
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
  const bool decides =
      all.check && (all.care_all ? total > 0 : all.care.find_first_not_of('0') != std::string::npos);
  if (ordered_ == nullptr || decides) {
    const std::string captured = engine_.ShiftBits(end_state, static_cast<std::int32_t>(total), all.tdi);
    // A scan cut short by a stop has nothing to report or compare.
    if (engine_.LastScanCut()) return;
    scan_lines_.Clear();
    Report(all, total, captured, scan_lines_);
    scan_lines_.AppendTo(window_);
    return;
  }
  window_.AppendLog(jtag::ScanSizeLine(static_cast<std::int32_t>(total)));
  // The report waits in the queue for the answers; the bits are shifted from
  // a copy, since the queue may move while they are.
  if (queued_head_ == queued_.size()) {
    queued_.clear();
    queued_head_ = 0;
  }
  const std::uint64_t id = next_queued_id_++;
  queued_.push_back(Queued{id, ordered_->Reserve(), total, std::move(all)});
  shifted_ = queued_.back().all.tdi;
  engine_.ShiftBitsThen(end_state, static_cast<std::int32_t>(total), shifted_,
                        [this, id](const std::string& captured, bool cut) { FinishQueued(id, captured, cut); });
}

void Interpreter::FinishQueued(std::uint64_t id, std::string_view captured, bool cut) {
  // Scans complete in the order they were queued: this one is the oldest.
  std::size_t at = queued_head_;
  while (at < queued_.size() && queued_[at].id != id) ++at;
  if (at == queued_.size()) return;
  const Queued& q = queued_[at];
  queued_lines_.Clear();
  if (!cut) Report(q.all, q.total, captured, queued_lines_);
  const OrderedLog::Slot slot = q.slot;
  if (at == queued_head_) {
    ++queued_head_;
    // What is done is dropped once it is most of the queue.
    if (queued_head_ > 64 && queued_head_ * 2 > queued_.size()) {
      queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(queued_head_));
      queued_head_ = 0;
    }
  } else {
    queued_.erase(queued_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  ordered_->Fill(slot, queued_lines_);
}

void Interpreter::Report(const Resolved& all, std::int64_t total, std::string_view captured, LogLines& lines) {
  lines.Add({"Sent: ", all.tdi});
  lines.Add({"Got: ", captured});
  if (!all.check) return;
  // Only scans clocked in full are reported; the fit is for safety.
  FitInto(fitted_, captured, total);
  // Every bit compared: the expected TDO and the answer are their own masked
  // values (both fitted to the length).
  const std::string* expected = &all.tdo;
  const std::string* result = &fitted_;
  if (!all.care_all) {
    MaskInto(expected_, all.tdo, all.care);
    MaskInto(result_, fitted_, all.care);
    expected = &expected_;
    result = &result_;
  }
  lines.Add({"Masked Expectation: ", *expected, ", Masked Result: ", *result}, true);
  ++checks_made_;
  if (*expected == *result) {
    ++checks_passed_;
    lines.Add({" Pass!"});
  } else {
    if (stop_on_failed_check) {
      lines.Add({" Fail!  Bailing out..."});
      flags_.StopRequested = kTrue;
    } else {
      lines.Add({" Fail!"});
    }
    failed_check_ = FailedCheck{all.tdo, fitted_, all.care_all ? Ones(total) : all.care};
  }
}

}  // namespace tavrin::svf
