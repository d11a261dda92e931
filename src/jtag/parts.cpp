// SPDX-License-Identifier: Apache-2.0

#include "jtag/parts.h"

#include "common/numbers.h"
#include "jtag/detect.h"

namespace tavrin::jtag {

namespace {

constexpr std::uint32_t kAnyVersion = 0x0FFFFFFFU;
// CoolRunner-II IDCODEs carry the package in bits 15 to 13.
constexpr std::uint32_t kAnyPackage = 0x0FFF8FFFU;

// The IDCODEs that vendor files check for these parts.
constexpr KnownPart kParts[] = {
    {"XC2C32A", "CoolRunner-II", 0x06E1F093U, kAnyPackage, 8},
    {"XC2C64A", "CoolRunner-II", 0x06E5E093U, kAnyPackage, 8},
    {"XC2C256", "CoolRunner-II", 0x06D4F093U, kAnyPackage, 8},
    {"XC9572XL", "XC9500XL", 0x09604093U, kAnyVersion, 8},
    {"XC95144XL", "XC9500XL", 0x09608093U, kAnyVersion, 8},
    {"XC6SLX9", "Spartan-6", 0x04001093U, kAnyVersion, 6},
    {"XC6SLX16", "Spartan-6", 0x04002093U, kAnyVersion, 6},
    {"ATF1502AS", "ATF15xxAS", 0x0150203FU, kAnyVersion, 10},
    {"ATF1508AS", "ATF15xxAS", 0x0150803FU, kAnyVersion, 10},
    {"LC4032V", "ispMACH 4000", 0x01805043U, kAnyVersion, 8},
    {"LC4256V", "ispMACH 4000", 0x11815043U, kAnyVersion, 8},
    {"LCMXO2-640HC", "MachXO2", 0x012B9043U, kAnyVersion, 8},
    {"LCMXO2-1200HC", "MachXO2", 0x012BA043U, kAnyVersion, 8},
    {"M4A3-64/32", "ispMACH 4A", 0x07486157U, kAnyVersion, 6},
    {"10CL025", "Cyclone 10 LP", 0x020F30DDU, kAnyVersion, 10},
    // Their files check silicon-ID words; EPM240 and EPM570 read the same
    // words and differ in the length of the address shifted before them.
    {"EPM240", "MAX II", 0, 0, 10, "8232 2AA2 4A82 0C2C 0000", 13},
    {"EPM570", "MAX II", 0, 0, 10, "8232 2AA2 4A82 0C2C 0000", 14},
    {"5M40Z", "MAX V", 0, 0, 10, "8232 2AA2 4A82 8C0C 0000", 13},
    {"5M240Z", "MAX V", 0, 0, 10, "8232 2AA2 4A82 8C0C 00C0", 13},
    // EPM240-compatible; its file reads one 32-bit word after instruction
    // 006, and with bit 0 clear that word is no IEEE IDCODE.
    {"AG256", "AG256", 0, 0, 10, "00057620"},
};

}  // namespace

std::span<const KnownPart> KnownParts() { return kParts; }

const KnownPart* PartNamed(std::string_view name) {
  for (const KnownPart& p : kParts) {
    if (AsciiUpper(std::string(name)) == p.name) return &p;
  }
  return nullptr;
}

const KnownPart* PartOfIdcode(std::uint32_t idcode) {
  for (const KnownPart& p : kParts) {
    if (p.mask != 0 && ((idcode ^ p.idcode) & p.mask) == 0) return &p;
  }
  return nullptr;
}

std::string DescribeIdcode(std::uint32_t idcode) {
  std::string text(JedecManufacturer(idcode));
  if (const KnownPart* p = PartOfIdcode(idcode)) {
    text += std::string(" ") + p->name + " (" + p->family + ")";
  }
  return text;
}

}  // namespace tavrin::jtag
