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
                                           VendorFile{"GW4302__REU_impl1.svf", "LCMXO2-640HC", true},
                                           VendorFile{"openFPGALoader__test_sfl.svf", "10CL025", true},
                                           VendorFile{"Blinker2__default.svf", "XC6SLX9", true}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           return std::regex_replace(n.substr(0, n.rfind('.')), std::regex("[^A-Za-z0-9]"), "_");
                         });

}  // namespace
}  // namespace tavrin::board
