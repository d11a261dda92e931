// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>

#include "board/board_spec.h"
#include "board/tap_chain.h"

namespace tavrin::board {

// The eight data pins of a simulated FT232R with a board wired to them: the
// chip's output latch shows on the pins it drives; the others read the
// board (TDO from the chain, TCK its pull, everything else pulled up). The
// board's JTAG chain is clocked by the edges of the TCK pin, whoever makes
// them. The virtual board and the simulated USB chip both drive a board
// through this, so a board answers both alike.
class BoardPins {
 public:
  explicit BoardPins(const BoardSpec& board);

  // Puts the byte in the output latch and lets the board react to the new levels.
  void Drive(std::uint8_t byte) {
    latch_ = byte;
    Settle();
  }
  // The pins the chip drives from now on (0: none, as in reset mode); the
  // latch keeps its byte.
  void SetDriveMask(std::uint8_t mask) {
    mask_ = mask;
    Settle();
  }
  // Power-on of the board: every TAP in Test-Logic-Reset, registers as
  // described. The levels the chip drives stay; no edge is seen.
  void PowerCycle();

  // The levels of the eight pins now.
  [[nodiscard]] std::uint8_t Levels() const { return pins_; }
  [[nodiscard]] std::uint8_t Latch() const { return latch_; }
  [[nodiscard]] std::uint8_t DriveMask() const { return mask_; }
  [[nodiscard]] bool Tck() const { return (pins_ & tck_mask_) != 0; }
  [[nodiscard]] bool Tms() const { return (pins_ & tms_mask_) != 0; }
  [[nodiscard]] bool Tdi() const { return (pins_ & tdi_mask_) != 0; }
  [[nodiscard]] bool Tdo() const { return (pins_ & tdo_mask_) != 0; }

  [[nodiscard]] TapChain& Chain() { return chain_; }
  [[nodiscard]] const TapChain& Chain() const { return chain_; }

 private:
  void Settle() {
    pins_ = static_cast<std::uint8_t>((latch_ & mask_) | (inputs_ & ~mask_));
    const bool tck = (pins_ & tck_mask_) != 0;
    if (tck == board_tck_) return;
    board_tck_ = tck;
    if (tck) {
      chain_.Rise((pins_ & tms_mask_) != 0, (pins_ & tdi_mask_) != 0);
    } else {
      chain_.Fall();
      TakeTdo();
      pins_ = static_cast<std::uint8_t>((latch_ & mask_) | (inputs_ & ~mask_));
    }
  }
  void TakeTdo() {
    inputs_ = chain_.Tdo() ? static_cast<std::uint8_t>(inputs_ | tdo_mask_)
                           : static_cast<std::uint8_t>(inputs_ & ~tdo_mask_);
  }

  TapChain chain_;
  std::uint8_t tck_mask_, tms_mask_, tdi_mask_, tdo_mask_;
  std::uint8_t inputs_ = 0xFF;  // levels of the pins the chip does not drive
  std::uint8_t latch_ = 0;
  std::uint8_t mask_ = 0;       // pins driven now
  std::uint8_t pins_ = 0xFF;
  bool board_tck_ = false;      // the TCK level the board last saw
};

}  // namespace tavrin::board
