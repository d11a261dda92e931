// The player itself, unchanged, on the virtual board: its find, open,
// set-up, TAP walks and scans meet a simulated chip and JTAG chain.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapter/virtual/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::adapter::virt {
namespace {

BoardSpec Example(const std::string& name) {
  auto r = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/" + name);
  EXPECT_TRUE(r.board) << r.error;
  return r.board ? *r.board : DefaultBoard();
}

struct PlayerRig {
  explicit PlayerRig(BoardSpec board) : chip(std::move(board)) {}

  std::vector<std::string> PlayFile(const std::string& path) {
    player.Form_Load();
    window.selected_file = std::filesystem::path(path).filename().string();
    window.file_path = path;
    window.single_step = 0;
    player.cmd_Process_Click();
    return window.LogLines();
  }

  std::vector<std::string> PlayText(const std::string& text) {
    const auto dir = std::filesystem::temp_directory_path() / ("tavrin-virtual-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "board.svf";
    std::ofstream(path, std::ios::binary) << text;
    auto lines = PlayFile(path.string());
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

}  // namespace
}  // namespace tavrin::adapter::virt
