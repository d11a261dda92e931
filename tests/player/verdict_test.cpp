// SPDX-License-Identifier: Apache-2.0
// The summary line's own rules: counts, a stop before the first line, long
// reasons, and how long values of a failed check are cut; and the facts a
// run leaves in the core.
#include <gtest/gtest.h>

#include <string>

#include "../support/rig.h"
#include "player/verdict.h"

namespace tavrin::player {
namespace {

TEST(SummaryLine, CountsStopsBeforeTheFirstLineAndLongReasons) {
  RunFacts f;
  f.file = "idcode.svf";
  f.statements = 1;
  f.checks_passed = 1;
  f.seconds = 12.345;
  EXPECT_EQ(SummaryLine(f), "idcode.svf: 1 statement, 1 check passed, 12.35 s");
  f.end = RunFacts::End::Operator;
  EXPECT_EQ(SummaryLine(f), "idcode.svf: stopped by the operator");
  f.end = RunFacts::End::Other;
  f.line = 9;
  f.reason = std::string(500, 'x');
  const std::string cut = SummaryLine(f);
  EXPECT_EQ(cut, "idcode.svf:9: " + std::string(200, 'x') + "...");
}

TEST(SummaryLine, LongValuesShowTheWindowWhereTheCheckFailed) {
  // 200 digits; the compared bits differ at digit 50 (from 1, left), and at
  // digit 11 under a zero mask, which does not count.
  std::string expected(200, 'a');
  std::string got = expected;
  std::string mask(200, 'f');
  got[10] = '1';
  mask[10] = '0';
  got[49] = 'b';
  EXPECT_EQ(DescribeFailedCheck({expected, got, mask}),
            "expected ..." + std::string(64, 'A') + "..., got ..." + std::string(8, 'A') + "B" + std::string(55, 'A') +
                "..., mask ..." + std::string(64, 'F') + "... (digits 42 to 105 of 200)");
  // Near the end the window stops at the last digit.
  got[49] = 'a';
  got[199] = 'b';
  EXPECT_EQ(DescribeFailedCheck({expected, got, mask}),
            "expected ..." + std::string(64, 'A') + ", got ..." + std::string(63, 'A') + "B, mask ..." +
                std::string(64, 'F') + " (digits 137 to 200 of 200)");
  EXPECT_EQ(DescribeFailedCheck({std::string(64, '1'), std::string(64, '2'), std::string(64, 'f')}),
            "expected " + std::string(64, '1') + ", got " + std::string(64, '2') + ", mask " + std::string(64, 'F'));
}

// The summary of a run made on the core, as the window builds it; nothing
// for a run that was refused.
TEST(FactsOfLastRun, SayHowTheRunEnded) {
  const std::pair<const char*, const char*> cases[] = {
      {"SIR 8 TDI (01);\r\nSDR 8 TDI (A5) TDO (A5);\r\n", "t.svf: 2 statements, 1 check passed, 1.50 s; on FT232R USB UART"},
      {"SIR 8 TDI (01);\r\nSDR 8 TDI (A5)\r\n TDO (5A) MASK (F0);\r\n",
       "t.svf:2: check failed: expected 5A, got A5, mask F0; on FT232R USB UART"},
      {"STATE IDLE;\r\nFROB 3;\r\n", "t.svf:2: I don't know how to do a FROB; on FT232R USB UART"},
      {"! a vendor's comment\r\nSIR 8 TDI (01);\r\n", "t.svf:1: I don't know how to do a !; on FT232R USB UART"},
      {"STATE IDLE;\r\nSIR 8", "t.svf:2: *"},
      {nullptr, nullptr},  // no file chosen
  };
  for (const auto& [text, want] : cases) {
    testing::Rig rig;
    rig.LoopTdiToTdo();
    rig.LoadOpenSetUp();
    if (text != nullptr) rig.Play(text);
    if (text == nullptr) rig.player.cmd_Process_Click();
    const auto facts = FactsOfLastRun(rig.player, "t.svf", 1.5, rig.window.messages, rig.window.LogLines());
    if (want == nullptr) {
      EXPECT_FALSE(facts.has_value());
      continue;
    }
    ASSERT_TRUE(facts.has_value()) << text;
    const std::string line = SummaryLine(*facts);
    EXPECT_EQ(facts->looks_standard, text[0] == '!') << text;
    const std::string_view w(want);
    if (w.back() == '*') {
      EXPECT_EQ(line.substr(0, w.size() - 1), w.substr(0, w.size() - 1)) << text;
      EXPECT_GT(line.size(), w.size()) << "a reason is given: " << line;
    } else {
      EXPECT_EQ(line, want) << text;
    }
  }
}

}  // namespace
}  // namespace tavrin::player
