// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../support/rig.h"
#include "svf/line_reader.h"

namespace tavrin::svf {
namespace {

using Lines = std::vector<std::string>;

class RunDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.LoadOpenSetUp();
    rig.LoopTdiToTdo();
  }
  RunOutcome Outcome() const { return rig.player.driver.LastOutcome(); }
  // The log without the "Adapter:" and "Opening" lines.
  Lines Body(const Lines& lines) { return {lines.begin() + 2, lines.end()}; }

  testing::Rig rig;
};

TEST_F(RunDriverTest, RunStartsWithAFreshLogAndResetsTheTap) {
  rig.player.engine.CurrentTapState = jtag::DRPAUSE;
  const std::string path = rig.SelectFile("TRST OFF;\r\n");
  rig.window.single_step = 0;
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.LogLines(), (Lines{"Adapter: FT232R USB UART", "Opening " + path, "> TRST OFF;",
                                          "No control over RST, ignoring "}));
  EXPECT_EQ(rig.window.repaints, 1);
  // One reset step (five clocks with TMS high), and no second one.
  EXPECT_EQ(rig.TmsAtClocks(), "11111");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, AllThreeLineEndsEndLines) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    const std::string nl = eol;
    const auto lines = rig.Play("// c" + nl + "ENDIR IRPAUSE;" + nl + "ENDDR DRPAUSE;" + nl);
    EXPECT_EQ(Body(lines), (Lines{"> // c", "> ENDIR IRPAUSE;", "Set IR end state to IRPAUSE", "> ENDDR DRPAUSE;",
                                  "Set DR end state to DRPAUSE"}));
    EXPECT_EQ(rig.window.progress_max, 2) << "one a statement; nothing for comments";
    EXPECT_EQ(rig.window.progress_value, 2);
    EXPECT_EQ(Outcome(), RunOutcome::Completed);
  }
}

TEST_F(RunDriverTest, LinesOfAStatementAreJoinedByOneBlank) {
  EXPECT_EQ(Body(rig.Play("SIR 8\r\nTDI (01);\r\n")), (Lines{"> SIR 8 TDI (01);", "lNumBytes= 24", "Sent: 01", "Got: 01"}));
  // Tab-indented clauses, and a value continued on an indented line.
  const auto lines = rig.Play("SDR 32 TDI (1234\n\t\t5678)\n\tTDO (12345678)\n\tMASK (FFFFFFFF);\n");
  EXPECT_EQ(Body(lines), (Lines{"> SDR 32 TDI (1234 5678) TDO (12345678) MASK (FFFFFFFF);", "lNumBytes= 96",
                                "Sent: 12345678", "Got: 12345678",
                                "Masked Expectation: 12345678, Masked Result: 12345678 Pass!"}));
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, CommentLinesInsideAStatementAreEchoedAndLeftOut) {
  const auto lines = rig.Play("SDR 8\r\n// inside\r\n TDI (A5);\r\n\r\nTRST ON;\r\n");
  EXPECT_EQ(Body(lines), (Lines{"> // inside", "> SDR 8 TDI (A5);", "lNumBytes= 24", "Sent: A5", "Got: A5",
                                "> TRST ON;", "No control over RST, ignoring "}));
  EXPECT_EQ(rig.window.progress_max, (1 + 8) + 1) << "SDR 8 and TRST, each a statement and its bits";
}

TEST_F(RunDriverTest, AStatementEndsAtItsSemicolonWhereverItStands) {
  const auto lines = rig.Play("TRST OFF; \t\r\nSIR 8 TDI (02); SDR 16 TDI (1234);\tENDDR IDLE; // the end; really\r\n");
  EXPECT_EQ(Body(lines), (Lines{"> TRST OFF;", "No control over RST, ignoring ", "> SIR 8 TDI (02);", "lNumBytes= 24",
                                "Sent: 02", "Got: 02", "> SDR 16 TDI (1234);", "lNumBytes= 48", "Sent: 1234",
                                "Got: 1234", "> ENDDR IDLE;", "Set DR end state to IDLE", "> // the end; really"}));
  EXPECT_EQ(rig.player.driver.StatementsExecuted(), 4U);
  EXPECT_EQ(rig.player.driver.StatementLine(), 2U);
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, IndentedCommentLinesAreCommentsAndBangLinesAreNot) {
  auto lines = rig.Play("  // indented\r\nSIR 8 TDI (01);\r\nSDR 8\r\n\t// inside\r\nTDI (A5);\r\n");
  EXPECT_EQ(Body(lines), (Lines{">   // indented", "> SIR 8 TDI (01);", "lNumBytes= 24", "Sent: 01", "Got: 01",
                                "> \t// inside", "> SDR 8 TDI (A5);", "lNumBytes= 24", "Sent: A5", "Got: A5"}));
  lines = rig.Play("! vendor comment\r\nTRST OFF;\r\n");
  // The default reading names the line, and points to the standard one.
  EXPECT_EQ(Body(lines), (Lines{"> ! vendor comment TRST OFF;", "Hmm.  I don't know how to do a !",
                                "Sorry, I've got to bail out.. ", "Stopped at line 1.", kStandardSvfHint}));
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
}

