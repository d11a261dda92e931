// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>

namespace tavrin {

// All waiting goes through this, so tests never really sleep.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(std::uint32_t ms) = 0;
  // Sleeps for a short while when polling; may be shorter than a millisecond.
  virtual void SleepBriefly() = 0;
  [[nodiscard]] virtual std::uint64_t NowMicros() const = 0;
};

// The computer's clock.
class SystemClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override;
  void SleepBriefly() override;
  [[nodiscard]] std::uint64_t NowMicros() const override;
};

// Simulated time: sleeping advances it at once.
class FakeClock final : public Clock {
 public:
  void SleepMs(std::uint32_t ms) override {
    now_us_ += static_cast<std::uint64_t>(ms) * 1000U;
    slept_ms_ += ms;
  }
  void SleepBriefly() override { now_us_ += 100; }
  [[nodiscard]] std::uint64_t NowMicros() const override { return now_us_; }
  [[nodiscard]] std::uint64_t SleptMs() const { return slept_ms_; }

 private:
  std::uint64_t now_us_ = 0;
  std::uint64_t slept_ms_ = 0;
};

}  // namespace tavrin
