#include <gtest/gtest.h>

#include "../support/rig.h"
#include "svf/interpreter.h"

namespace tavrin::svf {
namespace {

using Lines = std::vector<std::string>;

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.LoadOpenSetUp();
    rig.window.log.clear();
    rig.player.engine.CurrentTapState = jtag::IDLE;
  }
  // Runs one statement and gives the log lines it wrote.
  Lines Run(std::string statement) {
    rig.window.log.clear();
    interp.ExecuteSvfStatement(statement);
    return rig.window.LogLines();
  }
  bool Stopped() const { return rig.player.flags.StopRequested == kTrue; }

  testing::Rig rig;
  Interpreter& interp = rig.player.interpreter;
};

TEST(StatementWordsTest, SplitsAtBlanksOnly) {
  EXPECT_EQ(StatementWords("SDR   8  TDI (FF)"), (Lines{"SDR", "8", "TDI", "(FF)"}));
  EXPECT_EQ(StatementWords("  "), Lines{});
  EXPECT_EQ(StatementWords("SIR\t8 TDI(0F)"), (Lines{"SIR\t8", "TDI(0F)"}));
}

TEST(MaskHexDigitsTest, AlignsLeftAndReadsJunkAsZero) {
  EXPECT_EQ(MaskHexDigits("A5", "0F", 2), "05");
  EXPECT_EQ(MaskHexDigits("F", "AB", 2), "A0");
  EXPECT_EQ(MaskHexDigits("ZZ", "FF", 2), "00");
  EXPECT_EQ(MaskHexDigits("ff", "FF", 2), "FF");
  EXPECT_EQ(MaskHexDigits("", "", 3), "000");
  EXPECT_EQ(MaskHexDigits("FFFF", "FF", 0), "");
}

TEST_F(InterpreterTest, EmptyStatementsDoNothing) {
  EXPECT_EQ(Run(";"), Lines{});
  EXPECT_EQ(Run("   ;"), Lines{});
  EXPECT_EQ(Run("STATE;"), Lines{});
  EXPECT_FALSE(Stopped());
  EXPECT_TRUE(rig.chip.calls.empty());
}

TEST_F(InterpreterTest, RemovesOnlyOneFinalSemicolonFromTheCallersText) {
  std::string text = "TRST OFF;;";
  interp.ExecuteSvfStatement(text);
  EXPECT_EQ(text, "TRST OFF;");
}

struct LineCase {
  const char* statement;
  Lines log;
  bool stops;
};

class OneLineTest : public InterpreterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(OneLineTest, LogsExactlyAndStopsOnlyOnBailOut) {
  EXPECT_EQ(Run(GetParam().statement), GetParam().log) << GetParam().statement;
  EXPECT_EQ(Stopped(), GetParam().stops) << GetParam().statement;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, OneLineTest,
    ::testing::Values(
        LineCase{"endir irpause;", {"Set IR end state to IRPAUSE"}, false},
        LineCase{"ENDDR DRPAUSE;", {"Set DR end state to DRPAUSE"}, false},
        LineCase{"FREQUENCY 1.0E6 HZ;", {"My frequency is very low, ignoring this directive.. "}, false},
        LineCase{"TRST OFF;", {"No control over RST, ignoring "}, false},
        LineCase{"HIR 0;", {"0 trailing IR bits OK"}, false},
        LineCase{"HDR 0 TDI (00);", {"0 trailing DR bits OK"}, false},
        LineCase{"TIR 0.0;", {"0 leading IR bits OK"}, false},
        LineCase{"TDR ABC;", {"0 leading DR bits OK"}, false},
        LineCase{"HDR 8 TDI (FF);", {"Uh Oh, I don't know how to process 8 trailing DR bits.  Bailing Out"}, true},
        LineCase{"HIR 2;", {"Uh Oh, I don't know how to process 2 trailing IR bits.  Bailing Out"}, true},
        LineCase{"TDR 1;", {"Uh Oh, I don't know how to process 1 leading DR bits.  Bailing Out"}, true},
        LineCase{"TIR 3;", {"Uh Oh, I don't know how to process 3 leading IR bits.  Bailing Out"}, true},
        LineCase{"//note;", {}, false},
        LineCase{"! note;", {"Hmm.  I don't know how to do a !", "Sorry, I've got to bail out.. "}, true},
        LineCase{"PIO (HLHL);", {"Hmm.  I don't know how to do a PIO", "Sorry, I've got to bail out.. "}, true},
        LineCase{"SIR\t8 TDI (01);", {"Hmm.  I don't know how to do a SIR\t8", "Sorry, I've got to bail out.. "}, true},
        LineCase{"ENDIR;", {"Uh Oh, ENDIR is missing its value.  Bailing Out"}, true},
        LineCase{"RUNTEST;", {"Uh Oh, RUNTEST is missing its value.  Bailing Out"}, true},
        LineCase{"HDR;", {"Uh Oh, HDR is missing its value.  Bailing Out"}, true}));

