// SPDX-License-Identifier: Apache-2.0
// Files played through the real-adapter backend on the simulated chip: the
// same results as on the virtual board, and the simulated time they take.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/estimate.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "board/board_spec.h"
#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::player {
namespace {

using namespace adapter::usbsim;  // NOLINT(google-build-using-namespace): the profiles and counts

using svf::RunOutcome;

// SVF files written for a test, removed with it.
class Files {
 public:
  Files() : dir_(std::filesystem::temp_directory_path() / ("tavrin-usbsim-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
  }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

 private:
  std::filesystem::path dir_;
};

constexpr const char* kIdcode =
    "SIR 8 TDI (01);\n"
    "SDR 32 TDI (00000000) TDO (f6e5f093) MASK (ffffffff);\n";

EstimateResult Play(const std::string& path, const HostProfile& profile = FrameProfile()) {
  EstimateOptions options;
  options.svf_path = path;
  options.profile = profile;
  return Estimate(options);
}

std::vector<std::string> GotLines(const std::vector<std::string>& log) {
  std::vector<std::string> got;
  for (const std::string& line : log) {
    if (line.rfind("Got: ", 0) == 0) got.push_back(line);
  }
  return got;
}

TEST(EstimateBoard, AScanReadsWhatTheVirtualBoardGives) {
  Files files;
  // IDCODE, then SCRATCH written and read back.
  const std::string text = std::string(kIdcode) +
                           "SIR 8 TDI (02);\n"
                           "SDR 16 TDI (a55a);\n"
                           "SDR 16 TDI (0000) TDO (a55a) MASK (ffff);\n";
  const std::string path = files.Write("scratch.svf", text);

  // The same file on the virtual board, for the log to compare with.
  board::VirtualD2xx board;
  MemoryWindow window;
  FakeClock clock;
  player::Player p(window, board, clock);
  p.Form_Load();
  window.single_step = 0;
  window.selected_file = "scratch.svf";
  window.file_path = path;
  p.cmd_Process_Click();
  ASSERT_EQ(p.driver.LastOutcome(), RunOutcome::Completed);
  const std::vector<std::string> expected = GotLines(window.LogLines());

  ASSERT_EQ(expected.size(), 5U);
  EXPECT_EQ(expected[1], "Got: F6E5F093");
  EXPECT_EQ(expected[4], "Got: A55A");

  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    EstimateOptions options;
    options.svf_path = path;
    options.profile = profile;
    options.keep_log = true;
    const EstimateResult r = Estimate(options);
    EXPECT_EQ(r.outcome, RunOutcome::Completed) << profile.name << ": " << r.last_log_line;
    EXPECT_EQ(GotLines(r.log), expected) << profile.name;
    EXPECT_EQ(r.statements, 5U);
    EXPECT_TRUE(r.messages.empty());
  }
  // A wrong IDCODE fails the run there too.
  const EstimateResult wrong = Play(files.Write("wrong.svf", "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (f6e5f092);\n"));
  EXPECT_EQ(wrong.outcome, RunOutcome::Failed);
  EXPECT_TRUE(wrong.log.empty());
}

TEST(EstimateBoard, ThePlayersPinsFollowTheBoardsWiringUnlessGiven) {
  Files files;
  auto board = board::ParseBoard(R"({"version": 1, "wiring": {"tck": 0, "tms": 2, "tdi": 3, "tdo": 4},
      "chain": [{"name": "CPLD", "ir_length": 8, "idcode": "0xf6e5f093", "instructions": {"IDCODE": "0x01"}}]})");
  ASSERT_TRUE(board.board.has_value()) << board.error;
  EstimateOptions options;
  options.svf_path = files.Write("id.svf", kIdcode);
  options.board = *board.board;
  EXPECT_EQ(Estimate(options).outcome, RunOutcome::Completed);
  // Pins given that miss the board's wiring: nothing answers the check.
  options.pins = EstimateOptions::Pins{};
  EXPECT_EQ(Estimate(options).outcome, RunOutcome::Failed);
  options.pins = EstimateOptions::Pins{0, 2, 3, 4};
  EXPECT_EQ(Estimate(options).outcome, RunOutcome::Completed);
}

TEST(EstimateTime, RuntestWaitsAreSimulatedTime) {
  Files files;
  const std::string plain = files.Write("plain.svf", kIdcode);
  const std::string waits = files.Write("waits.svf", std::string(kIdcode) + "RUNTEST 1000000 TCK;\n");
  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    const EstimateResult a = Play(plain, profile);
    const EstimateResult b = Play(waits, profile);
    ASSERT_EQ(a.outcome, RunOutcome::Completed);
    ASSERT_EQ(b.outcome, RunOutcome::Completed);
    // 1,000,000 ticks: 1001 ms, slept in slices, each a little longer than asked.
    EXPECT_GE(b.seconds - a.seconds, 1.001) << profile.name;
    EXPECT_LT(b.seconds - a.seconds, 1.010) << profile.name;
    EXPECT_GE(b.sleep_seconds, 1.001);
    EXPECT_EQ(a.sleep_seconds, 0.0);
  }
}

