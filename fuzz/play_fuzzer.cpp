// SPDX-License-Identifier: Apache-2.0
// Plays arbitrary bytes as an SVF file through the fake chip, in the
// default reading and in the standard one: nothing may crash, hang, leak or
// allocate without bound.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "../bench/quiet_player.h"

namespace {

std::string FilePath() {
  static const std::string path = "/tmp/tavrin-fuzz-" + std::to_string(::getpid()) + ".svf";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = FilePath();
  // A new file each time: ext4 writes a file emptied by truncation out to
  // disk when it is closed, which would make this the slowest part of a run.
  (void)std::remove(path.c_str());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  for (const int standard : {0, 1}) {
    tavrin::bench::QuietPlayer<tavrin::FakeClock> rig;
    rig.window.standard_svf = standard;
    // Keep each input quick: shorter scans and RUNTEST clocks than a real
    // run allows.
    rig.player.interpreter.max_scan_bits = 1 << 16;
    rig.player.interpreter.max_wait_ms = 1000;
    (void)rig.Play(path, "fuzz.svf");
  }
  return 0;
}
