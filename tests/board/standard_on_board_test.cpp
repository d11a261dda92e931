// SPDX-License-Identifier: Apache-2.0
// The standard reading on the virtual board: a two-device chain reached
// through header and trailer bits, and every corpus file on a board made
// from the file's own identification check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "jtag/detect.h"
#include "player/player.h"
#include "../support/chains.h"
#include "corpus_boards.h"

namespace tavrin::board {
namespace {

namespace fs = std::filesystem;
using namespace corpus;  // NOLINT(google-build-using-namespace)

struct StandardRig {
  explicit StandardRig(BoardSpec board) : chip(std::move(board)) {}

  // Plays the file in the standard reading, from start-up.
  std::vector<std::string> PlayFile(const std::string& path) {
    player.Form_Load();
    window.selected_file = fs::path(path).filename().string();
    window.file_path = path;
    window.single_step = 0;
    window.standard_svf = 1;
    player.cmd_Process_Click();
    return window.LogLines();
  }
  std::vector<std::string> PlayText(const std::string& text) {
    const fs::path path = fs::temp_directory_path() / ("tavrin-standard-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(path, std::ios::binary) << text;
    auto lines = PlayFile(path.string());
    fs::remove(path);
    return lines;
  }
  svf::RunOutcome Outcome() const { return player.driver.LastOutcome(); }

  VirtualD2xx chip;
  MemoryWindow window;
  FakeClock clock;
  player::Player player{window, chip, clock};
};

BoardSpec TwoDevices() {
  auto r = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json");
  EXPECT_TRUE(r.board) << r.error;
  return r.board ? *r.board : DefaultBoard();
}

int Count(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                         [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

// The chain runs TDI -> CPLD (IR 8) -> FPGA (IR 6) -> TDO. Bits for the
// devices nearer TDO go first (header), for those nearer TDI last (trailer).
TEST(StandardOnBoard, TwoDeviceChainThroughHeadersAndTrailers) {
  StandardRig rig(TwoDevices());
  const auto lines = rig.PlayText(
      "! the FPGA: the CPLD in BYPASS behind it, its bits last\n"
      "TIR 8; TDR 1;\n"
      "SIR 6 TDI (02);\n"
      "SDR 64 TDI (FEDCBA9876543210);\n"
      "SDR 64 TDI (1111222233334444) TDO (FEDCBA9876543210);\n"
      "! the CPLD: the FPGA in BYPASS ahead of it, its bits first\n"
      "TIR 0; TDR 0; HIR 6; HDR 1 TDI (0) TDO (0) MASK (1);\n"
      "SIR 8 TDI (01);\n"
      "SDR 32 TDI (00000000) TDO (F6E5F093);\n");
  EXPECT_EQ(rig.Outcome(), svf::RunOutcome::Completed) << ::testing::PrintToString(lines);
  EXPECT_EQ(Count(lines, " Pass!"), 2);
  EXPECT_EQ(HexFromBits(*rig.chip.Chain().Device(1).RegisterValue("USER1")), "1111222233334444");
  EXPECT_EQ(rig.chip.Chain().Device(0).InstructionName(), "IDCODE");
  EXPECT_EQ(rig.chip.Chain().Device(1).InstructionName(), "BYPASS");

  // Without the padding the IDCODE read sees the FPGA's bypass bit first.
  StandardRig bare(TwoDevices());
  const auto wrong = bare.PlayText("SIR 8 TDI (01);\nSDR 32 TDI (00000000) TDO (F6E5F093);\n");
  EXPECT_EQ(Count(wrong, " Fail!"), 1);
  EXPECT_EQ(wrong.back(), "Stopped at line 2.");
}

// --- Finding the chain ---

TEST(DetectOnBoard, ListsEveryDeviceAndTheTotalIrLength) {
  BoardSpec three = TwoDevices();
  DeviceSpec plain;  // no IDCODE: BYPASS after a reset
  plain.name = "GLUE";
  plain.ir_length = 5;
  three.chain.insert(three.chain.begin() + 1, plain);
  ASSERT_EQ(ValidateBoard(three), "");
  struct Case {
    BoardSpec board;
    std::vector<std::optional<std::uint32_t>> ids;
    std::uint32_t ir;
  };
  const Case cases[] = {
      {DefaultBoard(), {0xF6E5F093U}, 8},
      {TwoDevices(), {0xF6E5F093U, 0x24001093U}, 14},
      {three, {0xF6E5F093U, std::nullopt, 0x24001093U}, 19},
  };
  for (const Case& c : cases) {
    StandardRig rig(c.board);
    rig.player.Form_Load();
    const auto report = rig.player.DetectChain();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->problem, "");
    std::vector<std::optional<std::uint32_t>> ids;
    for (const auto& d : report->devices) ids.push_back(d.idcode);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(report->ir_length, c.ir);
    EXPECT_EQ(rig.chip.Chain().Device(0).State(), TapState::TestLogicReset);
  }
}

// Long chains up to the bounds, chains beyond them, and a TDO that shows
// no device (on a free pin: high; on the board's TCK line, which nothing
// drives: low).
TEST(DetectOnBoard, LongChainsToTheBoundsAndBeyondAndNoDevice) {
  using tavrin::testing::ChainOf;
  BoardSpec free_pin = DefaultBoard();
  free_pin.wiring.tdo = 3;
  BoardSpec on_tck = DefaultBoard();
  on_tck.wiring.tck = 6;
  on_tck.wiring.tdo = 3;
  const std::string wiring = "; check the TDO pin, the cable and the board's power";
  struct Case {
    const char* name;
    BoardSpec board;
    jtag::ChainLimits limits;
    std::uint32_t ir;
    std::string problem;
    bool devices_read;  // the devices are listed
  };
  const Case cases[] = {
      {"17 x IR 64", ChainOf(17, 64), {}, 1088, "", true},
      {"32 x IR 64", ChainOf(32, 64), {}, 2048, "", true},
      {"64 x IR 64", ChainOf(64, 64), {}, 4096, "", true},
      {"64 in BYPASS", ChainOf(64, 2, false), {}, 128, "", true},
      {"65 devices", ChainOf(65, 2), {}, 0, "the chain has more than 64 devices, the most that can be read", false},
      {"65 in BYPASS", ChainOf(65, 2, false), {}, 0, "the chain has more than 64 devices, the most that can be read",
       false},
      {"17 of at most 16", ChainOf(17, 8), {16, 4096}, 0,
       "the chain has more than 16 devices, the most that can be read", false},
      {"IR over a lower bound", ChainOf(2, 64), {64, 100}, 0,
       "the instruction registers hold more than 100 bits in all, the most that can be read", true},
      {"TDO high", free_pin, {}, 0, "no device found: TDO stayed high through every bit" + wiring, false},
      {"TDO low", on_tck, {}, 0, "no device found: TDO stayed low through every bit" + wiring, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandardRig rig(c.board);
    rig.player.Form_Load();
    ASSERT_TRUE(rig.player.adapter.SetUpIfNeeded());
    const auto report = jtag::DetectChain(rig.player.engine, c.limits);
    EXPECT_EQ(report.problem, c.problem);
    EXPECT_EQ(report.ir_length, c.ir);
    std::vector<std::optional<std::uint32_t>> ids, want;
    for (const auto& d : report.devices) ids.push_back(d.idcode);
    if (c.devices_read) {
      for (const auto& d : c.board.chain) want.push_back(d.idcode);
    }
    EXPECT_EQ(ids, want);
    EXPECT_EQ(rig.chip.Chain().Device(0).State(), TapState::TestLogicReset);
  }
}

// A write that fails in either scan: the chain was not read, whatever the
// other scan gave.
TEST(DetectOnBoard, AFailedWriteInEitherScanIsNoReading) {
  StandardRig clean(TwoDevices());
  clean.player.Form_Load();
  ASSERT_TRUE(clean.player.adapter.SetUpIfNeeded());
  const int before = clean.chip.CallCount(Op::Write);
  ASSERT_EQ(clean.player.DetectChain()->problem, "");
  // The data register scan's first block, and the instruction register
  // scan's last (the reset that ends the reading is written on its own).
  const int writes = clean.chip.CallCount(Op::Write) - before;
  for (const int nth : {1, writes - 1}) {
    SCOPED_TRACE(nth);
    StandardRig rig(TwoDevices());
    rig.player.Form_Load();
    ASSERT_TRUE(rig.player.adapter.SetUpIfNeeded());
    rig.chip.FailCall(Op::Write, nth, adapter::FT_IO_ERROR);
    const auto report = rig.player.DetectChain();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->problem, "the adapter did not answer");
    EXPECT_EQ(report->ir_length, 0U);
    EXPECT_EQ(rig.window.messages.back(), "Bad result: FT_Write - packet write returned 0x4");
  }
}

TEST(DetectOnBoard, NamesTheCommonMakers) {
  EXPECT_EQ(jtag::JedecManufacturer(0xF6E5F093U), "Xilinx (AMD)");
  EXPECT_EQ(jtag::JedecManufacturer(0x020A10DDU), "Altera (Intel)");
  EXPECT_EQ(jtag::JedecManufacturer(0x012B9043U), "Lattice Semiconductor");
  EXPECT_EQ(jtag::JedecManufacturer(0x0150203FU), "Atmel (Microchip)");
  EXPECT_EQ(jtag::JedecManufacturer(0x4BA00477U), "ARM");
  EXPECT_EQ(jtag::JedecManufacturer(0x00057621U), "unknown");
}

TEST(StandardOnBoard, EveryCorpusFilePlaysAndPassesItsIdentificationCheck) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << TAVRIN_CORPUS_DIR;
  for (const std::string& path : files) {
    const std::string name = fs::path(path).filename().string();
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const BoardSpec board = BoardFor(text);
    ASSERT_EQ(ValidateBoard(board), "") << name;

    // With its checks the first one, the identification, passes.
    StandardRig checked(board);
    const auto lines = checked.PlayFile(path);
    const auto first = std::find_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.rfind("Masked Expectation", 0) == 0; });
    const auto statements = Statements(text);
    const bool has_check = std::any_of(statements.begin(), statements.end(),
                                       [](const std::string& st) { return st.find(" TDO (") != std::string::npos; });
    if (has_check) {
      ASSERT_NE(first, lines.end()) << name << ": no check made\n" << lines.back();
    }
    if (first != lines.end()) {
      EXPECT_NE(first->find(" Pass!"), std::string::npos) << name << ": " << *first;
    }

    // Without them it plays to its end.
    const fs::path stripped = fs::temp_directory_path() / ("tavrin-nocheck-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(stripped, std::ios::binary) << WithoutChecks(text);
    StandardRig plain(board);
    const auto all = plain.PlayFile(stripped.string());
    fs::remove(stripped);
    EXPECT_EQ(plain.Outcome(), svf::RunOutcome::Completed) << name << ": " << all.back();
    EXPECT_TRUE(plain.window.messages.empty()) << name << ": " << plain.window.messages.front();
  }
}

}  // namespace
}  // namespace tavrin::board
