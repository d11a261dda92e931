// SPDX-License-Identifier: Apache-2.0

#include "board/virtual_d2xx.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "adapter/baud_divisor.h"

namespace tavrin::board {

namespace {

constexpr const char* kOpNames[kOpCount] = {
    "FT_ListDevices", "FT_OpenEx",   "FT_Close",      "FT_GetQueueStatus", "FT_SetUSBParameters",
    "FT_SetLatencyTimer", "FT_SetBitMode", "FT_SetBaudRate", "FT_SetDivisor", "FT_Write",
    "FT_Read", "FT_GetBitMode", "FT_Purge"};

// Bytes are simulated in slices of this size, so that a full queue and lost
// answers cost no more memory than one slice.
constexpr std::size_t kSlice = 64U * 1024U;

std::string Hex(FtStatus status) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[status & 0xFU]);
    status >>= 4;
  } while (status != 0);
  return "0x" + s;
}

}  // namespace

std::optional<Op> OpFromName(std::string_view name) {
  for (std::size_t i = 0; i < kOpCount; ++i) {
    if (name == kOpNames[i]) return static_cast<Op>(i);
  }
  return std::nullopt;
}

const char* OpName(Op op) { return kOpNames[static_cast<std::size_t>(op)]; }

VirtualD2xx::VirtualD2xx(BoardSpec board) : board_(std::move(board)), pins_(board_) { SetTckPeriod(16.0 * baud_rate_); }

VirtualD2xx::~VirtualD2xx() { StopVcd(); }

std::string VirtualD2xx::OpenedName(FtHandle handle) const {
  if (!open_ || handle != handle_) return {};
  return "virtual board (" + board_name_ + ")";
}

// --- Call bookkeeping ---

FtStatus VirtualD2xx::Failed(FtStatus status, std::string text) {
  last_error_ = std::move(text);
  return status;
}

FtStatus VirtualD2xx::Enter(Op op) {
  const auto i = static_cast<std::size_t>(op);
  const int n = ++counts_[i];
  const Fault& f = faults_[i];
  if (f.active && (f.every || f.at == n)) {
    return Failed(f.status, std::string("injected failure of ") + kOpNames[i] + " (" + Hex(f.status) + ")");
  }
  return FT_OK;
}

FtStatus VirtualD2xx::EnterWithHandle(Op op, FtHandle handle) {
  if (const FtStatus s = Enter(op); s != FT_OK) return s;
  if (unplugged_ && handle == handle_ && handle_ != 0) return Failed(FT_IO_ERROR, "the device was unplugged");
  if (!open_ || handle != handle_) return Failed(FT_INVALID_HANDLE, "no device open with this handle");
  return FT_OK;
}

void VirtualD2xx::FailCall(Op op, int nth, FtStatus status) {
  const auto i = static_cast<std::size_t>(op);
  Fault& f = faults_[i];
  f.active = nth >= 0;
  f.every = nth == 0;
  f.at = counts_[i] + nth;
  f.status = status;
}

bool VirtualD2xx::FailCall(std::string_view name, int nth, FtStatus status) {
  const auto op = OpFromName(name);
  if (!op) return false;
  FailCall(*op, nth, status);
  return true;
}

void VirtualD2xx::ClearFaults() {
  faults_.fill(Fault{});
  deliver_per_query_ = 0;
  drop_next_ = 0;
  drop_all_ = false;
  unplug_after_.reset();
}

void VirtualD2xx::UnplugAfterBytes(std::uint64_t bytes) {
  unplug_after_ = bytes;
  if (bytes_written_ >= bytes) Unplug();
}

void VirtualD2xx::Unplug() {
  unplugged_ = true;
  ClearQueue();
  // The handle stays known so that calls on it report the lost device.
}

void VirtualD2xx::Replug() {
  unplugged_ = false;
  unplug_after_.reset();
  open_ = false;
  handle_ = 0;
  SetMode(0, FT_BITMODE_RESET);
}

