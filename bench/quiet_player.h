// SPDX-License-Identifier: Apache-2.0

#pragma once
// A player on the fake chip with the window in memory, recording nothing:
// what the benchmarks and the fuzzer play files on.
#include <cstdint>
#include <cstring>
#include <string>

#include "adapter/fake/fake_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace tavrin::bench {

template <typename ClockType>
struct QuietPlayer {
  MemoryWindow window;
  adapter::FakeD2xx chip;
  ClockType clock;
  player::Player player{window, chip, clock};

  // loop_tdi_to_tdo: every byte is answered with TDO at the level of its
  // TDI bit (the default pins), so every check passes. Otherwise the chip
  // answers zeros.
  explicit QuietPlayer(bool loop_tdi_to_tdo = true) {
    chip.record_calls = false;
    chip.record_bytes = false;
    if (loop_tdi_to_tdo) {
      chip.answer_block = [](const std::uint8_t* written, std::uint8_t* answers, std::uint32_t size) {
        // TDI is D5, TDO D6: the answer is the TDI bit one place up, eight
        // bytes at a time (the bit stays inside its byte).
        constexpr std::uint64_t kTdi = 0x2020202020202020U;
        std::uint32_t i = 0;
        for (; i + 8 <= size; i += 8) {
          std::uint64_t word = 0;
          std::memcpy(&word, written + i, 8);
          word = (word & kTdi) << 1U;
          std::memcpy(answers + i, &word, 8);
        }
        for (; i < size; ++i) answers[i] = static_cast<std::uint8_t>((written[i] & 0x20U) << 1U);
      };
    }
  }

  // Start-up, then the file played without single-step.
  svf::RunOutcome Play(const std::string& path, const std::string& name) {
    player.Form_Load();
    window.single_step = 0;
    window.selected_file = name;
    window.file_path = path;
    player.cmd_Process_Click();
    return player.driver.LastOutcome();
  }
};

}  // namespace tavrin::bench
