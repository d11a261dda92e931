// SPDX-License-Identifier: Apache-2.0
// MAX II and MAX V vendor files changed the ways a real run goes wrong: each
// must stop on the line where the real part would first answer otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "jtag/parts.h"
#include "rehearsal_rig.h"

namespace tavrin::board {
namespace {

using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

ModelChoice Choice(const char* part, bool blank) {
  ModelChoice m;
  m.part = part;
  m.blank = blank;
  return m;
}

bool Has(const std::string& line, const char* what) { return line.find(what) != std::string::npos; }

// The index of the first line from `from` holding `what`.
std::size_t Find(const Lines& lines, const char* what, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (Has(lines[i], what)) return i;
  }
  ADD_FAILURE() << "no line with " << what;
  return lines.size();
}

// The index of the n-th (from 0) line from `from` holding `what`.
std::size_t FindNth(const Lines& lines, const char* what, std::size_t n, std::size_t from = 0) {
  std::size_t i = Find(lines, what, from);
  while (n-- > 0 && i < lines.size()) i = Find(lines, what, i + 1);
  return i;
}

// The line with its last hex digit before `)` of the first `what(` group
// changed in bit 0.
void FlipBit0(std::string& line, const char* what) {
  const std::size_t at = line.find(')', line.find(what));
  ASSERT_NE(at, std::string::npos) << line;
  char& c = line[at - 1];
  const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
  c = "0123456789ABCDEF"[v ^ 1];
}

enum class Change {
  kNoErase,       // the bulk erase section removed
  kVerifyBit,     // one verify expectation flipped
  kDataBit,       // one programmed word flipped
  kShortErase,    // the first erase (user flash, second sector) given 1,000 TCK
  kDisabledEarly  // ISC mode left before programming
};

constexpr std::size_t kWord = 1000;  // the word changed, past those the file programs twice

struct Case {
  const char* file;
  const char* part;
  bool blank;
  Change change;
  bool fails;             // else it plays to its end
  const char* refused;    // in the report, or nullptr for "nothing refused"
};

// Applies the change; the line (1-based) where the run must stop.
std::size_t Apply(Lines& lines, Change change) {
  const std::size_t verify = Find(lines, "!VERIFY");
  const std::size_t first_check = Find(lines, "TDO", verify);
  switch (change) {
    case Change::kNoErase: {
      const std::size_t from = Find(lines, "!BULK ERASE");
      const std::size_t to = Find(lines, "!PROGRAM", from);
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.begin() + static_cast<std::ptrdiff_t>(to));
      return first_check + 1 - (to - from);
    }
    case Change::kVerifyBit: {
      const std::size_t at = FindNth(lines, "TDO", kWord, verify);
      FlipBit0(lines[at], "TDO (");
      return at + 1;
    }
    case Change::kDataBit: {
      const std::size_t program = Find(lines, "SIR 10 TDI (2F4)", Find(lines, "!PROGRAM"));
      FlipBit0(lines[FindNth(lines, "SDR 16 TDI", kWord, program)], "TDI (");
      return FindNth(lines, "TDO", kWord, verify) + 1;
    }
    case Change::kShortErase: {
      const std::size_t wait = Find(lines, "RUNTEST", Find(lines, "SIR 10 TDI (2F2)"));
      lines[wait] = "RUNTEST 1000 TCK;";
      // The user flash's verify starts at its first sector; the second
      // sector holds its last 256 words.
      const std::size_t ufm = Find(lines, "SIR 10 TDI (205)", Find(lines, "TDI (0001)", verify));
      return FindNth(lines, "TDO", 256, ufm) + 1;
    }
    case Change::kDisabledEarly:
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(Find(lines, "!PROGRAM")), "SIR 10 TDI (201);");
      return first_check + 2;
  }
  return 0;
}

class Changed : public ::testing::TestWithParam<Case> {};