void VirtualD2xx::PowerCycleBoard() { pins_.PowerCycle(); }

// --- Listing, open and close ---

FtStatus VirtualD2xx::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  if (const FtStatus s = Enter(Op::ListDevices); s != FT_OK) return s;
  if (count == nullptr || (flags & FT_LIST_NUMBER_ONLY) == 0) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  *count = unplugged_ ? 0 : 1;
  return FT_OK;
}

FtStatus VirtualD2xx::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                     std::uint32_t flags) {
  if (const FtStatus s = Enter(Op::ListDevices); s != FT_OK) return s;
  if (buffer == nullptr || buffer_size == 0 || (flags & FT_LIST_BY_INDEX) == 0) {
    return Failed(FT_INVALID_PARAMETER, "bad arguments");
  }
  if (unplugged_ || index != 0) return Failed(FT_DEVICE_NOT_FOUND, "no device at this index");
  const char* text = (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0 ? kVirtualSerial : kVirtualDescription;
  const std::size_t length = std::strlen(text);
  const std::size_t n = std::min(length, buffer_size);
  std::memcpy(buffer, text, n);
  if (n < buffer_size) buffer[n] = '\0';
  return FT_OK;
}

FtStatus VirtualD2xx::FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) {
  if (const FtStatus s = Enter(Op::OpenEx); s != FT_OK) return s;
  if (handle == nullptr) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  bool match = false;
  if (flags == FT_OPEN_BY_SERIAL_NUMBER) {
    match = arg == kVirtualSerial;
  } else if (flags == FT_OPEN_BY_DESCRIPTION) {
    match = arg == kVirtualDescription;
  } else {
    return Failed(FT_INVALID_PARAMETER, "open by description or serial number only");
  }
  if (unplugged_ || !match) return Failed(FT_DEVICE_NOT_FOUND, "no such device");
  if (open_) return Failed(FT_DEVICE_NOT_OPENED, "the device is already open");
  open_ = true;
  handle_ = next_handle_++;
  if (next_handle_ == 0) next_handle_ = 1;
  *handle = handle_;
  ClearQueue();
  baud_rate_ = 9600;
  divisor_.reset();
  latency_ms_ = 16;
  usb_in_ = usb_out_ = 4096;
  SetMode(0, FT_BITMODE_RESET);
  return FT_OK;
}

FtStatus VirtualD2xx::FT_Close(FtHandle handle) {
  if (const FtStatus s = Enter(Op::Close); s != FT_OK) return s;
  if (unplugged_ && handle == handle_ && handle_ != 0) {
    handle_ = 0;
    open_ = false;
    return Failed(FT_IO_ERROR, "the device was unplugged");
  }
  if (!open_ || handle != handle_) return Failed(FT_INVALID_HANDLE, "no device open with this handle");
  open_ = false;
  handle_ = 0;
  ClearQueue();
  SetMode(0, FT_BITMODE_RESET);
  return FT_OK;
}

// --- Settings ---

FtStatus VirtualD2xx::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) {
  if (const FtStatus s = EnterWithHandle(Op::SetUSBParameters, handle); s != FT_OK) return s;
  usb_in_ = in_size;
  usb_out_ = out_size;
  return FT_OK;
}

FtStatus VirtualD2xx::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  if (const FtStatus s = EnterWithHandle(Op::SetLatencyTimer, handle); s != FT_OK) return s;
  latency_ms_ = ms;
  return FT_OK;
}

FtStatus VirtualD2xx::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  if (const FtStatus s = EnterWithHandle(Op::SetBaudRate, handle); s != FT_OK) return s;
  // As the real chip: a rate no divisor comes within 5 % of is refused, and
  // the rate is left as it was.
  if (rate == 0) return Failed(FT_INVALID_BAUD_RATE, "baud rate 0 is not possible");
  if (!Ft232rDivisorFor(rate)) {
    return Failed(FT_INVALID_BAUD_RATE, "baud rate " + std::to_string(rate) + " is out of the chip's reach");
  }
  baud_rate_ = rate;
  divisor_.reset();
  SetTckPeriod(16.0 * rate);
  return FT_OK;
}

