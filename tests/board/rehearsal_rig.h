// SPDX-License-Identifier: Apache-2.0

#pragma once
// A vendor file played into modelled parts on the virtual board, in
// simulated time, through the player as the operator runs it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board/board_state.h"
#include "board/models/catalogue.h"
#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"
#include "player/verdict.h"

namespace tavrin::board {

inline BoardSpec BoardOf(const std::vector<ModelChoice>& parts) {
  BoardSpec b;
  for (const auto& p : parts) b.chain.push_back(ModelledDevice(p));
  return b;
}

struct Rehearsal {
  explicit Rehearsal(const std::vector<ModelChoice>& parts) : chip(BoardOf(parts)) { chip.SetClock(&clock); }
  explicit Rehearsal(const ModelChoice& part) : Rehearsal(std::vector<ModelChoice>{part}) {}

  struct Result {
    player::RunFacts facts;
    std::vector<std::string> log;
    std::vector<std::string> report;
    [[nodiscard]] bool Passed() const { return facts.end == player::RunFacts::End::Completed; }
    // The line of the file where the run stopped.
    [[nodiscard]] std::uint64_t Line() const { return facts.line; }
  };

  Result Play(const std::string& path, bool standard) {
    if (!loaded) player.Form_Load();
    loaded = true;
    window.selected_file = std::filesystem::path(path).filename().string();
    window.file_path = path;
    window.single_step = 0;
    window.standard_svf = standard ? 1 : 0;
    window.log.clear();
    window.messages.clear();
    player.cmd_Process_Click();
    Result r;
    r.log = window.LogLines();
    r.facts = player::FactsOfLastRun(player, path, 0, window.messages, r.log).value_or(player::RunFacts{});
    r.report = EndRehearsal(chip.Chain()).report;
    return r;
  }

  // The file's text with `edit` applied, played from a temporary file.
  Result PlayText(const std::string& text, bool standard) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("tavrin-rehearsal-" + std::to_string(::getpid()) + "-" + std::to_string(++plays) + ".svf");
    std::ofstream(path, std::ios::binary) << text;
    Result r = Play(path.string(), standard);
    std::filesystem::remove(path);
    return r;
  }

  FakeClock clock;
  VirtualD2xx chip;
  MemoryWindow window;
  player::Player player{window, chip, clock};
  bool loaded = false;
  int plays = 0;
};

inline std::string CorpusFile(const std::string& name) { return std::string(TAVRIN_CORPUS_DIR) + "/" + name; }

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tavrin::board
