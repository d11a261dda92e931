// SPDX-License-Identifier: Apache-2.0

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "jtag/tap.h"

namespace tavrin::jtag {
namespace {

// The IEEE 1149.1 state diagram, written out here on its own so that the
// tables built from their word lists are checked against it.
int Diagram(int s, int tms) {
  switch (s) {
    case RESET: return tms ? RESET : IDLE;
    case IDLE: return tms ? DRSELECT : IDLE;
    case DRSELECT: return tms ? IRSELECT : DRCAPTURE;
    case DRCAPTURE: return tms ? DREXIT1 : DRSHIFT;
    case DRSHIFT: return tms ? DREXIT1 : DRSHIFT;
    case DREXIT1: return tms ? DRUPDATE : DRPAUSE;
    case DRPAUSE: return tms ? DREXIT2 : DRPAUSE;
    case DREXIT2: return tms ? DRUPDATE : DRSHIFT;
    case DRUPDATE: return tms ? DRSELECT : IDLE;
    case IRSELECT: return tms ? RESET : IRCAPTURE;
    case IRCAPTURE: return tms ? IREXIT1 : IRSHIFT;
    case IRSHIFT: return tms ? IREXIT1 : IRSHIFT;
    case IREXIT1: return tms ? IRUPDATE : IRPAUSE;
    case IRPAUSE: return tms ? IREXIT2 : IRPAUSE;
    case IREXIT2: return tms ? IRUPDATE : IRSHIFT;
    case IRUPDATE: return tms ? DRSELECT : IDLE;
    default: return -1;
  }
}

// Shortest distances in the diagram, by breadth-first search.
std::vector<std::vector<int>> Distances() {
  std::vector<std::vector<int>> d(16, std::vector<int>(16, -1));
  for (int from = 0; from < 16; ++from) {
    std::deque<int> q{from};
    d[from][from] = 0;
    while (!q.empty()) {
      const int s = q.front();
      q.pop_front();
      for (int tms = 0; tms < 2; ++tms) {
        const int n = Diagram(s, tms);
        if (d[from][n] < 0) {
          d[from][n] = d[from][s] + 1;
          q.push_back(n);
        }
      }
    }
  }
  return d;
}

class TapTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildTapTables(t); }
  // The TMS levels of the walk the tables give from one state to another.
  std::vector<int> Walk(int from, int to) {
    std::vector<int> tms;
    for (int s = from; s != to && tms.size() < 20;) {
      const int level = t.TmsPathTable[s][to];
      tms.push_back(level);
      s = t.NextStateTable[s][level];
    }
    return tms;
  }
  TapTables t;
};

TEST_F(TapTablesTest, NextStateTableIsTheStateDiagram) {
  for (int s = 0; s < 16; ++s) {
    for (int tms = 0; tms < 2; ++tms) EXPECT_EQ(t.NextStateTable[s][tms], Diagram(s, tms)) << s << "," << tms;
  }
  EXPECT_EQ(t.NextStateTable[RESET][1], RESET);
  EXPECT_EQ(t.NextStateTable[RESET][0], IDLE);
}

TEST_F(TapTablesTest, EveryWalkIsAShortestPathOfAtMostEightClocks) {
  const auto d = Distances();
  int eight = 0;
  for (int c = 0; c < 16; ++c) {
    for (int target = 0; target < 16; ++target) {
      if (c == target) continue;
      const auto walk = Walk(c, target);
      EXPECT_EQ(static_cast<int>(walk.size()), d[c][target]) << kTapStateNames[c] << "->" << kTapStateNames[target];
      EXPECT_LE(walk.size(), 8U);
      if (walk.size() == 8) {
        ++eight;
        EXPECT_EQ(target, IREXIT2);
      }
    }
  }
  EXPECT_EQ(eight, 3);  // from DRCAPTURE, DRSHIFT and DRPAUSE
}

TEST_F(TapTablesTest, KnownWalksAndTheResetColumn) {
  EXPECT_EQ(Walk(DRSHIFT, IDLE), (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(Walk(IDLE, IRSHIFT), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(Walk(DRPAUSE, DRSHIFT), (std::vector<int>{1, 0}));
  for (int s = 0; s < 16; ++s) EXPECT_EQ(t.TmsPathTable[s][RESET], 1) << s;
  // The diagonal, never consulted: 1 for RESET, 0 elsewhere.
  for (int s = 0; s < 16; ++s) EXPECT_EQ(t.TmsPathTable[s][s], s == RESET ? 1 : 0) << s;
}

TEST(TapStateFromName, ExactUpperCaseNamesOnly) {
  EXPECT_EQ(TapStateFromName("DRSHIFT"), DRSHIFT);
  EXPECT_EQ(TapStateFromName("IRUPDATE"), IRUPDATE);
  EXPECT_EQ(TapStateFromName("RESET"), RESET);
  EXPECT_FALSE(TapStateFromName("drshift"));
  EXPECT_FALSE(TapStateFromName("DRSHIFT "));
  EXPECT_FALSE(TapStateFromName("Shift-DR"));
  EXPECT_FALSE(TapStateFromName(""));
  // Every state by its own name, and names one letter off none.
  for (int s = 0; s < kTapStateCount; ++s) EXPECT_EQ(TapStateFromName(kTapStateNames[s]), s) << kTapStateNames[s];
  for (const char* near : {"DREXIT3", "IREXIT", "DRSHIF", "IRSELECTS", "DRPAUSED", "RESETS", "IDL", "XRSHIFT", "DRXHIFT"}) {
    EXPECT_FALSE(TapStateFromName(near)) << near;
  }
}

}  // namespace
}  // namespace tavrin::jtag
