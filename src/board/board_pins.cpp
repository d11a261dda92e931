// SPDX-License-Identifier: Apache-2.0

#include "board/board_pins.h"

namespace tavrin::board {

namespace {

std::uint8_t PinMask(unsigned pin) { return static_cast<std::uint8_t>(1U << (pin & 7U)); }

}  // namespace

BoardPins::BoardPins(const BoardSpec& board)
    : chain_(board),
      tck_mask_(PinMask(board.wiring.tck)),
      tms_mask_(PinMask(board.wiring.tms)),
      tdi_mask_(PinMask(board.wiring.tdi)),
      tdo_mask_(PinMask(board.wiring.tdo)) {
  if (board.wiring.tck_pull_down) inputs_ = static_cast<std::uint8_t>(inputs_ & ~tck_mask_);
  board_tck_ = (inputs_ & tck_mask_) != 0;
  Settle();
}

void BoardPins::PowerCycle() {
  chain_.PowerOn();
  TakeTdo();
  board_tck_ = (pins_ & tck_mask_) != 0;
  Settle();
}

}  // namespace tavrin::board
