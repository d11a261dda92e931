// SPDX-License-Identifier: Apache-2.0
// SRAM FPGAs loaded over JTAG: a whole bitstream raises DONE, and a file
// changed so that the real part would stay unconfigured stops on the line
// that checks DONE. The Spartan-6 file checks no DONE itself; the copies
// played here end with the check a vendor flow adds (DONE in the
// instruction capture).
#include <gtest/gtest.h>

#include <functional>

#include "rehearsal_rig.h"
#include "svf_edit.h"

namespace tavrin::board {
namespace {

constexpr const char* kCyclone = "openFPGALoader__test_sfl.svf";
constexpr const char* kSpartan = "Blinker2__default.svf";
constexpr const char* kDoneCheck = "SIR 6 TDI (3f) TDO (20) MASK (20) ;";

std::size_t Bitstream(const Lines& l) { return Find(l, R"(^SDR\s+\d{6,}\s)"); }

struct Change {
  const char* name;
  const char* file;
  const char* part;
  bool blank;
  // Changes the file; gives the index of the line the run must stop on, or
  // nothing when the changed file still configures the part.
  std::function<std::optional<std::size_t>(Lines&)> change;
};

std::size_t CycloneStatus(const Lines& l) { return Find(l, R"(^SDR\s+732\s)"); }
std::size_t SpartanDone(Lines& l) {
  l.emplace_back(kDoneCheck);
  return l.size() - 1;
}

const Change kChanges[] = {
    // Cyclone 10 LP: CONF_DONE in the status scan at the end.
    {"CycloneWhole", kCyclone, "10CL025", true, [](Lines&) { return std::nullopt; }},
    {"CycloneCutShort", kCyclone, "10CL025", false,
     [](Lines& l) {
       CutScan(l, Bitstream(l), 1024, {"TDI"});
       return CycloneStatus(l);
     }},
    {"CyclonePreambleFlipped", kCyclone, "10CL025", true,
     [](Lines& l) {
       // The first zero after the leading ones starts the preamble.
       FlipBit(l, Bitstream(l), 434);
       return CycloneStatus(l);
     }},
    // The clear needs 1 ms; any RUNTEST with a time waits at least 1 ms, so
    // the cut one asks none.
    {"CycloneClearWaitCut", kCyclone, "10CL025", false,
     [](Lines& l) {
       l[Find(l, R"(^RUNTEST)")] = "RUNTEST IDLE 0 TCK ENDSTATE IDLE;";
       return CycloneStatus(l);
     }},
    // Spartan-6: the file checks the IDCODE; DONE is checked at the end.
    {"SpartanWhole", kSpartan, "XC6SLX9", true, [](Lines& l) { SpartanDone(l); return std::nullopt; }},
    {"SpartanCutShort", kSpartan, "XC6SLX9", false,
     [](Lines& l) {
       CutScan(l, Bitstream(l), 1024, {"TDI", "SMASK"});
       return SpartanDone(l);
     }},
    {"SpartanSyncFlipped", kSpartan, "XC6SLX9", true,
     [](Lines& l) {
       // The sync word AA995566 follows 192 bits of padding and a header.
       FlipBit(l, Bitstream(l), 192 + 3);
       return SpartanDone(l);
     }},
    {"SpartanClearWaitCut", kSpartan, "XC6SLX9", false,
     [](Lines& l) {
       l[Find(l, R"(^RUNTEST 10000 TCK)")] = "RUNTEST 100 TCK;";
       return SpartanDone(l);
     }},
    {"SpartanStartupCut", kSpartan, "XC6SLX9", true,
     [](Lines& l) {
       l[Find(l, R"(^RUNTEST 24 TCK)")] = "RUNTEST 8 TCK;";
       return SpartanDone(l);
     }},
    {"SpartanSibling", kSpartan, "XC6SLX16", true, [](Lines& l) { return Find(l, R"(^SDR 32 .*TDO)"); }},
    {"SpartanSiblingUnchecked", kSpartan, "XC6SLX16", true,
     [](Lines& l) {
       // Without the file's IDCODE checks, the bitstream's own IDCODE stops it.
       const std::regex check(R"(^SDR 32 .*TDO)");
       for (auto& line : l) {
         if (std::regex_search(line, check)) line = "SDR 32 TDI (00000000) ;";
       }
       return SpartanDone(l);
     }},
};

class SramFpga : public ::testing::TestWithParam<Change> {};

TEST_P(SramFpga, ConfiguresOnlyFromAWholeBitstreamForThePart) {
  const Change& c = GetParam();
  const std::string path = CorpusFile(c.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  Lines lines = SplitLines(ReadText(path));
  const auto expected = c.change(lines);
  Rehearsal rig(ModelChoice(c.part, c.blank));
  const auto r = rig.PlayText(JoinLines(lines), true);
  std::string report;
  for (const auto& l : r.report) report += l + "\n";
  if (!expected) {
    EXPECT_TRUE(r.Passed()) << "stopped at " << r.Line() << "\n" << report;
    EXPECT_NE(report.find("configured, DONE high"), std::string::npos) << report;
    EXPECT_NE(report.find("nothing refused"), std::string::npos) << report;
    return;
  }
  EXPECT_FALSE(r.Passed()) << report;
  EXPECT_EQ(r.Line(), *expected + 1) << report;
}

INSTANTIATE_TEST_SUITE_P(Files, SramFpga, ::testing::ValuesIn(kChanges),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tavrin::board
