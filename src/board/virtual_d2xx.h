// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/d2xx.h"
#include "common/clock.h"
#include "board/board_pins.h"
#include "board/board_spec.h"
#include "board/tap_chain.h"
#include "board/vcd_writer.h"

namespace tavrin::board {

// The board answers the chip call set that real adapters answer.
using namespace tavrin::adapter;  // NOLINT(google-build-using-namespace)

inline constexpr const char* kVirtualDescription = "FT232R Virtual Board";
inline constexpr const char* kVirtualSerial = "VIRT0001";
// Answers waiting beyond this many bytes are lost (a real chip would stop
// taking bytes until the host reads; here nothing waits).
inline constexpr std::size_t kMaxQueuedAnswers = std::size_t{64} << 20U;

// The chip calls, for fault injection and call counts.
enum class Op : std::uint8_t {
  ListDevices,  // both forms
  OpenEx,
  Close,
  GetQueueStatus,
  SetUSBParameters,
  SetLatencyTimer,
  SetBitMode,
  SetBaudRate,
  SetDivisor,
  Write,
  Read,
  GetBitMode,
  Purge,
};
inline constexpr std::size_t kOpCount = 13;
// "FT_Write" and so on; nothing for another name.
std::optional<Op> OpFromName(std::string_view name);
const char* OpName(Op op);

// A simulated FT232R with a JTAG board on its data pins, behind the chip call
// set. Entirely deterministic: no threads, no clocks; every answer is ready
// as soon as its byte is written unless a fault says otherwise.
//
// The chip:
// - Lists one device, kVirtualDescription with serial kVirtualSerial; opens
//   by exact description (FT_OPEN_BY_DESCRIPTION) or serial
//   (FT_OPEN_BY_SERIAL_NUMBER); a second open while open gives
//   FT_DEVICE_NOT_OPENED, as the vendor library does for a busy device.
//   Every open hands out a new handle; calls on another handle, before open or
//   after close give FT_INVALID_HANDLE.
// - Opens in reset mode (mode 0): no pin is driven and written bytes go out
//   as serial data, so they are accepted and get no answer. Mode 1
//   (asynchronous bit-bang) drives the pins in the direction mask but answers
//   nothing; mode 4 (synchronous bit-bang) also answers every byte with the
//   pin levels sampled just before that byte is driven. Other modes give
//   FT_INVALID_PARAMETER. Close releases the pins (reset mode).
// - The output latch starts at 0 and holds the last byte written in a
//   bit-bang mode; pins in the direction mask show it, the TDO pin shows the
//   board's TDO, the TCK pin reads its pull (down by default), every other pin
//   reads high.
// - A rate is refused, as by the real chip, when no divisor comes within 5 %
//   of it (Ft232rDivisorFor); otherwise it is recorded as given, and so are
//   the divisor, latency and USB transfer sizes.
class VirtualD2xx final : public D2xx {
 public:
  // The board must satisfy ValidateBoard (ParseBoard and DefaultBoard give
  // such boards); anything else is clamped into shape.
  explicit VirtualD2xx(BoardSpec board = DefaultBoard());
  ~VirtualD2xx() override;
  VirtualD2xx(const VirtualD2xx&) = delete;
  VirtualD2xx& operator=(const VirtualD2xx&) = delete;

  FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override;
  FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                          std::uint32_t flags) override;
  FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override;
  FtStatus FT_Close(FtHandle handle) override;
  FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) override;
  FtStatus FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) override;
  FtStatus FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) override;
  FtStatus FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override;
  FtStatus FT_SetBaudRate(FtHandle handle, std::uint32_t rate) override;
  FtStatus FT_SetDivisor(FtHandle handle, std::uint16_t divisor) override;
  FtStatus FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                    std::uint32_t* written) override;
  FtStatus FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override;
  FtStatus FT_GetBitMode(FtHandle handle, std::uint8_t* pins) override;
  FtStatus FT_Purge(FtHandle handle, std::uint32_t mask) override;
  [[nodiscard]] std::string LastErrorText() const override { return last_error_; }
  // "virtual board (<board name>)" while the handle is open.
  [[nodiscard]] std::string OpenedName(FtHandle handle) const override;
  // What the board is called in OpenedName: its file's name, or "built-in
  // board" (the default).
  void SetBoardName(std::string name) { board_name_ = std::move(name); }
  // The clock that the board's modelled parts time their operations by,
  // besides the TCK periods clocked (none: TCK periods alone). It must
  // outlive the board or be unset.
  void SetClock(const Clock* clock) { clock_ = clock; }

  // --- Fault injection ---
  // The nth call of `op` from now on (1 = the next one) fails with `status`;
  // nth = 0 makes every call of it fail until ClearFaults. A failing call
  // does nothing else. One rule per operation: a new one replaces the old.
  void FailCall(Op op, int nth, FtStatus status);
  // The same by name ("FT_Write"); false for an unknown name.
  bool FailCall(std::string_view name, int nth, FtStatus status);
  void ClearFaults();
  // Late answers: each FT_GetQueueStatus lets at most this many more answer
  // bytes arrive (0, the default: every answer arrives at once). FT_Read
  // returns only bytes that have arrived.
  void SetDeliveryPerQuery(std::uint32_t bytes) { deliver_per_query_ = bytes; }
  // Answers that never arrive: the next `bytes` answer bytes are lost.
  void DropAnswers(std::uint64_t bytes) { drop_next_ += bytes; }
  // Every answer from now on is lost (until called with false).
  void DropAllAnswers(bool drop) { drop_all_ = drop; }
  // The device disappears once this many bytes in all (counted from power-on)
  // have been written: the write that crosses the mark takes the bytes up to
  // it and fails with FT_IO_ERROR; from then on every call on the handle
  // fails with FT_IO_ERROR, listing finds nothing and opening gives
  // FT_DEVICE_NOT_FOUND.
  void UnplugAfterBytes(std::uint64_t bytes);
  void Unplug();
  // Plugged in again: listed, closed, in reset mode. The board keeps its state.
  void Replug();

  // --- Waveform ---
  // Streams the pin levels of TCK, TMS, TDI and TDO to `out` from now on,
  // one time step per byte driven (a pin change by FT_SetBitMode takes a step
  // too). `out` must outlive the recording; a second call ends the first.
  void StartVcd(std::ostream& out, const VcdOptions& options = {});
  // Ends the waveform (writes its last time stamp) and flushes it.
  void StopVcd();

  // --- What tests and tools can look at ---
  [[nodiscard]] TapChain& Chain() { return pins_.Chain(); }
  [[nodiscard]] const TapChain& Chain() const { return pins_.Chain(); }
  [[nodiscard]] const BoardSpec& Board() const { return board_; }
  // Power-on of the board: every TAP in Test-Logic-Reset, registers as described.
  void PowerCycleBoard();
  [[nodiscard]] std::uint8_t Pins() const { return pins_.Levels(); }
  [[nodiscard]] std::uint8_t Mode() const { return mode_; }
  [[nodiscard]] std::uint8_t DirectionMask() const { return dir_mask_; }
  [[nodiscard]] std::uint32_t BaudRate() const { return baud_rate_; }
  // The divisor of the last FT_SetDivisor; nothing after FT_SetBaudRate.
  [[nodiscard]] std::optional<std::uint16_t> Divisor() const { return divisor_; }
  [[nodiscard]] std::uint8_t LatencyTimer() const { return latency_ms_; }
  [[nodiscard]] std::uint32_t UsbInTransferSize() const { return usb_in_; }
  [[nodiscard]] std::uint32_t UsbOutTransferSize() const { return usb_out_; }
  [[nodiscard]] bool IsOpen() const { return open_; }
  [[nodiscard]] bool IsUnplugged() const { return unplugged_; }
  // Bytes written since power-on, and of them those driven onto the pins.
  [[nodiscard]] std::uint64_t BytesWritten() const { return bytes_written_; }
  [[nodiscard]] std::uint64_t BytesDriven() const { return bytes_driven_; }
  // Answer bytes waiting, arrived or not, and answers lost to a full queue.
  [[nodiscard]] std::size_t PendingAnswers() const { return rx_.size() - rx_head_; }
  [[nodiscard]] std::uint64_t OverflowedAnswers() const { return overflowed_; }
  [[nodiscard]] int CallCount(Op op) const { return counts_[static_cast<std::size_t>(op)]; }

 private:
  struct Fault {
    bool active = false;
    bool every = false;
    int at = 0;  // the call count at which it strikes
    FtStatus status = FT_OK;
  };

  // Counts the call and applies an injected fault or the unplugged state.
  FtStatus Enter(Op op);
  FtStatus EnterWithHandle(Op op, FtHandle handle);
  FtStatus Failed(FtStatus status, std::string text);
  void SetMode(std::uint8_t mask, std::uint8_t mode);
  void Record() {
    if (vcd_) vcd_->Sample(++vcd_step_, pins_.Tck(), pins_.Tms(), pins_.Tdi(), pins_.Tdo());
  }
  template <bool kAnswer>
  void DriveBytes(const std::uint8_t* data, std::size_t n, std::uint8_t* answers);
  void Answer(const std::uint8_t* data, std::size_t n);
  void ClearQueue();
  void SetTckPeriod(double bitbang_bytes_per_s);

  BoardSpec board_;
  BoardPins pins_;              // the latch, the pins and the chain behind them
  std::uint8_t dir_mask_ = 0;   // the mask of the last FT_SetBitMode
  std::uint8_t mode_ = FT_BITMODE_RESET;

  bool open_ = false;
  bool unplugged_ = false;
  FtHandle handle_ = 0;
  FtHandle next_handle_ = 0x56420001;
  std::optional<std::uint64_t> unplug_after_;

  std::uint32_t baud_rate_ = 9600;
  std::optional<std::uint16_t> divisor_;
  std::uint8_t latency_ms_ = 16;
  std::uint32_t usb_in_ = 4096;
  std::uint32_t usb_out_ = 4096;

  // Answers from rx_head_ on; the first rx_arrived_ of them can be read.
  std::vector<std::uint8_t> rx_;
  std::size_t rx_head_ = 0;
  std::size_t rx_arrived_ = 0;
  std::uint32_t deliver_per_query_ = 0;
  std::uint64_t drop_next_ = 0;
  bool drop_all_ = false;
  std::uint64_t overflowed_ = 0;

  std::uint64_t bytes_written_ = 0;
  std::uint64_t bytes_driven_ = 0;
  std::array<int, kOpCount> counts_{};
  std::array<Fault, kOpCount> faults_{};
  std::string last_error_;
  std::string board_name_ = "built-in board";

  const Clock* clock_ = nullptr;
  std::unique_ptr<VcdWriter> vcd_;
  std::uint64_t vcd_step_ = 0;
};

}  // namespace tavrin::board
