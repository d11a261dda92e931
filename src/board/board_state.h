// SPDX-License-Identifier: Apache-2.0

#pragma once
// The lasting side of a rehearsal: the modelled parts' flash kept in a file
// between runs, and the account of a run.
#include <string>
#include <vector>

#include "board/tap_chain.h"

namespace tavrin::board {

// The longest state file taken.
inline constexpr std::size_t kMaxStateFileBytes = std::size_t{16} << 20U;

// Puts the flash kept in the file into the chain's modelled parts. A file
// that does not exist yet is no error (the parts start as chosen). Empty on
// success, else what is wrong, naming the file; then no part has changed.
std::string LoadBoardState(TapChain& chain, const std::string& path);
// Writes the modelled parts' flash to the file (through a temporary file,
// so a failed write leaves the old state). Empty on success.
std::string SaveBoardState(const TapChain& chain, const std::string& path);
// The same from and to text.
std::string BoardStateText(const TapChain& chain);
std::string TakeBoardState(TapChain& chain, const std::string& text);

// Ends the run for the modelled parts (a spell in Run-Test/Idle under way
// counts) and gives their accounts, one line each (empty without models),
// and the steps they did not carry out, all told; the next run starts a new
// account.
struct Rehearsed {
  std::vector<std::string> report;
  std::size_t refusals = 0;
};
Rehearsed EndRehearsal(TapChain& chain);

}  // namespace tavrin::board