TEST_F(RunDriverTest, EveryRunStartsWithARealReset) {
  // The model says RESET after start-up; the target may be anywhere.
  ASSERT_EQ(rig.player.engine.CurrentTapState, jtag::RESET);
  rig.Play("STATE RESET;\r\n");
  // One reset step, and nothing for the second move or STATE RESET: its
  // eleven bytes, then hold bytes (TCK low, TMS high) to a whole packet.
  ASSERT_EQ(rig.chip.writes.size(), 1U);
  std::vector<std::uint8_t> expected{0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02, 0x82, 0x02};
  expected.resize(62, 0x02);
  EXPECT_EQ(rig.chip.writes[0], expected);
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, FinalStatementWithoutLineEndIsExecuted) {
  const auto lines = rig.Play("TRST OFF;\r\nENDDR DRPAUSE;");
  EXPECT_EQ(lines.back(), "Set DR end state to DRPAUSE");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
  EXPECT_EQ(rig.window.progress_value, rig.window.progress_max);
}

TEST_F(RunDriverTest, UnterminatedFragmentAtTheEndIsReportedAndFails) {
  const auto lines = rig.Play("TRST OFF;\r\nSDR 8 TDI (01)\r\n");
  EXPECT_EQ(lines.back(), "Uh Oh, the file ends inside a statement that has no ';': SDR 8 TDI (01)");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
  EXPECT_EQ(rig.player.driver.StopLine(), 2U) << "where the fragment begins";
  EXPECT_EQ(rig.TmsAtClocks(), "11111") << "the run's reset, and nothing of the fragment";
  // Blanks alone at the end are nothing to report.
  rig.Play("TRST OFF;\r\n   \t\r\n");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, AFileCutShortWhileItPlaysFails) {
  // The second pass finds fewer lines than the first counted.
  struct CuttingWindow : MemoryWindow {
    std::string path;
    void SetProgressMax(int max) override {
      MemoryWindow::SetProgressMax(max);
      std::filesystem::resize_file(path, 10);  // keeps "TRST OFF;\n"
    }
  } window;
  adapter::FakeD2xx chip;
  FakeClock clock;
  player::Player p{window, chip, clock};
  p.Form_Load();
  const std::string path = rig.SelectFile("TRST OFF;\nTRST OFF;\nTRST OFF;\n");
  window.path = path;
  window.selected_file = "test.svf";
  window.file_path = path;
  window.single_step = 0;
  p.cmd_Process_Click();
  EXPECT_EQ(p.driver.LastOutcome(), RunOutcome::Failed);
  const std::string text = "Uh Oh, " + path + " ended at line 1 of 3: it changed while it played.  Bailing Out";
  EXPECT_EQ(window.LogLines().back(), text);
  EXPECT_EQ(window.messages.back(), text);
}

TEST_F(RunDriverTest, BailOutEndsTheRunBeforeTheNextStatement) {
  const auto lines = rig.Play("SDR 8 TDI (01) TDO (02) MASK (FF);\r\nTRST OFF;\r\nTRST OFF;\r\n");
  EXPECT_EQ(lines[lines.size() - 2], "Masked Expectation: 02, Masked Result: 01 Fail!  Bailing out...");
  EXPECT_EQ(lines.back(), "Stopped at line 1.");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
  EXPECT_EQ(rig.window.progress_value, 0) << "the bar stays before the statement the run stopped at";
  EXPECT_EQ(rig.window.progress_max, (1 + 8) + 1 + 1);
}

