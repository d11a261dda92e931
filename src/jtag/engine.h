// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "adapter/adapter.h"
#include "common/clock.h"
#include "common/flags.h"
#include "common/window.h"
#include "jtag/tap.h"

namespace tavrin::jtag {

// The chip sends its answers in USB packets of 62 bytes (64 with its two
// status bytes). A packet that is not full waits for the latency timer.
inline constexpr std::uint32_t kPacketAnswers = 62;
// Bytes per write: six full packets of answers, no more than the chip
// holds (128 to clock, 256 answers), which its backend reads while the
// block goes out.
inline constexpr std::uint32_t kBlockBytes = 6 * kPacketAnswers;

// A queued scan's outcome: the captured text (hexadecimal, most significant
// digit first), or cut = true when the run stopped or the adapter failed
// before all of its answers came.
using ScanDone = std::function<void(std::string captured, bool cut)>;

// The most answers a full-speed chip can send in a second: 19 packets of 62
// answers in each 1 ms frame. No stream of clocks goes faster.
inline constexpr double kMostAnswersPerSecond = 19.0 * kPacketAnswers * 1000.0;
// Clocks in place (ClockTck) are two bytes each.
inline constexpr double kBytesPerClockInPlace = 2;

// The log line of a scan of bit_count bits: "lNumBytes= N", three bytes a bit.
std::string ScanSizeLine(std::int32_t bit_count);

// Walks the target's TAP and shifts bits through it, over the adapter's
// bit-bang port.
//
// Every TCK clock is three bytes (or two, for clocks in place) in one
// stream. The stream goes to the adapter in blocks of kBlockBytes, each
// written and its answers read before the next: at most one block is in
// flight, so a stop (Break, closing) acts within one block, and a chip
// that stops answering ends the run within readback_timeout_ms. The pins'
// levels are those last driven; they are read from the chip once, when a
// run resets the TAP. A scan's answers may come after the call that queued
// it has returned: ShiftBitsThen hands them on when they come, and Sync
// writes whatever is queued and waits for every answer. Before anything
// that must follow the clocks in time (a wait, a pause for the operator),
// call Sync.
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
  // model already believes RESET: the target may be elsewhere. Starts
  // afresh: what an earlier run left queued is dropped, the receive queue
  // purged and the pins read.
  void ResetTap();

  // Shifts bit_count bits of the TDI text (hexadecimal, most significant
  // digit first) through the shift state the TAP is in, walks to end_state
  // and gives the captured TDO bits as hexadecimal text. Logs the scan's
  // size first and waits for its answers.
  std::string ShiftBits(const std::string& end_state, std::int32_t bit_count, const std::string& tdi);

  // The same scan, queued: `done` is called once, with the captured text,
  // when the answers have come (during this or a later call), or with
  // cut = true. Scans complete in the order they were queued. Logs nothing.
  void ShiftBitsThen(const std::string& end_state, std::int32_t bit_count, const std::string& tdi, ScanDone done);

  // Writes what is queued and waits for all its answers; every queued scan
  // has completed (or been cut) on return. False when the adapter failed
  // or the stream was dropped. Called from inside a scan or clocking (the
  // window's events, a message box), it does nothing: what is queued goes
  // out as that call goes on.
  bool Sync() { return depth_ > 0 ? !failed_ : Flush(); }

  // Clocks TCK `count` times in the state the TAP is in, with TMS held at the
  // level that keeps it there (high in RESET, low in the others). False when
  // the adapter failed or the run was stopped meanwhile.
  bool ClockTck(std::uint64_t count);

  // The last ShiftBits stopped before its last bit because the run was
  // stopped (Break, closing) or the adapter failed; after a stop the TAP is
  // still in the shift state.
  [[nodiscard]] bool LastScanCut() const { return last_scan_cut_; }

  [[nodiscard]] const TapTables& Tables() const { return tables_; }

  // Bytes put into the stream so far (written or queued): three for each
  // clock of a walk or scan, two for each clock in place.
  [[nodiscard]] std::uint64_t BytesStreamed() const { return written_ + queued_; }

  int CurrentTapState = RESET;

  // How long the answers to one block may take to arrive.
  std::uint32_t readback_timeout_ms = 1000;

 private:
  struct PendingScan {
    std::uint64_t first_byte = 0;  // stream offset of the scan's first byte
    std::int64_t bits = 0;
    std::int64_t decoded = 0;      // bits whose answer has been read
    unsigned nibble = 0;           // the digit being decoded
    std::string digits;            // least significant first
    bool cut = false;              // stopped before its last bit
    ScanDone done;
  };

  // The answers to one written block, exactly `size` bytes; false (with the
  // operator told and the run stopped) when they do not all arrive.
  bool ReadBack(std::uint8_t* buffer, std::uint32_t size);
  void ChipFailed(adapter::FtStatus status, const char* label);
  // The adapter is open and set up; otherwise the operator is told and the
  // run stopped.
  bool Ready();
  // Reads the pins' levels and roles when they are not known (once a run;
  // a change of roles during a run ends it). False, with the run ended,
  // when the chip fails.
  bool EnsurePins();
  // One step of the walk towards target; false when the stream failed.
  bool Step(int target);
  // Appends a byte to the stream, writing the block when it is full.
  bool Put(std::uint8_t byte) {
    pins_ = byte;
    block_[queued_++] = byte;
    return queued_ < kBlockBytes || WriteBlock();
  }
  // Writes the queued bytes (padded with hold bytes to whole packets when
  // `pad`), reads their answers and hands them to the queued scans.
  bool WriteBlock(bool pad = false);
  void Dispatch(const std::uint8_t* answers, std::uint32_t size);
  // Drops what is not written and cuts every queued scan.
  void Drop();
  // The adapter failed or can no longer be used: the run stops, nothing
  // more is written in it, and every queued scan is cut (before the caller
  // tells the operator, so that the log is complete first).
  void Abandon();
  // Hands every scan whose answers are all in to its caller, in order.
  void CompleteFinished();
  // Sync's work.
  bool Flush();
  // Marks a call that holds part of the stream in its locals.
  struct Busy {
    explicit Busy(int& depth) : depth_(depth) { ++depth_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    ~Busy() { --depth_; }
    int& depth_;
  };

  adapter::Adapter& adapter_;
  Window& window_;
  RunFlags& flags_;
  Clock& clock_;
  TapTables tables_{};
  bool last_scan_cut_ = false;

  // Queued, not yet written: queued_ bytes, and room for the hold bytes
  // that end a block on a whole packet.
  std::array<std::uint8_t, kBlockBytes + kPacketAnswers> block_{};
  std::uint32_t queued_ = 0;
  std::vector<std::uint8_t> answers_;
  std::uint64_t written_ = 0;          // stream offset of block_[0]
  std::deque<PendingScan> scans_;      // queued scans, oldest first
  std::uint8_t pins_ = 0;              // the levels last driven
  adapter::PinMasks masks_{};          // the pins' roles, read with the levels
  bool pins_known_ = false;
  bool failed_ = false;                // the adapter failed: nothing more is written this run
  int depth_ = 0;                      // calls under way that hold part of the stream
};

}  // namespace tavrin::jtag
