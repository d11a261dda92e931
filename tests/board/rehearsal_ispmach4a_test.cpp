// SPDX-License-Identifier: Apache-2.0
// The ispMACH 4A file changed the ways a file goes wrong: each change must
// stop the run on the line where the real part would fail it.
#include <gtest/gtest.h>

#include "rehearsal_rig.h"
#include "svf_edit.h"

namespace tavrin::board {
namespace {

constexpr const char* kFile = "lattice_m4a3_svf__test3.svf";
constexpr int kRow = 5;  // a row whose verify checks every bit

// The scan that reads back the n-th row checked (1 first; the extra row is
// the last one checked).
std::size_t Verify(const Lines& l, int n) { return Find(l, R"(^SDR\s+378)", Find(l, R"(^SIR\s+6\s+TDI\s+\(07\))", 0, n - 1)); }
std::size_t FirstVerify(const Lines& l) { return Verify(l, 1); }

std::size_t RemoveErase(Lines& l) {
  const std::size_t at = Find(l, R"(^SIR\s+6\s+TDI\s+\(05\))");
  l.erase(l.begin() + static_cast<std::ptrdiff_t>(at), l.begin() + static_cast<std::ptrdiff_t>(at + 2));
  return FirstVerify(l);
}

std::size_t CutEraseWait(Lines& l) {
  std::string& wait = l[Find(l, R"(^RUNTEST.*1\.00E-001 SEC)", Find(l, R"(^SIR\s+6\s+TDI\s+\(05\))"))];
  wait.replace(wait.find("1.00E-001"), 9, "9.00E-002");
  return FirstVerify(l);
}

std::size_t FlipVerify(Lines& l) {
  const std::size_t at = Verify(l, kRow);
  FlipBit(l, Find(l, R"(^\s+TDO\s+\()", at), 0);
  return at;
}

// Bit 377 of the row's data comes back as bit 0 of its verify.
std::size_t FlipProgram(Lines& l) {
  FlipBit(l, Find(l, R"(^SDR\s+378)", Find(l, "Data Row = " + std::to_string(kRow) + "\\b")), 377);
  return Verify(l, kRow);
}

std::size_t CutRowWait(Lines& l) {
  std::string& wait = l[Find(l, R"(^RUNTEST.*5\.00E-002 SEC)", Find(l, "Data Row = " + std::to_string(kRow) + "\\b"))];
  wait.replace(wait.find("5.00E-002"), 9, "4.00E-002");
  return Verify(l, kRow);
}

std::size_t Unchanged(Lines& l) { return Find(l, R"(^SDR\s+32\s+TDI)"); }

// Another program-mode value before the extra row: it is not written, and
// its verify (the last row checked) reads it erased.
std::size_t ExtraRowModeChanged(Lines& l) {
  std::string& mode = l[Find(l, R"(^SDR\s+5\s+TDI\s+\(09\))")];
  mode.replace(mode.find("(09)"), 4, "(0A)");
  return Verify(l, 81);
}

struct Change {
  const char* name;
  const char* part;
  bool blank;
  std::size_t (*change)(Lines&);
  const char* refused;  // in the account; empty: nothing to look for
};

const Change kChanges[] = {
    {"EraseRemoved", "M4A3-64/32", false, RemoveErase, "which was not erased"},
    {"EraseWaitCut", "M4A3-64/32", false, CutEraseWait, "less than the 100 ms it needs"},
    {"VerifyBitFlipped", "M4A3-64/32", true, FlipVerify, ""},
    {"ProgrammedBitFlipped", "M4A3-64/32", true, FlipProgram, ""},
    {"RowWaitCut", "M4A3-64/32", true, CutRowWait, "program of row 5 given"},
    // No other part of the family is known by its IDCODE: a part of another
    // family with a 6-bit IR stands in.
    {"OnAnotherPart", "XC6SLX9", true, Unchanged, ""},
    {"ExtraRowModeChanged", "M4A3-64/32", true, ExtraRowModeChanged, "program outside program mode"},
};

ModelChoice Choice(const char* part, bool blank) {
  ModelChoice c;
  c.part = part;
  c.blank = blank;
  return c;
}

class ChangedIspMach4AFile : public ::testing::TestWithParam<Change> {};

TEST_P(ChangedIspMach4AFile, StopsOnTheLineWhereThePartFailsIt) {
  const Change& c = GetParam();
  const std::string path = CorpusFile(kFile);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  Lines lines = SplitLines(ReadText(path));
  const Lines before = lines;
  const std::size_t expected = c.change(lines);
  ASSERT_TRUE(lines != before || std::string(c.part) != "M4A3-64/32") << "the change did not apply";
  Rehearsal rig(Choice(c.part, c.blank));
  const auto r = rig.PlayText(JoinLines(lines), true);
  EXPECT_FALSE(r.Passed());
  EXPECT_EQ(r.facts.end, player::RunFacts::End::CheckFailed);
  EXPECT_EQ(r.Line(), expected + 1) << lines[expected] << "\n" << (r.log.empty() ? "" : r.log.back());
  std::string report;
  for (const auto& line : r.report) report += line + "\n";
  if (*c.refused != 0) {
    EXPECT_NE(report.find(c.refused), std::string::npos) << report;
  }
}

std::string ChangeName(const ::testing::TestParamInfo<Change>& p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Changes, ChangedIspMach4AFile, ::testing::ValuesIn(kChanges), ChangeName);

}  // namespace
}  // namespace tavrin::board
