#pragma once
#include <cstdint>
#include <string>

#include "adapter/adapter.h"
#include "common/clock.h"
#include "common/flags.h"
#include "common/window.h"
#include "jtag/tap.h"

namespace tavrin::jtag {

// Bytes per write of a scan: 16 bits of 3 bytes each.
inline constexpr std::uint32_t kChunkBytes = 48;

// Walks the target's TAP and shifts bits through it, over the adapter's
// bit-bang port.
class Engine {
 public:
  // The tables are built at once: a walk on empty tables would never
  // arrive. Start-up builds them again.
  Engine(adapter::Adapter& adapter, Window& window, RunFlags& flags, Clock& clock)
      : adapter_(adapter), window_(window), flags_(flags), clock_(clock) {
    BuildTapTables();
  }

  void BuildTapTables() { jtag::BuildTapTables(tables_); }

  // Walks from CurrentTapState to the named state, one TCK clock per step.
  void MoveToState(const std::string& name);

  // Clocks the reset step (five TCK pulses with TMS high) even when the
  // model already believes RESET: the target may be elsewhere.
  void ResetTap();

  // Shifts bit_count bits of the TDI text (hexadecimal, most significant
  // digit first) through the shift state the TAP is in, walks to end_state
  // and gives the captured TDO bits as hexadecimal text.
  std::string ShiftBits(const std::string& end_state, std::int32_t bit_count, const std::string& tdi);

  // Clocks TCK `count` times in the state the TAP is in, with TMS held at the
  // level that keeps it there (high in RESET, low in the others). False when
  // the adapter failed or the run was stopped meanwhile.
  bool ClockTck(std::uint64_t count);

  // The last ShiftBits stopped before its last bit because the run was
  // stopped (Break, closing): the TAP is still in the shift state, and the
  // captured text holds only the chunks that were read.
  [[nodiscard]] bool LastScanCut() const { return last_scan_cut_; }

  [[nodiscard]] const TapTables& Tables() const { return tables_; }

  int CurrentTapState = RESET;

  // How long the answers to one chunk may take to arrive.
  std::uint32_t readback_timeout_ms = 1000;

 private:
  // The answers to one written chunk, exactly `size` bytes; false (with the
  // operator told and the run stopped) when they do not all arrive.
  bool ReadBack(std::uint8_t* buffer, std::uint32_t size);
  void ChipFailed(adapter::FtStatus status, const char* label);
  // The adapter is open and set up; otherwise the operator is told and the
  // run stopped.
  bool Ready();
  // One step of the walk towards target; false when the write failed.
  bool Step(int target);

  adapter::Adapter& adapter_;
  Window& window_;
  RunFlags& flags_;
  Clock& clock_;
  TapTables tables_{};
  bool last_scan_cut_ = false;
};

}  // namespace tavrin::jtag
