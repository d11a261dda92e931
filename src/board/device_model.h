// SPDX-License-Identifier: Apache-2.0

#pragma once
// What a modelled part sees of its test access port. The TAP controller
// itself lives in TapDevice; a model is told of Capture, Update, Reset and
// the spells in Run-Test/Idle as events, never of pins or USB.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/board_spec.h"

namespace tavrin::board {

// Bits shifted into a data register since Capture-DR, first shifted first.
// A register of length L keeps the last L of them; a scan shorter than the
// register (an address-only scan) leaves the rest of the captured bits.
struct DrScan {
  const Bits& in;           // the first min(shifted, kMaxRecordedScanBits) bits
  std::uint64_t shifted = 0;
  // The `n` bits ending `from_end` bits before the last one shifted
  // (n <= shifted - from_end), bit 0 first; what a register of n bits
  // holds after the scan when from_end is 0.
  [[nodiscard]] Bits Last(std::size_t n, std::size_t from_end = 0) const;
};

// Bits of a data scan beyond this are counted, not kept.
inline constexpr std::uint64_t kMaxRecordedScanBits = std::uint64_t{1} << 24U;

// A spell in Run-Test/Idle, from entering it to leaving it (or to the end of
// the run): the rising TCK edges seen there, and the time it lasted on the
// board's clock.
struct IdleSpell {
  std::uint64_t clocks = 0;
  std::uint64_t nanos = 0;
};

class DeviceModel {
 public:
  virtual ~DeviceModel() = default;

  [[nodiscard]] virtual unsigned IrLength() const = 0;
  // The device's IDCODE, if it has one (what Test-Logic-Reset selects).
  [[nodiscard]] virtual std::optional<std::uint32_t> Idcode() const = 0;
  // Power-on: the flash keeps its content; everything volatile resets.
  virtual void PowerOn() = 0;
  // Test-Logic-Reset was entered.
  virtual void Reset() = 0;
  // The value Capture-IR loads (the two low bits are forced to 01).
  virtual std::uint64_t CaptureIr() = 0;
  // Update-IR: the instruction shifted in.
  virtual void UpdateIr(std::uint64_t opcode) = 0;
  // Capture-DR: the contents of the selected register, bit 0 nearest TDO.
  // Its size is the register's length (at least 1).
  virtual void CaptureDr(Bits& out) = 0;
  // Update-DR after a scan.
  virtual void UpdateDr(const DrScan& scan) = 0;
  // Run-Test/Idle was left after this spell (or the run ended in it).
  virtual void Idle(const IdleSpell& spell) = 0;

  // What happened to the part in this run, one line each, for the end of the log.
  [[nodiscard]] virtual std::vector<std::string> Report() const = 0;
  // How many steps the part did not carry out (each is in the report).
  [[nodiscard]] virtual std::size_t Refusals() const = 0;
  // A new account for the next run (the flash stays as it is).
  virtual void NewAccount() = 0;
  // The lasting content (flash) as text, and back; Restore gives an error
  // text, empty when the content was taken.
  [[nodiscard]] virtual std::string SaveState() const = 0;
  virtual std::string RestoreState(const std::string& state) = 0;
};

}  // namespace tavrin::board
