// SPDX-License-Identifier: Apache-2.0

#include "common/ordered_log.h"

#include <gtest/gtest.h>

#include "common/memory_window.h"

namespace tavrin {
namespace {

using Lines = std::vector<std::string>;

struct OrderedLogTest : ::testing::Test {
  OrderedLogTest() { window.log.clear(); }
  MemoryWindow window;
  OrderedLog log{window};
};

TEST_F(OrderedLogTest, LinesWaitBehindAReservedPlaceUntilItIsFilled) {
  log.AppendLog("> SDR 8 TDI (01);");
  const OrderedLog::Slot first = log.Reserve();
  log.AppendLog("> SDR 8 TDI (02);");
  const OrderedLog::Slot second = log.Reserve();
  log.AppendLog("> STATE IDLE;");
  EXPECT_EQ(window.LogLines(), Lines{"> SDR 8 TDI (01);"});
  EXPECT_TRUE(log.Waiting());

  // The second answer alone releases nothing: the first is still owed.
  log.Fill(second, {{"Got: 02"}});
  EXPECT_EQ(window.LogLines(), Lines{"> SDR 8 TDI (01);"});
  log.Fill(first, {{"Masked Expectation: 01, Masked Result: 01", true}, {" Pass!"}});
  EXPECT_EQ(window.LogLines(), (Lines{"> SDR 8 TDI (01);", "Masked Expectation: 01, Masked Result: 01 Pass!",
                                      "> SDR 8 TDI (02);", "Got: 02", "> STATE IDLE;"}));
  EXPECT_FALSE(log.Waiting());

  // Filled twice, or never reserved: nothing happens.
  log.Fill(first, {{"again"}});
  log.Fill(99, {{"unknown"}});
  log.AppendLog("straight through");
  EXPECT_EQ(window.LogLines().back(), "straight through");
  EXPECT_EQ(window.LogLines().size(), 6U);
}

TEST_F(OrderedLogTest, AMessageLetsThePlacesBeFilledFirst) {
  const OrderedLog::Slot slot = log.Reserve();
  log.AppendLog("Uh Oh, something.  Bailing Out");
  int settles = 0;
  log.settle = [&] {
    ++settles;
    log.Fill(slot, {{"Got: 5A"}});
    log.ShowMessage("from inside the settling");  // no second settle
  };
  log.ShowMessage("Uh Oh, something.  Bailing Out");
  EXPECT_EQ(settles, 1);
  EXPECT_EQ(window.LogLines(), (Lines{"Got: 5A", "Uh Oh, something.  Bailing Out"}));
  EXPECT_EQ(window.messages, (Lines{"from inside the settling", "Uh Oh, something.  Bailing Out"}));
}

TEST_F(OrderedLogTest, APlaceTheSettleCannotFillKeepsItsLinesUntilItIs) {
  // Asked from inside a scan, the engine cannot finish it: the message
  // comes now, and the scan's lines and those behind them when it ends.
  const OrderedLog::Slot slot = log.Reserve();
  log.AppendLog("> TRST OFF;");
  log.settle = [] {};
  log.ShowMessage("A file is being processed already.  Press Break to stop it.");
  EXPECT_EQ(window.messages.size(), 1U);
  EXPECT_TRUE(log.Waiting());
  EXPECT_TRUE(window.LogLines().empty());
  log.Fill(slot, {{"Got: 00"}});
  EXPECT_EQ(window.LogLines(), (Lines{"Got: 00", "> TRST OFF;"}));
}

TEST_F(OrderedLogTest, ManyHeldLinesMakeThePlacesBeFilled) {
  // A scan, then a long comment block that clocks nothing: the lines are
  // not held without bound.
  const OrderedLog::Slot slot = log.Reserve();
  int settles = 0;
  log.settle = [&] {
    ++settles;
    log.Fill(slot, {{"Got: 00"}});
  };
  for (std::size_t i = 0; i < OrderedLog::kMaxHeldLines; ++i) log.AppendLog("> // comment");
  EXPECT_EQ(settles, 0);
  EXPECT_EQ(window.LogLines().size(), 0U);
  log.AppendLog("> // one more");
  EXPECT_EQ(settles, 1);
  EXPECT_FALSE(log.Waiting());
  EXPECT_EQ(window.LogLines().size(), OrderedLog::kMaxHeldLines + 2);
  EXPECT_EQ(window.LogLines().front(), "Got: 00");
}

}  // namespace
}  // namespace tavrin
