#include "jtag/detect.h"

#include <algorithm>

#include "common/numbers.h"

namespace tavrin::jtag {

namespace {

// Bit k of a captured text (hexadecimal, bit 0 in the last digit).
bool BitAt(const std::string& hex, std::size_t k) {
  if (k / 4 >= hex.size()) return false;
  const int v = HexDigitValue(hex[hex.size() - 1 - k / 4]);
  return v > 0 && ((static_cast<unsigned>(v) >> (k % 4)) & 1U) != 0;
}

// A scan of `zeros` zeros then `ones` ones, as hexadecimal text.
std::string ZerosThenOnes(std::size_t zeros, std::size_t ones) {
  return std::string(ones / 4, 'F') + std::string(zeros / 4, '0');
}

}  // namespace

ChainReport DetectChain(Engine& engine) {
  ChainReport report;
  // After Test-Logic-Reset every device has IDCODE (its bit 0 is 1) or
  // BYPASS (one 0 bit) in its data register. Ones shifted in behind them
  // come out as an IDCODE of all ones, which no device has: the end.
  engine.ResetTap();
  engine.MoveToState("DRSHIFT");
  const std::size_t dr_bits = 32 * (kMaxChainDevices + 1);
  const std::string dr = engine.ShiftBits("IDLE", static_cast<std::int32_t>(dr_bits), ZerosThenOnes(0, dr_bits));
  if (dr.size() * 4 < dr_bits) {
    report.problem = "the adapter did not answer";
    engine.ResetTap();
    (void)engine.Sync();
    return report;
  }
  std::vector<ChainDevice> from_tdo;
  std::size_t k = 0;
  bool ended = false;
  while (from_tdo.size() < kMaxChainDevices && k + 32 <= dr_bits) {
    if (!BitAt(dr, k)) {
      from_tdo.push_back(ChainDevice{});
      ++k;
      continue;
    }
    std::uint32_t id = 0;
    for (std::size_t b = 0; b < 32; ++b) id |= static_cast<std::uint32_t>(BitAt(dr, k + b)) << b;
    if (id == 0xFFFFFFFFU) {
      ended = true;
      break;
    }
    from_tdo.push_back(ChainDevice{id});
    k += 32;
  }
  if (!ended) {
    report.problem = from_tdo.empty() ? "TDO reads no device" : "TDO never showed the ones shifted in (stuck low?)";
  }
  report.devices.assign(from_tdo.rbegin(), from_tdo.rend());

  // The instruction registers capture ...01 each; zeros shifted in fill
  // them, and the first of the ones behind the zeros comes out after as
  // many bits as they hold together.
  engine.MoveToState("IRSHIFT");
  const std::string ir =
      engine.ShiftBits("IDLE", static_cast<std::int32_t>(2 * kMaxChainIrBits), ZerosThenOnes(kMaxChainIrBits, kMaxChainIrBits));
  for (std::size_t b = kMaxChainIrBits; b < 2 * kMaxChainIrBits; ++b) {
    if (BitAt(ir, b)) {
      report.ir_length = static_cast<std::uint32_t>(b - kMaxChainIrBits);
      break;
    }
  }
  engine.ResetTap();
  (void)engine.Sync();
  return report;
}

std::string_view JedecManufacturer(std::uint32_t idcode) {
  // Bits 11 to 8: the bank (continuation codes); bits 7 to 1: the code.
  struct Maker {
    std::uint32_t field;  // bits 11 to 1
    std::string_view name;
  };
  static constexpr Maker kMakers[] = {
      {0x001, "AMD"},
      {0x009, "Intel"},
      {0x015, "NXP (Philips)"},
      {0x017, "Texas Instruments"},
      {0x01F, "Atmel (Microchip)"},
      {0x020, "STMicroelectronics"},
      {0x021, "Lattice Semiconductor"},
      {0x049, "Xilinx (AMD)"},
      {0x06E, "Altera (Intel)"},
      {0x23B, "ARM"},
  };
  const std::uint32_t field = (idcode >> 1) & 0x7FFU;
  for (const Maker& m : kMakers) {
    if (m.field == field) return m.name;
  }
  return "unknown";
}

}  // namespace tavrin::jtag
