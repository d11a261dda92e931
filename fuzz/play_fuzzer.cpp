// Plays arbitrary bytes as an SVF file through the fake chip: nothing may
// crash, hang, leak or allocate without bound.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "adapter/fake/fake_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace {

std::string FilePath() {
  static const std::string path = "/tmp/tavrin-fuzz-" + std::to_string(::getpid()) + ".svf";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = FilePath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  tavrin::MemoryWindow window;
  tavrin::adapter::FakeD2xx chip;
  chip.record_calls = false;
  chip.record_bytes = false;
  chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x40U : 0x00U; };
  tavrin::FakeClock clock;
  tavrin::player::Player player(window, chip, clock);
  // Keep each input quick: shorter scans than a real run allows.
  player.interpreter.max_scan_bits = 1 << 16;
  player.Form_Load();
  window.single_step = 0;
  window.selected_file = "fuzz.svf";
  window.file_path = path;
  player.cmd_Process_Click();
  return 0;
}
