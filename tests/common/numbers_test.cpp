// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/memory_window.h"
#include "common/numbers.h"

namespace tavrin {
namespace {

struct ParseCase {
  const char* word;
  double value;
};

class ParseNumberTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseNumberTest, ReadsTheLeadingNumber) {
  EXPECT_DOUBLE_EQ(ParseNumber(GetParam().word), GetParam().value) << GetParam().word;
}

INSTANTIATE_TEST_SUITE_P(
    Words, ParseNumberTest,
    ::testing::Values(ParseCase{"32", 32}, ParseCase{"1.0E6", 1000000}, ParseCase{"8)", 8}, ParseCase{"IDLE", 0},
                      ParseCase{"(FF)", 0}, ParseCase{"&H10", 16}, ParseCase{"&hff", 255}, ParseCase{"1.0E-2", 0.01},
                      ParseCase{"1.00e+006", 1000000}, ParseCase{"9.00e+005", 900000}, ParseCase{"2D3", 2000},
                      ParseCase{"-12.5", -12.5}, ParseCase{"+7", 7}, ParseCase{".5", 0.5}, ParseCase{"5.", 5},
                      ParseCase{"1\t2", 12}, ParseCase{"150000 baud", 150000}, ParseCase{"fast", 0},
                      ParseCase{"", 0}, ParseCase{"-", 0}, ParseCase{".", 0}, ParseCase{"1E", 1},
                      ParseCase{"1E+", 1}, ParseCase{"0.0", 0}, ParseCase{"ABC", 0}, ParseCase{"12000TCK", 12000}));

TEST(ParseNumber, OutOfRangeValuesSaturateInsteadOfFailing) {
  EXPECT_TRUE(std::isinf(ParseNumber("1E999")));
  EXPECT_GT(ParseNumber("1E999"), 0);
  EXPECT_TRUE(std::isinf(ParseNumber("-1E999")));
  EXPECT_LT(ParseNumber("-1E999"), 0);
  EXPECT_EQ(ParseNumber("1E-999"), 0);
  EXPECT_TRUE(std::isinf(ParseNumber(std::string(5000, '9'))));
}

struct RoundCase {
  double in;
  double out;
};

class RoundHalfEvenTest : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) { EXPECT_EQ(RoundHalfEven(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Values, RoundHalfEvenTest,
                         ::testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2}, RoundCase{2.5, 2}, RoundCase{3.5, 4},
                                           RoundCase{2.4999, 2}, RoundCase{2.5001, 3}, RoundCase{-0.5, 0},
                                           RoundCase{-1.5, -2}, RoundCase{-2.5, -2}, RoundCase{-2.6, -3},
                                           RoundCase{7, 7}, RoundCase{1001, 1001}));

TEST(RoundToInt32, RefusesWhatDoesNotFit) {
  EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
  EXPECT_FALSE(RoundToInt32(2147483647.5));  // rounds to 2^31
  EXPECT_EQ(RoundToInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
  EXPECT_FALSE(RoundToInt32(-2147483649.0));
  EXPECT_FALSE(RoundToInt32(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(RoundToInt32(std::nan("")));
}

TEST(HexUpper, NoLeadingZerosAndAllDigitsOfNegativeStatuses) {
  EXPECT_EQ(HexUpper(0), "0");
  EXPECT_EQ(HexUpper(4), "4");
  EXPECT_EQ(HexUpper(0xABCU), "ABC");
  EXPECT_EQ(HexUpper(static_cast<std::uint32_t>(-1)), "FFFFFFFF");
}

TEST(MemoryWindowLog, AppendsInPlaceAndJoinsNoBreakWithTheNextLine) {
  MemoryWindow w;
  EXPECT_EQ(w.log, "Merrow Log...\r\n");
  w.AppendLog("");
  w.AppendLogNoBreak("A");
  w.AppendLog("B");
  EXPECT_EQ(w.log, "Merrow Log...\r\n\r\nAB\r\n");
  EXPECT_EQ(w.LogLines(), (std::vector<std::string>{"Merrow Log...", "", "AB"}));
  w.ReplaceLog("Opening x\r\n");
  EXPECT_EQ(w.LogLines(), (std::vector<std::string>{"Opening x"}));
}

}  // namespace
}  // namespace tavrin
