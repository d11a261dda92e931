// SPDX-License-Identifier: Apache-2.0

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
  // Runs one statement to its end, as a run does before it reports, and
  // gives the log lines it wrote.
  Lines Run(std::string statement) {
    rig.window.log.clear();
    interp.ExecuteSvfStatement(statement);
    interp.Settle();
    return rig.window.LogLines();
  }
  bool Stopped() const { return rig.player.flags.StopRequested == kTrue; }

  testing::Rig rig;
  Interpreter& interp = rig.player.interpreter;
};

TEST(StatementWordsTest, BlanksAndTabsSeparateAndAParenthesisedValueIsOneWord) {
  EXPECT_EQ(StatementWords("SDR   8  TDI (FF)"), (Lines{"SDR", "8", "TDI", "(FF)"}));
  EXPECT_EQ(StatementWords("  \t "), Lines{});
  EXPECT_EQ(StatementWords("SIR\t8\tTDI(0F)"), (Lines{"SIR", "8", "TDI", "(0F)"}));
  // Blanks and tabs inside a value are removed; a word ends at a "(".
  EXPECT_EQ(StatementWords("TDI ( 01\t23 45 )TDO(6)"), (Lines{"TDI", "(012345)", "TDO", "(6)"}));
  // A "(" without its ")" keeps the rest of the text, with no ")".
  EXPECT_EQ(StatementWords("TDI (01 TDO (02"), (Lines{"TDI", "(01TDO(02"}));
  EXPECT_EQ(StatementWords("8) ENDSTATE"), (Lines{"8)", "ENDSTATE"}));
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
                      RunTestCase{"RUNTEST DRPAUSE 3000 TCK;", "Waiting 3000 ticks, 4 ms...", 4, jtag::DRPAUSE},
                      RunTestCase{"RUNTEST IDLE 12000 TCK ENDSTATE IDLE;", "Waiting 12000 ticks, 13 ms...", 13,
                                  jtag::IDLE},
                      // Word 1 is the run state only when it names a state.
                      RunTestCase{"RUNTEST 1000 TCK ENDSTATE IDLE;", "Waiting 1000 ticks, 2 ms...", 2, jtag::IDLE},
                      RunTestCase{"RUNTEST DRPAUSE 20 TCK ENDSTATE IRPAUSE;", "Waiting 20 ticks, 1 ms...", 1,
                                  jtag::IRPAUSE},
                      RunTestCase{"RUNTEST 100 SCK;", "Waiting 100 ticks, 1 ms...", 1, jtag::IDLE},
                      // A time is waited in full, rounded up to whole ms.
                      RunTestCase{"RUNTEST 30001E-6 SEC;", "Waiting 30001E-6 SEC, 31 ms...", 31, jtag::IDLE},
                      RunTestCase{"RUNTEST 1.0E-2 SEC;", "Waiting 1.0E-2 SEC, 10 ms...", 10, jtag::IDLE},
                      RunTestCase{"RUNTEST 0.002 SEC;", "Waiting 0.002 SEC, 2 ms...", 2, jtag::IDLE},
                      RunTestCase{"RUNTEST 0.5 SEC;", "Waiting 0.5 SEC, 500 ms...", 500, jtag::IDLE},
                      RunTestCase{"RUNTEST 1E-9 SEC;", "Waiting 1E-9 SEC, 1 ms...", 1, jtag::IDLE},
                      // The larger of the two waits, and MAXIMUM read but not used.
                      RunTestCase{"RUNTEST IDLE 3 TCK 2.00E-002 SEC;", "Waiting 3 ticks and 2.00E-002 SEC, 20 ms...",
                                  20, jtag::IDLE},
                      RunTestCase{"RUNTEST 5000 TCK 1.0E-3 SEC;", "Waiting 5000 ticks and 1.0E-3 SEC, 6 ms...", 6,
                                  jtag::IDLE},
                      RunTestCase{"RUNTEST IRPAUSE 1.5E-2 SEC MAXIMUM 1 SEC ENDSTATE IDLE;",
                                  "Waiting 1.5E-2 SEC, 15 ms...", 15, jtag::IDLE}));

