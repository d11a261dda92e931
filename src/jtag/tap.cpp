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
  // The name's first letter and length single out the one state it can
  // be; one comparison tells whether it is. (Walks look states up by name
  // at every scan.)
  if (name.size() < 4) return std::nullopt;
  int s = -1;
  if (name == "IDLE") {
    return IDLE;
  } else if (name[0] == 'R') {
    s = RESET;
  } else if ((name[0] == 'D' || name[0] == 'I') && name[1] == 'R') {
    // DR and IR states, in the same order: SELECT, CAPTURE, SHIFT, EXIT1,
    // PAUSE, EXIT2, UPDATE.
    const int first = name[0] == 'D' ? DRSELECT : IRSELECT;
    switch (name[2]) {
      case 'S': s = first + (name[3] == 'E' ? 0 : 2); break;
      case 'C': s = first + 1; break;
      case 'E': s = first + (name.back() == '1' ? 3 : 5); break;
      case 'P': s = first + 4; break;
      case 'U': s = first + 6; break;
      default: return std::nullopt;
    }
  }
  if (s < 0 || kTapStateNames[static_cast<std::size_t>(s)] != name) return std::nullopt;
  return s;
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
