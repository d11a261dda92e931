// SPDX-License-Identifier: Apache-2.0

#pragma once
// A player on the scriptable fake chip, with the window in memory and a
// simulated clock: the fixture of the core tests.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapter/fake/fake_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::testing {

struct Rig {
  MemoryWindow window;
  adapter::FakeD2xx chip;
  FakeClock clock;
  player::Player player{window, chip, clock};

  Rig() = default;
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;
  // The files written for the test go with it.
  ~Rig() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  // Answers every byte with TDO at the level of the TDI bit written in it,
  // so a scan captures exactly what it sends.
  void LoopTdiToTdo() {
    chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x40U : 0x00U; };
  }

  // The TCK clocks of everything written since the record was cleared, in
  // order: the TMS and TDI levels at each rising edge ("10" is TMS 1, TDI
  // 0). Hold bytes and the way the bytes were split into writes do not
  // show. The pins are the start-up ones: TCK 0x80, TMS 0x02, TDI 0x20.
  [[nodiscard]] std::vector<std::string> Clocks() const {
    std::vector<std::string> out;
    bool tck = false;
    for (const auto& w : chip.writes) {
      for (const std::uint8_t b : w) {
        const bool high = (b & 0x80U) != 0;
        if (high && !tck) out.push_back(std::string((b & 0x02U) != 0 ? "1" : "0") + ((b & 0x20U) != 0 ? "1" : "0"));
        tck = high;
      }
    }
    return out;
  }
  // The TMS levels of Clocks(), as one text ("11010").
  [[nodiscard]] std::string TmsAtClocks() const {
    std::string tms;
    for (const std::string& c : Clocks()) tms += c[0];
    return tms;
  }

  // Start-up, then Open and the bit-bang set-up, with the call log cleared.
  void LoadOpenSetUp() {
    player.Form_Load();
    player.cmd_OpenInterface_Click();
    player.cmd_FTSetup_Click();
    chip.ClearRecord();
    window.messages.clear();
  }

  // Writes text to a temporary .svf file and selects it as the chooser would.
  std::string SelectFile(const std::string& text, const std::string& name = "test.svf") {
    if (dir_.empty()) {
      static int rigs = 0;
      dir_ = std::filesystem::temp_directory_path() /
             ("tavrin-test-" + std::to_string(::getpid()) + "-" + std::to_string(++rigs));
      std::filesystem::create_directories(dir_);
    }
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    window.selected_file = name;
    window.file_path = path.string();
    return path.string();
  }

  // Plays the text as a file, without single-step.
  std::vector<std::string> Play(const std::string& text) {
    SelectFile(text);
    window.single_step = 0;
    player.cmd_Process_Click();
    return window.LogLines();
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace tavrin::testing
