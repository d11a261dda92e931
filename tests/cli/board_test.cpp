// SPDX-License-Identifier: Apache-2.0
// The whole player on the virtual board: real SVF text end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/rig.h"
#include "board/virtual_d2xx.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using board::Op;
using board::VirtualD2xx;

struct BoardRig {
  MemoryWindow window;
  VirtualD2xx board;
  FakeClock clock;
  player::Player player{window, board, clock};

  BoardRig() {
    player.Form_Load();
    window.single_step = 0;
  }
  BoardRig(const BoardRig&) = delete;
  BoardRig& operator=(const BoardRig&) = delete;
  ~BoardRig() {
    std::error_code ignored;
    if (!text_file.empty()) fs::remove(text_file, ignored);
  }
  svf::RunOutcome PlayFile(const std::string& path) {
    window.selected_file = fs::path(path).filename().string();
    window.file_path = path;
    player.cmd_Process_Click();
    return player.driver.LastOutcome();
  }
  svf::RunOutcome PlayText(const std::string& text) {
    text_file = fs::temp_directory_path() / ("tavrin-board-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(text_file, std::ios::binary) << text;
    return PlayFile(text_file.string());
  }
  fs::path text_file;
  bool LogHas(const std::string& line) const { return window.log.find("\r\n" + line + "\r\n") != std::string::npos; }
};

const char* const kIdcodeRead =
    "SIR 8 TDI (01);\r\n"
    "SDR 32 TDI (00000000) TDO (F6E5F093) MASK (FFFFFFFF);\r\n";

TEST(VirtualBoard, IdcodeComesBackAfterAutomaticSetUp) {
  BoardRig rig;
  EXPECT_EQ(rig.PlayText(kIdcodeRead), svf::RunOutcome::Completed);
  EXPECT_TRUE(rig.LogHas("Got: F6E5F093"));
  EXPECT_EQ(rig.board.DirectionMask(), 0xA2);
}

TEST(VirtualBoard, ReadBackRegisterReturnsWhatWasWritten) {
  BoardRig rig;
  EXPECT_EQ(rig.PlayText("SIR 8 TDI (02);\r\nSDR 16 TDI (BEEF);\r\nSDR 16 TDI (0000) TDO (BEEF) MASK (FFFF);\r\n"),
            svf::RunOutcome::Completed);
  EXPECT_TRUE(rig.LogHas("Got: BEEF"));
}

TEST(VirtualBoard, CrlfAndLfFilesGiveTheSameScans) {
  const std::string lf = "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (F6E5F093) MASK (FFFFFFFF);\n";
  std::string cr = lf;
  for (char& c : cr) {
    if (c == '\n') c = '\r';
  }
  BoardRig a;
  BoardRig b;
  EXPECT_EQ(a.PlayText(lf), svf::RunOutcome::Completed);
  EXPECT_EQ(b.PlayText(cr), svf::RunOutcome::Completed);
  EXPECT_EQ(a.board.BytesWritten(), b.board.BytesWritten());
}

TEST(VirtualBoard, LateAnswersStillDecodeRight) {
  BoardRig rig;
  rig.board.SetDeliveryPerQuery(7);
  EXPECT_EQ(rig.PlayText(kIdcodeRead), svf::RunOutcome::Completed);
  EXPECT_TRUE(rig.window.messages.empty());
}

TEST(VirtualBoard, AnswersThatNeverArriveEndTheRunWithoutAHang) {
  BoardRig rig;
  rig.player.cmd_OpenInterface_Click();
  rig.player.cmd_FTSetup_Click();
  rig.board.DropAllAnswers(true);
  // The first wait for answers is at the check: the reset, the SIR and the
  // SDR with their walks, padded to three packets.
  EXPECT_EQ(rig.PlayText(kIdcodeRead), svf::RunOutcome::Failed);
  ASSERT_EQ(rig.window.messages.size(), 1U);
  EXPECT_EQ(rig.window.messages[0].rfind("The adapter answered 0 of 186 bytes", 0), 0U) << rig.window.messages[0];
}

TEST(VirtualBoard, UnplugMidRunShowsOneMessageAndEnds) {
  BoardRig rig;
  rig.player.cmd_OpenInterface_Click();
  rig.player.cmd_FTSetup_Click();
  rig.board.UnplugAfterBytes(rig.board.BytesWritten() + 100);
  std::string text;
  for (int i = 0; i < 50; ++i) text += "SDR 32 TDI (00000000);\r\n";
  EXPECT_EQ(rig.PlayText(text), svf::RunOutcome::Failed);
  ASSERT_EQ(rig.window.messages.size(), 1U);
  EXPECT_EQ(rig.window.messages[0], "Bad result: FT_Write - packet write returned 0x4");
}

TEST(VirtualBoard, FailedReadMidRunEndsTheRun) {
  BoardRig rig;
  rig.player.cmd_OpenInterface_Click();
  rig.player.cmd_FTSetup_Click();
  rig.board.FailCall(Op::Read, 2, adapter::FT_IO_ERROR);
  EXPECT_EQ(rig.PlayText(std::string(kIdcodeRead) + kIdcodeRead), svf::RunOutcome::Failed);
  EXPECT_EQ(rig.window.messages, (std::vector<std::string>{"Bad result: FT_Read - get data returned 0x4"}));
}

TEST(VirtualBoard, SwappedTmsAndTckGetNoIdcode) {
  BoardRig rig;
  rig.window.SetPinListIndex(Signal::TCK, 1);
  rig.window.SetPinListIndex(Signal::TMS, 7);
  EXPECT_EQ(rig.PlayText(kIdcodeRead), svf::RunOutcome::Failed);
  EXPECT_FALSE(rig.LogHas("Got: F6E5F093"));
}

// --- Every file of the corpus: no crash, no hang, a definite outcome. ---

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TAVRIN_CORPUS_DIR, ec)) {
    if (e.path().extension() == ".svf") files.push_back(e.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, PlaysToADefiniteEnd) {
  const std::string path = std::string(TAVRIN_CORPUS_DIR) + "/" + GetParam();
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  BoardRig rig;
  const svf::RunOutcome outcome = rig.PlayFile(path);
  ASSERT_TRUE(outcome == svf::RunOutcome::Completed || outcome == svf::RunOutcome::Failed);
  // A file with "!" comment lines ends at its first statement: the comment
  // joins it, and "!" is no statement.
  const bool bang = text.rfind('!', 0) == 0 || text.find("\n!") != std::string::npos;
  if (bang) {
    EXPECT_EQ(outcome, svf::RunOutcome::Failed);
    EXPECT_NE(rig.window.log.find("Sorry, I've got to bail out.. "), std::string::npos);
    EXPECT_NE(rig.window.log.find("Hmm.  I don't know how to do a "), std::string::npos);
  }
  const std::vector<std::string> lines = rig.window.LogLines();
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[0], "Adapter: virtual board (built-in board)");
  EXPECT_EQ(lines[1], "Opening " + path);
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusTest, ::testing::ValuesIn(CorpusFiles()), [](const auto& param_info) {
  std::string name = param_info.param.substr(0, param_info.param.size() - 4);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
});

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusTest);

TEST(CorpusTest, TheCorpusIsThere) {
  if (!fs::is_directory(TAVRIN_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << TAVRIN_CORPUS_DIR;
  EXPECT_GE(CorpusFiles().size(), 20U);
}

}  // namespace
}  // namespace tavrin