TEST(EstimateTime, TheFrameProfileIsSlowerAndTheTimeIsAccountedFor) {
  Files files;
  const auto sdrs = [](int n) {
    std::string text = "SIR 8 TDI (02);\n";
    for (int i = 0; i < n; ++i) text += "SDR 16 TDI (1234) TDO (0000) MASK (0000);\n";
    return text;
  };
  const std::string path = files.Write("many.svf", sdrs(50));
  const std::string one = files.Write("one.svf", sdrs(1));
  const EstimateResult frame = Play(path, FrameProfile());
  const EstimateResult fast = Play(path, FastProfile());
  ASSERT_EQ(frame.outcome, RunOutcome::Completed);
  ASSERT_EQ(fast.outcome, RunOutcome::Completed);
  EXPECT_GT(frame.seconds, 1.5 * fast.seconds);
  EXPECT_GT(frame.setup_seconds, 0.0);
  EXPECT_LT(frame.setup_seconds, frame.seconds);
  for (const EstimateResult* r : {&frame, &fast}) {
    // A transfer in flight overlaps others, and requests and host work do
    // not: none of them takes longer than the run.
    for (const double part : {r->control_seconds + r->host_seconds + r->sleep_seconds + r->poll_seconds,
                              r->out_seconds, r->in_seconds}) {
      EXPECT_GT(part, 0.0);
      EXPECT_LE(part, r->seconds + 1e-9);
    }
    // No statement costs a control request (a purge or a pin read): the
    // run makes as many as a run of one statement.
    EXPECT_EQ(r->usb.control_requests, Play(one, r == &frame ? FrameProfile() : FastProfile()).usb.control_requests);
    // Whole blocks of 372 bytes, about 3,200 bytes here: each one OUT
    // transfer and one IN transfer in flight with it. The other IN
    // transfers take status packets after the set-up's pause.
    EXPECT_LE(r->usb.bulk_out, 12U);
    EXPECT_LE(r->usb.bulk_in, r->usb.bulk_out + 3);
    EXPECT_EQ(r->usb.in_empty_packets + r->usb.bulk_out, r->usb.bulk_in);
    // The answers come in full packets: none waits for the latency timer,
    // but the set-up's one byte may.
    EXPECT_LE(r->usb.in_short_packets, 1U);
    EXPECT_LE(r->usb.latency_waits, 1U);
  }
}

// --- A stricter chip ---

constexpr int kLongScans = 4;
constexpr int kShortScans = 60;

// Long checked scans through BYPASS (TDO is TDI a bit later), then many
// short checked scans of SCRATCH, each of its own value.
std::string LongAndShortScans(int long_scans) {
  std::string text = std::string(kIdcode) + "SIR 8 TDI (ff);\n";
  for (int i = 0; i < long_scans; ++i) {
    text.append("SDR 4000 TDI (").append(1000, 'a').append(") TDO (").append(999, '5');
    text.append("4) MASK (").append(1000, 'f').append(");\n");
  }
  text += "SIR 8 TDI (02);\n";
  for (int i = 0; i < kShortScans; ++i) {
    const std::string v = std::to_string(1000 + i * 37);
    text.append("SDR 16 TDI (").append(v).append(");\nSDR 16 TDI (0000) TDO (").append(v).append(") MASK (ffff);\n");
  }
  return text;
}

EstimateResult PlayStrict(const std::string& path, HostProfile profile, ChipRules rules) {
  profile.chip = rules;
  EstimateOptions options;
  options.svf_path = path;
  options.profile = profile;
  options.keep_log = true;
  return Estimate(options);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

TEST(EstimateStrictChip, EachFifoRuleAloneGivesTheSameRunAndAnswers) {
  Files files;
  const std::string path = files.Write("strict.svf", LongAndShortScans(kLongScans));
  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    const EstimateResult plain = PlayStrict(path, profile, {});
    ASSERT_EQ(plain.outcome, RunOutcome::Completed) << plain.last_log_line;
    ASSERT_EQ(plain.checks_passed, 1U + kLongScans + kShortScans);
    for (const ChipRules& rules : {ChipRules{true, false, 0}, ChipRules{false, true, 0}}) {
      const EstimateResult r = PlayStrict(path, profile, rules);
      const std::string what = profile.name + (rules.whole_out_slots ? " whole OUT slots" : " status in RX");
      EXPECT_EQ(r.outcome, RunOutcome::Completed) << what << ": " << r.last_log_line;
      EXPECT_EQ(r.checks_passed, plain.checks_passed) << what;
      EXPECT_EQ(GotLines(r.log), GotLines(plain.log)) << what;
      EXPECT_EQ(r.usb.timeouts, 0U) << what;
      EXPECT_TRUE(r.messages.empty()) << what << ": " << Joined(r.messages);
    }
  }
}

