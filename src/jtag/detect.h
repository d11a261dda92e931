// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jtag/engine.h"

namespace tavrin::jtag {

// What a reset leaves in each device's data register: its IDCODE, or none
// for a device that selects BYPASS.
struct ChainDevice {
  std::optional<std::uint32_t> idcode;
};

struct ChainReport {
  // From the device nearest TDI to the device nearest TDO, as board files
  // list them.
  std::vector<ChainDevice> devices;
  std::uint32_t ir_length = 0;  // of all devices together
  // Empty when the chain was read. Otherwise what went wrong; the devices
  // are those read before it (none when the data registers could not be
  // read), and ir_length is 0.
  std::string problem;
};

// The longest chain read, in devices and in instruction register bits.
inline constexpr std::size_t kMaxChainDevices = 64;
inline constexpr std::uint32_t kMaxChainIrBits = 4096;

// The bounds of one reading; a chain beyond them is reported as such. They
// can only be lowered: anything above the maximum counts as the maximum.
struct ChainLimits {
  std::size_t devices = kMaxChainDevices;
  std::uint32_t ir_bits = kMaxChainIrBits;
};

// Resets the chain and reads it: every device's IDCODE (or BYPASS) from the
// data registers, and the total instruction register length from a scan of
// ones then zeros. Leaves the TAP in Test-Logic-Reset.
ChainReport DetectChain(Engine& engine, const ChainLimits& limits = {});

// The maker of a device from its IDCODE's JEDEC manufacturer field, for the
// common ones; "unknown" otherwise.
std::string_view JedecManufacturer(std::uint32_t idcode);

}  // namespace tavrin::jtag
