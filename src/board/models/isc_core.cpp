// SPDX-License-Identifier: Apache-2.0

#include "board/models/isc_core.h"

#include <algorithm>
#include <sstream>

namespace tavrin::board {

FlashArray::FlashArray(std::size_t rows, std::size_t width, bool erased_level)
    : width_(std::clamp<std::size_t>(width, 1, kMaxFlashRowBits)), erased_(erased_level) {
  rows = std::clamp<std::size_t>(rows, 1, kMaxFlashRows);
  rows = std::min<std::size_t>(rows, kMaxFlashBits / width_);
  rows_.assign(rows, Bits(width_, erased_));
  programmed_.assign(rows, false);
}

void FlashArray::Blank() {
  for (auto& r : rows_) r.assign(width_, erased_);
  programmed_.assign(rows_.size(), false);
}

void FlashArray::OtherDesign(std::uint64_t seed) {
  // splitmix64: the same content for the same seed on every machine.
  std::uint64_t x = seed;
  auto next = [&x] {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
  };
  for (auto& r : rows_) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < width_; ++i) {
      if (i % 64 == 0) word = next();
      r[i] = ((word >> (i % 64)) & 1U) != 0;
    }
  }
  programmed_.assign(rows_.size(), false);
}

Bits FlashArray::Row(std::size_t row) const { return row < rows_.size() ? rows_[row] : Bits(width_, erased_); }

bool FlashArray::RowIsErased(std::size_t row) const {
  if (row >= rows_.size()) return true;
  return std::all_of(rows_[row].begin(), rows_[row].end(), [this](bool b) { return b == erased_; });
}

bool FlashArray::IsBlank() const {
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (!RowIsErased(r)) return false;
  }
  return true;
}

void FlashArray::EraseRow(std::size_t row) {
  if (row >= rows_.size()) return;
  rows_[row].assign(width_, erased_);
  programmed_[row] = false;
}

void FlashArray::EraseAll() { Blank(); }

bool FlashArray::Program(std::size_t row, const Bits& data) {
  if (row >= rows_.size()) return false;
  Bits& r = rows_[row];
  bool clean = true;
  for (std::size_t i = 0; i < width_; ++i) {
    const bool wanted = i < data.size() ? data[i] : erased_;
    if (wanted != erased_) {
      r[i] = !erased_;
    } else if (r[i] != erased_) {
      clean = false;
    }
  }
  const bool first = !programmed_[row];
  programmed_[row] = true;
  return clean || !first;
}

void FlashArray::Set(std::size_t row, const Bits& data) {
  if (row >= rows_.size()) return;
  Bits& r = rows_[row];
  for (std::size_t i = 0; i < width_; ++i) r[i] = i < data.size() ? data[i] : erased_;
}

std::string FlashArray::Save() const {
  std::string out;
  out.reserve(rows_.size() * ((width_ + 3) / 4 + 1));
  for (const auto& r : rows_) {
    out += HexFromBits(r);
    out += '\n';
  }
  return out;
}

std::string FlashArray::Restore(std::string_view text) {
  std::vector<Bits> rows;
  rows.reserve(rows_.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    if (rows.size() == rows_.size()) return "more rows than the part has (" + std::to_string(rows_.size()) + ")";
    auto bits = BitsFromHex(line, static_cast<std::uint32_t>(width_));
    if (!bits || line.size() != (width_ + 3) / 4) {
      return "row " + std::to_string(rows.size()) + " is not " + std::to_string((width_ + 3) / 4) +
             " hex digits of a " + std::to_string(width_) + "-bit row";
    }
    rows.push_back(std::move(*bits));
  }
  if (rows.size() != rows_.size()) {
    return std::to_string(rows.size()) + " rows where the part has " + std::to_string(rows_.size());
  }
  rows_ = std::move(rows);
  programmed_.assign(rows_.size(), false);
  return {};
}

void Account::Refused(const std::string& why) {
  for (auto& [text, count] : refused_) {
    if (text == why) {
      ++count;
      return;
    }
  }
  if (refused_.size() < 64) refused_.emplace_back(why, 1);
}

std::size_t Account::Refusals() const {
  std::size_t n = 0;
  for (const auto& r : refused_) n += r.second;
  return n;
}