TEST_F(RunDriverTest, EmptyFileCompletesWithAnEmptyRange) {
  const auto lines = rig.Play("");
  EXPECT_EQ(lines.size(), 2U);
  EXPECT_EQ(rig.window.progress_max, 0);
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

// --- Refusals ---

TEST_F(RunDriverTest, RefusalsShowTheirMessageAndTouchNothing) {
  const std::string before = rig.window.log;
  rig.window.selected_file = "";
  rig.player.cmd_Process_Click();
  rig.window.selected_file = "svf";
  rig.player.cmd_Process_Click();
  rig.window.selected_file = "board.xsvf";
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages,
            (Lines{"Please choose a file first", "Error - expecting a .SVF file", "Error - expecting a .SVF file"}));
  EXPECT_EQ(rig.window.log, before);
  EXPECT_EQ(Outcome(), RunOutcome::Refused);
  EXPECT_TRUE(rig.chip.calls.empty());
}

TEST_F(RunDriverTest, UpperCaseExtensionIsAccepted) {
  rig.SelectFile("TRST OFF;\r\n", "BOARD.SVF");
  rig.window.single_step = 0;
  rig.player.cmd_Process_Click();
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, OpenButNotSetUpShowsOnlyThePortSetupMessage) {
  rig.player.cmb_TDI_Change();
  rig.SelectFile("TRST OFF;\r\n");
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages, (Lines{"Port Setup missing or outdated.  Re-run bitbang setup"}));
  EXPECT_TRUE(rig.chip.calls.empty());
}

TEST_F(RunDriverTest, NoAdapterAtAllShowsTheFourMessagesInOrder) {
  testing::Rig bare;
  bare.chip.descriptions.clear();
  bare.player.Form_Load();
  bare.window.messages.clear();
  bare.SelectFile("TRST OFF;\r\n");
  bare.player.cmd_Process_Click();
  EXPECT_EQ(bare.window.messages,
            (Lines{"No FTDI Devices Detected.\r\nPlease connect one..", "Find and choose interface first..",
                   "Please open an interface first..", "Port Setup missing or outdated.  Re-run bitbang setup"}));
}

TEST_F(RunDriverTest, AutomaticSetUpOpensAndSetsUpWhenNothingIsOpen) {
  testing::Rig fresh;
  fresh.player.Form_Load();
  fresh.Play("TRST OFF;\r\n");
  EXPECT_EQ(fresh.player.adapter.PortSetupValid, kTrue);
  EXPECT_EQ(fresh.player.driver.LastOutcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, UnreadableFilesAreReportedAndTheRunEnds) {
  rig.window.selected_file = "missing.svf";
  rig.window.file_path = "/nonexistent/missing.svf";
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages.back(), "Cannot open /nonexistent/missing.svf: No such file or directory");
  EXPECT_EQ(Outcome(), RunOutcome::FileError);
  rig.window.file_path = ::testing::TempDir();
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages.back(), "Cannot open " + ::testing::TempDir() + ": it is a folder");
  // A FIFO nobody writes to is refused at once, not waited on; so is a device.
  const std::string fifo = ::testing::TempDir() + "tavrin-fifo-" + std::to_string(::getpid()) + ".svf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    rig.window.file_path = path;
    rig.player.cmd_Process_Click();
    EXPECT_EQ(rig.window.messages.back(), "Cannot open " + path + ": it is not a regular file");
    EXPECT_EQ(Outcome(), RunOutcome::FileError);
  }
  ::unlink(fifo.c_str());
}

TEST_F(RunDriverTest, OverlongLineIsAFileErrorNotAnAllocation) {
  rig.SelectFile("SDR 8 TDI (" + std::string(5000, '0') + ");\r\n");
  rig.window.single_step = 0;
  rig.player.driver.max_statement = 1000;
  rig.player.cmd_Process_Click();
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
  EXPECT_EQ(rig.window.LogLines().back(), "Uh Oh, the statement at line 1 is longer than I can handle.  Bailing Out");
}

// --- Single step, Step and Break ---

