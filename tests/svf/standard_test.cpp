// SPDX-License-Identifier: Apache-2.0
// The standard reading, played through the fake chip (which answers each
// byte with its TDI level on TDO, so every scan reads back what it sent).
#include <gtest/gtest.h>

#include "../support/rig.h"
#include "svf/gatherer.h"

namespace tavrin::svf {
namespace {

using Lines = std::vector<std::string>;

// A statement's end or a comment mark is found wherever it stands in a
// line, among hexadecimal digits, before and after the eighth character; a
// "/" alone inside a line is no mark (at its start it makes a comment line).
TEST(GathererTest, MarksAreFoundAtEveryPlace) {
  struct Case {
    const char* mark;
    bool ends;     // a statement ends at it (else a comment begins)
    bool marks;    // it is a mark at all
  };
  for (const Case& c : {Case{";", true, true}, Case{"!", false, true}, Case{"//", false, true}, Case{"/", false, false}}) {
    for (std::size_t at = c.marks ? 0 : 1; at < 20; ++at) {
      StatementGatherer gatherer(1 << 20, true);
      const std::string before(at, 'A');
      Lines got;
      (void)gatherer.AddLine(before + c.mark + "BC", 1, [&](StatementGatherer::Kind kind, std::string& text, std::uint64_t) {
        got.push_back((kind == StatementGatherer::Kind::Comment ? "comment " : "statement ") + text);
        return true;
      });
      const Lines expected = !c.marks ? Lines{}
                             : c.ends ? Lines{"statement " + before + ";"}
                                      : Lines{std::string("comment ") + c.mark + "BC"};
      EXPECT_EQ(got, expected) << c.mark << " at " << at;
      EXPECT_EQ(gatherer.Pending(), !c.marks ? before + c.mark + "BC" : c.ends ? "BC" : before) << c.mark << " at " << at;
    }
  }
}

class StandardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.LoadOpenSetUp();
    rig.LoopTdiToTdo();
    rig.window.standard_svf = 1;
  }
  // The log after the "Adapter:" and "Opening" lines.
  Lines Body(const std::string& text) {
    const Lines lines = rig.Play(text);
    return {lines.begin() + 2, lines.end()};
  }
  RunOutcome Outcome() const { return rig.player.driver.LastOutcome(); }
  // The TMS level at each clock written since the record was cleared.
  std::vector<int> StepTms() const {
    std::vector<int> tms;
    for (const char c : rig.TmsAtClocks()) tms.push_back(c == '1' ? 1 : 0);
    return tms;
  }

  testing::Rig rig;
};

