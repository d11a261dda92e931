// SPDX-License-Identifier: Apache-2.0

#pragma once
// How long a file would take on a real USB FT232R: the file played by the
// player through the real-adapter backend (FtdiD2xx) on the simulated chip,
// in simulated time.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adapter/usbsim/timing.h"
#include "adapter/usbsim/usb_chip.h"
#include "board/board_spec.h"
#include "common/window.h"
#include "svf/run_driver.h"

namespace tavrin::player {

struct EstimateOptions {
  std::string svf_path;
  adapter::usbsim::HostProfile profile = adapter::usbsim::FrameProfile();
  // The board on the chip's pins; none: the built-in board.
  std::optional<board::BoardSpec> board;
  // The player's pins (0 to 7 for D0 to D7); none: as the board is wired.
  struct Pins {
    int tck = 7;
    int tms = 1;
    int tdi = 5;
    int tdo = 6;
  };
  std::optional<Pins> pins;
  // The standard SVF reading instead of the player's own.
  bool standard_reading = false;
  // The rate as typed into "Baud Register"; empty: "Max CLK".
  std::string rate;
  // Hand back the run's whole log (it may be large).
  bool keep_log = false;
  // Where the run's log and message boxes go as they come, instead of being
  // kept (keep_log then keeps nothing); its event passes run with the run's.
  Window* echo = nullptr;
  // Asked at every event pass and log line of the run: true breaks the run
  // there, as the Break button does.
  std::function<bool()> stop;
  // The board's name in the log's "Adapter:" line; empty: "built-in board".
  std::string board_name;
  // A check the board does not meet stops the run, as it stops a real one;
  // false: it is counted and the run goes on to the end of the file.
  bool stop_on_failed_check = true;
  // Modelled parts start with the flash kept in this file (it is read, never
  // written); empty: as the board chooses.
  std::string board_state_file;
};

struct EstimateResult {
  svf::RunOutcome outcome = svf::RunOutcome::NotRun;
  // Simulated seconds from start-up (finding the adapter) to the end of the
  // run, and of them the start-up and set-up before the first statement.
  double seconds = 0;
  double setup_seconds = 0;
  // Where the time went: USB requests by kind (each from the call to its
  // result), the player's sleeps (RUNTEST waits; polls for answers).
  double control_seconds = 0;
  double out_seconds = 0;
  double in_seconds = 0;
  double latency_seconds = 0;  // of in_seconds: waiting for the latency timer
  double host_seconds = 0;     // listing and opening, besides their requests
  double sleep_seconds = 0;
  double poll_seconds = 0;
  std::uint64_t sleeps = 0;
  std::uint64_t polls = 0;
  adapter::usbsim::UsbStats usb;  // counts over the whole run
  std::uint64_t statements = 0;
  // Where the run stopped (the file's line, 0 before the first), how many
  // checks passed and failed, and whether it was broken (stop, or Break).
  std::uint64_t stop_line = 0;
  std::uint64_t checks_passed = 0;
  std::uint64_t checks_failed = 0;
  bool stopped = false;
  // USB transfers were still in flight when the run had ended.
  bool left_in_flight = false;
  // The message boxes of the run (none when echoed), its log's last line
  // (at most kLastLineChars of it), and the whole log when asked for.
  std::vector<std::string> messages;
  std::string last_log_line;
  std::vector<std::string> log;
  // The modelled parts' accounts of the run; empty without models.
  std::vector<std::string> rehearsal;
  std::size_t refusals = 0;

  static constexpr std::size_t kLastLineChars = 1000;
};

// Plays the file once, start to end, as tavrin-play does with no other
// option (the window's defaults, no single-step). Never throws: a failure
// of its own comes back as outcome FileError with the reason in messages.
EstimateResult Estimate(const EstimateOptions& options);

// "estimated on a real FT232R (frame): 12.3 s"; for a run that ended early
// "estimated on a real FT232R (frame), up to line 40: 1.2 s".
std::string EstimateLine(const EstimateResult& result, const std::string& profile_name);

}  // namespace tavrin::player
