// SPDX-License-Identifier: Apache-2.0
// Vendor programming files played into modelled parts: every check passes
// where the real part would pass it, and a changed file fails where the
// real part would fail it.
#include <gtest/gtest.h>

#include <regex>

#include "rehearsal_rig.h"

namespace tavrin::board {
namespace {

struct VendorFile {
  const char* file;
  const char* part;
  bool standard;
};

class FullFile : public ::testing::TestWithParam<VendorFile> {};

TEST_P(FullFile, PlaysToItsEndFromBlankAndFromAnotherDesign) {
  const VendorFile& f = GetParam();
  const std::string path = CorpusFile(f.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  for (const bool blank : {true, false}) {
    Rehearsal rig(ModelChoice{f.part, blank});
    const auto r = rig.Play(path, f.standard);
    EXPECT_TRUE(r.Passed()) << f.file << (blank ? " blank" : " other design") << ": stopped at line " << r.Line()
                            << "\n" << (r.log.empty() ? "" : r.log.back()) << "\n"
                            << (r.report.empty() ? "" : r.report.back());
    ASSERT_FALSE(r.report.empty());
    std::string report;
    for (const auto& l : r.report) report += l + "\n";
    EXPECT_NE(r.report.front().find("nothing refused"), std::string::npos) << report;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FullFile,
                         ::testing::Values(VendorFile{"Bus_Blaster__bbv3-jtagkey.svf", "XC2C32A", false},
                                           VendorFile{"hackrf__default.svf", "XC2C64A", false},
                                           VendorFile{"hackrf__sgpio_if_passthrough.svf", "XC2C64A", false},
                                           VendorFile{"jAER-mirror__USBAER_top_level.svf", "XC2C256", false},
                                           VendorFile{"JTAG__idcode.svf", "XC2C64A", false},
                                           VendorFile{"GR8RAM__GR8RAM.svf", "EPM240", true},
                                           VendorFile{"pistorm__bitstream.svf", "EPM570", true},
                                           VendorFile{"mayhem-firmware__portapack_h1_cpld.svf", "5M40Z", true},
                                           VendorFile{"ATF150x_uDEV__leds.svf", "ATF1502AS", false},
                                           VendorFile{"LPC2LCD__LPC2LCD.svf", "LC4032V", true},
                                           VendorFile{"R3DUX__R3DUX.svf", "LC4256V", true},
                                           VendorFile{"GW4302__REU_impl1.svf", "LCMXO2-640HC", true},
                                           VendorFile{"openFPGALoader__test_sfl.svf", "10CL025", true},
                                           VendorFile{"Blinker2__default.svf", "XC6SLX9", true},
                                           VendorFile{"lattice_m4a3_svf__test3.svf", "M4A3-64/32", true}),
                         [](const auto& test) {
                           std::string n = test.param.file;
                           return std::regex_replace(n.substr(0, n.rfind('.')), std::regex("[^A-Za-z0-9]"), "_");
                         });

// The 1-based line of the first line holding `needle`, 0 when none does.
std::uint64_t LineOf(const std::string& text, const std::string& needle) {
  const std::size_t at = text.find(needle);
  return at == std::string::npos ? 0 : 1 + static_cast<std::uint64_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

// The text with the first `from` after `anchor` replaced by `to`.
std::string Replace(std::string text, const std::string& anchor, const std::string& from, const std::string& to) {
  const std::size_t a = text.find(anchor);
  const std::size_t at = a == std::string::npos ? a : text.find(from, a);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A CoolRunner-II file changed as an operator's mistake or a bad file would
// change it fails at the first check the real part would fail, and the
// account says what the part did not do.
TEST(CoolRunner2Rehearsal, ChangedFilesFailWhereThePartWould) {
  const std::string path = CorpusFile("Bus_Blaster__bbv3-jtagkey.svf");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const std::string text = ReadText(path);
  const std::string first_verify = "SDR 260 TDI";
  struct Case {
    const char* what;
    std::string text;
    const char* part;
    std::uint64_t line;
    const char* refused;  // in the account; empty: nothing
  };
  const Case cases[] = {
      {"erase removed", Replace(text, "SIR 8 TDI (ed)", "(ed)", "(ff)"), "XC2C32A", LineOf(text, first_verify),
       "not erased"},
      {"verify expectation flipped", Replace(text, first_verify, "c0) MASK", "c1) MASK"), "XC2C32A",
       LineOf(text, first_verify), ""},
      {"programmed bit flipped", Replace(text, "SDR 266 TDI", "c0) SMASK", "c1) SMASK"), "XC2C32A",
       LineOf(text, first_verify), ""},
      {"sibling part", text, "XC2C64A", LineOf(text, "TDO (f6e1f093)"), ""},
      {"erase wait cut", Replace(text, "RUNTEST IDLE 100000 TCK", "100000", "90000"), "XC2C32A",
       LineOf(text, first_verify), "less than the 100 ms it needs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.text != text || std::string(c.part) != "XC2C32A") << "the change did not apply";
    Rehearsal rig(ModelChoice{c.part, false});
    const auto r = rig.PlayText(c.text, false);
    EXPECT_FALSE(r.Passed());
    EXPECT_EQ(r.facts.end, player::RunFacts::End::CheckFailed);
    EXPECT_EQ(r.Line(), c.line);
    std::string report;
    for (const auto& l : r.report) report += l + "\n";
    if (*c.refused != 0) {
      EXPECT_NE(report.find(c.refused), std::string::npos) << report;
    }
  }
}

// Outside ISC mode the part takes no erase or program, and says so.
TEST(CoolRunner2Rehearsal, NothingIsProgrammedOutsideIscMode) {
  Rehearsal rig(ModelChoice{"XC2C32A", true});
  const auto r = rig.PlayText("STATE RESET IDLE;\nSIR 8 TDI (ed);\nRUNTEST 200000 TCK;\nSIR 8 TDI (ea);\n"
                              "SDR 266 TDI (00000000000000000000000000000000000000000000000000000000000000000000);\n"
                              "RUNTEST 20000 TCK;\n", false);
  EXPECT_TRUE(r.Passed());
  ASSERT_EQ(r.report.size(), 3U);
  EXPECT_EQ(r.report[0], "XC2C32A: 0 erases, 0 rows programmed, 0 rows read");
  EXPECT_EQ(r.report[1], "XC2C32A: refused erase outside ISC mode");
  EXPECT_EQ(r.report[2], "XC2C32A: refused program of row 0 outside ISC mode");
}


// Two modelled parts in one chain, the file's part reached through the
// other's BYPASS with header and trailer bits in the standard reading: the
// file's part is programmed and verified, the other part is left as it was.
TEST(ChainRehearsal, AFileReachesItsPartThroughAnotherInBypass) {
  const std::string path = CorpusFile("Bus_Blaster__bbv3-jtagkey.svf");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  std::string text = ReadText(path);
  // The XC2C64A sits nearest TDO: its 8 IR bits and 1 BYPASS bit go first.
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"HIR 0 ;", "HIR 8 TDI (ff) ;"},
                                 {"HDR 0 ;", "HDR 1 TDI (00) ;"}}) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  for (const bool blank : {true, false}) {
    Rehearsal rig(std::vector<ModelChoice>{{"XC2C32A", blank}, {"XC2C64A", true}});
    const auto r = rig.PlayText(text, true);
    EXPECT_TRUE(r.Passed()) << "stopped at line " << r.Line() << ": " << (r.log.empty() ? "" : r.log.back());
    ASSERT_EQ(r.report.size(), 2U);
    EXPECT_EQ(r.report[0], "XC2C32A: 1 erase, 51 rows programmed, 50 rows read; nothing refused");
    EXPECT_EQ(r.report[1], "XC2C64A: 0 erases, 0 rows programmed, 0 rows read; nothing refused");
    EXPECT_TRUE(rig.chip.Chain().Device(1).Model()->SaveState() ==
                Rehearsal(ModelChoice{"XC2C64A", true}).chip.Chain().Device(0).Model()->SaveState());
  }
  // Without the header bits the file's scans land in the wrong place.
  Rehearsal rig(std::vector<ModelChoice>{{"XC2C32A", true}, {"XC2C64A", true}});
  EXPECT_FALSE(rig.PlayText(ReadText(path), true).Passed());
}

}  // namespace
}  // namespace tavrin::board
