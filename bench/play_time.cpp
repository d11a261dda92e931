// SPDX-License-Identifier: Apache-2.0
// Plays SVF files once each on the fake chip that answers at once (TDO looped
// back from TDI) and prints the time of each play, measured around the play
// alone: not the program's start, not the player's start-up.
//
//   play_time [--default] FILE...
//
// One line per file: "<file> wall_ms=<ms> cpu_ms=<ms> outcome=<ok|failed> log_bytes=<n>".
// Files are read as standard SVF unless --default is given. The exit status
// is 1 when any file did not play to its end.
#include <ctime>

#include <chrono>
#include <cstdio>
#include <string>

#include "quiet_player.h"

namespace {

double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int standard = 1;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--default") {
      standard = 0;
      continue;
    }
    tavrin::bench::QuietPlayer<tavrin::FakeClock> rig;
    rig.player.Form_Load();
    rig.window.single_step = 0;
    rig.window.standard_svf = standard;
    rig.window.selected_file = "timed.svf";
    rig.window.file_path = arg;
    const double cpu0 = CpuMs();
    const auto wall0 = std::chrono::steady_clock::now();
    rig.player.cmd_Process_Click();
    const double wall_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu_ms = CpuMs() - cpu0;
    const bool ok = rig.player.driver.LastOutcome() == tavrin::svf::RunOutcome::Completed;
    if (!ok) status = 1;
    std::printf("%s wall_ms=%.3f cpu_ms=%.3f outcome=%s log_bytes=%zu\n", arg.c_str(), wall_ms, cpu_ms,
                ok ? "ok" : "failed", rig.window.log.size());
  }
  return status;
}
