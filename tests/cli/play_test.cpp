// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

#include "../support/chains.h"
#include "board/virtual_d2xx.h"
#include "svf/interpreter.h"
#include "play_rig.h"

namespace tavrin::cli {
namespace {

using Result = testing::PlayResult;

const std::string kOnBoard = "; on virtual board (built-in board)";

// Plays with the computer's devices, into the virtual board.
class PlayTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) { return files.Write(name, text); }
  static Result Run(std::vector<std::string> args, const std::string& answers = "") {
    args.insert(args.begin(), "--virtual");
    return testing::PlayInProcess(args, nullptr, answers);
  }
  static std::string Example() { return std::string(TAVRIN_SOURCE_DIR) + "/examples/idcode.svf"; }
  testing::TempDir files;
};

TEST_F(PlayTest, ExamplePlaysOnTheVirtualBoard) {
  const Result r = Run({Example()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Adapter: virtual board (built-in board)\nOpening " + Example() + "\n", 0), 0U) << r.out;
  EXPECT_NE(r.out.find("\nGot: F6E5F093\n"), std::string::npos);
  EXPECT_NE(r.out.find("Masked Expectation: A5C3, Masked Result: A5C3 Pass!\n"), std::string::npos);
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "LF line ends";
  EXPECT_EQ(r.out.find("Merrow Log"), std::string::npos);
  EXPECT_EQ(r.out.find("Resetting State Machine"), std::string::npos);
  // One line on standard error: the summary.
  EXPECT_EQ(r.err.rfind(Example() + ": 12 statements, 3 checks passed, ", 0), 0U) << r.err;
  EXPECT_EQ(r.err.find(" s" + kOnBoard + "\n"), r.err.size() - kOnBoard.size() - 3) << r.err;
}

TEST_F(PlayTest, QuietPrintsTheSummaryOnly) {
  const Result r = Run({"--quiet", Example()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(Example() + ": 12 statements, 3 checks passed, ", 0), 0U) << r.err;
  const std::string f = Write("fail.svf", "SIR 8 TDI (01);\n\nSDR 32 TDI (0) TDO (0) MASK (0FFFFFFF);\n");
  const Result failed = Run({"-q", f});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, f + ":3: check failed: expected 00000000, got F6E5F093, mask 0FFFFFFF" + kOnBoard + "\n");
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

TEST_F(PlayTest, PinsByNumberOrNameAndTypedRateStillPlay) {
  const Result r = Run({"--tck", "7", "--tms", "d1", "--tdi", "D5", "--tdo", "6", "--rate", "150000", Example()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The names beside D0 to D7 in the window, in any case.
  EXPECT_EQ(Run({"-q", "--tck", "RI", "--tms", "rxd", "--tdi", "Dsr", "--tdo", "DCD", Example()}).status, 0);
  const Result swapped = Run({"-q", "--tck", "txd", "--tms", "RTS", "--tdi", "cts", "--tdo", "DTR", Example()});
  EXPECT_EQ(swapped.status, 1) << "pins D0, D2, D3, D4: no answer from the board";
  const Result bad = Run({"--tdo", "DTX", Example()});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "tavrin-play: --tdo wants a pin D0 to D7 or its name (TXD, RXD, RTS, CTS, DTR, DSR, DCD, RI), "
                     "not 'DTX'\n");
}

// --freq: the rate set on the chip and the line that says which TCK it
// gives, or why it is refused before a chip is touched.
TEST_F(PlayTest, FreqSetsTheFastestRateAtOrBelowTheTck) {
  const std::string f = Example();
  const struct {
    std::vector<std::string> args;
    int status;
    std::uint32_t rate;  // 0: the maximum clock (divisor 0)
    std::string err;     // the first line on standard error
  } cases[] = {
      {{"--freq", "100k"}, 0, 12500, "tavrin-play: --freq 100k: TCK 100 kHz (rate 12500)"},
      {{"--freq", "250000"}, 0, 31250, "tavrin-play: --freq 250000: TCK 250 kHz (rate 31250)"},
      {{"--freq", "333K"}, 0, 41594, "tavrin-play: --freq 333K: TCK 332.755 kHz (rate 41594)"},
      {{"--freq", "1.5m"}, 0, 0, "tavrin-play: --freq 1.5m: TCK 1.5 MHz, the maximum clock"},
      {{"--freq", "4M"}, 0, 0,
       "tavrin-play: --freq 4M is above the fastest TCK the chip clocks: the maximum clock, TCK 1.5 MHz"},
      {{"--freq", "1k"}, 2, 0,
       "tavrin-play: --freq 1k is below the slowest TCK the chip clocks, 1.464 kHz (--freq 1465 or more)"},
      {{"--freq", "fast"}, 2, 0,
       "tavrin-play: --freq wants a TCK frequency in hertz, with k or M for thousands or millions (250000, 100k, "
       "1.5M), not 'fast'"},
      {{"--freq", "1M", "--rate", "9600"}, 2, 0, "tavrin-play: --rate and --freq both set the clock; give one of them"},
  };
  for (const auto& c : cases) {
    board::VirtualD2xx board;
    std::vector<std::string> args = {"--virtual", "-q"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(f);
    const Result r = testing::PlayInProcess(args, &board);
    EXPECT_EQ(r.status, c.status) << c.args[1] << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err);
    if (c.status == 0 && c.rate != 0) {
      EXPECT_EQ(board.BaudRate(), c.rate) << c.args[1];
      EXPECT_FALSE(board.Divisor()) << c.args[1];
    } else if (c.status == 0) {
      EXPECT_EQ(board.Divisor(), std::optional<std::uint16_t>(0)) << c.args[1];
    } else {
      EXPECT_EQ(board.CallCount(board::Op::ListDevices), 0) << c.args[1];
    }
  }
}

TEST_F(PlayTest, RefusalsAndUnusableInputsExitWithTwo) {
  EXPECT_EQ(Run({files.Path("missing.svf")}).status, 2);
  EXPECT_EQ(Run({Write("x.txt", "TRST OFF;\n")}).status, 2);
  EXPECT_EQ(Run({"--tck", "D8", Example()}).status, 2);
  EXPECT_EQ(Run({"--no-such-option", Example()}).status, 2);
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"--device", "5", Example()}).status, 2);
  const Result bad_board = Run({"--board", Write("b.json", "{ not json"), Example()});
  EXPECT_EQ(bad_board.status, 2);
  EXPECT_NE(bad_board.err.find("tavrin-play: "), std::string::npos);
  // What is no SVF file is named, and refused before a chip is touched.
  const std::string zero("TRST OFF;\n\0\x01", 12);
  const struct {
    std::string file;
    std::string err;
  } not_svf[] = {
      {Write("y.xsvf", "TRST OFF;\n"), ": its name does not end in .svf\nError - expecting a .SVF file\n"},
      {Write("top.bit", zero), ": its name does not end in .svf\nError - expecting a .SVF file\n"},
      {Write("bin.svf", zero), ": it holds binary data (a zero byte at offset 10)\n"},
  };
  for (const auto& c : not_svf) {
    board::VirtualD2xx board;
    const Result r = testing::PlayInProcess({"--virtual", c.file}, &board);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tavrin-play: " + c.file + " is not an SVF file" + c.err);
    EXPECT_EQ(board.CallCount(board::Op::ListDevices), 0);
  }
}

TEST_F(PlayTest, MissingFileIsToldOnStandardError) {
  const std::string f = files.Path("missing.svf");
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
  EXPECT_EQ(r.out, "Adapter: virtual board (built-in board)\nOpening " + f + "\n");
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
  const std::string trace = files.Path("t.txt");
  const std::string vcd = files.Path("w.vcd");
  const Result r = Run({"--quiet", "--trace", trace, "--vcd", vcd, Example()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  std::stringstream t;
  t << std::ifstream(trace).rdbuf();
  EXPECT_NE(t.str().find("FT_SetBitMode(0x1, mask=0xA2, mode=4) -> 0"), std::string::npos) << t.str().substr(0, 2000);
  // The run's reset (five clocks with TMS high), then STATE RESET IDLE: one
  // clock with TMS 0; the free pins keep the levels read (high:
  // unconnected). They go out with what follows, up to the first check.
  EXPECT_NE(t.str().find("FT_Write(0x1, 62) 1F 9F 1F 9F 1F 9F 1F 9F 1F 9F 1F 1D 9D 1D "), std::string::npos)
      << t.str().substr(0, 2000);
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

TEST_F(PlayTest, StandardReadsBangCommentsAndHeaderBits) {
  const std::string f = Write("std.svf", "! made by a vendor's tool\nHIR 0; TIR 0 ;\nSIR 8 TDI (01); ! IDCODE\n"
                                          "SDR 32 TDI (0) TDO (F6E5F093);\n");
  // The default reading ends at the '!' line, names the line and points to
  // the standard reading, after the summary too.
  const Result d = Run({"-q", f});
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.Summary(), tavrin::svf::kStandardSvfHint) << d.err;
  EXPECT_NE(d.err.find("std.svf:1: I don't know how to do a !"), std::string::npos) << d.err;
  const Result r = Run({"--standard", f});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("> ! IDCODE\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("std.svf: 4 statements, 1 check passed"), std::string::npos) << r.err;
}

TEST_F(PlayTest, OutputsThatWouldOverwriteAnInputAreRefused) {
  const std::string svf = Write("keep.svf", "TRST OFF;\n");
  for (const char* option : {"--vcd", "--trace"}) {
    const Result r = Run({option, svf, svf});
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_NE(r.err.find("would overwrite an input file"), std::string::npos) << r.err;
  }
  std::ifstream in(svf);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "TRST OFF;\n");
}

TEST_F(PlayTest, DetectListsTheChainWithoutAFile) {
  const Result one = Run({"--detect"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out,
            "adapter: virtual board (built-in board)\n"
            "device 0: IDCODE F6E5F093  Xilinx (AMD) XC2C64A (CoolRunner-II)\n"
            "chain: 1 device, instruction registers 8 bits in all (first device nearest TDI)\n");
  const std::string board = std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json";
  const Result two = testing::PlayInProcess({"--detect", "--board", board});
  EXPECT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.out.rfind("adapter: virtual board (two-device-chain.json)\n", 0), 0U) << two.out;
  EXPECT_NE(two.out.find("device 1: IDCODE 24001093  Xilinx (AMD) XC6SLX9 (Spartan-6)\n"), std::string::npos) << two.out;
  EXPECT_NE(two.out.find("chain: 2 devices, instruction registers 14 bits"), std::string::npos) << two.out;
  // A file is refused: --detect plays none.
  const Result with_file = Run({"--detect", Example()});
  EXPECT_EQ(with_file.status, 2);
  EXPECT_EQ(with_file.out, "");
  EXPECT_EQ(with_file.err.rfind("tavrin-play: --detect plays no file; " + Example() + " was given as well\n", 0), 0U)
      << with_file.err;
}

// Up to 64 devices and 4096 instruction register bits the chain is listed;
// beyond, or with no device on TDO, one line says so and the status is 1.
TEST_F(PlayTest, DetectListsLongChainsAndFailsBeyondTheBoundsOrWithoutADevice) {
  using tavrin::testing::ChainOf;
  const std::string wiring = "; check the TDO pin, the cable and the board's power\n";
  struct Case {
    const char* name;
    board::BoardSpec board;
    std::vector<std::string> options;
    int status;
    std::string out_end;  // the end of standard output
    std::string err;
  };
  const Case cases[] = {
      {"32 x IR 64", ChainOf(32, 64), {}, 0,
       "device 31: IDCODE 0001F093  Xilinx (AMD)\n"
       "chain: 32 devices, instruction registers 2048 bits in all (first device nearest TDI)\n", ""},
      {"64 x IR 64", ChainOf(64, 64), {}, 0,
       "device 63: IDCODE 0003F093  Xilinx (AMD)\n"
       "chain: 64 devices, instruction registers 4096 bits in all (first device nearest TDI)\n", ""},
      {"65 devices", ChainOf(65, 64), {}, 1, "",
       "tavrin-play: the chain has more than 64 devices, the most that can be read\n"},
      {"TDO on a free pin", board::DefaultBoard(), {"--tdo", "D3"}, 1, "",
       "tavrin-play: no device found: TDO stayed high through every bit" + wiring},
      {"TDO on the board's TCK line", board::DefaultBoard(), {"--tck", "D4", "--tdo", "D7"}, 1, "",
       "tavrin-play: no device found: TDO stayed low through every bit" + wiring},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board::VirtualD2xx chip(c.board);
    std::vector<std::string> args = c.options;
    args.emplace_back("--detect");
    args.emplace_back("--virtual");
    const Result r = testing::PlayInProcess(args, &chip);
    EXPECT_EQ(r.status, c.status);
    ASSERT_GE(r.out.size(), c.out_end.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - c.out_end.size()), c.out_end);
    EXPECT_EQ(r.out.rfind("adapter: virtual board (built-in board)\n", 0), 0U);
    if (c.out_end.empty()) {
      EXPECT_EQ(r.out, "adapter: virtual board (built-in board)\n");
    }
    EXPECT_EQ(r.err, c.err);
  }
}

#ifdef TAVRIN_HAVE_ESTIMATE
// A failed check does not stop an estimate: the whole file is timed and the
// checks not met are counted. Anything else that ends a run ends it, and
// the figures say up to which line.
TEST_F(PlayTest, EstimateTimesTheWholeFileAndCountsTheChecksNotMet) {
  auto figures = [](const std::string& part) {
    return R"(estimated on a real FT232R \(frame\))" + part + R"(: [0-9]+\.[0-9] s\n)" +
           R"(estimated on a real FT232R \(fast\))" + part + R"(: [0-9]+\.[0-9] s\n)";
  };
  const std::string on = R"(; on virtual board \(built-in board\) on a simulated USB FT232R\n)";
  const std::string bad = Write("bad.svf", "SDR 32 TDI (0) TDO (1);\nSIR 8 TDI (01) TDO (FF);\nSTATE RESET;\n");
  const std::string stops = Write("stops.svf", "SDR 32 TDI (0) TDO (1);\nPIO (HLX);\nSTATE RESET;\n");
  struct Case {
    std::vector<std::string> args;
    bool full_disk;
    int status;
    std::string err;  // a pattern for the whole of standard error
  };
  const std::vector<Case> cases = {
      {{"-q", Example()}, false, 0,
       figures("") + "0 checks not met on the virtual board\n.*idcode\\.svf: 12 statements, 3 checks passed, .* s" + on},
      {{"-q", bad}, false, 1,
       figures("") + "2 checks not met on the virtual board\n.*bad\\.svf: 3 statements, 0 checks passed, .* s" + on},
      {{"-q", stops}, false, 1,
       figures(", up to line 2") + "1 check not met on the virtual board\n.*stops\\.svf:2: I don't know how to do a PIO" +
           on},
      {{"-q", Write("x.txt", "TRST OFF;\n")}, false, 2,
       ".*x\\.txt is not an SVF file: its name does not end in \\.svf\nError - expecting a \\.SVF file\n"},
      {{"-q", "--device", "0", Example()}, false, 2, "tavrin-play: --estimate plays into the simulated virtual board; "
                                                     "--device and --serial do not apply\n"},
      // A write that fails stops the estimate as it stops a run: the
      // second profile is not played.
      {{Example()}, true, 1,
       R"(estimated on a real FT232R \(frame\), up to line 1: [0-9]+\.[0-9] s\n)"
       "0 checks not met on the virtual board\n"
       "[\\s\\S]*idcode\\.svf:1: cannot write the log to standard output: No space left on device" + on},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--estimate");
    std::FILE* full = c.full_disk ? std::fopen("/dev/full", "w") : nullptr;
    const Result r = testing::PlayInProcess(args, nullptr, "", full);
    if (full != nullptr) std::fclose(full);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << r.err;
  }
  // The log is a run's, after the line that names the simulated chip.
  const std::string estimated = Run({"--estimate", Example()}).out;
  const std::string played = Run({Example()}).out;
  EXPECT_EQ(estimated.rfind("Adapter: virtual board (built-in board) on a simulated USB FT232R\nOpening ", 0), 0U);
  EXPECT_EQ(estimated.substr(estimated.find('\n')), played.substr(played.find('\n')));
  // Past a failed check the log says no bail-out.
  const std::string log = Run({"--estimate", bad}).out;
  EXPECT_NE(log.find("Masked Expectation: 00000001, Masked Result: F6E5F093 Fail!\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Bailing"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tavrin::cli
