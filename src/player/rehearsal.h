// SPDX-License-Identifier: Apache-2.0

#pragma once
// Which modelled part a vendor file is written for: the part whose IDCODE
// the file checks first, or whose silicon-ID words it reads.
#include <cstdint>
#include <string>

#include "jtag/parts.h"

namespace tavrin::player {

struct PartOfFile {
  const jtag::KnownPart* part = nullptr;  // none: the file names no known part
  std::uint64_t line = 0;                 // the statement that names it
  std::string error;                      // the file could not be read
};

// Reads the file's statements (comments of both kinds skipped) up to the
// first check that names a known part: a TDO check of 32 bits whose masked
// value is a part's IDCODE under the part's own mask, or five 16-bit reads
// that give a part's silicon-ID words. Never throws; statements longer than
// a bound are skipped.
PartOfFile IdentifyPart(const std::string& path);

}  // namespace tavrin::player
