// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>

#include "adapter/usbsim/timing.h"
#include "common/clock.h"

namespace tavrin::adapter::usbsim {

// The one clock of a simulated run: the player sleeps on it (RUNTEST waits,
// read-back polling) and the simulated USB chip advances it by what each of
// its calls costs. Sleeping moves time at once; nothing really waits.
class SimClock final : public Clock {
 public:
  explicit SimClock(const HostProfile& host) : brief_(host.sleep_brief), overshoot_(host.sleep_overshoot) {}

  void SleepMs(std::uint32_t ms) override {
    const Ticks t = ms * kTicksPerMs + overshoot_;
    now_ += t;
    slept_ += t;
    ++sleeps_;
  }
  void SleepBriefly() override {
    now_ += brief_;
    polled_ += brief_;
    ++polls_;
  }
  [[nodiscard]] std::uint64_t NowMicros() const override { return now_ / kTicksPerUs; }

  [[nodiscard]] Ticks Now() const { return now_; }
  // Moves time on to t; never back.
  void AdvanceTo(Ticks t) {
    if (t > now_) now_ = t;
  }

  // Time spent in SleepMs and in SleepBriefly, and how many calls of each.
  [[nodiscard]] Ticks Slept() const { return slept_; }
  [[nodiscard]] Ticks Polled() const { return polled_; }
  [[nodiscard]] std::uint64_t Sleeps() const { return sleeps_; }
  [[nodiscard]] std::uint64_t Polls() const { return polls_; }

 private:
  Ticks brief_;
  Ticks overshoot_;
  Ticks now_ = 0;
  Ticks slept_ = 0;
  Ticks polled_ = 0;
  std::uint64_t sleeps_ = 0;
  std::uint64_t polls_ = 0;
};

}  // namespace tavrin::adapter::usbsim
