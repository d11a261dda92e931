// SPDX-License-Identifier: Apache-2.0
// The work a run counts for its progress bar, and the time left.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/rig.h"
#include "svf/work.h"

namespace tavrin::svf {
namespace {

struct WorkCase {
  const char* name;
  bool standard;
  std::vector<std::string> before;  // statements counted first
  std::string statement;
  Work expected;
};

TEST(WorkCounter, CountsWhatEachStatementClocksAndWaits) {
  const std::string long_scan = "SDR 5704000 TDI (" + std::string(1426000, 'F') + ");";
  const WorkCase cases[] = {
      {"a scan's bits", false, {}, "SIR 8 TDI (01);", {1, 8, 0}},
      {"lower case, value joined", false, {}, "sdr 32 tdi(0)", {1, 32, 0}},
      {"a long scan is read by its length", false, {}, long_scan, {1, 5704000, 0}},
      {"no length", false, {}, "SDR TDI (0);", {1, 0, 0}},
      {"beyond the longest scan", false, {}, "SDR 99999999999;", {1, 0, 0}},
      {"other statements", false, {}, "STATE IDLE;", {1, 0, 0}},
      {"headers ignored by default", false, {"HIR 4;", "TIR 2;"}, "SIR 8;", {1, 8, 0}},
      {"headers and trailers, standard", true, {"HIR 4;", "TIR 2;", "HDR 3;"}, "SIR 8;", {1, 14, 0}},
      {"data padding is its own", true, {"HIR 4;", "HDR 3;", "TDR 1;"}, "SDR 8;", {1, 12, 0}},
      {"RUNTEST ticks wait 1 us each and 1 ms, in whole ms", false, {}, "RUNTEST 10 TCK;", {1, 0, 1000}},
      {"RUNTEST time", false, {}, "RUNTEST IDLE 100 TCK 0.5 SEC ENDSTATE IDLE;", {1, 0, 500000}},
      {"RUNTEST bounded as a wait", false, {}, "RUNTEST 3600 SEC;", {1, 0, 600000000}},
      {"RUNTEST clocks, standard", true, {}, "RUNTEST 1000 TCK;", {1, 1000, 0}},
      {"the time beyond the clocks", true, {}, "RUNTEST 1000 TCK 1E-1 SEC;", {1, 1000, 90000}},
      {"at the FREQUENCY", true, {"FREQUENCY 1E3 HZ;"}, "RUNTEST 1000 TCK;", {1, 1000, 990000}},
      {"SCK waits, clocks nothing", true, {}, "RUNTEST 2000000 SCK;", {1, 0, 2000000}},
      {"FREQUENCY ignored by default", false, {"FREQUENCY 1E3 HZ;"}, "RUNTEST 1000 TCK;", {1, 0, 2000}},
  };
  for (const WorkCase& c : cases) {
    WorkCounter counter(c.standard ? ReadingRules::Standard() : ReadingRules{});
    for (const std::string& s : c.before) (void)counter.Of(s);
    const Work got = counter.Of(c.statement);
    EXPECT_EQ(got.statements, c.expected.statements) << c.name;
    EXPECT_EQ(got.clocks, c.expected.clocks) << c.name;
    EXPECT_EQ(got.wait_us, c.expected.wait_us) << c.name;
  }
  EXPECT_EQ(WorkUnits({2, 100, 1'000'000}), 2 + 100 + kClocksPerWaitSecond);
}

TEST(WorkCounter, TimeLeftAtThePaceSoFar) {
  struct Case {
    const char* name;
    Work done, total;
    double active_seconds;
    double expected;  // < 0: none yet
  };
  const Case cases[] = {
      {"too early", {1, 500, 0}, {2, 1000, 0}, 1.9, -1},
      {"half the clocks in 10 s", {1, 500, 0}, {2, 1000, 0}, 10, 10},
      {"waits take their own time", {1, 0, 4'000'000}, {2, 0, 10'000'000}, 4, 6},
      {"statements at their pace", {1000, 0, 1'000'000}, {3000, 0, 2'000'000}, 3, 1 + 4},
      {"clocks at their pace, waits apart", {1, 500, 2'000'000}, {2, 1000, 3'000'000}, 7, 6},
      {"clocks left, none gone yet", {0, 0, 3'000'000}, {2, 1000, 5'000'000}, 3, -1},
      {"only statements left", {0, 0, 3'000'000}, {2, 0, 5'000'000}, 3, 2},
      {"all done", {2, 1000, 0}, {2, 1000, 0}, 9, 0},
  };
  for (const Case& c : cases) {
    const std::optional<double> left = SecondsLeft(c.done, c.total, c.active_seconds);
    if (c.expected < 0) {
      EXPECT_FALSE(left) << c.name;
    } else {
      ASSERT_TRUE(left) << c.name;
      EXPECT_NEAR(*left, c.expected, 0.02) << c.name;
    }
  }
  const std::pair<double, const char*> texts[] = {{0.2, "about 1 s left"},      {44.5, "about 45 s left"},
                                                  {180, "about 3 min left"},     {199.2, "about 3 min 20 s left"},
                                                  {7500, "about 2 h 5 min left"}, {7200, "about 2 h left"}};
  for (const auto& [seconds, text] : texts) EXPECT_EQ(TimeLeftText(seconds), text) << seconds;
}

// A file whose work is one big scan: the bar moves through the scan in
// proportion to its bits, not by lines, and a wait moves it with time.
TEST(WorkCounter, TheBarMovesThroughABigScanAndAWait) {
  testing::Rig rig;
  rig.LoadOpenSetUp();
  rig.LoopTdiToTdo();
  rig.SelectFile("SIR 8 TDI (01);\nSDR 100000 TDI (0);\nRUNTEST 1 SEC;\nSIR 8 TDI (01);\n");
  rig.window.single_step = 0;
  std::vector<int> seen;
  std::vector<std::uint64_t> at_us;
  rig.window.on_events = [&] {
    seen.push_back(rig.window.progress_value);
    at_us.push_back(rig.clock.NowMicros());
  };
  rig.player.cmd_Process_Click();
  ASSERT_EQ(rig.player.driver.LastOutcome(), RunOutcome::Completed);
  const int scan_from = 1 + 8;
  const int wait_from = scan_from + 1 + 100000;
  const int total = wait_from + 1 + 100000 + (1 + 8);
  EXPECT_EQ(rig.window.progress_max, total);
  EXPECT_EQ(rig.window.progress_value, total);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "the bar never goes back";
  std::size_t in_scan = 0;
  std::size_t in_wait = 0;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (seen[i] > scan_from && seen[i] < wait_from) ++in_scan;
    if (seen[i] > wait_from + 1 && seen[i] < wait_from + 100000) {
      ++in_wait;
      // A second of waiting weighs 100,000: the bar follows the clock.
      EXPECT_NEAR(seen[i] - wait_from, static_cast<double>(at_us[i] - at_us[0]) / 10, 2'000) << i;
    }
  }
  // 100,000 bits at 124 a block: hundreds of steps inside the scan.
  EXPECT_GT(in_scan, 500U);
  EXPECT_GT(in_wait, 20U);  // 20 ms slices of the second
  EXPECT_EQ(rig.window.time_left, "") << "cleared at the end of the run";
}

}  // namespace
}  // namespace tavrin::svf
