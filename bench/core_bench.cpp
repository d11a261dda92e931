// SPDX-License-Identifier: Apache-2.0
// Playing speed through the fake chip that answers at once: the cost of the
// player itself, with its log.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "quiet_player.h"

namespace {

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = "/tmp/tavrin-bench-" + std::to_string(::getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string LargeScanFile(int bits) {
  const std::string hex(static_cast<std::size_t>((bits + 3) / 4), 'A');
  return "SDR " + std::to_string(bits) + " TDI (" + hex + ") TDO (" + hex + ") MASK (" +
         std::string(hex.size(), 'F') + ");\r\n";
}

std::string ManyStatementsFile(int count, const char* eol) {
  std::string text;
  text.reserve(static_cast<std::size_t>(count) * 64);
  for (int i = 0; i < count; ++i) text += std::string("SDR 32 TDI (12345678) TDO (12345678) MASK (FFFFFFFF);") + eol;
  return text;
}

// Plays a file once and checks it passed.
void Play(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    tavrin::bench::QuietPlayer<tavrin::FakeClock> rig;
    if (rig.Play(path, "bench.svf") != tavrin::svf::RunOutcome::Completed) {
      state.SkipWithError("the run did not complete");
      return;
    }
    benchmark::DoNotOptimize(rig.window.log.data());
    state.counters["log_bytes"] = static_cast<double>(rig.window.log.size());
    state.counters["statements"] = static_cast<double>(rig.player.driver.StatementsExecuted());
  }
}

void BM_Sdr1MBits(benchmark::State& state) {
  static const std::string path = WriteFile("large.svf", LargeScanFile(1000000));
  Play(state, path);
  state.counters["bits_per_s"] = benchmark::Counter(1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Argument 1: the line ends, 0 CR LF, 1 LF alone (as most Linux tools write).
void BM_Sdr32Statements(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool lf = state.range(1) != 0;
  const std::string path =
      WriteFile("many" + std::to_string(n) + (lf ? "lf" : "crlf") + ".svf", ManyStatementsFile(n, lf ? "\n" : "\r\n"));
  Play(state, path);
  state.counters["statements_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate);
}

// The log alone: appending stays proportional to what is appended.
void BM_LogAppend(benchmark::State& state) {
  const auto lines = state.range(0);
  for (auto _ : state) {
    tavrin::MemoryWindow window;
    for (int64_t i = 0; i < lines; ++i) window.AppendLog("Masked Expectation: 12345678, Masked Result: 12345678");
    benchmark::DoNotOptimize(window.log.data());
  }
  state.SetItemsProcessed(state.iterations() * lines);
}

BENCHMARK(BM_Sdr1MBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sdr32Statements)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogAppend)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

// Files named in TAVRIN_BENCH_FILES (separated by ':') are played as
// benchmarks too, "File/<name>": the same files another player is timed on.
int main(int argc, char** argv) {
  if (const char* files = std::getenv("TAVRIN_BENCH_FILES"); files != nullptr) {
    std::string list = files;
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t end = std::min(list.find(':', start), list.size());
      const std::string path = list.substr(start, end - start);
      if (!path.empty()) {
        benchmark::RegisterBenchmark(("File/" + path.substr(path.find_last_of('/') + 1)).c_str(),
                                     [path](benchmark::State& state) { Play(state, path); })
            ->Unit(benchmark::kMillisecond);
      }
      start = end + 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
