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
