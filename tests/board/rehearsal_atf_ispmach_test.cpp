// SPDX-License-Identifier: Apache-2.0
// ATF15xxAS and ispMACH 4000 files changed the ways a file goes wrong: each
// change must stop the run on the line where the real part would fail it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <regex>

#include "rehearsal_rig.h"

namespace tavrin::board {
namespace {

using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string JoinLines(const Lines& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// The index of the first line at or after `from` matching `pattern`; the test
// fails when there is none.
std::size_t Find(const Lines& lines, const std::string& pattern, std::size_t from = 0) {
  const std::regex re(pattern);
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (std::regex_search(lines[i], re)) return i;
  }
  ADD_FAILURE() << "no line matches " << pattern;
  return lines.size() - 1;
}

// The first line of the statement holding line `i`: the one after a line
// that ends a statement or is a comment.
std::size_t StatementStart(const Lines& lines, std::size_t i) {
  static const std::regex kBefore(R"(;|^\s*(!|//)|^\s*$)");
  while (i > 0 && !std::regex_search(lines[i - 1], kBefore)) --i;
  return i;
}

// Flips bit 0 of the last hex digit in the parentheses after `field` on line `i`.
void FlipBit(Lines& lines, std::size_t i, const std::string& field) {
  std::string& l = lines[i];
  const std::size_t close = l.find(')', l.find(field));
  ASSERT_NE(close, std::string::npos) << l;
  char& d = l[close - 1];
  const int v = std::isdigit(static_cast<unsigned char>(d)) != 0 ? d - '0' : (std::toupper(d) - 'A' + 10);
  d = "0123456789abcdef"[v ^ 1];
}

// A file's statements as the player counts lines (1-based).
std::uint64_t LineNo(std::size_t index) { return index + 1; }

ModelChoice Choice(const char* part, bool blank) {
  ModelChoice c;
  c.part = part;
  c.blank = blank;
  return c;
}

// Where a file checks the IDCODE, erases, writes rows and reads them back.
struct Flow {
  const char* file;
  const char* part;
  const char* sibling;  // another part of the family, with another IDCODE
  bool standard;
  const char* idcode_scan;   // the IDCODE check
  const char* erase;         // the lines of the erase (removed: nothing is erased)
  const char* erase_wait;    // the erase's wait
  const char* erase_cut;     // the same wait, below the operation's minimum
  const char* verify_scan;   // a scan that checks a row
  const char* program_scan;  // a scan that writes a row
};

const Flow kAtf{"ATF150x_uDEV__leds.svf",
                "ATF1502AS",
                "ATF1508AS",
                false,
                R"(^SDR 32 TDI \(ffffffff\))",
                R"(^SIR 10 TDI \((2b3|29e)\);)",
                R"(^RUNTEST 210001E-6 SEC;)",
                "RUNTEST 200000E-6 SEC;",
                R"(TDO \()",
                R"(^SDR 86 TDI)"};

const Flow kLc4032{"LPC2LCD__LPC2LCD.svf",
                   "LC4032V",
                   "LC4256V",
                   true,
                   R"(^SDR\s+32\s+TDI\s+\(FFFFFFFF\))",
                   R"(^SIR\s+8\s+TDI\s+\(03\);)",
                   R"(^RUNTEST\s+IDLE\s+3 TCK\s+1\.00E-001 SEC;)",
                   "RUNTEST\tIDLE\t3 TCK\t9.00E-002 SEC;",
                   R"(TDO\s+\()",
                   R"(^SDR\s+172\s+TDI)"};

struct Mutation {
  const char* name;
  const Flow* flow;
  bool blank;
  // Changes the file's lines and gives the index of the line where it must stop.
  std::function<std::size_t(Lines&, const Flow&)> change;
  bool on_sibling = false;
};

// The first scan that reads a row back after the erase.
std::size_t FirstVerify(const Lines& lines, const Flow& f) {
  return StatementStart(lines, Find(lines, f.verify_scan, Find(lines, f.erase)));
}

std::size_t RemoveErase(Lines& lines, const Flow& f) {
  const std::size_t first = Find(lines, f.erase);
  // The erase and what goes with it until its wait.
  const std::size_t wait = Find(lines, f.erase_wait, first);
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(wait + 1));
  return StatementStart(lines, Find(lines, f.verify_scan, first));
}

std::size_t CutEraseWait(Lines& lines, const Flow& f) {
  const std::size_t wait = Find(lines, f.erase_wait);
  lines[wait] = f.erase_cut;
  return StatementStart(lines, Find(lines, f.verify_scan, wait));
}

// The 20th row written has its own verify scan: the 20th verify after the erase.
constexpr int kRow = 20;

std::size_t NthVerify(const Lines& lines, const Flow& f, int n) {
  std::size_t at = Find(lines, f.erase_wait);
  for (int i = 0; i < n; ++i) at = Find(lines, f.verify_scan, at + 1);
  return at;
}

std::size_t FlipVerify(Lines& lines, const Flow& f) {
  const std::size_t at = NthVerify(lines, f, kRow);
  FlipBit(lines, at, "TDO");
  return StatementStart(lines, at);
}

// Flips a bit of the data written to the row that the kRow-th verify reads:
// the ATF file addresses its rows, the ispMACH file writes them in order.
std::size_t FlipProgram(Lines& lines, const Flow& f) {
  const std::size_t verify = StatementStart(lines, NthVerify(lines, f, kRow));
  std::size_t program = Find(lines, f.program_scan, Find(lines, f.erase_wait));
  for (int i = 1; i < kRow; ++i) program = Find(lines, f.program_scan, program + 1);
  FlipBit(lines, program, "TDI");
  return verify;
}

std::size_t Sibling(Lines& lines, const Flow& f) { return Find(lines, f.idcode_scan); }

const Mutation kMutations[] = {
    {"AtfEraseRemoved", &kAtf, false, RemoveErase},
    {"AtfEraseWaitCut", &kAtf, false, CutEraseWait},
    {"AtfVerifyBitFlipped", &kAtf, true, FlipVerify},
    {"AtfDataBitFlipped", &kAtf, true, FlipProgram},
    {"AtfOnSibling", &kAtf, true, Sibling, true},
    {"Lc4032EraseRemoved", &kLc4032, false, RemoveErase},
    {"Lc4032EraseWaitCut", &kLc4032, false, CutEraseWait},
    {"Lc4032VerifyBitFlipped", &kLc4032, true, FlipVerify},
    {"Lc4032DataBitFlipped", &kLc4032, true, FlipProgram},
    {"Lc4032OnSibling", &kLc4032, true, Sibling, true},
    // Without its DONE bit the part reads 19, not 1D, in the instruction capture.
    {"Lc4032DoneNotProgrammed", &kLc4032, true,
     [](Lines& lines, const Flow&) {
       std::size_t at = Find(lines, R"(^SIR\s+8\s+TDI\s+\(2F\);)");
       while (std::regex_search(lines[at], std::regex(R"(^SIR\s+8\s+TDI\s+\(2F\);)"))) {
         lines[at] = "SIR\t8\tTDI  (FF);";
         at = Find(lines, R"(^SIR)", at + 1);
       }
       return StatementStart(lines, Find(lines, R"(TDO\s+\(1D\))"));
     }},
};

class ChangedFile : public ::testing::TestWithParam<Mutation> {};

TEST_P(ChangedFile, StopsOnTheLineWhereThePartFailsIt) {
  const Mutation& m = GetParam();
  const std::string path = CorpusFile(m.flow->file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  Lines lines = SplitLines(ReadText(path));
  const std::size_t expected = m.change(lines, *m.flow);
  Rehearsal rig(Choice(m.on_sibling ? m.flow->sibling : m.flow->part, m.blank));
  const auto r = rig.PlayText(JoinLines(lines), m.flow->standard);
  EXPECT_FALSE(r.Passed());
  EXPECT_EQ(r.Line(), LineNo(expected)) << lines[expected] << "\n" << (r.log.empty() ? "" : r.log.back());
}

std::string MutationName(const ::testing::TestParamInfo<Mutation>& p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Mutations, ChangedFile, ::testing::ValuesIn(kMutations), MutationName);

// An old reading left out the times a RUNTEST gives in SEC: the statement kept
// its TCK count, or went when it had none. The parts then get a few clocks
// where their erase and programming need milliseconds, and the file fails
// where it reads back the first row, blank or not.
TEST(WaitsOfThePast, AFileWithoutItsSecondsFailsOnTheModel) {
  for (const Flow* f : {&kAtf, &kLc4032}) {
    const std::string path = CorpusFile(f->file);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
    Lines lines = SplitLines(ReadText(path));
    const std::regex runtest(R"(^RUNTEST)");
    const std::regex seconds(R"(\s+[0-9.Ee+-]+\s*SEC\s*;)");
    const std::regex tck(R"(TCK)");
    Lines old;
    for (const auto& l : lines) {
      if (!std::regex_search(l, runtest)) {
        old.push_back(l);
      } else if (std::regex_search(l, tck)) {
        old.push_back(std::regex_replace(l, seconds, ";"));
      }
    }
    ASSERT_NE(old, lines);
    const std::size_t expected = FirstVerify(old, *f);
    for (const bool blank : {true, false}) {
      Rehearsal rig(Choice(f->part, blank));
      const auto r = rig.PlayText(JoinLines(old), f->standard);
      EXPECT_FALSE(r.Passed()) << f->file;
      EXPECT_EQ(r.Line(), LineNo(expected)) << f->file << (blank ? " blank" : " other design");
    }
  }
}

}  // namespace
}  // namespace tavrin::board
