#include "adapter/usbsim/estimate.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>

#include "adapter/ftdi/ftdi_d2xx.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/sim_ftdi_api.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::adapter::usbsim {

namespace {

// The window in memory, noting the simulated time at which the run opens
// the file: everything before is start-up and set-up.
class EstimateWindow final : public MemoryWindow {
 public:
  explicit EstimateWindow(const SimClock& clock) : clock_(clock) {}

  void ReplaceLog(std::string_view text) override {
    if (!opened_ && text.rfind("Opening ", 0) == 0) {
      opened_ = true;
      opened_at_ = clock_.Now();
    }
    MemoryWindow::ReplaceLog(text);
  }

  [[nodiscard]] Ticks OpenedAt() const { return opened_ ? opened_at_ : clock_.Now(); }

 private:
  const SimClock& clock_;
  bool opened_ = false;
  Ticks opened_at_ = 0;
};

EstimateResult Play(const EstimateOptions& options) {
  const virt::BoardSpec board = options.board ? *options.board : virt::DefaultBoard();
  SimClock clock(options.profile);
  auto api = std::make_unique<SimFtdiApi>(board, options.profile, clock);
  SimFtdiApi& bus = *api;
  FtdiD2xx chip(std::move(api));
  EstimateWindow window(clock);
  player::Player player(window, chip, clock);

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
  std::vector<std::string> lines = window.LogLines();
  if (!lines.empty()) r.last_log_line = lines.back();
  if (options.keep_log) r.log = std::move(lines);
  return r;
}

EstimateResult Failure(const std::string& why) {
  EstimateResult r;
  r.outcome = svf::RunOutcome::FileError;
  r.messages.push_back(why);
  return r;
}

}  // namespace

EstimateResult Estimate(const EstimateOptions& options) {
  if (options.board) {
    const std::string problem = virt::ValidateBoard(*options.board);
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
  return "estimated on a real FT232R (" + profile_name + "): " + seconds + " s";
}

}  // namespace tavrin::adapter::usbsim
