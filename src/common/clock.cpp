// SPDX-License-Identifier: Apache-2.0

#include "common/clock.h"

#include <chrono>
#include <thread>

namespace tavrin {

void SystemClock::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemClock::SleepBriefly() {
  std::this_thread::sleep_for(std::chrono::microseconds(200));
}

std::uint64_t SystemClock::NowMicros() const {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

}  // namespace tavrin
