// SPDX-License-Identifier: Apache-2.0
// What the device models cost: the largest vendor programming file of the
// corpus (pistorm's EPM570 file: about 7,400 checks) played whole on the
// virtual board in simulated time, without models (the built-in board; every
// check after the first fails and the run goes on) and rehearsed on a model
// of its part. Both run in one process, interleaved by the benchmark
// library, so the ratio holds on a machine whose speed drifts.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "board/board_state.h"
#include "board/models/catalogue.h"
#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace {

using tavrin::board::BoardSpec;

const std::string kFile = std::string(TAVRIN_CORPUS_DIR) + "/pistorm__bitstream.svf";

std::uint64_t PlayOnce(const BoardSpec& board) {
  tavrin::FakeClock clock;
  tavrin::board::VirtualD2xx chip(board);
  chip.SetClock(&clock);
  tavrin::MemoryWindow window;
  tavrin::player::Player player(window, chip, clock);
  player.interpreter.stop_on_failed_check = false;
  player.Form_Load();
  window.selected_file = "pistorm__bitstream.svf";
  window.file_path = kFile;
  window.single_step = 0;
  window.standard_svf = 1;
  player.cmd_Process_Click();
  (void)tavrin::board::EndRehearsal(chip.Chain());
  return player.interpreter.ChecksPassed();
}

void Play(benchmark::State& state, const BoardSpec& board, bool modelled) {
  if (!std::filesystem::exists(kFile)) {
    state.SkipWithError("no corpus file");
    return;
  }
  std::uint64_t passed = 0;
  for (auto _ : state) passed = PlayOnce(board);
  state.counters["checks_passed"] = static_cast<double>(passed);
  if (modelled && passed < 7000) state.SkipWithError("the rehearsal did not pass its checks");
}

void BM_PlayWithoutModels(benchmark::State& state) { Play(state, tavrin::board::DefaultBoard(), false); }

void BM_RehearseOnItsModel(benchmark::State& state) {
  BoardSpec board;
  board.chain.push_back(tavrin::board::ModelledDevice({"EPM570", false}));
  Play(state, board, true);
}

BENCHMARK(BM_PlayWithoutModels)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(5);
BENCHMARK(BM_RehearseOnItsModel)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