std::vector<std::string> Account::Lines(std::string_view part, std::string_view unit) const {
  std::vector<std::string> lines;
  std::ostringstream s;
  // `unit` is a plural ("rows"); one of them is said without its "s".
  const auto units = [unit](std::uint64_t n) {
    return std::to_string(n) + ' ' + std::string(n == 1 && unit.size() > 1 ? unit.substr(0, unit.size() - 1) : unit);
  };
  s << part << ": " << erases_ << (erases_ == 1 ? " erase, " : " erases, ") << units(programmed_) << " programmed, "
    << units(read_) << " read";
  if (refused_.empty()) s << "; nothing refused";
  lines.push_back(s.str());
  for (const auto& [text, count] : refused_) {
    lines.push_back(std::string(part) + ": refused " + (count > 1 ? std::to_string(count) + " times: " : "") + text);
  }
  return lines;
}

void PendingOperation::Arm(std::string what, std::uint64_t min_ns, std::function<void()> done) {
  armed_ = true;
  what_ = std::move(what);
  min_ns_ = min_ns;
  done_ = std::move(done);
}

namespace {
std::string Micros(std::uint64_t ns) {
  std::ostringstream s;
  if (ns >= 10'000'000) {
    s << ns / 1'000'000 << " ms";
  } else {
    s << ns / 1000 << " us";
  }
  return s.str();
}
}  // namespace

void PendingOperation::Idle(const IdleSpell& spell, Account& account) {
  if (!armed_) return;
  armed_ = false;
  if (spell.nanos >= min_ns_) {
    if (done_) done_();
    return;
  }
  account.Refused(what_ + " given " + Micros(spell.nanos) + " in Run-Test/Idle, less than the " + Micros(min_ns_) +
                  " it needs");
}

void PendingOperation::Abandon(Account& account, const char* why) {
  if (!armed_) return;
  armed_ = false;
  account.Refused(what_ + " never ran: " + why);
}

Waits::Waits(std::initializer_list<std::pair<const char*, std::uint64_t>> defaults_us,
             const std::vector<std::pair<std::string, std::uint64_t>>& overrides_us) {
  for (const auto& [name, us] : defaults_us) us_[name] = us;
  for (const auto& [name, us] : overrides_us) us_[name] = us;
}

std::uint64_t Waits::Ns(const std::string& name) const {
  const auto it = us_.find(name);
  return it == us_.end() ? 0 : it->second * 1000U;
}

IscPart::IscPart(const jtag::KnownPart& part, const ModelChoice& choice, FlashArray flash, const char* unit,
                 std::uint64_t reset_instruction)
    : part_(part), choice_(choice), flash_(std::move(flash)), reset_instruction_(reset_instruction), unit_(unit) {
  if (choice_.blank) {
    flash_.Blank();
  } else {
    flash_.OtherDesign(choice_.seed);
  }
}

std::optional<std::uint32_t> IscPart::Idcode() const {
  if (part_.mask == 0) return std::nullopt;
  return part_.idcode;
}

void IscPart::PowerOn() {
  op_.Abandon(account_, "the power went off");
  isc_ = false;
  instruction_ = reset_instruction_;
  Settle();
}

void IscPart::Reset() {
  op_.Abandon(account_, "Test-Logic-Reset came before Run-Test/Idle");
  isc_ = false;
  instruction_ = reset_instruction_;
}

std::string IscPart::RestoreState(const std::string& state) {
  std::string error = flash_.Restore(state);
  if (error.empty()) Settle();
  return error;
}

void IscPart::Start(std::string what, const std::string& wait, std::function<void()> done) {
  op_.Abandon(account_, "another operation came before Run-Test/Idle");
  op_.Arm(std::move(what), waits_.Ns(wait), std::move(done));
}

Bits AfterScan(const Bits& before, const DrScan& scan, std::size_t length) {
  if (scan.shifted >= length) return scan.Last(length);
  const auto n = static_cast<std::size_t>(scan.shifted);
  Bits out(length, false);
  for (std::size_t i = 0; i + n < length; ++i) out[i] = i + n < before.size() && before[i + n];
  const Bits tail = scan.Last(n);
  for (std::size_t j = 0; j < n; ++j) out[length - n + j] = tail[j];
  return out;
}

Bits BitsOf(std::uint64_t value, std::size_t n) {
  Bits b(n, false);
  for (std::size_t i = 0; i < n && i < 64; ++i) b[i] = ((value >> i) & 1U) != 0;
  return b;
}

std::uint64_t ValueOf(const Bits& bits, std::size_t from, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n && i < 64 && from + i < bits.size(); ++i) {
    if (bits[from + i]) v |= std::uint64_t{1} << i;
  }
  return v;
}

}  // namespace tavrin::board
