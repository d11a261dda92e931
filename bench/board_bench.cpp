// The virtual board against the fake chip that answers at once, on the
// largest scan of the corpus (5,748,760 bits): what simulating every byte
// costs, end to end through tavrin-play.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "adapter/fake/fake_d2xx.h"
#include "cli/play.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace {

// The statement of the corpus file that starts with `start`, as a file of its own.
std::string ExtractStatement(const std::string& corpus_file, const std::string& start) {
  std::ifstream in(std::string(TAVRIN_CORPUS_DIR) + "/" + corpus_file, std::ios::binary);
  std::string line;
  std::string text;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!inside && line.rfind(start, 0) == 0) inside = true;
    if (!inside) continue;
    text += line + "\n";
    if (!line.empty() && line.back() == ';') break;
  }
  const std::string path = "/tmp/tavrin-bench-" + std::to_string(::getpid()) + "-largest.svf";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

const std::string& LargestScan() {
  static const std::string path = ExtractStatement("openFPGALoader__test_sfl.svf", "SDR 5748760");
  return path;
}

void BM_LargestScanThroughTavrinPlay(benchmark::State& state) {
  const std::string& path = LargestScan();
  for (auto _ : state) {
    std::FILE* devnull = std::fopen("/dev/null", "w");
    const char* argv[] = {"tavrin-play", "--quiet", path.c_str()};
    const int status = tavrin::cli::PlayMain(3, argv, devnull, devnull, stdin);
    std::fclose(devnull);
    if (status != 0) state.SkipWithError("tavrin-play did not complete the file");
  }
  state.counters["bits_per_s"] = benchmark::Counter(5748760, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LargestScanThroughFakeChip(benchmark::State& state) {
  const std::string& path = LargestScan();
  for (auto _ : state) {
    tavrin::MemoryWindow window;
    tavrin::adapter::FakeD2xx chip;
    chip.record_calls = false;
    chip.record_bytes = false;
    tavrin::SystemClock clock;
    tavrin::player::Player player(window, chip, clock);
    player.Form_Load();
    window.single_step = 0;
    window.selected_file = "largest.svf";
    window.file_path = path;
    player.cmd_Process_Click();
    if (player.driver.LastOutcome() != tavrin::svf::RunOutcome::Completed) state.SkipWithError("the run did not complete");
  }
  state.counters["bits_per_s"] = benchmark::Counter(5748760, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LargestScanThroughTavrinPlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestScanThroughFakeChip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