TEST_F(InterpreterTest, RunTestThatCannotBeReadWaitsForNothingAndStops) {
  struct Case {
    const char* statement;
    const char* line;
  };
  const Case cases[] = {
      {"RUNTEST IDEL 100 TCK;", "Uh Oh, I don't recognize state: IDEL.  Bailing Out"},
      {"RUNTEST 100 TCK ENDSTATE BOGUS;", "Uh Oh, I don't recognize state: BOGUS.  Bailing Out"},
      {"RUNTEST 100 TCK LATER;", "Uh Oh, I don't know what LATER means in a RUNTEST.  Bailing Out"},
      {"RUNTEST 1 SEC 100 TCK;", "Uh Oh, I don't know what 100 means in a RUNTEST.  Bailing Out"},
      {"RUNTEST IDLE;", "Uh Oh, RUNTEST is missing its value.  Bailing Out"},
      {"RUNTEST 1 SEC MAXIMUM;", "Uh Oh, RUNTEST MAXIMUM wants a time in SEC.  Bailing Out"},
      {"RUNTEST 100 TCK ENDSTATE;", "Uh Oh, RUNTEST ENDSTATE is missing its state.  Bailing Out"},
      {"RUNTEST -1E-3 SEC;", "Uh Oh, I can't wait -1E-3 SEC.  Bailing Out"},
      {"RUNTEST 601 SEC;", "Uh Oh, I can't wait 601 SEC.  Bailing Out"},
  };
  for (const Case& c : cases) {
    rig.player.flags.StopRequested = kFalse;
    rig.player.engine.CurrentTapState = jtag::DRPAUSE;
    rig.chip.ClearRecord();
    EXPECT_EQ(Run(c.statement), Lines{c.line}) << c.statement;
    EXPECT_TRUE(Stopped()) << c.statement;
    EXPECT_TRUE(rig.chip.writes.empty()) << c.statement << ": the TAP must not move";
  }
  EXPECT_EQ(rig.clock.SleptMs(), 0U);
}

TEST_F(InterpreterTest, RunTestRefusesWaitsOutOfRange) {
  EXPECT_EQ(Run("RUNTEST -5000 TCK;"), (Lines{"Uh Oh, I can't wait -5000 ticks.  Bailing Out"}));
  EXPECT_EQ(Run("RUNTEST 1E15 TCK;"), (Lines{"Uh Oh, I can't wait 1E15 ticks.  Bailing Out"}));
  EXPECT_EQ(Run("RUNTEST 1E999 TCK;"), (Lines{"Uh Oh, I can't wait 1E999 ticks.  Bailing Out"}));
  EXPECT_EQ(rig.clock.SleptMs(), 0U);
  EXPECT_TRUE(Stopped());
}

