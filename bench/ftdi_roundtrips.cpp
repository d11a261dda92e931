// SPDX-License-Identifier: Apache-2.0
// USB traffic per scan bit through the libftdi1 backend, over the fake USB
// bus: round trips and bytes, from which the TCK rate on a real chip follows.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "adapter/ftdi/fake_ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace {

using tavrin::adapter::ftdi::FakeFtdiApi;

void Measure(const char* what, const std::string& text, double bits) {
  const std::string path = "/tmp/tavrin-rt-" + std::to_string(::getpid()) + ".svf";
  std::ofstream(path, std::ios::binary) << text;
  auto api = std::make_unique<FakeFtdiApi>();
  FakeFtdiApi* bus = api.get();
  bus->AddChip();
  tavrin::adapter::FtdiD2xx chip(std::move(api));
  tavrin::MemoryWindow window;
  tavrin::FakeClock clock;
  tavrin::player::Player player(window, chip, clock);
  player.Form_Load();
  player.cmd_OpenInterface_Click();
  player.cmd_FTSetup_Click();
  const auto before = bus->TotalTransfers();
  window.single_step = 0;
  window.selected_file = "rt.svf";
  window.file_path = path;
  player.cmd_Process_Click();
  const auto after = bus->TotalTransfers();
  const double reads = after.reads - before.reads;
  const double writes = after.writes - before.writes;
  const double controls = after.controls - before.controls;
  const double round_trips = reads;  // each read waits for the chip's answer
  std::printf("%s: outcome %d, %.0f bits\n", what, static_cast<int>(player.driver.LastOutcome()), bits);
  std::printf("  bulk writes %.0f, bulk reads %.0f, control requests %.0f\n", writes, reads, controls);
  std::printf("  round trips per bit %.4f, bytes out per bit 3, bytes in per bit 3\n", round_trips / bits);
  // A full-speed chip answers a read no sooner than the latency timer (2 ms).
  const double seconds = round_trips * 0.002;
  std::printf("  at 2 ms per round trip: %.1f s, %.0f bits/s (fixed 25 ms wait: about 640 bits/s)\n", seconds,
              bits / seconds);
  std::remove(path.c_str());
}

}  // namespace

int main() {
  const int big = 1000000;
  Measure("SDR of 1,000,000 bits",
          "SDR " + std::to_string(big) + " TDI (" + std::string(big / 4, 'A') + ");\n", big);
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "SDR 32 TDI (12345678);\n";
  Measure("100,000 statements of SDR 32", many, 100000.0 * 32);
  return 0;
}
