// SPDX-License-Identifier: Apache-2.0

#include "player/rehearsal.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/numbers.h"
#include "svf/gatherer.h"
#include "svf/line_reader.h"

namespace tavrin::player {

namespace {

// Statements beyond this are data scans of no interest here.
constexpr std::size_t kMaxStatement = std::size_t{1} << 20;

// The statement's words, with "(" and ")" as separators, upper-cased.
std::vector<std::string> Words(const std::string& statement) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : statement) {
    if (c == ' ' || c == '\t' || c == '(' || c == ')') {
      if (!word.empty()) words.push_back(AsciiUpper(std::move(word)));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(AsciiUpper(std::move(word)));
  return words;
}

// The low 64 bits of a hex word; nothing when it is not hex.
std::optional<std::uint64_t> Low64(std::string_view hex) {
  std::uint64_t v = 0;
  if (hex.empty()) return std::nullopt;
  const std::size_t from = hex.size() > 16 ? hex.size() - 16 : 0;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const int d = HexDigitValue(hex[i]);
    if (d < 0) return std::nullopt;
    if (i >= from) v = (v << 4U) | static_cast<unsigned>(d);
  }
  return v;
}

// The silicon-ID words of the table: five 16-bit words, or one 32-bit word.
std::vector<std::uint32_t> SiliconWords(const char* text) {
  std::vector<std::uint32_t> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    const auto v = Low64(word);
    if (v) words.push_back(static_cast<std::uint32_t>(*v));
  }
  return words;
}

class Finder {
 public:
  // True once a part is found.
  bool Take(const std::string& statement, std::uint64_t line) {
    const auto w = Words(statement);
    if (w.size() < 2 || (w[0] != "SDR" && w[0] != "SIR")) return false;
    std::uint64_t bits = 0;
    for (const char c : w[1]) {
      if (c < '0' || c > '9' || bits > 100'000'000) return false;
      bits = bits * 10 + static_cast<unsigned>(c - '0');
    }
    std::optional<std::uint64_t> tdo;
    std::optional<std::uint64_t> mask;
    for (std::size_t i = 2; i + 1 < w.size(); ++i) {
      if (w[i] == "TDO") tdo = Low64(w[i + 1]);
      if (w[i] == "MASK") mask = Low64(w[i + 1]);
    }
    if (w[0] == "SIR") {
      const auto value = TdiOf(w);
      last_sir_ = value.value_or(0);
      return false;
    }
    // The address shifted after the address instruction (203) tells parts
    // with the same silicon-ID words apart.
    if (last_sir_ == kAddressShift && !tdo && address_bits_ == 0) address_bits_ = bits;
    // A MASK holds for later scans of the same length.
    if (mask) masks_[bits] = *mask;
    if (!tdo) return false;
    const std::uint64_t m = masks_.count(bits) != 0 ? masks_[bits] : ~std::uint64_t{0};
    if (bits == 32) {
      for (const jtag::KnownPart& p : jtag::KnownParts()) {
        if (p.mask == 0 || (m & p.mask) != p.mask) continue;
        if (((*tdo ^ p.idcode) & p.mask) == 0) return Found(p, line);
      }
      // A part whose one silicon-ID word is read as 32 bits, all checked.
      for (const jtag::KnownPart& p : jtag::KnownParts()) {
        if (p.silicon_id == nullptr || (m & 0xFFFFFFFFU) != 0xFFFFFFFFU) continue;
        const auto want = SiliconWords(p.silicon_id);
        if (want.size() == 1 && (*tdo & 0xFFFFFFFFU) == want[0]) return Found(p, line);
      }
    }
    if (bits == 16) {
      words_.push_back(static_cast<std::uint32_t>(*tdo & m & 0xFFFFU));
      if (words_.size() > 5) words_.pop_front();
      if (words_.size() == 5) {
        const jtag::KnownPart* match = nullptr;
        for (const jtag::KnownPart& p : jtag::KnownParts()) {
          if (p.silicon_id == nullptr) continue;
          const auto want = SiliconWords(p.silicon_id);
          if (want.size() != 5 || !std::equal(want.begin(), want.end(), words_.begin())) continue;
          // The first with these words, or the one whose address length the file shifts.
          if (match == nullptr || p.id_address_bits == address_bits_) match = &p;
        }
        if (match != nullptr) return Found(*match, line);
      }
    }
    return false;
  }

  [[nodiscard]] const jtag::KnownPart* Part() const { return part_; }
  [[nodiscard]] std::uint64_t Line() const { return line_; }

 private:
  bool Found(const jtag::KnownPart& p, std::uint64_t line) {
    part_ = &p;
    line_ = line;
    return true;
  }

  static constexpr std::uint64_t kAddressShift = 0x203;

  static std::optional<std::uint64_t> TdiOf(const std::vector<std::string>& w) {
    for (std::size_t i = 2; i + 1 < w.size(); ++i) {
      if (w[i] == "TDI") return Low64(w[i + 1]);
    }
    return std::nullopt;
  }

  std::map<std::uint64_t, std::uint64_t> masks_;
  std::deque<std::uint32_t> words_;
  std::uint64_t last_sir_ = 0;
  std::uint64_t address_bits_ = 0;
  const jtag::KnownPart* part_ = nullptr;
  std::uint64_t line_ = 0;
};

}  // namespace

PartOfFile IdentifyPart(const std::string& path) {
  PartOfFile result;
  svf::LineReader reader;
  if (std::string e = reader.Open(path); !e.empty()) {
    result.error = e;
    return result;
  }
  svf::StatementGatherer gatherer(kMaxStatement, true);
  Finder finder;
  std::string line;
  std::uint64_t number = 0;
  bool found = false;
  while (!found && reader.ReadLine(line)) {
    ++number;
    gatherer.AddLine(line, number, [&](svf::StatementGatherer::Kind kind, std::string& text, std::uint64_t first) {
      if (kind == svf::StatementGatherer::Kind::Statement && finder.Take(text, first)) found = true;
      return !found;
    });
  }
  result.part = finder.Part();
  result.line = finder.Line();
  return result;
}

}  // namespace tavrin::player
