// SPDX-License-Identifier: Apache-2.0

#include "jtag/tap.h"

#include "common/numbers.h"

namespace tavrin::jtag {

namespace {

// One word per state: the high digit is the next state with TMS 0, the low
// digit the next state with TMS 1.
constexpr std::array<std::string_view, kTapStateCount> kNextStateWords = {
    "10", "12", "39", "45", "45", "68", "67", "48", "12", "A0", "BC", "BC", "DF", "DE", "BF", "12"};

// One word per current state: bit 15 is the TMS toward RESET, bit 0 the TMS
// toward IRUPDATE.
constexpr std::array<std::string_view, kTapStateCount> kTmsPathWords = {
    "8000", "BFFF", "C07F", "E7FF", "F7FF", "F0FF", "FDFF", "F0FF",
    "BF7F", "FF80", "FFCF", "FFEF", "FFE1", "FFFB", "FFE1", "BFFE"};

unsigned HexWord(std::string_view word) {
  unsigned v = 0;
  for (const char c : word) v = v * 16U + static_cast<unsigned>(HexDigitValue(c));
  return v;
}

}  // namespace

std::optional<int> TapStateFromName(std::string_view name) {
  for (int s = 0; s < kTapStateCount; ++s) {
    if (kTapStateNames[static_cast<std::size_t>(s)] == name) return s;
  }
  return std::nullopt;
}

void BuildTapTables(TapTables& tables) {
  for (std::size_t s = 0; s < kTapStateCount; ++s) {
    const unsigned v = HexWord(kNextStateWords[s]);
    tables.NextStateTable[s][0] = static_cast<int>(v / 16U);
    tables.NextStateTable[s][1] = static_cast<int>(v % 16U);
  }
  for (std::size_t c = 0; c < kTapStateCount; ++c) {
    const unsigned v = HexWord(kTmsPathWords[c]);
    for (unsigned j = 0; j < 16U; ++j) {
      tables.TmsPathTable[c][15U - j] = ((v >> j) & 1U) != 0U ? 1 : 0;
    }
  }
}

}  // namespace tavrin::jtag
