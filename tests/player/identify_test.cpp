// SPDX-License-Identifier: Apache-2.0
// The part a vendor file is for, from the first check that names one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "player/rehearsal.h"

namespace tavrin::player {
namespace {

TEST(IdentifyPart, EachCorpusFileNamesItsPartOrNone) {
  const struct {
    const char* file;
    const char* part;  // "" for none
  } cases[] = {
      {"Bus_Blaster__bbv3-jtagkey.svf", "XC2C32A"},  {"hackrf__default.svf", "XC2C64A"},
      {"jAER-mirror__USBAER_top_level.svf", "XC2C256"}, {"ATF150x_uDEV__leds.svf", "ATF1502AS"},
      {"LPC2LCD__LPC2LCD.svf", "LC4032V"},            {"R3DUX__R3DUX.svf", "LC4256V"},
      {"GW4302__REU_impl1.svf", "LCMXO2-640HC"},      {"Blinker2__default.svf", "XC6SLX9"},
      // The same silicon-ID words: the address length tells them apart.
      {"GR8RAM__GR8RAM.svf", "EPM240"},               {"pistorm__bitstream.svf", "EPM570"},
      {"mayhem-firmware__portapack_h1_cpld.svf", "5M40Z"},
      {"mayhem-firmware__portapack_h4m_cpld_download.svf", "AG256"},
      {"openFPGALoader__test_sfl.svf", ""},           {"jAER-mirror__test.svf", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = std::string(TAVRIN_CORPUS_DIR) + "/" + c.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
    const PartOfFile found = IdentifyPart(path);
    EXPECT_TRUE(found.error.empty());
    EXPECT_EQ(found.part == nullptr ? std::string() : std::string(found.part->name), c.part);
    EXPECT_EQ(found.line != 0, *c.part != 0);
  }
}

// Masks too loose to name a part, a MASK remembered from an earlier scan of
// the same length, comments of both kinds, and files that cannot be read.
TEST(IdentifyPart, OnlyAFullyCheckedIdNamesAPart) {
  const std::string path = (std::filesystem::temp_directory_path() / "tavrin-identify.svf").string();
  const struct {
    const char* text;
    const char* part;
    std::uint64_t line;
  } cases[] = {
      {"SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (f6e5f093) MASK (0fff8fff);\n", "XC2C64A", 2},
      {"SDR 32 TDI (0) TDO (f6e5f093) MASK (0000ffff);\n", "", 0},
      {"SDR 32 TDI (0) TDO (0) MASK (0fff8fff);\nSDR 32 TDI (0) TDO (06e1f093);\n", "XC2C32A", 2},
      {"! SDR 32 TDI (0) TDO (06e1f093);\n// SDR 32 TDI (0) TDO (06e1f093);\nSDR 8 TDI (0) TDO (93);\n", "", 0},
      {"SDR 32 TDI (0)\n TDO (0150203f)\n MASK (ffffffff);", "ATF1502AS", 1},
      {"SDR 32 TDI (0) TDO (zz);\nSDR 99999999999999 TDI (0) TDO (0);\n", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(path, std::ios::binary) << c.text;
    const PartOfFile found = IdentifyPart(path);
    EXPECT_EQ(found.part == nullptr ? std::string() : std::string(found.part->name), c.part);
    EXPECT_EQ(found.line, c.line);
  }
  std::filesystem::remove(path);
  EXPECT_FALSE(IdentifyPart(path).error.empty());
}

}  // namespace
}  // namespace tavrin::player