TEST_F(InterpreterTest, StateStopsAtTheFirstWordThatIsNoState) {
  rig.player.engine.CurrentTapState = jtag::DRSHIFT;
  Run("STATE RESET IDLE;");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
  EXPECT_EQ(rig.window.log, "");
  std::string many = "STATE DRPAUSE";
  for (int i = 0; i < 1000; ++i) many += " BOGUS" + std::to_string(i) + " IRPAUSE";
  EXPECT_EQ(Run(many + ";"), (Lines{"Uh Oh, I don't recognize state: BOGUS0.  Bailing Out"}));
  EXPECT_EQ(rig.window.messages, (Lines{"Uh Oh, I don't recognize state: BOGUS0.  Bailing Out"}));
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

TEST_F(ScanTest, ValuesLineUpAtTheirRightEnds) {
  // SMASK zeroes the TDI bits it marks 0; both are numbers, bit 0 last.
  EXPECT_EQ(Run("SIR 8 TDI (FF) SMASK (0F);")[1], "Sent: 0F");
  EXPECT_EQ(Run("SDR 8 TDI (AB) SMASK (F);")[1], "Sent: 0B");
  EXPECT_EQ(Run("SDR 16 TDI (0001) SMASK (F);")[1], "Sent: 0001");
  // Short values get 0 digits at the left; digits and bits beyond the
  // length are dropped.
  EXPECT_EQ(Run("SDR 21 TDI (16);")[1], "Sent: 000016");
  EXPECT_EQ(Run("SDR 4 TDI (1F);")[1], "Sent: F");
  EXPECT_EQ(Run("SDR 6 TDI (FF);")[1], "Sent: 3F");
  // The comparison looks at the bits of the length only.
  EXPECT_EQ(Run("SDR 6 TDI (3F) TDO (FF) MASK (FF);").back(), "Masked Expectation: 3F, Masked Result: 3F Pass!");
  EXPECT_EQ(Run("SDR 32 TDI (1) TDO (1) MASK (F);").back(),
            "Masked Expectation: 00000001, Masked Result: 00000001 Pass!");
  EXPECT_FALSE(Stopped());
}

TEST_F(ScanTest, TdoWithoutMaskComparesUnderTheLastMaskOfItsKindAndLength) {
  interp.StartRun();
  // No MASK yet: all ones, so every bit counts.
  EXPECT_EQ(Run("SDR 8 TDI (5A) TDO (5B);").back(), "Masked Expectation: 5B, Masked Result: 5A Fail!  Bailing out...");
  rig.player.flags.StopRequested = kFalse;
  // A MASK is remembered for the following scans of that kind and length.
  Run("SDR 8 TDI (5A) TDO (0A) MASK (0F);");
  EXPECT_EQ(Run("SDR 8 TDI (5A) TDO (FA);").back(), "Masked Expectation: 0A, Masked Result: 0A Pass!");
  // An SIR has its own.
  EXPECT_EQ(Run("SIR 8 TDI (5A) TDO (FA);").back(), "Masked Expectation: FA, Masked Result: 5A Fail!  Bailing out...");
  rig.player.flags.StopRequested = kFalse;
  // Another length forgets it; a new run forgets it too.
  Run("SDR 8 TDI (5A) TDO (0A) MASK (0F);");
  Run("SDR 16 TDI (0000);");
  EXPECT_EQ(Run("SDR 8 TDI (5A) TDO (FA);").back(), "Masked Expectation: FA, Masked Result: 5A Fail!  Bailing out...");
  rig.player.flags.StopRequested = kFalse;
  Run("SDR 8 TDI (5A) TDO (0A) MASK (0F);");
  interp.StartRun();
  EXPECT_EQ(Run("SDR 8 TDI (5A) TDO (FA);").back(), "Masked Expectation: FA, Masked Result: 5A Fail!  Bailing out...");
  EXPECT_EQ(interp.ChecksMade(), 1U);
  EXPECT_EQ(interp.ChecksPassed(), 0U);
  ASSERT_TRUE(interp.LastFailedCheck());
  EXPECT_EQ(interp.LastFailedCheck()->expected, "FA");
  EXPECT_EQ(interp.LastFailedCheck()->got, "5A");
  EXPECT_EQ(interp.LastFailedCheck()->mask, "FF");
  // MASK without TDO compares nothing.
  rig.player.flags.StopRequested = kFalse;
  EXPECT_EQ(Run("SDR 8 TDI (5A) MASK (FF);"), (Lines{"lNumBytes= 24", "Sent: 5A", "Got: 5A"}));
  EXPECT_EQ(Run("SDR 8 TDI (00) TDO (FF) MASK (00);").back(), "Masked Expectation: 00, Masked Result: 00 Pass!");
  EXPECT_FALSE(Stopped());
}

// Without a MASK every bit of the length counts, also in a top digit that
// holds fewer than four bits; a scan without TDO leaves the MASK in effect.
TEST_F(ScanTest, DefaultMaskCoversTheLengthExactly) {
  struct Case {
    std::vector<std::string> statements;
    const char* last_line;
    const char* failed_mask;  // nullptr: passed
  };
  const Case cases[] = {
      {{"SDR 6 TDI (15) TDO (3F);"}, "Masked Expectation: 3F, Masked Result: 15 Fail!  Bailing out...", "3F"},
      {{"SDR 6 TDI (3F) TDO (FF);"}, "Masked Expectation: 3F, Masked Result: 3F Pass!", nullptr},
      {{"SDR 9 TDI (0FF) TDO (1FF);"}, "Masked Expectation: 1FF, Masked Result: 0FF Fail!  Bailing out...", "1FF"},
      {{"SDR 8 TDI (5A) TDO (0A) MASK (0F);", "SDR 8 TDI (33);", "SDR 8 TDI (5A) TDO (FA);"},
       "Masked Expectation: 0A, Masked Result: 0A Pass!", nullptr},
  };
  for (const Case& c : cases) {
    interp.StartRun();
    rig.player.flags.StopRequested = kFalse;
    Lines lines;
    for (const std::string& statement : c.statements) lines = Run(statement);
    EXPECT_EQ(lines.back(), c.last_line) << c.statements.back();
    ASSERT_EQ(interp.LastFailedCheck().has_value(), c.failed_mask != nullptr) << c.statements.back();
    if (c.failed_mask != nullptr) {
      EXPECT_EQ(interp.LastFailedCheck()->mask, c.failed_mask);
    }
  }
}

TEST_F(ScanTest, LaterKeywordWinsAndLowerCaseWorks) {
  EXPECT_EQ(Run("SDR 8 TDI (01) TDI (02);")[1], "Sent: 02");
  EXPECT_EQ(Run("sdr 8 tdi (a5) tdo (a5) mask (ff);").back(), "Masked Expectation: A5, Masked Result: A5 Pass!");
}

TEST_F(ScanTest, AValueMaySpanBlanksAndTabs) {
  EXPECT_EQ(Run("SDR 32 TDI (1234 5678);")[1], "Sent: 12345678");
  EXPECT_EQ(Run("SDR 8 TDI\t( 0F );")[1], "Sent: 0F");
  EXPECT_EQ(Run("SDR 8 TDI(02)TDO(02)MASK(FF);").back(), "Masked Expectation: 02, Masked Result: 02 Pass!");
}

// A scan that never left the host has nothing to compare: no "Got", no
// "Pass!", and the run ends.
TEST_F(ScanTest, AScanThatWasNeverClockedIsNeitherReportedNorCompared) {
  rig.player.adapter.PortSetupValid = kFalse;  // the shifter refuses
  EXPECT_EQ(Run("SDR 16 TDI (0000) TDO (0000) MASK (FFFF);"), Lines{});
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(interp.ChecksMade(), 0U);
  EXPECT_EQ(rig.window.messages, (Lines{adapter::kMsgPortSetup}));
}

TEST_F(ScanTest, EndStatesComeFromEndirAndEnddr) {
  Run("ENDIR IRPAUSE;");
  Run("SIR 8 TDI (01);");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IRPAUSE);
  Run("SDR 8 TDI (01);");
  EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
}

