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
  std::string problem;          // empty when the chain was read
};

// The longest chain read, in devices and in instruction register bits.
inline constexpr std::size_t kMaxChainDevices = 64;
inline constexpr std::uint32_t kMaxChainIrBits = 1024;

// Resets the chain and reads it: every device's IDCODE (or BYPASS) from the
// data registers, and the total instruction register length from a scan of
// zeros then ones. Leaves the TAP in Test-Logic-Reset.
ChainReport DetectChain(Engine& engine);

// The maker of a device from its IDCODE's JEDEC manufacturer field, for the
// common ones; "unknown" otherwise.
std::string_view JedecManufacturer(std::uint32_t idcode);

}  // namespace tavrin::jtag
