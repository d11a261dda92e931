// SPDX-License-Identifier: Apache-2.0

#include "player/estimate.h"

#include "board/board_state.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>

#include "adapter/ftdi/ftdi_d2xx.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::player {

using adapter::FtdiD2xx;
using namespace adapter::usbsim;  // NOLINT(google-build-using-namespace): the simulated chip's clock and bus

namespace {

// The log's last line without the log: the text after the last CR LF, or
// when there is none the line before it, each cut to kLastLineChars.
class LastLine {
 public:
  void Add(std::string_view text) {
    for (;;) {
      const std::size_t lf = text.find('\n');
      const std::string_view part = text.substr(0, lf);
      // A CR LF may be split over two calls.
      const bool line_end = lf != std::string_view::npos && (lf > 0 ? part.back() == '\r' : cr_last_);
      Keep(part);
      if (lf == std::string_view::npos) return;
      if (line_end) {
        if (!current_.empty() && current_.back() == '\r') current_.pop_back();
        previous_.swap(current_);
        current_.clear();
        cr_last_ = false;
      } else {
        Keep("\n");
      }
      text.remove_prefix(lf + 1);
    }
  }
  void Clear() {
    current_.clear();
    previous_.clear();
    cr_last_ = false;
  }
  [[nodiscard]] const std::string& Text() const { return current_.empty() ? previous_ : current_; }

 private:
  void Keep(std::string_view text) {
    if (text.empty()) return;
    cr_last_ = text.back() == '\r';
    const std::size_t room = EstimateResult::kLastLineChars - std::min(current_.size(), EstimateResult::kLastLineChars);
    current_.append(text.substr(0, room));
  }
  std::string current_;
  std::string previous_;
  bool cr_last_ = false;
};

// The window in memory, noting the simulated time at which the run opens
// the file: everything before is start-up and set-up. The log is kept only
// when asked for; else it goes to the echo window, if any, and only its
// last line is remembered.
class EstimateWindow final : public MemoryWindow {
 public:
  EstimateWindow(const SimClock& clock, const EstimateOptions& options) : clock_(clock), options_(options) {}

  void AppendLog(std::string_view text) override {
    if (Kept()) {
      MemoryWindow::AppendLog(text);
    } else {
      last_.Add(text);
      last_.Add("\r\n");
      if (options_.echo != nullptr) options_.echo->AppendLog(text);
    }
    Poll();
  }

  void AppendLogNoBreak(std::string_view text) override {
    if (Kept()) {
      MemoryWindow::AppendLogNoBreak(text);
    } else {
      last_.Add(text);
      if (options_.echo != nullptr) options_.echo->AppendLogNoBreak(text);
    }
  }

  void ReplaceLog(std::string_view text) override {
    // The run's first text: its "Adapter:" line, then "Opening <path>".
    const bool opening = text.rfind("Opening ", 0) == 0 ||
                         (text.rfind("Resetting ", 0) != 0 && text.find("\r\nOpening ") != std::string_view::npos);
    if (!opened_ && opening) {
      opened_ = true;
      opened_at_ = clock_.Now();
    }
    if (Kept()) {
      MemoryWindow::ReplaceLog(text);
    } else {
      last_.Clear();
      last_.Add(text);
      if (options_.echo != nullptr) options_.echo->ReplaceLog(text);
    }
  }

  void ShowMessage(std::string_view text) override {
    if (options_.echo != nullptr) {
      options_.echo->ShowMessage(text);
    } else {
      MemoryWindow::ShowMessage(text);
    }
  }

  void ProcessPendingEvents() override {
    MemoryWindow::ProcessPendingEvents();
    if (options_.echo != nullptr) options_.echo->ProcessPendingEvents();
    Poll();
  }

  void ProcessPendingEventsNow() override {
    MemoryWindow::ProcessPendingEvents();
    if (options_.echo != nullptr) options_.echo->ProcessPendingEventsNow();
    Poll();
  }

  [[nodiscard]] Ticks OpenedAt() const { return opened_ ? opened_at_ : clock_.Now(); }

  [[nodiscard]] std::string LastLogLine() const {
    if (!Kept()) return last_.Text();
    std::vector<std::string> lines = LogLines();
    return lines.empty() ? std::string() : lines.back().substr(0, EstimateResult::kLastLineChars);
  }

  // Break, as the button does.
  std::function<void()> brk;

 private:
  [[nodiscard]] bool Kept() const { return options_.keep_log && options_.echo == nullptr; }
  void Poll() {
    if (options_.stop && brk && options_.stop()) brk();
  }