FtStatus VirtualD2xx::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  if (const FtStatus s = EnterWithHandle(Op::SetDivisor, handle); s != FT_OK) return s;
  divisor_ = divisor;
  // The divisor counts in periods of the 3 MHz baud clock.
  SetTckPeriod(16.0 * 3e6 / std::max<std::uint16_t>(divisor & 0x3FFFU, 1));
  return FT_OK;
}

void VirtualD2xx::SetTckPeriod(double bitbang_bytes_per_s) {
  // Bit-bang clocks bytes at 16 times the baud rate, at most 3 MHz; a TCK
  // period is two bytes.
  const double rate = std::min(bitbang_bytes_per_s, 3e6);
  pins_.Chain().SetTckPeriodPs(static_cast<std::uint64_t>(std::llround(2e12 / rate)));
}

FtStatus VirtualD2xx::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  if (const FtStatus s = EnterWithHandle(Op::SetBitMode, handle); s != FT_OK) return s;
  if (mode != FT_BITMODE_RESET && mode != FT_BITMODE_ASYNC_BITBANG && mode != FT_BITMODE_SYNC_BITBANG) {
    return Failed(FT_INVALID_PARAMETER, "bit mode not supported by this chip");
  }
  SetMode(mask, mode);
  return FT_OK;
}

void VirtualD2xx::SetMode(std::uint8_t mask, std::uint8_t mode) {
  mode_ = mode;
  dir_mask_ = mask;
  const std::uint8_t before = pins_.Levels();
  pins_.SetDriveMask(mode == FT_BITMODE_RESET ? 0 : mask);
  if (pins_.Levels() != before) Record();
}

// --- Data ---

void VirtualD2xx::ClearQueue() {
  rx_.clear();
  rx_head_ = 0;
  rx_arrived_ = 0;
}

template <bool kAnswer>
void VirtualD2xx::DriveBytes(const std::uint8_t* data, std::size_t n, std::uint8_t* answers) {
  if (vcd_) {
    for (std::size_t i = 0; i < n; ++i) {
      if constexpr (kAnswer) answers[i] = pins_.Levels();
      pins_.Drive(data[i]);
      Record();
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      if constexpr (kAnswer) answers[i] = pins_.Levels();
      pins_.Drive(data[i]);
    }
  }
  bytes_driven_ += n;
}

void VirtualD2xx::Answer(const std::uint8_t* data, std::size_t n) {
  const std::size_t queued = rx_.size() - rx_head_;
  const std::size_t room = queued < kMaxQueuedAnswers ? kMaxQueuedAnswers - queued : 0;
  const std::size_t keep = drop_all_ ? 0 : std::min(n, room);
  if (keep == 0) {
    DriveBytes<false>(data, n, nullptr);
    if (!drop_all_) overflowed_ += n;
    return;
  }
  const std::size_t old = rx_.size();
  rx_.resize(old + keep);
  DriveBytes<true>(data, keep, rx_.data() + old);
  if (keep < n) {
    DriveBytes<false>(data + keep, n - keep, nullptr);
    overflowed_ += n - keep;
  }
  // Lost answers are the next ones due, so the first of these.
  if (drop_next_ > 0) {
    const auto lost = static_cast<std::size_t>(std::min<std::uint64_t>(drop_next_, keep));
    rx_.erase(rx_.begin() + static_cast<std::ptrdiff_t>(old), rx_.begin() + static_cast<std::ptrdiff_t>(old + lost));
    drop_next_ -= lost;
  }
}

