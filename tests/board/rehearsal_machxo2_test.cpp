// SPDX-License-Identifier: Apache-2.0
// The MachXO2 vendor file changed in the ways a real part would catch: each
// change stops the run on the line where the part answers differently. Lines
// are blanked rather than removed, so the file keeps its numbering.
#include <gtest/gtest.h>

#include <functional>

#include "rehearsal_rig.h"
#include "svf_edit.h"

namespace tavrin::board {
namespace {

constexpr const char* kFile = "GW4302__REU_impl1.svf";
constexpr const char* kRow128 = R"(^SDR\s+128\s)";
constexpr int kRow = 4;  // the fifth row, whose data is not all zeros

std::size_t FirstVerify(const Lines& l) { return Find(l, kRow128, Find(l, R"(^SIR\s+8\s+TDI\s+\(73\))")); }
std::size_t ProgramRow(const Lines& l) { return Find(l, kRow128, Find(l, R"(^SIR\s+8\s+TDI\s+\(70\))"), kRow); }
std::size_t VerifyRow(const Lines& l) {
  return Find(l, kRow128, Find(l, R"(^SIR\s+8\s+TDI\s+\(73\))"), kRow);
}
// The erase of the configuration flash: the 0E instruction before operand 04.
std::size_t FlashErase(const Lines& l) { return Find(l, R"(^SDR\s+8\s+TDI\s+\(04\))") - 1; }

struct Mutation {
  const char* name;
  const char* part;
  bool blank;
  // Changes the file; gives the index of the line the run must stop on.
  std::function<std::size_t(Lines&)> change;
};

const Mutation kMutations[] = {
    {"EraseRemoved", "LCMXO2-640HC", false,
     [](Lines& l) {
       // The erase, its wait and the busy poll that follows it.
       const std::size_t at = FlashErase(l);
       const std::size_t end = Find(l, R"(^\s+TDO\s+\(0\))", at);
       for (std::size_t i = at; i <= end; ++i) l[i].clear();
       return FirstVerify(l);
     }},
    {"VerifyBitFlipped", "LCMXO2-640HC", true,
     [](Lines& l) {
       const std::size_t at = VerifyRow(l);
       FlipFirstBit(l[at + 1], "TDO");
       return at;
     }},
    {"DataBitFlipped", "LCMXO2-640HC", true,
     [](Lines& l) {
       FlipFirstBit(l[ProgramRow(l)], "TDI");
       return VerifyRow(l);
     }},
    {"SiblingPart", "LCMXO2-1200HC", true, [](Lines& l) { return Find(l, R"(^SDR\s+32\s+TDI\s+\(00000000\))"); }},
    {"EraseWaitCut", "LCMXO2-640HC", false,
     [](Lines& l) {
       const std::size_t wait = Find(l, R"(^RUNTEST)", FlashErase(l));
       l[wait] = "RUNTEST\tIDLE\t1000 TCK;";
       return Find(l, R"(^SDR\s+1\s)", wait);  // the busy poll
     }},
    {"ProgramWaitCut", "LCMXO2-640HC", true,
     [](Lines& l) {
       l[Find(l, R"(^RUNTEST)", ProgramRow(l))] = "RUNTEST\tIDLE\t100 TCK;";
       return VerifyRow(l);
     }},
    {"IscModeNeverEntered", "LCMXO2-640HC", false,
     [](Lines& l) {
       // Both ISC_ENABLEs: the SRAM erase is refused and the instruction
       // capture after it shows FAIL.
       for (const char* operand : {"00", "08"}) {
         const std::size_t at = Find(l, std::string(R"(^SDR\s+8\s+TDI\s+\()") + operand + R"(\))");
         l[at - 1].clear();
         l[at].clear();
       }
       return Find(l, R"(^SIR\s+8\s+TDI\s+\(FF\))");
     }},
};

class MachXo2Mutation : public ::testing::TestWithParam<Mutation> {};

TEST_P(MachXo2Mutation, StopsWhereThePartAnswersDifferently) {
  const std::string path = CorpusFile(kFile);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const Mutation& m = GetParam();
  Lines lines = SplitLines(ReadText(path));
  const std::size_t expected = m.change(lines) + 1;
  Rehearsal rig(ModelChoice(m.part, m.blank));
  const auto r = rig.PlayText(JoinLines(lines), true);
  EXPECT_FALSE(r.Passed());
  EXPECT_EQ(r.Line(), expected) << (r.log.empty() ? "" : r.log.back());
}

INSTANTIATE_TEST_SUITE_P(Changes, MachXo2Mutation, ::testing::ValuesIn(kMutations),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tavrin::board
