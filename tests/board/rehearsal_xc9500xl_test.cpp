// SPDX-License-Identifier: Apache-2.0
// An XC95144XL erase/program/verify file, written here as the maker's tool
// writes its files for the family: the part passes it blank and holding
// another design, and each change stops the run where the part would fail.
// The flow's waits (200 ms bulk erase, 20 ms a row at 1 MHz) and the order
// of its steps are inferred, no file of the family being at hand.
#include <gtest/gtest.h>

#include <random>

#include "rehearsal_rig.h"
#include "svf_edit.h"

namespace tavrin::board {
namespace {

constexpr std::size_t kWordBits = 64;  // 8 function blocks
constexpr std::size_t kScanBits = 2 + kWordBits + 16;
constexpr std::size_t kColumns = 15;

// The hex of a configuration-register value: valid, strobe, word, address.
std::string Scan(std::uint64_t address, std::uint64_t word, bool valid, bool strobe, std::uint64_t status = 0) {
  std::vector<bool> bits(kScanBits + 2, false);  // padded to whole digits
  bits[0] = valid || (status & 1U) != 0;
  bits[1] = strobe || (status & 2U) != 0;
  for (std::size_t i = 0; i < kWordBits; ++i) bits[2 + i] = ((word >> i) & 1U) != 0;
  for (std::size_t i = 0; i < 16; ++i) bits[2 + kWordBits + i] = ((address >> i) & 1U) != 0;
  std::string hex;
  for (std::size_t d = bits.size() / 4; d-- > 0;) {
    const int v = bits[4 * d] + 2 * bits[4 * d + 1] + 4 * bits[4 * d + 2] + 8 * bits[4 * d + 3];
    hex += "0123456789abcdef"[v];
  }
  return hex;
}

std::uint64_t Address(std::size_t row, std::size_t column) { return row << 5U | (column / 5) << 3U | column % 5; }

// The whole flow for the first `rows` rows of a seeded design.
std::string Flow(std::size_t rows = 108) {
  std::mt19937_64 design(42);
  std::vector<std::uint64_t> words(rows * kColumns);
  for (auto& w : words) w = design();
  std::string f =
      "// Created for the rehearsal of an XC95144XL\n"
      "TRST OFF;\nENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\nFREQUENCY 1E6 HZ;\n"
      "//Loading device with 'idcode' instruction.\n"
      "SIR 8 TDI (fe) SMASK (ff) ;\n"
      "SDR 32 TDI (00000000) SMASK (ffffffff) TDO (f9608093) MASK (0fffffff) ;\n"
      "//Loading device with 'ispen' instruction.\n"
      "SIR 8 TDI (e8) ;\nSDR 6 TDI (00) SMASK (3f) ;\nRUNTEST 1 TCK;\n"
      "//Loading device with a 'fbulk' instruction.\n"
      "SIR 8 TDI (ed) TDO (11) MASK (13) ;\n"
      "SDR 18 TDI (00003) SMASK (3ffff) ;\nRUNTEST 200000 TCK;\n"
      "//Loading device with 'fpgm' instruction.\n"
      "SIR 8 TDI (ea) ;\n";
  const std::string mask(kScanBits / 4 + 1, 'f');
  const std::string full_mask = "3" + mask.substr(1);
  for (std::size_t w = 0; w < words.size(); ++w) {
    const bool strobe = w % kColumns == kColumns - 1;
    f += "SDR 82 TDI (" + Scan(Address(w / kColumns, w % kColumns), words[w], true, strobe) + ") SMASK (" +
         full_mask + ") ;\n";
    if (strobe) f += "RUNTEST 20000 TCK;\n";
  }
  f += "//Loading device with 'fvfy' instruction.\nSIR 8 TDI (ee) ;\n";
  f += "SDR 82 TDI (" + Scan(Address(0, 0), 0, true, true) + ") ;\n";
  for (std::size_t w = 0; w < words.size(); ++w) {
    const std::size_t next = std::min(w + 1, words.size() - 1);
    f += "SDR 82 TDI (" + Scan(Address(next / kColumns, next % kColumns), 0, true, true) + ") TDO (" +
         Scan(Address(w / kColumns, w % kColumns), words[w], false, false, 1) + ") MASK (" + full_mask + ") ;\n";
  }
  f += "//Loading device with 'ispex' instruction.\nSIR 8 TDI (f0) ;\nRUNTEST 100 TCK;\n"
       "//Check for ISP mode left.\nSIR 8 TDI (ff) TDO (01) MASK (13) ;\n";
  return f;
}

ModelChoice Choice(const char* part, bool blank) {
  ModelChoice c;
  c.part = part;
  c.blank = blank;
  return c;
}

std::string Report(const Rehearsal::Result& r) {
  std::string report;
  for (const auto& l : r.report) report += l + "\n";
  return report;
}

TEST(Xc9500XlRehearsal, TheFlowPlaysToItsEndFromBlankAndFromAnotherDesign) {
  const std::string flow = Flow();
  for (const bool blank : {true, false}) {
    Rehearsal rig(Choice("XC95144XL", blank));
    const auto r = rig.PlayText(flow, false);
    EXPECT_TRUE(r.Passed()) << (blank ? "blank" : "other design") << ": stopped at line " << r.Line() << "\n"
                            << (r.log.empty() ? "" : r.log.back()) << "\n" << Report(r);
    ASSERT_FALSE(r.report.empty());
    EXPECT_EQ(r.report.front(), "XC95144XL: 1 erase, 108 rows programmed, 108 rows read; nothing refused");
  }
}

// The scan of the flow that writes or checks word `n` (0 first) of the design.
std::size_t ProgramScan(const Lines& l, int n) { return Find(l, R"(^SDR 82 TDI)", Find(l, R"(TDI \(ea\))"), n); }
std::size_t VerifyScan(const Lines& l, int n) { return Find(l, R"(^SDR 82 .*TDO)", Find(l, R"(TDI \(ee\))"), n); }

// Flips bit `bit` (0 = the first shifted) of the value after `field` on the line.
void Flip(std::string& line, const std::string& field, std::size_t bit) {
  std::size_t pos = line.find(')', line.find(field + " ("));
  ASSERT_NE(pos, std::string::npos) << line;
  pos -= 1 + bit / 4;
  const int v = std::stoi(line.substr(pos, 1), nullptr, 16) ^ (1 << (bit % 4));
  line[pos] = "0123456789abcdef"[v];
}

constexpr int kWord = 47;          // row 3, column 2
constexpr std::size_t kBit = 2 + 21;  // a bit of function block 2's byte

struct Change {
  const char* name;
  const char* part;
  bool blank;
  // Changes the lines and gives the index of the line where the run must stop.
  std::size_t (*change)(Lines&);
  const char* refused;  // in the account; empty: nothing to look for
};

std::size_t RemoveErase(Lines& l) {
  const std::size_t from = Find(l, R"(TDI \(ed\))");
  l.erase(l.begin() + static_cast<std::ptrdiff_t>(from), l.begin() + static_cast<std::ptrdiff_t>(from + 3));
  return VerifyScan(l, 0);
}

std::size_t CutEraseWait(Lines& l) {
  l[Find(l, R"(^RUNTEST 200000 TCK;)")] = "RUNTEST 190000 TCK;";
  return VerifyScan(l, 0);
}

std::size_t FlipVerify(Lines& l) {
  const std::size_t at = VerifyScan(l, kWord);
  Flip(l[at], "TDO", kBit);
  return at;
}

std::size_t FlipProgram(Lines& l) {
  Flip(l[ProgramScan(l, kWord)], "TDI", kBit);
  return VerifyScan(l, kWord);
}

std::size_t CutRowWait(Lines& l) {
  l[Find(l, R"(^RUNTEST 20000 TCK;)", ProgramScan(l, kWord))] = "RUNTEST 15000 TCK;";
  return VerifyScan(l, kWord / kColumns * kColumns);
}

std::size_t Unchanged(Lines& l) { return Find(l, R"(TDO \(f9608093\))"); }

// Without ISPEN the part takes no erase and reads 01, not 11, in the capture.
std::size_t RemoveIspen(Lines& l) {
  l[Find(l, R"(TDI \(e8\))")] = "SIR 8 TDI (ff) ;";
  return Find(l, R"(TDO \(11\))");
}

// Without ISPEX the part stays in ISP mode.
std::size_t RemoveIspex(Lines& l) {
  l[Find(l, R"(TDI \(f0\))")] = "SIR 8 TDI (ee) ;";
  return Find(l, R"(TDO \(01\) MASK \(13\))");
}

const Change kChanges[] = {
    {"EraseRemoved", "XC95144XL", false, RemoveErase, "which was not erased"},
    {"EraseWaitCut", "XC95144XL", false, CutEraseWait, "less than the 200 ms it needs"},
    {"VerifyBitFlipped", "XC95144XL", true, FlipVerify, ""},
    {"ProgrammedBitFlipped", "XC95144XL", true, FlipProgram, ""},
    {"RowWaitCut", "XC95144XL", true, CutRowWait, "program of row 3 given"},
    {"OnSibling", "XC9572XL", true, Unchanged, ""},
    {"OnAnotherFamily", "XC2C64A", true, Unchanged, ""},
    {"IspenRemoved", "XC95144XL", true, RemoveIspen, ""},
    {"IspexRemoved", "XC95144XL", true, RemoveIspex, ""},
};

class ChangedXc9500XlFlow : public ::testing::TestWithParam<Change> {};

TEST_P(ChangedXc9500XlFlow, StopsOnTheLineWhereThePartFailsIt) {
  const Change& c = GetParam();
  Lines lines = SplitLines(Flow(8));  // a short cut: the changes fall in its first rows
  const Lines before = lines;
  const std::size_t expected = c.change(lines);
  ASSERT_TRUE(lines != before || std::string(c.part) != "XC95144XL") << "the change did not apply";
  Rehearsal rig(Choice(c.part, c.blank));
  const auto r = rig.PlayText(JoinLines(lines), false);
  EXPECT_FALSE(r.Passed());
  EXPECT_EQ(r.facts.end, player::RunFacts::End::CheckFailed);
  EXPECT_EQ(r.Line(), expected + 1) << lines[expected] << "\n" << (r.log.empty() ? "" : r.log.back());
  if (*c.refused != 0) {
    EXPECT_NE(Report(r).find(c.refused), std::string::npos) << Report(r);
  }
}

std::string ChangeName(const ::testing::TestParamInfo<Change>& p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Changes, ChangedXc9500XlFlow, ::testing::ValuesIn(kChanges), ChangeName);

}  // namespace
}  // namespace tavrin::board
