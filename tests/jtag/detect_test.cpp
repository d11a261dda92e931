// SPDX-License-Identifier: Apache-2.0
// Finding the chain when TDO shows no proper chain, on the scriptable chip.
#include <gtest/gtest.h>

#include <cctype>

#include "common/numbers.h"

#include <functional>

#include "../support/rig.h"
#include "jtag/detect.h"
#include "jtag/parts.h"

namespace tavrin::jtag {
namespace {

// TDO low for the first data register bit (one device in BYPASS), high
// for every other bit: the TAP states followed from TMS at TCK's rising edges.
std::function<std::uint8_t(std::uint8_t)> OneBypassThenHigh(const TapTables& tables) {
  return [&tables, state = int{RESET}, tck = false, dr_bits = 0](std::uint8_t b) mutable -> std::uint8_t {
    const bool high = (b & 0x80U) != 0;
    if (high && !tck) {
      if (state == DRSHIFT) ++dr_bits;
      state = tables.NextStateTable[static_cast<std::size_t>(state)][(b & 0x02U) != 0 ? 1 : 0];
    }
    tck = high;
    return dr_bits == 1 ? 0x00 : 0x40;
  };
}

TEST(DetectChain, ATdoThatShowsNoChainSaysWhatItShowedAndWhatToCheck) {
  const std::string wiring = "; check the TDO pin, the cable and the board's power";
  struct Case {
    const char* name;
    std::function<void(testing::Rig&)> wire;
    std::size_t devices;
    std::string problem;
  };
  const Case cases[] = {
      {"TDI wired to TDO", [](testing::Rig& r) { r.LoopTdiToTdo(); }, 0,
       "no device found: TDO gave back TDI with no device between" + wiring},
      {"TDO high", [](testing::Rig& r) { r.chip.answer_level = 0x40; }, 0,
       "no device found: TDO stayed high through every bit" + wiring},
      {"TDO low", [](testing::Rig& r) { r.chip.answer_level = 0x00; }, 0,
       "no device found: TDO stayed low through every bit" + wiring},
      // Ones for the data registers, then never as long a run of ones as was shifted in.
      {"TDO high, then toggling",
       [](testing::Rig& r) {
         r.chip.answer_fn = [n = 0](std::uint8_t) mutable -> std::uint8_t { return ++n < 9000 || n % 6 < 3 ? 0x40 : 0; };
       },
       0, "no device found: TDO showed neither an IDCODE nor a BYPASS bit" + wiring},
      {"one device, then TDO high",
       [](testing::Rig& r) { r.chip.answer_fn = OneBypassThenHigh(r.player.engine.Tables()); }, 1,
       "the instruction registers were not read: TDO stayed high through every bit" + wiring},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::Rig rig;
    rig.LoadOpenSetUp();
    c.wire(rig);
    const ChainReport report = DetectChain(rig.player.engine);
    EXPECT_EQ(report.problem, c.problem);
    EXPECT_EQ(report.devices.size(), c.devices);
    EXPECT_EQ(report.ir_length, 0U);
    EXPECT_EQ(rig.player.engine.CurrentTapState, RESET);
  }
}

// Each known part is named by its own IDCODE, whatever its version, and by
// no other entry; every IDCODE has its bit 0 set. Parts known by their
// silicon-ID words alone are named by no IDCODE. Names are found in any case.
TEST(KnownParts, EachIdcodeNamesItsPartAndMaker) {
  for (const KnownPart& p : KnownParts()) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(PartNamed(AsciiUpper(p.name)), &p);
    std::string lower = p.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(PartNamed(lower), &p);
    if (p.mask == 0) {
      EXPECT_NE(p.silicon_id, nullptr);
      continue;
    }
    for (const std::uint32_t version : {0x00000000U, 0xF0000000U}) {
      EXPECT_EQ(PartOfIdcode((p.idcode & 0x0FFFFFFFU) | version), &p);
    }
    EXPECT_EQ(p.idcode & 1U, 1U);
  }
  EXPECT_EQ(DescribeIdcode(0xF6E5F093U), "Xilinx (AMD) XC2C64A (CoolRunner-II)");
  EXPECT_EQ(DescribeIdcode(0x020A10DDU), "Altera (Intel)");
  EXPECT_EQ(PartOfIdcode(0x06E5F092U), nullptr);
  EXPECT_EQ(PartOfIdcode(0), nullptr);
  EXPECT_EQ(PartNamed("XC2C64"), nullptr);
}

}  // namespace
}  // namespace tavrin::jtag
