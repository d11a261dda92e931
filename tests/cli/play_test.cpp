#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/play.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

class PlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tavrin-play-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = dir / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  Result Run(std::vector<std::string> args, const std::string& answers = "") {
    args.insert(args.begin(), "tavrin-play");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::FILE* term = std::tmpfile();
    std::fputs(answers.c_str(), term);
    std::rewind(term);
    Result r;
    r.status = PlayMain(static_cast<int>(argv.size()), argv.data(), out, err, term);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    std::fclose(out);
    std::fclose(err);
    std::fclose(term);
    return r;
  }
  static std::string Example() { return std::string(TAVRIN_SOURCE_DIR) + "/examples/idcode.svf"; }
  fs::path dir;
};

TEST_F(PlayTest, ExamplePlaysOnTheVirtualBoard) {
  const Result r = Run({Example()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Opening " + Example() + "\n", 0), 0U) << r.out;
  EXPECT_NE(r.out.find("\nGot: F6E5F093\n"), std::string::npos);
  EXPECT_NE(r.out.find("Masked Expectation: A5C3, Masked Result: A5C3 Pass!\n"), std::string::npos);
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "LF line ends";
  EXPECT_EQ(r.out.find("Merrow Log"), std::string::npos);
  EXPECT_EQ(r.out.find("Resetting State Machine"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(PlayTest, WrongExpectationFailsWithTheExactLine) {
  const std::string f = Write("bad.svf",
                              "SIR 8 TDI (01);\nSDR 32 TDI (00000000) TDO (12345678) MASK (FFFFFFFF);\nTRST OFF;\n");
  const Result r = Run({f});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Masked Expectation: 12345678, Masked Result: F6E5F093 Fail!  Bailing out...\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("TRST"), std::string::npos) << "nothing after the failure";
}

TEST_F(PlayTest, WrongTdoPinReadsThePullUpAndFails) {
  const Result r = Run({"--tdo", "D0", Example()});
  EXPECT_EQ(r.status, 1);
  // TDO on a pin the board leaves open reads the pull-up: all ones.
  EXPECT_NE(r.out.find("Got: FF\nMasked Expectation: 01, Masked Result: 03 Fail!  Bailing out...\n"), std::string::npos)
      << r.out;
}

TEST_F(PlayTest, PinsByNumberAndTypedRateStillPlay) {
  const Result r = Run({"--tck", "7", "--tms", "d1", "--tdi", "D5", "--tdo", "6", "--rate", "150000", Example()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(PlayTest, RefusalsAndUnusableInputsExitWithTwo) {
  EXPECT_EQ(Run({(dir / "missing.svf").string()}).status, 2);
  EXPECT_EQ(Run({Write("x.txt", "TRST OFF;\n")}).status, 2);
  EXPECT_EQ(Run({"--tck", "D8", Example()}).status, 2);
  EXPECT_EQ(Run({"--no-such-option", Example()}).status, 2);
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"--device", "5", Example()}).status, 2);
  const Result bad_board = Run({"--board", Write("b.json", "{ not json"), Example()});
  EXPECT_EQ(bad_board.status, 2);
  EXPECT_NE(bad_board.err.find("tavrin-play: "), std::string::npos);
  const Result refused = Run({Write("y.xsvf", "TRST OFF;\n")});
  EXPECT_EQ(refused.err, "Error - expecting a .SVF file\n");
}

TEST_F(PlayTest, MissingFileIsToldOnStandardError) {
  const std::string f = (dir / "missing.svf").string();
  const Result r = Run({f});
  EXPECT_EQ(r.err, "Cannot open " + f + ": No such file or directory\n");
}

TEST_F(PlayTest, UnterminatedFinalStatementExitsWithOne) {
  const Result r = Run({Write("frag.svf", "TRST OFF;\nSDR 8 TDI (00)")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Uh Oh, the file ends inside a statement that has no ';': SDR 8 TDI (00)\n"), std::string::npos);
}

TEST_F(PlayTest, EmptyFilePrintsItsOpeningLineAndSucceeds) {
  const std::string f = Write("empty.svf", "");
  const Result r = Run({f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Opening " + f + "\n");
}

TEST_F(PlayTest, ListShowsTheVirtualBoardLastWithItsSerial) {
  const Result r = Run({"--list"});
  EXPECT_EQ(r.status, 0);
  ASSERT_FALSE(r.out.empty());
  const std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) == std::string::npos
                                            ? 0
                                            : r.out.rfind('\n', r.out.size() - 2) + 1);
  EXPECT_NE(last.find(" - FT232R Virtual Board"), std::string::npos) << r.out;
  EXPECT_NE(last.find("serial "), std::string::npos) << r.out;
}

TEST_F(PlayTest, SingleStepReadsEnterAndBreakFromTheTerminal) {
  const std::string f = Write("steps.svf", "TRST OFF;\nENDIR IDLE;\nENDDR IDLE;\n");
  const Result r = Run({"--single-step", f}, "\n\nb\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Set IR end state to IDLE\n> ENDDR IDLE;\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Set DR end state"), std::string::npos);
  // No more answers: the run stops instead of waiting for ever.
  EXPECT_EQ(Run({"--single-step", f}, "").status, 1);
}

TEST_F(PlayTest, TraceAndWaveformFilesAreWritten) {
  const std::string trace = (dir / "t.txt").string();
  const std::string vcd = (dir / "w.vcd").string();
  const Result r = Run({"--quiet", "--trace", trace, "--vcd", vcd, Example()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  std::stringstream t;
  t << std::ifstream(trace).rdbuf();
  EXPECT_NE(t.str().find("FT_SetBitMode(0x1, mask=0xA2, mode=4) -> 0"), std::string::npos) << t.str().substr(0, 2000);
  // STATE RESET IDLE from the believed RESET: one clock with TMS 0; the free
  // pins keep the levels read (high: unconnected).
  EXPECT_NE(t.str().find("FT_Write(0x1, 3) 1D 9D 1D -> 0"), std::string::npos);
  std::stringstream w;
  w << std::ifstream(vcd).rdbuf();
  EXPECT_NE(w.str().find("$timescale"), std::string::npos);
  EXPECT_NE(w.str().find(" tck $end"), std::string::npos);
  EXPECT_NE(w.str().find("$enddefinitions"), std::string::npos);
}

TEST_F(PlayTest, HelpAndVersion) {
  EXPECT_EQ(Run({"--help"}).status, 0);
  EXPECT_NE(Run({"--help"}).out.find("--single-step"), std::string::npos);
  EXPECT_EQ(Run({"--version"}).out.rfind("tavrin-play ", 0), 0U);
}

}  // namespace
}  // namespace tavrin::cli
