// SPDX-License-Identifier: Apache-2.0
// The virtual board against the fake chip that answers at once, on the
// largest scan of the corpus (5,748,760 bits): what simulating every byte
// costs, end to end through tavrin-play.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "cli/play.h"
#include "quiet_player.h"

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
  std::string path = "/tmp/tavrin-bench-" + std::to_string(::getpid()) + "-largest.svf";
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
    tavrin::bench::QuietPlayer<tavrin::SystemClock> rig(false);
    if (rig.Play(path, "largest.svf") != tavrin::svf::RunOutcome::Completed) {
      state.SkipWithError("the run did not complete");
    }
  }
  state.counters["bits_per_s"] = benchmark::Counter(5748760, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LargestScanThroughTavrinPlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestScanThroughFakeChip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
