// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>

namespace tavrin {

// The program's flags are 16-bit integers; True is stored with all bits set.
using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;

inline constexpr Flag ToFlag(bool b) { return b ? kTrue : kFalse; }

// Colours as 24-bit numbers: red in the low byte, blue in the high byte.
inline constexpr std::uint32_t kColourRed = 255;
inline constexpr std::uint32_t kColourGreen = 65280;
inline constexpr std::uint32_t kColourBlue = 16711680;

// The window-level flags that a run and the operator share.
struct RunFlags {
  Flag StopRequested = kFalse;
  Flag AwaitingStep = kFalse;
  // The adapter is about to be closed under a running run (the window is
  // closing, or Close was clicked): scans end after their current chunk.
  bool Closing = false;
  // StopRequested was set by the operator (Break, Close Interface, closing
  // the window, Ctrl-C or a signal), not by a failure. Cleared when a run
  // starts.
  bool OperatorStop = false;
};

}  // namespace tavrin