TEST_F(StandardTest, BangAndSlashesBeginACommentWhereverABlankMayStand) {
  const Lines body = Body(
      "! header comment\n"
      "SIR 8 TDI (01) ! the IDCODE instruction\n"
      "    TDO (01); // and its capture\n"
      "SDR 8 TDI (5A) TDO (5A)!no blank needed;\n"
      "MASK (FF);\n");
  EXPECT_EQ(body, (Lines{"> ! header comment", "> ! the IDCODE instruction", "> SIR 8 TDI (01) TDO (01);",
                         "lNumBytes= 24", "Sent: 01", "Got: 01", "Masked Expectation: 01, Masked Result: 01 Pass!",
                         "> // and its capture", "> !no blank needed;", "> SDR 8 TDI (5A) TDO (5A) MASK (FF);",
                         "lNumBytes= 24", "Sent: 5A", "Got: 5A", "Masked Expectation: 5A, Masked Result: 5A Pass!"}));
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(StandardTest, TdiAndSmaskAreRememberedWhileTheLengthStays) {
  const Lines body = Body("SDR 8 TDI (A5) SMASK (0F);\nSDR 8 TDO (05);\nSDR 8 TDI (FF);\nSDR 16;\n");
  // The second scan sends the first one's TDI under its SMASK again.
  EXPECT_EQ(body[4], "> SDR 8 TDO (05);");
  EXPECT_EQ(body[6], "Sent: 05");
  EXPECT_EQ(body[8], "Masked Expectation: 05, Masked Result: 05 Pass!");
  // A new length needs its TDI; the run names the line.
  EXPECT_EQ(body[body.size() - 2], "Uh Oh, SDR 16 needs its TDI: none was given for this length.  Bailing Out");
  EXPECT_EQ(body.back(), "Stopped at line 4.");
  EXPECT_EQ(Outcome(), RunOutcome::Failed);
}

TEST_F(StandardTest, HeaderAndTrailerBitsGoAroundEveryScan) {
  // Header first (to the devices nearest TDO), then the scan, then the
  // trailer: as one number the header holds the low bits.
  const Lines body = Body("HIR 4 TDI (A);\nTIR 2;\nSIR 8 TDI (5A);\nHDR 3;\nSDR 4 TDI (F) TDO (F);\nHIR 0;\nTIR 0;\n"
                          "SIR 8 TDI (5A);\n");
  EXPECT_EQ(body[0], "> HIR 4 TDI (A);");
  EXPECT_EQ(body[1], "4 trailing IR bits OK");
  // 2 trailer bits (all ones by default) + 8 + 4 header bits: 11 0101 1010 1010.
  EXPECT_NE(std::find(body.begin(), body.end(), "Sent: 35AA"), body.end());
  // Data register: 3 header zeros by default, then F.
  EXPECT_NE(std::find(body.begin(), body.end(), "Sent: 78"), body.end());
  EXPECT_NE(std::find(body.begin(), body.end(), "Masked Expectation: 78, Masked Result: 78 Pass!"), body.end());
  // Length 0 removes them.
  EXPECT_EQ(body.back(), "Got: 5A");
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(StandardTest, HeaderTdoIsCheckedWhenGiven) {
  rig.chip.answer_fn = [](std::uint8_t) -> std::uint8_t { return 0x00; };  // TDO stuck low
  const Lines body = Body("HDR 4 TDI (0) TDO (F) MASK (1);\nSDR 8 TDI (00);\n");
  EXPECT_EQ(body[body.size() - 2], "Masked Expectation: 001, Masked Result: 000 Fail!  Bailing out...");
  EXPECT_EQ(body.back(), "Stopped at line 2.");
}

TEST_F(StandardTest, RunTestClocksInTheRunStateThenWaitsTheRest) {
  rig.chip.ClearRecord();
  const Lines body = Body("RUNTEST 100 TCK;\nFREQUENCY 1E3 HZ;\nRUNTEST 100 TCK;\nRUNTEST IDLE 3 TCK 2.00E-002 SEC;\n");
  EXPECT_EQ(body[1], "Running 100 TCK in IDLE, 1 ms...");
  EXPECT_EQ(body[5], "Running 100 TCK in IDLE, 100 ms...");
  EXPECT_EQ(body[7], "Running 3 TCK, 2.00E-002 SEC in IDLE, 20 ms...");
  EXPECT_EQ(rig.clock.SleptMs(), 1U + 100U + 20U);
  // The reset, one step to Run-Test/Idle, then 203 clocks with TMS low.
  EXPECT_EQ(rig.TmsAtClocks(), "11111" + std::string(1 + 203, '0'));
  EXPECT_EQ(Outcome(), RunOutcome::Completed);
}

TEST_F(StandardTest, RunTestRemembersItsRunAndEndStates) {
  Body("RUNTEST DRPAUSE 10 TCK;\nRUNTEST 10 TCK;\n");
  EXPECT_EQ(rig.window.LogLines().back(), "Running 10 TCK in DRPAUSE, 1 ms...");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::DRPAUSE);
  Body("RUNTEST IDLE 5 TCK ENDSTATE IRPAUSE;\nRUNTEST 5 TCK;\n");
  EXPECT_EQ(rig.window.LogLines().back(), "Running 5 TCK in IDLE, 1 ms...");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IRPAUSE);
  // A new run starts from IDLE again.
  Body("RUNTEST 5 TCK;\n");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
  Body("RUNTEST DRSHIFT 5 TCK;\n");
  EXPECT_EQ(rig.window.LogLines()[3], "Uh Oh, RUNTEST wants IDLE, RESET, DRPAUSE or IRPAUSE, not DRSHIFT.  Bailing Out");
}

TEST_F(StandardTest, ScansFromAPauseStateCaptureAnew) {
  Body("ENDDR DRPAUSE;\nSDR 8 TDI (01);\n");
  rig.chip.ClearRecord();
  rig.window.log.clear();
  // The model is in DRPAUSE; the next scan goes through Update and Capture.
  rig.player.interpreter.StartRun(ReadingRules::Standard());
  std::string scan = "SDR 8 TDI (02);";
  rig.player.interpreter.ExecuteSvfStatement(scan);
  rig.player.interpreter.Settle();
  const std::vector<int> tms = StepTms();
  ASSERT_GE(tms.size(), 5U);
  EXPECT_EQ(std::vector<int>(tms.begin(), tms.begin() + 5), (std::vector<int>{1, 1, 1, 0, 0}));
}

