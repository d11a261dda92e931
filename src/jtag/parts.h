// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace tavrin::jtag {

// A part the program knows by its IDCODE.
struct KnownPart {
  const char* name;
  const char* family;
  std::uint32_t idcode;
  // The bits that name the part: the version (the top four bits) is never
  // among them, and some families leave out package or speed bits too.
  std::uint32_t mask;
  unsigned ir_bits;
};

// The known parts, one table.
std::span<const KnownPart> KnownParts();

// The part whose IDCODE this is, or none.
const KnownPart* PartOfIdcode(std::uint32_t idcode);

// The maker from the JEDEC field, then the part and its family when known:
// "Xilinx (AMD) XC2C64A (CoolRunner-II)".
std::string DescribeIdcode(std::uint32_t idcode);

}  // namespace tavrin::jtag