TEST_F(InterpreterTest, EndStatesPersistAndAreNotChecked) {
  Run("ENDIR BOGUS;");
  Run("ENDDR DRPAUSE;");
  EXPECT_EQ(interp.EndIrState, "BOGUS");
  EXPECT_EQ(interp.EndDrState, "DRPAUSE");
  EXPECT_FALSE(Stopped());
}

struct RunTestCase {
  const char* statement;
  const char* log;
  std::uint64_t ms;
  int state;
};

class RunTestTable : public InterpreterTest, public ::testing::WithParamInterface<RunTestCase> {};

TEST_P(RunTestTable, WaitsTicksOverAThousandPlusOneRoundedHalfToEven) {
  const auto lines = Run(GetParam().statement);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), GetParam().log);
  EXPECT_EQ(rig.clock.SleptMs(), GetParam().ms);
  EXPECT_EQ(rig.player.engine.CurrentTapState, GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, RunTestTable,
    ::testing::Values(RunTestCase{"RUNTEST 1000 TCK;", "Waiting 1000 ticks, 2 ms...", 2, jtag::IDLE},
                      RunTestCase{"RUNTEST 100 TCK;", "Waiting 100 ticks, 1 ms...", 1, jtag::IDLE},
                      RunTestCase{"RUNTEST 12000 TCK;", "Waiting 12000 ticks, 13 ms...", 13, jtag::IDLE},
                      RunTestCase{"RUNTEST 0 TCK;", "Waiting 0 ticks, 1 ms...", 1, jtag::IDLE},
                      RunTestCase{"RUNTEST 499 TCK;", "Waiting 499 ticks, 1 ms...", 1, jtag::IDLE},
                      RunTestCase{"RUNTEST 500 TCK;", "Waiting 500 ticks, 2 ms...", 2, jtag::IDLE},
                      RunTestCase{"RUNTEST 1500 TCK;", "Waiting 1500 ticks, 2 ms...", 2, jtag::IDLE},
                      RunTestCase{"RUNTEST 2500 TCK;", "Waiting 2500 ticks, 4 ms...", 4, jtag::IDLE},
                      RunTestCase{"RUNTEST 1.0E6 TCK;", "Waiting 1.0E6 ticks, 1001 ms...", 1001, jtag::IDLE},
                      RunTestCase{"RUNTEST 1.0E-2 SEC;", "Waiting 1.0E-2 ticks, 1 ms...", 1, jtag::IDLE},
                      RunTestCase{"RUNTEST DRPAUSE 3000 TCK;", "Waiting 3000 ticks, 4 ms...", 4, jtag::DRPAUSE},
                      RunTestCase{"RUNTEST IDLE 12000 TCK ENDSTATE IDLE;", "Waiting 12000 ticks, 13 ms...", 13,
                                  jtag::IDLE}));

TEST_F(InterpreterTest, RunTestWithFiveWordsTakesTheCountAsState) {
  const auto lines = Run("RUNTEST 1000 TCK ENDSTATE IDLE;");
  EXPECT_EQ(lines, (Lines{"Uh Oh, I don't recognize state: 1000.  Bailing Out", "Waiting TCK ticks, 1 ms..."}));
  EXPECT_EQ(rig.window.messages, (Lines{"Uh Oh, I don't recognize state: 1000.  Bailing Out"}));
  EXPECT_EQ(rig.clock.SleptMs(), 1U);
  EXPECT_TRUE(Stopped());
}

TEST_F(InterpreterTest, RunTestRefusesWaitsOutOfRange) {
  EXPECT_EQ(Run("RUNTEST -5000 TCK;"), (Lines{"Uh Oh, I can't wait -5000 ticks.  Bailing Out"}));
  EXPECT_EQ(Run("RUNTEST 1E15 TCK;"), (Lines{"Uh Oh, I can't wait 1E15 ticks.  Bailing Out"}));
  EXPECT_EQ(Run("RUNTEST 1E999 TCK;"), (Lines{"Uh Oh, I can't wait 1E999 ticks.  Bailing Out"}));
  EXPECT_EQ(rig.clock.SleptMs(), 0U);
  EXPECT_TRUE(Stopped());
}

TEST_F(InterpreterTest, StatePassesEveryWordEvenAfterAFailure) {
  rig.player.engine.CurrentTapState = jtag::DRSHIFT;
  Run("STATE RESET IDLE;");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
  EXPECT_EQ(rig.window.log, "");
  Run("STATE BOGUS DRPAUSE;");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::DRPAUSE);
  EXPECT_TRUE(Stopped());
}

// --- Scans ---

class ScanTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    rig.LoopTdiToTdo();
  }
};

TEST_F(ScanTest, OverviewExamplePassesWithTheExactLines) {
  // The loop answers TDI, so a target that returns 5A is a TDO wired to the
  // inverted TDI: answer accordingly.
  rig.chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x00U : 0x40U; };
  const auto lines = Run("SDR 8 TDI (A5) TDO (5A) MASK (FF);");
  EXPECT_EQ(lines, (Lines{"lNumBytes= 24", "Sent: A5", "Got: 5A", "Masked Expectation: 5A, Masked Result: 5A Pass!"}));
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
  EXPECT_FALSE(Stopped());
}

TEST_F(ScanTest, MismatchFailsAndStops) {
  const auto lines = Run("SDR 8 TDI (B4) TDO (A5) MASK (0F);");
  EXPECT_EQ(lines.back(), "Masked Expectation: 05, Masked Result: 04 Fail!  Bailing out...");
  EXPECT_TRUE(Stopped());
}

TEST_F(ScanTest, SmaskZeroesTdiBitsAndMasksFromTheLeft) {
  EXPECT_EQ(Run("SIR 8 TDI (FF) SMASK (0F);")[1], "Sent: 0F");
  EXPECT_EQ(Run("SDR 8 TDI (AB) SMASK (F);")[1], "Sent: A0");
}

TEST_F(ScanTest, VerificationNeedsBothTdoAndMask) {
  for (const char* s : {"SDR 8 TDI (5A);", "SDR 8 TDI (5A) TDO (00);", "SDR 8 TDI (5A) MASK (FF);"}) {
    const auto lines = Run(s);
    EXPECT_EQ(lines, (Lines{"lNumBytes= 24", "Sent: 5A", "Got: 5A"})) << s;
  }
  EXPECT_FALSE(Stopped());
  EXPECT_EQ(Run("SDR 8 TDI (00) TDO (FF) MASK (00);").back(), "Masked Expectation: 00, Masked Result: 00 Pass!");
}

TEST_F(ScanTest, LaterKeywordWinsAndLowerCaseWorks) {
  EXPECT_EQ(Run("SDR 8 TDI (01) TDI (02);")[1], "Sent: 02");
  EXPECT_EQ(Run("sdr 8 tdi (a5) tdo (a5) mask (ff);").back(), "Masked Expectation: A5, Masked Result: A5 Pass!");
}

TEST_F(ScanTest, OnlyTheWordAfterTheKeywordIsTheValue) {
  EXPECT_EQ(Run("SDR 16 TDI (0000 FFFF);")[1], "Sent: 000");
}

TEST_F(ScanTest, ShortCaptureIsPaddedAndComparedSoAFailedShiftFails) {
  rig.player.adapter.PortSetupValid = kFalse;  // the shifter refuses and returns nothing
  const auto lines = Run("SDR 16 TDI (0000) TDO (00FF) MASK (FFFF);");
  EXPECT_EQ(lines, (Lines{"Sent: 0000", "Got: ", "Masked Expectation: 00FF, Masked Result: 0000 Fail!  Bailing out..."}));
  EXPECT_TRUE(Stopped());
}

TEST_F(ScanTest, EndStatesComeFromEndirAndEnddr) {
  Run("ENDIR IRPAUSE;");
  Run("SIR 8 TDI (01);");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IRPAUSE);
  Run("SDR 8 TDI (01);");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
}

TEST_F(ScanTest, MalformedValuesAreReportedNotReadPastTheirEnds) {
  EXPECT_EQ(Run("SDR 8 TDI;").back(), "Uh Oh, TDI has no value in parentheses.  Bailing Out");
  EXPECT_EQ(Run("SDR 8 TDI ( 0F );").back(), "Uh Oh, TDI has no value in parentheses.  Bailing Out");
  EXPECT_EQ(Run("SIR;").back(), "Uh Oh, SIR is missing its length.  Bailing Out");
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(rig.chip.CountCalls("FT_Read"), 0);
}

TEST_F(ScanTest, TooLongScansAreABailOutNotAnAllocation) {
  EXPECT_EQ(Run("SDR 4294967296 TDI (0);").back(),
            "Uh Oh, a scan of 4294967296 bits is more than I can shift.  Bailing Out");
  EXPECT_EQ(Run("SDR 100000000 TDI (0);").back(),
            "Uh Oh, a scan of 100000000 bits is more than I can shift.  Bailing Out");
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(rig.chip.CountCalls("FT_Read"), 0);
}

TEST_F(ScanTest, NegativeOrZeroLengthShiftsNothing) {
  EXPECT_EQ(Run("SDR -8 TDI (FF);"), (Lines{"lNumBytes= 0", "Sent: FF", "Got: "}));
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
}

}  // namespace
}  // namespace tavrin::svf