TEST_P(Changed, StopsWhereThePartWould) {
  const Case& c = GetParam();
  const std::string path = CorpusFile(c.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  Lines lines = SplitLines(ReadText(path));
  const std::size_t line = Apply(lines, c.change);
  Rehearsal rig(Choice(c.part, c.blank));
  const auto r = rig.PlayText(Joined(lines), true);
  std::string report;
  for (const auto& l : r.report) report += l + "\n";
  if (c.fails) {
    EXPECT_FALSE(r.Passed()) << report;
    EXPECT_EQ(r.Line(), line) << lines[line - 1] << "\n" << report;
  } else {
    EXPECT_TRUE(r.Passed()) << "stopped at " << r.Line() << "\n" << report;
  }
  EXPECT_NE(report.find(c.refused != nullptr ? c.refused : "nothing refused"), std::string::npos) << report;
}

constexpr const char* kEpm240File = "GR8RAM__GR8RAM.svf";
constexpr const char* kEpm570File = "pistorm__bitstream.svf";

INSTANTIATE_TEST_SUITE_P(
    Files, Changed,
    ::testing::Values(
        // A skipped erase shows only where the part held another design.
        Case{kEpm240File, "EPM240", false, Change::kNoErase, true, "which was not erased"},
        Case{kEpm240File, "EPM240", true, Change::kNoErase, false, nullptr},
        Case{kEpm570File, "EPM570", false, Change::kNoErase, true, "which was not erased"},
        Case{kEpm240File, "EPM240", true, Change::kVerifyBit, true, nullptr},
        Case{kEpm570File, "EPM570", false, Change::kVerifyBit, true, nullptr},
        Case{kEpm240File, "EPM240", true, Change::kDataBit, true, nullptr},
        Case{kEpm570File, "EPM570", false, Change::kDataBit, true, nullptr},
        Case{kEpm240File, "EPM240", false, Change::kShortErase, true, "erase of user-flash sector 1 given"},
        Case{kEpm570File, "EPM570", false, Change::kShortErase, true, "erase of user-flash sector 1 given"},
        // Cut short on a blank part, the erase had nothing to do.
        Case{kEpm240File, "EPM240", true, Change::kShortErase, false, "erase of user-flash sector 1 given"},
        Case{kEpm240File, "EPM240", true, Change::kDisabledEarly, true, "program outside ISC mode"}));

// A file played on a sibling part stops at the first silicon-ID word that
// part reads otherwise: where the words differ, or at the first word when
// the address shifted before them has another length and names nothing.
struct Sibling {
  const char* file;
  const char* file_part;
  const char* part;
};

class OnSibling : public ::testing::TestWithParam<Sibling> {};

TEST_P(OnSibling, StopsAtTheSiliconId) {
  const Sibling& s = GetParam();
  const std::string path = CorpusFile(s.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const jtag::KnownPart* meant = jtag::PartNamed(s.file_part);
  const jtag::KnownPart* used = jtag::PartNamed(s.part);
  ASSERT_TRUE(meant != nullptr && used != nullptr && meant->silicon_id != nullptr && used->silicon_id != nullptr);
  std::size_t word = 0;
  if (meant->id_address_bits == used->id_address_bits) {
    const std::string a = meant->silicon_id;
    const std::string b = used->silicon_id;
    const auto differs = static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    ASSERT_LT(differs, a.size()) << "the parts read the same words";
    word = static_cast<std::size_t>(std::count(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(differs), ' '));
  }
  const std::string text = ReadText(path);
  const Lines lines = SplitLines(text);
  const std::size_t line = FindNth(lines, "TDO", word, Find(lines, "!CHECKING SILICON ID")) + 1;
  Rehearsal rig(Choice(s.part, false));
  const auto r = rig.Play(path, true);
  EXPECT_FALSE(r.Passed());
  EXPECT_EQ(r.Line(), line) << lines[line - 1];
}

INSTANTIATE_TEST_SUITE_P(Files, OnSibling,
                         ::testing::Values(Sibling{kEpm240File, "EPM240", "5M40Z"},
                                           Sibling{"mayhem-firmware__portapack_h1_cpld.svf", "5M40Z", "EPM240"},
                                           Sibling{kEpm570File, "EPM570", "EPM240"},
                                           Sibling{kEpm240File, "EPM240", "EPM570"}));

}  // namespace
}  // namespace tavrin::board