  const SimClock& clock_;
  const EstimateOptions& options_;
  bool opened_ = false;
  Ticks opened_at_ = 0;
  LastLine last_;
};

EstimateResult Failure(const std::string& why) {
  EstimateResult r;
  r.outcome = svf::RunOutcome::FileError;
  r.messages.push_back(why);
  return r;
}

EstimateResult Play(const EstimateOptions& options) {
  const board::BoardSpec board = options.board ? *options.board : board::DefaultBoard();
  SimClock clock(options.profile);
  auto api = std::make_unique<SimFtdiApi>(board, options.profile, clock);
  SimFtdiApi& bus = *api;
  if (!options.board_name.empty()) bus.board_name = options.board_name;
  board::TapChain& chain = bus.Chip().Pins().Chain();
  if (!options.board_state_file.empty()) {
    if (std::string e = board::LoadBoardState(chain, options.board_state_file); !e.empty()) return Failure(e);
  }
  FtdiD2xx chip(std::move(api));
  EstimateWindow window(clock, options);
  player::Player player(window, chip, clock);
  window.brk = [&player] { player.cmd_breakstep_Click(); };

  player.interpreter.stop_on_failed_check = options.stop_on_failed_check;
  player.Form_Load();
  // The pins, the rate, the reading; then the file, as tavrin-play applies
  // its options.
  EstimateOptions::Pins pins;
  if (options.pins) {
    pins = *options.pins;
  } else {
    pins = {static_cast<int>(board.wiring.tck), static_cast<int>(board.wiring.tms),
            static_cast<int>(board.wiring.tdi), static_cast<int>(board.wiring.tdo)};
  }
  window.SetPinListIndex(Signal::TCK, pins.tck);
  window.SetPinListIndex(Signal::TMS, pins.tms);
  window.SetPinListIndex(Signal::TDI, pins.tdi);
  window.SetPinListIndex(Signal::TDO, pins.tdo);
  if (!options.rate.empty()) {
    window.baud_text = options.rate;
    window.max_clk = 0;
  }
  window.standard_svf = options.standard_reading ? 1 : 0;
  window.single_step = 0;
  window.selected_file = std::filesystem::path(options.svf_path).filename().string();
  window.file_path = options.svf_path;
  player.cmd_Process_Click();

  EstimateResult r;
  r.outcome = player.driver.LastOutcome();
  r.statements = player.driver.StatementsExecuted();
  r.stop_line = player.driver.StopLine();
  r.checks_passed = player.interpreter.ChecksPassed();
  r.checks_failed = player.interpreter.ChecksMade() - r.checks_passed;
  r.stopped = player.driver.StoppedByOperator();
  r.left_in_flight = bus.Chip().OutInFlight() || bus.Chip().InInFlight() || bus.Chip().InEnded();
  r.seconds = Seconds(clock.Now());
  r.setup_seconds = Seconds(window.OpenedAt());
  r.usb = bus.Chip().Stats();
  r.control_seconds = Seconds(r.usb.control_time);
  r.out_seconds = Seconds(r.usb.out_time);
  r.in_seconds = Seconds(r.usb.in_time);
  r.latency_seconds = Seconds(r.usb.latency_time);
  r.host_seconds = Seconds(r.usb.host_time);
  r.sleep_seconds = Seconds(clock.Slept());
  r.poll_seconds = Seconds(clock.Polled());
  r.sleeps = clock.Sleeps();
  r.polls = clock.Polls();
  r.messages = window.messages;
  r.last_log_line = window.LastLogLine();
  if (options.keep_log && options.echo == nullptr) r.log = window.LogLines();
  auto rehearsed = board::EndRehearsal(chain);
  r.rehearsal = std::move(rehearsed.report);
  r.refusals = rehearsed.refusals;
  return r;
}

}  // namespace

EstimateResult Estimate(const EstimateOptions& options) {
  if (options.board) {
    const std::string problem = board::ValidateBoard(*options.board);
    if (!problem.empty()) return Failure("unusable board: " + problem);
  }
  try {
    return Play(options);
  } catch (const std::bad_alloc&) {
    return Failure("out of memory while estimating " + options.svf_path);
  } catch (const std::exception& e) {
    return Failure(std::string("the estimate failed: ") + e.what());
  }
}

std::string EstimateLine(const EstimateResult& result, const std::string& profile_name) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
  // A run that ended early gives the time of the part it played.
  const std::string part =
      result.outcome == svf::RunOutcome::Failed ? ", up to line " + std::to_string(result.stop_line) : std::string();
  return "estimated on a real FT232R (" + profile_name + ")" + part + ": " + seconds + " s";
}

}  // namespace tavrin::player
