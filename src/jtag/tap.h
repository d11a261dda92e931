// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <optional>
#include <string_view>

namespace tavrin::jtag {

// The sixteen TAP states, numbered as the tables index them.
enum TapState : int {
  RESET = 0,
  IDLE,
  DRSELECT,
  DRCAPTURE,
  DRSHIFT,
  DREXIT1,
  DRPAUSE,
  DREXIT2,
  DRUPDATE,
  IRSELECT,
  IRCAPTURE,
  IRSHIFT,
  IREXIT1,
  IRPAUSE,
  IREXIT2,
  IRUPDATE,
};

inline constexpr int kTapStateCount = 16;

// The state names as SVF writes them, in state order.
inline constexpr std::array<std::string_view, kTapStateCount> kTapStateNames = {
    "RESET",   "IDLE",    "DRSELECT", "DRCAPTURE", "DRSHIFT",  "DREXIT1", "DRPAUSE", "DREXIT2",
    "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT", "IREXIT1", "IRPAUSE", "IREXIT2", "IRUPDATE"};

// The state whose name is exactly this text (same case, no blanks), or none.
std::optional<int> TapStateFromName(std::string_view name);

// NextStateTable(s, tms): the state one clock with that TMS leads to.
// TmsPathTable(c, t): the TMS of the next clock on the shortest way from c to t.
struct TapTables {
  std::array<std::array<int, 2>, kTapStateCount> NextStateTable{};
  std::array<std::array<int, kTapStateCount>, kTapStateCount> TmsPathTable{};
};

// Fills both tables from their hexadecimal word lists.
void BuildTapTables(TapTables& tables);

}  // namespace tavrin::jtag