TEST_F(RunDriverTest, SingleStepHoldsEachEchoedStatementUntilStep) {
  rig.SelectFile("ENDIR IRPAUSE;\r\nENDDR DRPAUSE;\r\n");
  rig.window.single_step = 1;
  std::vector<std::string> seen_while_waiting;
  // Events come at other times too (the reset's block going out): only
  // the waits for Step count here.
  rig.window.on_events = [&] {
    if (rig.player.flags.AwaitingStep != kTrue) return;
    seen_while_waiting.push_back(rig.window.LogLines().back());
    rig.player.cmd_step_Click();
  };
  rig.player.cmd_Process_Click();
  EXPECT_EQ(seen_while_waiting, (Lines{"> ENDIR IRPAUSE;", "> ENDDR DRPAUSE;"}));
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, BreakDuringTheWaitEndsTheRunWithoutExecuting) {
  rig.SelectFile("ENDIR IRPAUSE;\r\nENDDR DRPAUSE;\r\n");
  rig.window.single_step = 1;
  int waits = 0;
  rig.window.on_events = [&] {
    if (rig.player.flags.AwaitingStep != kTrue) return;
    if (++waits == 1) rig.player.cmd_step_Click();
    else rig.player.cmd_breakstep_Click();
  };
  rig.player.cmd_Process_Click();
  const auto lines = rig.window.LogLines();
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[lines.size() - 2], "> ENDDR DRPAUSE;");
  EXPECT_EQ(lines.back(), "Uh Oh, the operator stopped the run at line 2.  Bailing Out");
  EXPECT_EQ(rig.player.interpreter.EndDrState, "IDLE");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
  EXPECT_TRUE(rig.player.driver.StoppedByOperator());
  EXPECT_EQ(rig.player.flags.AwaitingStep, kFalse) << "nothing waits for Step after the run";
}

TEST_F(RunDriverTest, BreakDuringAScanStopsAfterTheBlockInFlight) {
  rig.SelectFile("SDR 1024 TDI (0) TDO (0) MASK (1);\r\nTRST OFF;\r\n");
  rig.window.single_step = 0;
  // The window's events are handled after each block of a long stream.
  rig.window.on_events = [&] { rig.player.cmd_breakstep_Click(); };
  rig.player.cmd_Process_Click();
  const auto lines = rig.window.LogLines();
  EXPECT_EQ(lines.back(), "Uh Oh, the operator stopped the run at line 1.  Bailing Out");
  EXPECT_EQ(lines[lines.size() - 2], "lNumBytes= 3072") << "a cut scan reports nothing";
  // The reset, the walk to Shift-DR (four steps), then the bits of one
  // block and at most the rest of the 16 being queued: never the last bit,
  // which would leave Shift-DR.
  const std::string tms = rig.TmsAtClocks();
  ASSERT_EQ(tms.substr(0, 9), "111110100");
  const std::size_t bits = tms.size() - 9;
  EXPECT_GE(bits, (jtag::kBlockBytes - 11 - 12) / 3);
  EXPECT_LE(bits, (jtag::kBlockBytes - 11 - 12) / 3 + 16);
  EXPECT_EQ(tms.find('1', 9), std::string::npos);
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::DRSHIFT);
  EXPECT_EQ(Outcome(), RunOutcome::Failed);

  // The next run starts from a reset and plays the file whole.
  rig.window.on_events = nullptr;
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.LogLines().back(), "No control over RST, ignoring ");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, AMessageBoxDuringAScanLeavesTheScanWhole) {
  // A second Process click while a long scan without a check is being
  // clocked (its report still to come): the refusal's message box must not
  // cut the scan under way, nor lose its report.
  rig.SelectFile("SDR 2000 TDI (0);\r\nTRST OFF;\r\n");
  rig.window.single_step = 0;
  bool clicked = false;
  rig.window.on_events = [&] {
    if (clicked) return;
    clicked = true;
    rig.player.cmd_Process_Click();
  };
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages, (Lines{"A file is being processed already.  Press Break to stop it."}));
  const auto lines = rig.window.LogLines();
  ASSERT_GE(lines.size(), 4U);
  EXPECT_EQ(lines[lines.size() - 4], "Sent: " + std::string(500, '0'));
  EXPECT_EQ(lines[lines.size() - 3], "Got: " + std::string(500, '0'));
  EXPECT_EQ(lines.back(), "No control over RST, ignoring ");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, BreakCutsARunTestWaitShort) {
  rig.SelectFile("RUNTEST 10 SEC;\r\nTRST OFF;\r\n");
  rig.window.single_step = 0;
  int passes = 0;
  rig.window.on_events = [&] {
    if (++passes == 3) rig.player.cmd_breakstep_Click();
  };
  rig.player.cmd_Process_Click();
  // Events come once the walk to IDLE has gone out, then every 20 ms of
  // the wait; the third one breaks.
  EXPECT_EQ(rig.clock.SleptMs(), 40U);
  EXPECT_EQ(rig.window.LogLines().back(), "Uh Oh, the operator stopped the run at line 1.  Bailing Out");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
}