TEST_F(ScanTest, MalformedScansAreOneClearLineAndSendNothing) {
  struct Case {
    const char* statement;
    const char* line;
  };
  const Case cases[] = {
      {"SDR 8 TDI;", "Uh Oh, TDI has no value in parentheses.  Bailing Out"},
      {"SDR 8 MASK 0F;", "Uh Oh, MASK has no value in parentheses.  Bailing Out"},
      {"SDR 8 TDO (0F;", "Uh Oh, the value of TDO has a '(' without its ')'.  Bailing Out"},
      {"SDR 8 TDI (0G);", "Uh Oh, the value of TDI is not a hexadecimal number: (0G).  Bailing Out"},
      {"SDR 8 SMASK ();", "Uh Oh, the value of SMASK is not a hexadecimal number: ().  Bailing Out"},
      {"SDR 8 TDI (00) TD0 (01);", "Uh Oh, I don't know what TD0 means in a SDR.  Bailing Out"},
      {"SIR 8 (01);", "Uh Oh, I don't know what (01) means in a SIR.  Bailing Out"},
      {"SIR;", "Uh Oh, SIR is missing its length.  Bailing Out"},
      {"SDR -1 TDI (FF);", "Uh Oh, SDR wants a length in bits, not -1.  Bailing Out"},
      {"SDR 8.5 TDI (FF);", "Uh Oh, SDR wants a length in bits, not 8.5.  Bailing Out"},
      {"SDR 8) TDI (FF);", "Uh Oh, SDR wants a length in bits, not 8).  Bailing Out"},
      {"SDR TDI (FF);", "Uh Oh, SDR wants a length in bits, not TDI.  Bailing Out"},
  };
  for (const Case& c : cases) {
    rig.player.flags.StopRequested = kFalse;
    rig.chip.ClearRecord();
    EXPECT_EQ(Run(c.statement), Lines{c.line}) << c.statement;
    EXPECT_TRUE(Stopped()) << c.statement;
    EXPECT_TRUE(rig.chip.calls.empty()) << c.statement;
  }
}

TEST_F(ScanTest, TooLongScansAreABailOutNotAnAllocation) {
  EXPECT_EQ(Run("SDR 4294967296 TDI (0);").back(),
            "Uh Oh, a scan of 4294967296 bits is more than I can shift.  Bailing Out");
  EXPECT_EQ(Run("SDR 100000000 TDI (0);").back(),
            "Uh Oh, a scan of 100000000 bits is more than I can shift.  Bailing Out");
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(rig.chip.CountCalls("FT_Read"), 0);
}

TEST_F(ScanTest, ZeroLengthGoesFromCaptureToExit1WithoutShifting) {
  for (const char* statement : {"SDR 0;", "SIR 0 TDI (FF);"}) {
    rig.chip.ClearRecord();
    EXPECT_EQ(Run(statement), (Lines{"lNumBytes= 0", "Sent: ", "Got: "}));
    // One clock per TAP step: from Run-Test/Idle through Select, Capture,
    // Exit1, Update, back to Idle; never Shift.
    const bool ir = statement[1] == 'I';
    EXPECT_EQ(rig.TmsAtClocks(), ir ? "110110" : "10110") << statement;
    EXPECT_EQ(rig.player.engine.CurrentTapState, jtag::IDLE);
  }
  EXPECT_FALSE(Stopped());
}

}  // namespace
}  // namespace tavrin::svf
