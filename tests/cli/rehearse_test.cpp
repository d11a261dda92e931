// SPDX-License-Identifier: Apache-2.0
// tavrin-play --rehearse: a vendor file played into a model of its part,
// the flash kept between runs, and the options refused with their reasons.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "play_rig.h"

namespace tavrin::cli::testing {
namespace {

std::string Corpus(const std::string& name) { return std::string(TAVRIN_CORPUS_DIR) + "/" + name; }

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program file's verify alone: no erase, no program, the DONE row not set.
std::string VerifyOnly(std::string t) {
  const auto a = t.find("// Loading device with a 'erase' instruction.");
  const auto b = t.find("// Verification.");
  t = t.substr(0, a) + "SIR 8 TDI (e8) ;\n" + t.substr(b);
  const auto c = t.find("// Setting Done bit");
  return t.erase(c, t.find("SIR 8 TDI (f0)", c) - c);
}

// Programmed with the state kept, a verify-only file passes on that part and
// fails on one that holds another design or is blank; a damaged state file
// is refused before anything is clocked, and a failed state never replaces
// a good one.
TEST(Rehearse, ProgramThenVerifyOnlyWithTheBoardState) {
  const std::string program = Corpus("Bus_Blaster__bbv3-jtagkey.svf");
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "no corpus at " << program;
  const TempDir dir;
  const std::string state = dir.Path("board.json");
  const std::string verify = dir.Write("verify.svf", VerifyOnly(Text(program)));

  auto r = PlayInProcess({"--part", "xc2c32a", "--board-state", state, "-q", program});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("on virtual board (XC2C32A, holding another design)"), std::string::npos) << r.err;
  ASSERT_TRUE(std::filesystem::exists(state));

  r = PlayInProcess({"--rehearse", "--board-state", state, verify});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("checks for part XC2C32A (CoolRunner-II)"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("XC2C32A: 0 erases, 0 rows programmed, 50 rows read; nothing refused"), std::string::npos);

  for (const auto& blank : {std::vector<std::string>{}, std::vector<std::string>{"--blank"}}) {
    std::vector<std::string> args = {"--rehearse", "-q", verify};
    args.insert(args.begin(), blank.begin(), blank.end());
    r = PlayInProcess(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.Summary().find("verify.svf:59: check failed"), std::string::npos) << r.Summary();
  }

  const std::string kept = Text(state);
  for (const char* damaged : {"garbage", "{\"format\": \"tavrin board state\", \"version\": 9, \"parts\": []}",
                              "{\"format\": \"tavrin board state\", \"version\": 1, \"parts\": [{\"device\": 0, "
                              "\"part\": \"XC2C32A\", \"flash\": \"00\\n\"}]}"}) {
    const std::string bad = dir.Write("bad.json", damaged);
    r = PlayInProcess({"--rehearse", "--board-state", bad, verify});
    EXPECT_EQ(r.status, 2) << damaged;
    EXPECT_NE(r.err.find("board state " + bad), std::string::npos) << r.err;
    EXPECT_EQ(Text(bad), damaged);
  }
  // Another part's state is not this part's.
  r = PlayInProcess({"--part", "XC2C64A", "--board-state", state, verify});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is a XC2C32A at device 0, but the board has a XC2C64A"), std::string::npos) << r.err;
  EXPECT_EQ(Text(state), kept);
}

TEST(Rehearse, OptionsAreRefusedWithTheirReasons) {
  const TempDir dir;
  const std::string none = dir.Write("none.svf", "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (12345671);\n");
  const std::string max = Corpus("GR8RAM__GR8RAM.svf");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--rehearse", none}, "none.svf identifies no part"},
      {{"--part", "XC2C64", none}, "--part XC2C64: no modelled part has that name"},
      {{"--blank", "--virtual", none}, "--blank applies to a rehearsal"},
      {{"--board-state", "s.json", "--virtual", none}, "--board-state keeps modelled parts' flash"},
      {{"--rehearse", "--board", "b.json", none}, "a rehearsal builds its board from the part"},
      {{"--rehearse", "--device", "0", none}, "--device, --serial and --detect do not apply"},
  };
  for (const auto& c : cases) {
    const auto r = PlayInProcess(c.args);
    EXPECT_EQ(r.status, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  const auto list = PlayInProcess({"--list-parts"});
  EXPECT_EQ(list.status, 0);
  for (const char* part : {"XC2C32A", "EPM570", "LCMXO2-640HC", "10CL025"}) {
    EXPECT_NE(list.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(list.out.find("AG256"), std::string::npos) << "a part without a model is not listed";
}

}  // namespace
}  // namespace tavrin::cli::testing
