// SPDX-License-Identifier: Apache-2.0

#pragma once
// Long chains for the virtual board, built in code.
#include <cstdint>
#include <string>

#include "board/board_spec.h"

namespace tavrin::testing {

// The default wiring with `count` devices of IR `ir_length`; with IDCODEs
// (each its own, the position in bits 12 and up) or all in BYPASS. More
// than a board file allows is built all the same.
inline board::BoardSpec ChainOf(std::size_t count, unsigned ir_length, bool idcodes = true) {
  board::BoardSpec board = board::DefaultBoard();
  board.chain.clear();
  for (std::size_t i = 0; i < count; ++i) {
    board::DeviceSpec d;
    d.name = "U" + std::to_string(i);
    d.ir_length = ir_length;
    if (idcodes) d.idcode = 0x00000093U | static_cast<std::uint32_t>(i << 12U);
    board.chain.push_back(d);
  }
  return board;
}

}  // namespace tavrin::testing