TEST_F(RunDriverTest, BreakWhileCountingAHugeFileStopsBeforeItBegins) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "TRST OFF;\n";
  rig.SelectFile(text);
  rig.window.single_step = 0;
  rig.window.on_events = [&] { rig.player.cmd_breakstep_Click(); };
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.player.driver.StatementsExecuted(), 0U);
  EXPECT_EQ(rig.window.LogLines().back(), "Uh Oh, the operator stopped the run before it began.  Bailing Out");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
}

TEST_F(RunDriverTest, BreakOutsideARunWaitsForTheNextRunToClearIt) {
  rig.player.cmd_breakstep_Click();
  EXPECT_EQ(rig.player.flags.StopRequested, kTrue);
  rig.player.cmd_step_Click();
  EXPECT_EQ(rig.player.flags.AwaitingStep, kFalse);
  rig.Play("TRST OFF;\r\n");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, SecondProcessClickDuringARunIsTurnedAway) {
  rig.SelectFile("ENDIR IRPAUSE;\r\n");
  rig.window.single_step = 1;
  rig.window.on_events = [&] {
    if (rig.player.flags.AwaitingStep != kTrue) return;
    rig.player.cmd_Process_Click();
    rig.player.cmd_step_Click();
  };
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages, (Lines{"A file is being processed already.  Press Break to stop it."}));
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(RunDriverTest, ChipFailureMidRunShowsOneMessageAndEndsTheRun) {
  rig.SelectFile("SDR 8 TDI (01);\r\nSDR 8 TDI (01);\r\nSDR 8 TDI (01);\r\n");
  rig.window.single_step = 0;
  rig.chip.FailCall("FT_Read", 1, adapter::FT_IO_ERROR);
  rig.player.cmd_Process_Click();
  EXPECT_EQ(rig.window.messages, (Lines{"Bad result: FT_Read - get data returned 0x4"}));
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
  EXPECT_EQ(rig.chip.CountCalls("FT_Read"), 1);
}

}  // namespace
}  // namespace tavrin::svf

namespace tavrin::svf {
namespace {

// Lines of every length around the reader's 64 KiB buffer, with the three
// line ends mixed, come back exactly.
TEST(LineReaderTest, MixedLineEndsAcrossBufferRefills) {
  std::string text;
  std::vector<std::string> expected;
  const char* const ends[] = {"\r\n", "\n", "\r"};
  for (int i = 0; i < 30000; ++i) {
    // Never empty: a CR ending one line and an LF ending an empty next one
    // would read as one CR LF.
    std::string line(static_cast<std::size_t>(1 + (i * 37) % 23), static_cast<char>('a' + i % 26));
    if (i % 997 == 0) line.assign(70000, 'x');  // longer than the buffer
    expected.push_back(line);
    text += line + ends[(i / 3 + i) % 3];
  }
  const auto path = std::filesystem::temp_directory_path() / ("tavrin-lines-" + std::to_string(::getpid()) + ".svf");
  std::ofstream(path, std::ios::binary) << text;
  LineReader reader;
  ASSERT_EQ(reader.Open(path.string()), "");
  std::vector<std::string> got;
  std::string line;
  while (reader.ReadLine(line)) got.push_back(line);
  std::filesystem::remove(path);
  EXPECT_FALSE(reader.Failed());
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "line " << i;
}

// A CR LF split by a buffer refill (the CR the buffer's last byte) is one
// line end, and the line before it comes back whole.
TEST(LineReaderTest, CrLfAcrossARefill) {
  const auto path = std::filesystem::temp_directory_path() / ("tavrin-crlf-" + std::to_string(::getpid()) + ".svf");
  for (const std::size_t size : {65534U, 65535U, 65536U}) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x') << "\r\nnext\r\n";
    LineReader reader;
    ASSERT_EQ(reader.Open(path.string()), "");
    std::vector<std::string> got;
    std::string_view line;
    while (reader.ReadLine(line)) got.emplace_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{std::string(size, 'x'), "next"})) << size;
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tavrin::svf