FtStatus VirtualD2xx::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                               std::uint32_t* written) {
  if (const FtStatus s = EnterWithHandle(Op::Write, handle); s != FT_OK) return s;
  if (written == nullptr || (data == nullptr && size > 0)) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  if (clock_ != nullptr) pins_.Chain().ClockAtWrite(clock_->NowMicros() * 1000U);
  std::size_t take = size;
  if (unplug_after_) {
    const std::uint64_t left = *unplug_after_ > bytes_written_ ? *unplug_after_ - bytes_written_ : 0;
    take = static_cast<std::size_t>(std::min<std::uint64_t>(take, left));
  }
  for (std::size_t done = 0; done < take;) {
    const std::size_t n = std::min(kSlice, take - done);
    if (mode_ == FT_BITMODE_SYNC_BITBANG) {
      Answer(data + done, n);
    } else if (mode_ == FT_BITMODE_ASYNC_BITBANG) {
      DriveBytes<false>(data + done, n, nullptr);
    }
    // In reset mode the bytes leave as serial data: no pin changes, no answers.
    done += n;
  }
  bytes_written_ += take;
  if (deliver_per_query_ == 0) rx_arrived_ = rx_.size() - rx_head_;
  *written = static_cast<std::uint32_t>(take);
  if (unplug_after_ && bytes_written_ >= *unplug_after_) {
    Unplug();
    if (take < size) return Failed(FT_IO_ERROR, "the device was unplugged during the write");
  }
  return FT_OK;
}

FtStatus VirtualD2xx::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  if (const FtStatus s = EnterWithHandle(Op::GetQueueStatus, handle); s != FT_OK) return s;
  if (rx_bytes == nullptr) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  const std::size_t on_the_way = rx_.size() - rx_head_ - rx_arrived_;
  rx_arrived_ += deliver_per_query_ == 0 ? on_the_way : std::min<std::size_t>(deliver_per_query_, on_the_way);
  *rx_bytes = static_cast<std::uint32_t>(std::min<std::size_t>(rx_arrived_, 0xFFFFFFFFU));
  return FT_OK;
}

FtStatus VirtualD2xx::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  if (const FtStatus s = EnterWithHandle(Op::Read, handle); s != FT_OK) return s;
  if (read == nullptr || (buffer == nullptr && size > 0)) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  const std::size_t n = std::min<std::size_t>(size, rx_arrived_);
  if (n > 0) std::memcpy(buffer, rx_.data() + rx_head_, n);
  rx_head_ += n;
  rx_arrived_ -= n;
  if (rx_head_ == rx_.size()) {
    ClearQueue();
    // Every answer taken: the computer has waited for the last byte's.
    if (clock_ != nullptr && n > 0) pins_.Chain().ClockAtRead(clock_->NowMicros() * 1000U);
  } else if (rx_head_ >= kSlice && rx_head_ * 2 >= rx_.size()) {
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rx_head_));
    rx_head_ = 0;
  }
  *read = static_cast<std::uint32_t>(n);
  return FT_OK;
}

FtStatus VirtualD2xx::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  if (const FtStatus s = EnterWithHandle(Op::GetBitMode, handle); s != FT_OK) return s;
  if (pins == nullptr) return Failed(FT_INVALID_PARAMETER, "bad arguments");
  *pins = pins_.Levels();
  return FT_OK;
}

FtStatus VirtualD2xx::FT_Purge(FtHandle handle, std::uint32_t mask) {
  if (const FtStatus s = EnterWithHandle(Op::Purge, handle); s != FT_OK) return s;
  if ((mask & FT_PURGE_RX) != 0) ClearQueue();
  // Writes are simulated at once, so nothing is ever waiting to be sent.
  return FT_OK;
}

// --- Waveform ---

void VirtualD2xx::StartVcd(std::ostream& out, const VcdOptions& options) {
  StopVcd();
  vcd_step_ = 0;
  vcd_ = std::make_unique<VcdWriter>(out, options, pins_.Tck(), pins_.Tms(), pins_.Tdi(), pins_.Tdo());
}

void VirtualD2xx::StopVcd() {
  if (!vcd_) return;
  vcd_->Finish(vcd_step_ + 1);
  vcd_.reset();
}

}  // namespace tavrin::board
