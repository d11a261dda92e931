// The summary line's own rules: counts, a stop before the first line, long
// reasons, and how long values of a failed check are cut.
#include <gtest/gtest.h>

#include <string>

#include "cli/summary.h"

namespace tavrin::cli {
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

}  // namespace
}  // namespace tavrin::cli
