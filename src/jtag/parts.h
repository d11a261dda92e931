// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavrin::jtag {

// A part the program knows by its IDCODE.
struct KnownPart {
  const char* name;
  const char* family;
  std::uint32_t idcode;
  // The bits that name the part: the version (the top four bits) is never
  // among them, and some families leave out package or speed bits too.
  // 0 for a part known only by other means (its IDCODE is never matched).
  std::uint32_t mask;
  unsigned ir_bits;
  // Parts whose vendor files check silicon-ID words rather than the IDCODE:
  // those words, as the files read them ("8232 2AA2 4A82 0C2C 0000").
  const char* silicon_id = nullptr;
  // For those parts: the length of the address that their files shift just
  // before reading the silicon-ID words (13 or 14 bits on MAX II and MAX V).
  // Parts with the same words differ in it (EPM240 13, EPM570 14); 0 when
  // the part has no such address.
  unsigned id_address_bits = 0;
};

// The known parts, one table.
std::span<const KnownPart> KnownParts();

// The part of this name (its order code without package and speed, in
// any case), or none.
const KnownPart* PartNamed(std::string_view name);

// The part whose IDCODE this is, or none.
const KnownPart* PartOfIdcode(std::uint32_t idcode);

// The maker from the JEDEC field, then the part and its family when known:
// "Xilinx (AMD) XC2C64A (CoolRunner-II)".
std::string DescribeIdcode(std::uint32_t idcode);

}  // namespace tavrin::jtag
