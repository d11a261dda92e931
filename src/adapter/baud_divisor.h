// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <optional>

namespace tavrin::adapter {

// The largest divisor, in eighths: 0x3FFF and seven eighths.
inline constexpr std::uint32_t kMaxBaudEighths = 0x1FFFF;

// The FT232R's baud generator: 3 MHz divided by a divisor in eighths (of at
// most 0x1FFFF), the two smallest divisors standing for 3 and 2 MBaud.
struct BaudDivisor {
  std::uint16_t value = 0;  // the request's value: the whole divisor, the fraction code's two low bits on top
  std::uint16_t index = 0;  // the request's index: the fraction code's third bit
  std::uint64_t rate = 0;   // what the chip really runs at (cut to whole baud)
  // The divisor in eighths: the rate is exactly 24,000,000 / eighths (8 for
  // 3 MBaud, 12 for 2 MBaud).
  std::uint32_t eighths = 0;
};

// The divisor libftdi sets for a UART rate on an FT232R: the nearest one
// (3 MBaud and up give 3 MBaud, nothing lies between 2 and 1.5 MBaud).
// Nothing when the rate is 0 or the divisor misses it by more than 5 %:
// libftdi refuses such a rate ("Unsupported baudrate") and the vendor
// library gives FT_INVALID_BAUD_RATE, without a request to the chip.
std::optional<BaudDivisor> Ft232rDivisorFor(std::uint32_t rate);

}  // namespace tavrin::adapter
