// SPDX-License-Identifier: Apache-2.0

#include "jtag/detect.h"

#include <algorithm>

#include "common/numbers.h"

namespace tavrin::jtag {

namespace {

constexpr const char* kCheckWiring = "; check the TDO pin, the cable and the board's power";

// Bit k of a captured text (hexadecimal, bit 0 in the last digit).
bool BitAt(const std::string& hex, std::size_t k) {
  if (k / 4 >= hex.size()) return false;
  const int v = HexDigitValue(hex[hex.size() - 1 - k / 4]);
  return v > 0 && ((static_cast<unsigned>(v) >> (k % 4)) & 1U) != 0;
}

// The 32 bits from bit k on, bit k lowest.
std::uint32_t WordAt(const std::string& hex, std::size_t k) {
  std::uint32_t word = 0;
  for (std::size_t b = 0; b < 32; ++b) word |= static_cast<std::uint32_t>(BitAt(hex, k + b)) << b;
  return word;
}

// A scan of `ones` ones then `zeros` zeros, in the order shifted, as
// hexadecimal text.
std::string OnesThenZeros(std::size_t ones, std::size_t zeros) {
  std::string hex((ones + zeros + 3) / 4, '0');
  for (std::size_t k = 0; k < ones; ++k) {
    char& digit = hex[hex.size() - 1 - k / 4];
    digit = HexDigitChar(static_cast<unsigned>(HexDigitValue(digit)) | (1U << (k % 4)));
  }
  return hex;
}

// Whether every one of the first `bits` bits is `level`.
bool AllAt(const std::string& hex, std::size_t bits, bool level) {
  for (std::size_t k = 0; k < bits; ++k) {
    if (BitAt(hex, k) != level) return false;
  }
  return true;
}

// What TDO showed in a scan that found nothing: empty when it moved.
std::string Stuck(const std::string& hex, std::size_t bits) {
  if (AllAt(hex, bits, false)) return "TDO stayed low through every bit";
  if (AllAt(hex, bits, true)) return "TDO stayed high through every bit";
  return {};
}

// Shifts `bits` bits from the shift state the TAP is in, back to Run-Test/Idle;
// false when the adapter failed or the run was stopped before the last answer.
bool Scan(Engine& engine, std::size_t bits, const std::string& tdi, std::string& captured) {
  captured = engine.ShiftBits("IDLE", static_cast<std::int32_t>(bits), tdi);
  return !engine.LastScanCut() && captured.size() * 4 >= bits;
}

ChainReport Finish(Engine& engine, ChainReport report) {
  engine.ResetTap();
  (void)engine.Sync();
  return report;
}

}  // namespace

ChainReport DetectChain(Engine& engine, const ChainLimits& limits) {
  const std::size_t max_devices = std::min(limits.devices, kMaxChainDevices);
  const std::size_t max_ir = std::min(limits.ir_bits, kMaxChainIrBits);
  ChainReport report;

  // After Test-Logic-Reset every device has IDCODE (its bit 0 is 1) or
  // BYPASS (one 0 bit) in its data register. Ones shifted in behind them
  // come out as an IDCODE of all ones, which no device has: the end. A
  // chain of the most devices, each with an IDCODE, and that end fill
  // the scan.
  engine.ResetTap();
  engine.MoveToState("DRSHIFT");
  const std::size_t dr_bits = 32 * (max_devices + 1);
  std::string dr;
  if (!Scan(engine, dr_bits, OnesThenZeros(dr_bits, 0), dr)) {
    report.problem = "the adapter did not answer";
    return Finish(engine, std::move(report));
  }
  std::vector<ChainDevice> from_tdo;
  std::size_t k = 0;
  for (;;) {
    const std::uint32_t word = WordAt(dr, k);
    if (word == 0xFFFFFFFFU) break;
    if (from_tdo.size() == max_devices) {
      // Nothing but zeros is no chain: no device shifts out only BYPASS
      // bits for this long.
      const std::string stuck = Stuck(dr, dr_bits);
      report.problem = !stuck.empty() ? "no device found: " + stuck + kCheckWiring
                                      : "the chain has more than " + std::to_string(max_devices) +
                                            " devices, the most that can be read";
      return Finish(engine, std::move(report));
    }
    if ((word & 1U) == 0) {
      from_tdo.push_back(ChainDevice{});
      ++k;
    } else {
      from_tdo.push_back(ChainDevice{word});
      k += 32;
    }
  }

  // The instruction registers capture ...01 each. Ones shifted in fill
  // them, and the first of the zeros behind the ones comes out after as
  // many bits as they hold together, behind a run of at least as many ones
  // as were shifted in (which a capture never shows: each has a 0 next to
  // its lowest bit).
  engine.MoveToState("IRSHIFT");
  const std::size_t ir_bits = 2 * max_ir + 1;
  std::string ir;
  if (!Scan(engine, ir_bits, OnesThenZeros(max_ir, max_ir + 1), ir)) {
    report.problem = "the adapter did not answer";
    return Finish(engine, std::move(report));
  }
  std::optional<std::size_t> ir_length;
  std::size_t run = 0;
  for (std::size_t b = 0; b < ir_bits && !ir_length; ++b) {
    if (BitAt(ir, b)) {
      ++run;
    } else if (run >= max_ir) {
      ir_length = b - max_ir;
    } else {
      run = 0;
    }
  }

  const std::string stuck = ir_length ? std::string() : Stuck(ir, ir_bits);
  if (from_tdo.empty()) {
    // A wire from TDI to TDO, or a TDO that stays high, shows the ones at once.
    std::string seen = "TDO showed neither an IDCODE nor a BYPASS bit";
    if (ir_length == 0U) seen = "TDO gave back TDI with no device between";
    if (!stuck.empty()) seen = stuck;
    report.problem = "no device found: " + seen + kCheckWiring;
    return Finish(engine, std::move(report));
  }
  report.devices.assign(from_tdo.rbegin(), from_tdo.rend());
  if (!ir_length) {
    report.problem = !stuck.empty() ? "the instruction registers were not read: " + stuck + kCheckWiring
                                    : "the instruction registers hold more than " + std::to_string(max_ir) +
                                          " bits in all, the most that can be read";
    return Finish(engine, std::move(report));
  }
  report.ir_length = static_cast<std::uint32_t>(*ir_length);
  return Finish(engine, std::move(report));
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