// Statements refused before anything is clocked: states that are not
// stable, paths off the state diagram, clocks no adapter can give in time,
// frequencies that are no number.
TEST_F(StandardTest, StatementsRefusedBeforeAnythingIsClocked) {
  struct Case {
    const char* text;
    const char* line;
    int stop_line = 1;
  };
  const Case cases[] = {
      {"ENDIR IRSHIFT;\n", "Uh Oh, ENDIR wants one of IDLE, RESET, DRPAUSE and IRPAUSE, not IRSHIFT.  Bailing Out"},
      {"ENDDR DREXIT1;\n", "Uh Oh, ENDDR wants one of IDLE, RESET, DRPAUSE and IRPAUSE, not DREXIT1.  Bailing Out"},
      {"STATE IDLE DRSELECT;\n", "Uh Oh, STATE must end in IDLE, RESET, DRPAUSE or IRPAUSE, not DRSELECT.  Bailing Out"},
      {"STATE IDLE DRSHIFT IDLE;\n",
       "Uh Oh, STATE cannot go from IDLE to DRSHIFT in one step: a path must follow the state diagram.  Bailing Out"},
      {"STATE IREXIT2 IRUPDATE IDLE;\n",
       "Uh Oh, STATE cannot go from RESET to IREXIT2 in one step: a path must follow the state diagram.  Bailing Out"},
      {"TRST MAYBE;\n", "Uh Oh, TRST wants ON, OFF, Z or ABSENT.  Bailing Out"},
      {"PIO (HLHL);\n", "Uh Oh, PIO is not supported: this player drives no other pins.  Bailing Out"},
      {"PIOMAP (IN A);\n", "Uh Oh, PIOMAP is not supported: this player drives no other pins.  Bailing Out"},
      {"FREQUENCY 1E400 HZ;\n", "Uh Oh, FREQUENCY wants a number of HZ, not 1E400.  Bailing Out"},
      {"RUNTEST 6E8 TCK;\n",
       "Uh Oh, 6E8 TCK would take at least 1019 s to clock, more than the 600 s a RUNTEST may last.  Bailing Out"},
      {"FREQUENCY 1E12 HZ;\nRUNTEST 1E13 TCK;\n",
       "Uh Oh, 1E13 TCK would take at least 16977929 s to clock, more than the 600 s a RUNTEST may last.  Bailing Out",
       2},
      {"FREQUENCY 1E300 HZ;\nRUNTEST 1E305 TCK;\n", "Uh Oh, I can't wait 1E305 TCK.  Bailing Out", 2},
      {"RUNTEST 1E400 TCK;\n", "Uh Oh, I can't wait 1E400 TCK.  Bailing Out"},
  };
  for (const Case& c : cases) {
    rig.chip.ClearRecord();
    const Lines body = Body(c.text);
    ASSERT_GE(body.size(), 3U) << c.text;
    EXPECT_EQ(body[body.size() - 2], c.line);
    EXPECT_EQ(body.back(), "Stopped at line " + std::to_string(c.stop_line) + ".");
    EXPECT_EQ(rig.chip.writes.size(), 1U) << c.text << ": only the reset";
  }
  // A path through unstable states to a stable one, as vendor files write
  // them after an instruction scan that ends in IRPAUSE.
  const Lines ok = Body(
      "TRST ABSENT;\nENDIR IRPAUSE;\nSIR 8 TDI (01);\nSTATE IREXIT2 IRUPDATE DRSELECT DRCAPTURE DREXIT1 DRPAUSE;\n"
      "STATE DRPAUSE DREXIT2 DRUPDATE IDLE;\nSTATE RESET IDLE;\n");
  EXPECT_EQ(Outcome(), RunOutcome::Completed) << ::testing::PrintToString(ok);
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
}

TEST_F(StandardTest, TheDefaultReadingIsUnchangedByTheBox) {
  rig.window.standard_svf = 0;
  const Lines body = Body("! comment\nTRST OFF;\n");
  EXPECT_EQ(body, (Lines{"> ! comment TRST OFF;", "Hmm.  I don't know how to do a !", "Sorry, I've got to bail out.. ",
                         "Stopped at line 1.", kStandardSvfHint}));
  EXPECT_EQ(Body("HIR 4;\n"), (Lines{"> HIR 4;", "Uh Oh, I don't know how to process 4 trailing IR bits.  Bailing Out",
                                      "Stopped at line 1.", kStandardSvfHint}));
  // A long echo is cut; the statement is read whole.
  const Lines echo = Body("! " + std::string(3000, 'x') + "\nTRST OFF;\n");
  EXPECT_EQ(echo[0], "> ! " + std::string(254, 'x') + " ... (2756 more characters)");
}

}  // namespace
}  // namespace tavrin::svf
