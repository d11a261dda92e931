// SPDX-License-Identifier: Apache-2.0
// The player itself, unchanged, on the virtual board: its find, open,
// set-up, TAP walks and scans meet a simulated chip and JTAG chain.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board/virtual_d2xx.h"
#include "jtag/tap.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::board {
namespace {

BoardSpec Example(const std::string& name) {
  auto r = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/" + name);
  EXPECT_TRUE(r.board) << r.error;
  return r.board ? *r.board : DefaultBoard();
}

struct PlayerRig {
  explicit PlayerRig(BoardSpec board) : chip(std::move(board)) {}

  // Start-up (unless the test did it), then the file played at once.
  std::vector<std::string> PlayFile(const std::string& path, bool load = true) {
    if (load) player.Form_Load();
    window.selected_file = std::filesystem::path(path).filename().string();
    window.file_path = path;
    window.single_step = 0;
    player.cmd_Process_Click();
    return window.LogLines();
  }

  std::vector<std::string> PlayText(const std::string& text, bool load = true) {
    const auto dir = std::filesystem::temp_directory_path() / ("tavrin-virtual-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "board.svf";
    std::ofstream(path, std::ios::binary) << text;
    auto lines = PlayFile(path.string(), load);
    std::filesystem::remove_all(dir);
    return lines;
  }

  VirtualD2xx chip;
  MemoryWindow window;
  FakeClock clock;
  player::Player player{window, chip, clock};
};

int Count(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                         [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

TEST(PlayerOnBoard, FindsAndOpensTheVirtualBoard) {
  PlayerRig rig(DefaultBoard());
  rig.player.Form_Load();
  ASSERT_EQ(rig.window.interface_entries.size(), 1U);
  EXPECT_NE(rig.window.interface_entries[0].find("FT232R Virtual Board"), std::string::npos);
  rig.player.cmd_OpenInterface_Click();
  rig.player.cmd_FTSetup_Click();
  EXPECT_TRUE(rig.window.messages.empty()) << rig.window.messages.front();
  EXPECT_TRUE(rig.chip.IsOpen());
  EXPECT_EQ(rig.chip.DirectionMask(), 0xA2U);
  EXPECT_EQ(rig.chip.Mode(), FT_BITMODE_SYNC_BITBANG);
}

TEST(PlayerOnBoard, CorpusIdcodeFilePassesEveryCheck) {
  const std::string path = std::string(TAVRIN_CORPUS_DIR) + "/JTAG__idcode.svf";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << path;
  PlayerRig rig(Example("xc2c64a.json"));
  const auto lines = rig.PlayFile(path);
  EXPECT_EQ(Count(lines, " Fail!"), 0);
  // Every check passes: both instruction register captures and all three
  // IDCODE reads, the two repeats under the MASK the first one gave.
  EXPECT_EQ(Count(lines, "Pass!"), 5) << ::testing::PrintToString(lines);
  EXPECT_EQ(Count(lines, "Masked Expectation: 06E58093, Masked Result: 06E58093 Pass!"), 3);
  EXPECT_EQ(Count(lines, "Got: F6E5F093"), 3);
  EXPECT_EQ(Count(lines, "Got: 01"), 6);  // every one of the six instruction scans captures 01
  EXPECT_TRUE(rig.window.messages.empty());
  // The file ends by loading BYPASS.
  EXPECT_EQ(rig.chip.Chain().Device(0).InstructionName(), "BYPASS");
}

TEST(PlayerOnBoard, WrongIdcodeFails) {
  BoardSpec board = Example("xc2c64a.json");
  board.chain[0].idcode = 0xf6e1f093;  // a 32-macrocell part
  PlayerRig rig(board);
  const auto lines = rig.PlayText("SIR 8 TDI (01);\nSDR 32 TDI (00000000) TDO (f6e5f093) MASK (0fff8fff);\n");
  EXPECT_EQ(Count(lines, "Got: F6E1F093"), 1);
  EXPECT_EQ(Count(lines, " Fail!"), 1);
}

TEST(PlayerOnBoard, UserRegisterWrittenThenReadBack) {
  PlayerRig rig(DefaultBoard());
  const auto lines = rig.PlayText(
      "SIR 8 TDI (02);\n"
      "SDR 16 TDI (1234);\n"
      "SDR 16 TDI (0000) TDO (1234) MASK (FFFF);\n"
      "STATE RESET;\n"
      "SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\n");
  EXPECT_EQ(Count(lines, "Pass!"), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(Count(lines, " Fail!"), 0);
}

TEST(PlayerOnBoard, UnplugDuringARunIsReportedAndEndsIt) {
  PlayerRig rig(DefaultBoard());
  rig.chip.UnplugAfterBytes(200);
  std::string text;
  for (int i = 0; i < 20; ++i) text += "SDR 32 TDI (00000000) TDO (F6E5F093);\n";
  rig.PlayText(text);
  ASSERT_FALSE(rig.window.messages.empty());
  EXPECT_NE(rig.window.messages.front().find("returned 0x4"), std::string::npos) << rig.window.messages.front();
  EXPECT_TRUE(rig.chip.IsUnplugged());
}

// --- How files are read, seen on the board ---
// The built-in board's SCRATCH register (opcode 02, 16 bits) keeps what an
// SDR wrote, so it shows that the statement really ran; its IDCODE
// (f6e5f093, selected after a reset) shows that a check really happened.

std::string Scratch(PlayerRig& rig) { return HexFromBits(*rig.chip.Chain().Device(0).RegisterValue("SCRATCH")); }

TEST(ReaderOnBoard, EveryLayoutOfAStatementReachesTheBoard) {
  struct Case {
    const char* layout;
    const char* text;
    const char* scratch;
  };
  const Case cases[] = {
      {"a blank after the ';'", "SIR 8 TDI (02); \nSDR 16 TDI (1234);\n", "1234"},
      {"a comment after the ';'", "SIR 8 TDI (02); // scratch\nSDR 16 TDI (1234);\n", "1234"},
      {"two statements on a line", "SIR 8 TDI (02); SDR 16 TDI (1234);\n", "1234"},
      {"an indented comment line", "SIR 8 TDI (02);\n   // write it\nSDR 16 TDI (1234);\n", "1234"},
      {"words over lines", "SIR 8\nTDI (02);\nSDR 16\n  TDI (1234);\n", "1234"},
      {"tabs", "SIR\t8\tTDI\t(02);\r\nSDR\t16\tTDI\t(1234);\r\n", "1234"},
      {"no blank before '('", "SIR 8 TDI(02);\rSDR 16 TDI(1234);\r", "1234"},
      {"a value over lines", "SIR 8 TDI (02);\nSDR 16 TDI (12\n\t\t34);\n", "1234"},
      {"short values", "SIR 8 TDI (2);\nSDR 16 TDI (0001) SMASK (F);\n", "0001"},
      {"a length of 0 changes nothing", "SIR 8 TDI (02);\nSDR 16 TDI (1234);\nSDR 0;\n", "1234"},
  };
  for (const Case& c : cases) {
    PlayerRig rig(DefaultBoard());
    const auto lines = rig.PlayText(c.text);
    EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Completed) << c.layout;
    EXPECT_EQ(Scratch(rig), c.scratch) << c.layout << "\n" << ::testing::PrintToString(lines);
  }
}

TEST(ReaderOnBoard, TdoIsComparedWithAndWithoutMask) {
  struct Case {
    const char* what;
    const char* text;
    int passes;
    bool fails;
  };
  const Case cases[] = {
      {"TDO alone", "SDR 32 TDI (0) TDO (F6E5F093);\n", 1, false},
      {"TDO alone, wrong", "SDR 32 TDI (0) TDO (F6E5F092);\n", 0, true},
      {"TDO on a tab-indented line, wrong", "SDR 32 TDI (00000000)\n\tTDO (F6E5F092);\n", 0, true},
      // The second scan compares under the first one's MASK, so its top
      // digit does not count.
      {"the last MASK", "SDR 32 TDI (0) TDO (06E5F093) MASK (0FFFFFFF);\nSDR 32 TDI (0) TDO (16E5F093);\n", 2, false},
  };
  for (const Case& c : cases) {
    PlayerRig rig(DefaultBoard());
    const auto lines = rig.PlayText(c.text);
    EXPECT_EQ(Count(lines, " Pass!"), c.passes) << c.what;
    EXPECT_EQ(Count(lines, " Fail!"), c.fails ? 1 : 0) << c.what;
    EXPECT_EQ(rig.player.driver.LastOutcome(), c.fails ? svf::RunOutcome::Failed : svf::RunOutcome::Completed)
        << c.what;
  }
}

TEST(ReaderOnBoard, ATargetLeftElsewhereIsResetFirst) {
  PlayerRig rig(DefaultBoard());
  rig.player.Form_Load();
  rig.player.cmd_OpenInterface_Click();
  rig.player.cmd_FTSetup_Click();
  // Another tool leaves the TAP in Shift-DR; the player's model says RESET.
  const std::uint8_t to_shift_dr[] = {0x00, 0x80, 0x00, 0x02, 0x82, 0x02, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00};
  std::uint32_t written = 0;
  ASSERT_EQ(rig.chip.FT_Write(rig.player.adapter.DeviceHandle, to_shift_dr, sizeof to_shift_dr, &written), FT_OK);
  ASSERT_EQ(rig.chip.Chain().Device(0).State(), TapState::ShiftDr);
  ASSERT_EQ(rig.player.engine.CurrentTapState, jtag::RESET);
  const auto lines = rig.PlayText("STATE RESET;\nSDR 32 TDI (0) TDO (F6E5F093) MASK (FFFFFFFF);\n", false);
  EXPECT_EQ(Count(lines, " Pass!"), 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Completed);
}

TEST(ReaderOnBoard, WaitsInSecondsAreWaitedInFull) {
  PlayerRig rig(DefaultBoard());
  const auto lines = rig.PlayText("RUNTEST 30001E-6 SEC;\nRUNTEST IDLE 3 TCK 1.00E-001 SEC;\nRUNTEST 1000 TCK ENDSTATE IDLE;\n");
  EXPECT_EQ(rig.clock.SleptMs(), 31U + 100U + 2U) << ::testing::PrintToString(lines);
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Completed);
}

TEST(ReaderOnBoard, BadStatesAndBadValuesEndTheRunWithOneMessage) {
  PlayerRig rig(DefaultBoard());
  std::string states = "STATE";
  for (int i = 0; i < 100000; ++i) states += " NOWHERE IDLE";
  rig.PlayText(states + ";\nSIR 8 TDI (02);\n");
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Uh Oh, I don't recognize state: NOWHERE.  Bailing Out"}));
  EXPECT_EQ(rig.player.driver.LastOutcome(), svf::RunOutcome::Failed);
  EXPECT_EQ(rig.chip.Chain().Device(0).InstructionName(), "IDCODE") << "nothing after the STATE ran";

  PlayerRig bad(DefaultBoard());
  const auto lines = bad.PlayText("SIR 8 TDI (02);\nSDR 16 TDI (12O4);\n");
  EXPECT_EQ(lines[lines.size() - 2], "Uh Oh, the value of TDI is not a hexadecimal number: (12O4).  Bailing Out");
  EXPECT_EQ(lines.back(), "Stopped at line 2.");
  EXPECT_EQ(Scratch(bad), "0000") << "a bad value is never sent";
  EXPECT_EQ(bad.player.driver.LastOutcome(), svf::RunOutcome::Failed);
}

// Every chip call failing at every point of a short file: no check passes
// after the failure, none fails (the board meets them all: a failed check
// would blame it for the chip), and no run completes.
TEST(PlayerOnBoard, AChipCallFailingAnywhereEndsTheRunAndNoCheckPassesAfterIt) {
  const std::string text =
      "SIR 8 TDI (02);\nSDR 16 TDI (1234);\nRUNTEST 10 TCK;\n"
      "SDR 16 TDI (0000) TDO (1234) MASK (FFFF);\nSTATE RESET;\n"
      "SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\nSDR 32 TDI (00000000) TDO (F6E5F093);\n";
  PlayerRig clean(DefaultBoard());
  clean.player.Form_Load();
  std::array<int, kOpCount> before{};
  for (std::size_t i = 0; i < kOpCount; ++i) before[i] = clean.chip.CallCount(static_cast<Op>(i));
  clean.PlayText(text, false);
  ASSERT_EQ(clean.player.driver.LastOutcome(), svf::RunOutcome::Completed);
  int cases = 0;
  for (const Op op : {Op::ListDevices, Op::OpenEx, Op::GetQueueStatus, Op::SetUSBParameters, Op::SetLatencyTimer,
                      Op::SetBitMode, Op::SetBaudRate, Op::Write, Op::Read, Op::GetBitMode, Op::Purge}) {
    const int calls = clean.chip.CallCount(op) - before[static_cast<std::size_t>(op)];
    for (int nth = 1; nth <= calls; ++nth) {
      PlayerRig rig(DefaultBoard());
      rig.player.Form_Load();
      rig.chip.FailCall(op, nth, FT_IO_ERROR);
      const auto lines = rig.PlayText(text, false);
      const std::string what = std::string(OpName(op)) + " #" + std::to_string(nth);
      EXPECT_NE(rig.player.driver.LastOutcome(), svf::RunOutcome::Completed) << what;
      EXPECT_EQ(Count(lines, " Fail!"), 0) << what;
      const auto failed = std::find_if(lines.begin(), lines.end(),
                                       [](const std::string& l) { return l.rfind("Bad result: ", 0) == 0; });
      EXPECT_EQ(std::count_if(failed, lines.end(), [](const std::string& l) { return l.find("Pass!") != std::string::npos; }), 0) << what;
      ++cases;
    }
  }
  EXPECT_GT(cases, 20);
}

}  // namespace
}  // namespace tavrin::board