// Under both rules a chip nobody reads takes only 320 bytes, less than a
// block. With the answers read while the block goes out, every block goes
// whole, long or short, in both profiles.
TEST(EstimateStrictChip, BothFifoRulesTogetherPlayLongAndShortBlocks) {
  Files files;
  const std::string path = files.Write("long.svf", LongAndShortScans(kLongScans));
  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    const EstimateResult plain = PlayStrict(path, profile, {});
    const EstimateResult r = PlayStrict(path, profile, {true, true, 0});
    EXPECT_EQ(r.outcome, RunOutcome::Completed) << profile.name << ": " << r.last_log_line;
    EXPECT_EQ(r.checks_passed, 1U + kLongScans + kShortScans) << profile.name;
    EXPECT_EQ(GotLines(r.log), GotLines(plain.log)) << profile.name;
    EXPECT_EQ(r.usb.timeouts, 0U) << profile.name;
    EXPECT_LT(r.seconds, 1.05 * plain.seconds) << profile.name;
  }
}

// Lost answers can never be made up: the run stops with a message once the
// read-back time-out has passed, whichever packet was lost.
struct DropCase {
  std::uint32_t every;
};

class EstimateDroppedIn : public ::testing::TestWithParam<DropCase> {};

TEST_P(EstimateDroppedIn, ALostInPacketFailsTheRunWithinTheReadBackTimeOut) {
  Files files;
  const std::string path = files.Write("drop.svf", LongAndShortScans(kLongScans));
  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    const EstimateResult plain = PlayStrict(path, profile, {});
    const EstimateResult r = PlayStrict(path, profile, {false, false, GetParam().every});
    const std::string what = profile.name + " every " + std::to_string(GetParam().every);
    EXPECT_EQ(r.outcome, RunOutcome::Failed) << what;
    EXPECT_GE(r.usb.in_lost, 1U) << what;
    EXPECT_LT(r.checks_passed, plain.checks_passed) << what;
    EXPECT_EQ(r.checks_failed, 0U) << what;  // no check judged on answers that did not come
    ASSERT_EQ(r.messages.size(), 1U) << what;
    EXPECT_NE(r.messages[0].find("within 1000 ms"), std::string::npos) << what << ": " << r.messages[0];
    EXPECT_LT(r.seconds, plain.seconds + 1.1) << what;
    EXPECT_FALSE(r.left_in_flight) << what;
  }
}

// 1: a chip whose answers never come; 2: lost in the IDCODE's answers; 7:
// in the first long scan; 500: in a later one.
INSTANTIATE_TEST_SUITE_P(Every, EstimateDroppedIn, ::testing::Values(DropCase{1}, DropCase{2}, DropCase{7}, DropCase{500}));

// Break, at any block of a run of long and short checked scans: the run
// stops there, and nothing is left in flight; without it, nothing is either.
TEST(EstimateBreak, BreakStopsTheRunWithNothingLeftInFlight) {
  Files files;
  const std::string path = files.Write("break.svf", LongAndShortScans(kLongScans));
  for (const HostProfile& profile : {FrameProfile(), FastProfile()}) {
    const EstimateResult whole = PlayStrict(path, profile, {});
    EXPECT_FALSE(whole.left_in_flight) << profile.name;
    for (const int at : {1, 3, 12, 40}) {
      EstimateOptions options;
      options.svf_path = path;
      options.profile = profile;
      int asked = 0;
      options.stop = [&asked, at] { return ++asked == at; };
      const EstimateResult r = Estimate(options);
      const std::string what = profile.name + " at " + std::to_string(at);
      EXPECT_TRUE(r.stopped) << what;
      EXPECT_EQ(r.outcome, RunOutcome::Failed) << what;
      EXPECT_LT(r.checks_passed, whole.checks_passed) << what;
      EXPECT_EQ(r.checks_failed, 0U) << what;
      EXPECT_FALSE(r.left_in_flight) << what;
    }
  }
}

TEST(EstimateFailures, AMissingFileOrAnUnusableBoardComesBackAsAnOutcome) {
  const EstimateResult missing = Play("/nonexistent/folder/none.svf");
  EXPECT_EQ(missing.outcome, RunOutcome::FileError);
  ASSERT_FALSE(missing.messages.empty());
  EXPECT_NE(missing.messages[0].find("none.svf"), std::string::npos);

  EstimateOptions options;
  options.svf_path = "x.svf";
  board::BoardSpec board = board::DefaultBoard();
  board.chain[0].ir_length = 1;
  options.board = board;
  const EstimateResult bad = Estimate(options);
  EXPECT_EQ(bad.outcome, RunOutcome::FileError);
  ASSERT_FALSE(bad.messages.empty());
  EXPECT_NE(bad.messages[0].find("board"), std::string::npos);
}

TEST(EstimateLineText, OneDecimalOfSeconds) {
  EstimateResult r;
  r.seconds = 12.345;
  EXPECT_EQ(EstimateLine(r, "frame"), "estimated on a real FT232R (frame): 12.3 s");
  r.seconds = 4.06;
  EXPECT_EQ(EstimateLine(r, "fast"), "estimated on a real FT232R (fast): 4.1 s");
  r.outcome = RunOutcome::Failed;
  r.stop_line = 40;
  EXPECT_EQ(EstimateLine(r, "fast"), "estimated on a real FT232R (fast), up to line 40: 4.1 s");
}

}  // namespace
}  // namespace tavrin::player
