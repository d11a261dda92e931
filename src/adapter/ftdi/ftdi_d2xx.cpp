// SPDX-License-Identifier: Apache-2.0

#include "adapter/ftdi/ftdi_d2xx.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tavrin::adapter {

namespace {

// The vendor library hands back at most 64 characters of a description or
// serial number; matching on open uses the same cut, so that a text Find
// showed opens the chip it came from.
constexpr std::size_t kMaxText = kDescriptionBufferSize - 1;
// Transfer sizes the vendor library accepts: multiples of 64 up to 64 KiB.
constexpr std::uint32_t kMinTransfer = 64;
constexpr std::uint32_t kMaxTransfer = 65536;
// The most bytes asked of the chip in one read.
constexpr std::uint64_t kMaxPoll = 65536;
// A write that makes no progress this many times running has failed.
constexpr int kMaxStalls = 8;
// Synchronous bit-bang: how long a write may take (libftdi's time-out for
// one transfer, and a second for the host), and how long each wait for the
// answers that make room in the chip is.
constexpr std::uint32_t kWriteWaitMs = 6000;
constexpr std::uint32_t kAnswerWaitMs = 125;

std::string Cut(const std::string& text) { return text.substr(0, std::min(text.size(), kMaxText)); }

bool TransferSizeOk(std::uint32_t size) {
  return size >= kMinTransfer && size <= kMaxTransfer && size % kMinTransfer == 0;
}

// What a failed ftdi_usb_open_dev means to the caller: the chip exists but
// could not be taken (busy, no permission), the USB talk failed, or it has
// gone.
FtStatus OpenStatus(int code) {
  switch (code) {
    case ftdi::kNoSuchDevice: return FT_DEVICE_NOT_FOUND;
    case ftdi::kNoUsb: return FT_INSUFFICIENT_RESOURCES;
    case -3:  // the configuration could not be set: a driver holds the device
    case -4:  // libusb_open failed: usually no permission on /dev/bus/usb/...
    case -5:  // the interface could not be claimed: another program has it
    case -8:  // permission denied while detaching the kernel driver
      return FT_DEVICE_NOT_OPENED;
    case -6:   // reset failed
    case -7:   // the first baud rate could not be set
    case -13:  // the latency timer could not be read
      return FT_IO_ERROR;
    default: return FT_OTHER_ERROR;
  }
}

std::string OpenHint(int code) {
  switch (code) {
    case -4:
    case -8: return " (no permission to use the USB device? Install the udev rule and join the plugdev group)";
    case -3:
    case -5: return " (is another program using the adapter?)";
    default: return {};
  }
}

// Reading the strings of a chip means opening it for a moment.
FtStatus StringsStatus(int code) { return code == -4 ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR; }

FtStatus ScanStatus(int code) {
  return code == ftdi::kNoUsb || code == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
}

}  // namespace

FtdiD2xx::FtdiD2xx(std::unique_ptr<ftdi::FtdiApi> api) : api_(std::move(api)) {}

FtdiD2xx::~FtdiD2xx() {
  while (!ports_.empty()) (void)Release(ports_.begin());
}

FtStatus FtdiD2xx::Fail(FtStatus status, std::string text) {
  last_error_ = std::move(text);
  return status;
}

FtdiD2xx::Port* FtdiD2xx::Find(FtHandle handle) {
  auto it = ports_.find(handle);
  return it == ports_.end() ? nullptr : &it->second;
}

FtStatus FtdiD2xx::Scan() {
  std::vector<ftdi::UsbDeviceInfo> found;
  const int rc = api_->ListDevices(&found);
  if (rc < 0) {
    devices_.clear();
    scanned_ = false;
    return Fail(ScanStatus(rc), api_->ErrorString());
  }
  devices_ = std::move(found);
  scanned_ = true;
  return FT_OK;
}

// --- Listing, open and close ---

FtStatus FtdiD2xx::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  if (count == nullptr) return Fail(FT_INVALID_PARAMETER, "FT_ListDevices: no place for the count");
  if ((flags & FT_LIST_NUMBER_ONLY) == 0) return Fail(FT_INVALID_ARGS, "FT_ListDevices: unsupported flags");
  const FtStatus s = Scan();
  if (s != FT_OK) return s;
  *count = static_cast<std::uint32_t>(devices_.size());
  return FT_OK;
}

FtStatus FtdiD2xx::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                  std::uint32_t flags) {
  const std::uint32_t what = flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION);
  if ((flags & FT_LIST_BY_INDEX) == 0 || (what != FT_OPEN_BY_SERIAL_NUMBER && what != FT_OPEN_BY_DESCRIPTION)) {
    return Fail(FT_INVALID_ARGS, "FT_ListDevices: unsupported flags");
  }
  if (buffer == nullptr || buffer_size == 0) return Fail(FT_INVALID_PARAMETER, "FT_ListDevices: no buffer");
  if (!scanned_) {
    const FtStatus s = Scan();
    if (s != FT_OK) return s;
  }
  if (index >= devices_.size()) return Fail(FT_DEVICE_NOT_FOUND, "no device " + std::to_string(index));
  const ftdi::UsbDeviceInfo& d = devices_[index];
  if (d.strings_status != 0) {
    return Fail(StringsStatus(d.strings_status), d.strings_error + OpenHint(d.strings_status));
  }
  const std::string text = Cut(what == FT_OPEN_BY_SERIAL_NUMBER ? d.serial : d.description);
  const std::size_t n = std::min(text.size(), buffer_size);
  std::memcpy(buffer, text.data(), n);
  if (n < buffer_size) buffer[n] = '\0';
  return FT_OK;
}

FtStatus FtdiD2xx::FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) {
  if (handle == nullptr) return Fail(FT_INVALID_PARAMETER, "FT_OpenEx: no place for the handle");
  if (flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_SERIAL_NUMBER) {
    return Fail(FT_INVALID_PARAMETER, "FT_OpenEx: only opening by description or serial number is supported");
  }
  const FtStatus scanned = Scan();
  if (scanned != FT_OK) return scanned;

  const char* kind = flags == FT_OPEN_BY_SERIAL_NUMBER ? "serial number" : "description";
  bool held = false;
  const ftdi::UsbDeviceInfo* unreadable = nullptr;
  FtStatus first_status = FT_OK;
  std::string first_error;
  for (const ftdi::UsbDeviceInfo& d : devices_) {
    if (d.strings_status != 0) {
      if (unreadable == nullptr) unreadable = &d;
      continue;
    }
    const std::string& text = flags == FT_OPEN_BY_SERIAL_NUMBER ? d.serial : d.description;
    if (arg.empty() || Cut(text) != arg) continue;
    const bool ours = std::any_of(ports_.begin(), ports_.end(),
                                  [&](const auto& p) { return p.second.location == d.location; });
    if (ours) {
      held = true;
      continue;
    }
    std::unique_ptr<ftdi::FtdiPort> usb;
    const int rc = api_->Open(d.location, &usb);
    if (rc == 0 && usb != nullptr) {
      if (next_handle_ == 0) next_handle_ = 1;
      const FtHandle h = next_handle_++;
      Port& port = ports_[h];
      port.usb = std::move(usb);
      port.location = d.location;
      port.name = !d.name.empty() ? d.name
                  : Cut(d.description) + (d.serial.empty() ? std::string(" (no serial number)")
                                                          : " (serial " + Cut(d.serial) + ")");
      *handle = h;
      return FT_OK;
    }
    if (first_status == FT_OK) {
      first_status = rc == 0 ? FT_OTHER_ERROR : OpenStatus(rc);
      first_error = api_->ErrorString() + OpenHint(rc);
    }
  }
  if (first_status != FT_OK) return Fail(first_status, first_error);
  if (held) return Fail(FT_DEVICE_NOT_OPENED, "the adapter with " + std::string(kind) + " '" + arg + "' is already open");
  if (unreadable != nullptr) {
    // The chip asked for may be one whose strings could not be read.
    return Fail(FT_DEVICE_NOT_OPENED, "no adapter with " + std::string(kind) + " '" + arg +
                                          "' could be read; another one could not be opened: " +
                                          unreadable->strings_error + OpenHint(unreadable->strings_status));
  }
  return Fail(FT_DEVICE_NOT_FOUND, "no adapter with " + std::string(kind) + " '" + arg + "'");
}

std::string FtdiD2xx::OpenedName(FtHandle handle) const {
  const auto it = ports_.find(handle);
  return it == ports_.end() ? std::string() : it->second.name;
}

FtStatus FtdiD2xx::Release(std::map<FtHandle, Port>::iterator it) {
  Port& port = it->second;
  // A chip left in bit-bang mode keeps driving its pins after the program
  // has gone; back to the serial function first. A chip that has gone
  // cannot be reset, and is released all the same.
  (void)port.usb->CancelTransfers();
  if (port.mode != FT_BITMODE_RESET) (void)port.usb->SetBitmode(0, FT_BITMODE_RESET);
  const int rc = port.usb->Close();
  std::string error = rc < 0 ? port.usb->ErrorString() : std::string();
  ports_.erase(it);
  if (rc < 0) return Fail(FT_IO_ERROR, std::move(error));
  return FT_OK;
}

FtStatus FtdiD2xx::FT_Close(FtHandle handle) {
  auto it = ports_.find(handle);
  if (it == ports_.end()) return Fail(FT_INVALID_HANDLE, "FT_Close: no such handle");
  return Release(it);
}

// --- Set-up ---

FtStatus FtdiD2xx::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_transfer_size,
                                       std::uint32_t out_transfer_size) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_SetUSBParameters: no such handle");
  // The vendor library changes only the IN size; an OUT size of 0 leaves the
  // writes as they are.
  if (!TransferSizeOk(in_transfer_size) || (out_transfer_size != 0 && !TransferSizeOk(out_transfer_size))) {
    return Fail(FT_INVALID_PARAMETER, "FT_SetUSBParameters: transfer sizes are multiples of 64 from 64 to 65536");
  }
  if (port->usb->SetReadChunksize(in_transfer_size) < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  port->read_size = in_transfer_size;
  port->chunk_now = in_transfer_size;
  // As with the vendor library, what the driver held when the size changed
  // is lost (libftdi drops its read buffer here too).
  port->queue.clear();
  if (out_transfer_size != 0 && port->usb->SetWriteChunksize(out_transfer_size) < 0) {
    return Fail(FT_IO_ERROR, port->usb->ErrorString());
  }
  return FT_OK;
}

FtStatus FtdiD2xx::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_SetLatencyTimer: no such handle");
  if (ms < 2) return Fail(FT_INVALID_PARAMETER, "FT_SetLatencyTimer: the latency is 2 to 255 ms");
  if (port->usb->SetLatencyTimer(ms) < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  return FT_OK;
}

FtStatus FtdiD2xx::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_SetBitMode: no such handle");
  const ftdi::ChipType type = port->usb->Type();
  // The mode numbers are the chip's own, the same for libftdi (BITMODE_*).
  switch (mode) {
    case FT_BITMODE_RESET: break;
    case FT_BITMODE_ASYNC_BITBANG:
      if (type == ftdi::ChipType::kAm) {
        return Fail(FT_NOT_SUPPORTED, "FT_SetBitMode: this chip (FT8U232AM) has no bit-bang mode");
      }
      break;
    case FT_BITMODE_SYNC_BITBANG:
      // The FT232BM has asynchronous bit-bang only; libftdi would send the
      // request anyway and the chip would go on as it was.
      if (type != ftdi::ChipType::kR) {
        return Fail(FT_NOT_SUPPORTED,
                    "FT_SetBitMode: synchronous bit-bang (mode 4) needs an FT232R or FT245R; this chip is an " +
                        std::string(type == ftdi::ChipType::kBm ? "FT232BM/FT245BM" : "older or unknown type"));
      }
      break;
    default:
      return Fail(FT_NOT_SUPPORTED, "FT_SetBitMode: mode " + std::to_string(mode) + " is not offered for these chips");
  }
  // Answers still being read belong to the old mode.
  StopTransfers(*port);
  if (port->usb->SetBitmode(mask, mode) < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  port->mode = mode;
  return FT_OK;
}

// The rate of "Baud Register". The vendor library sets the chip's baud
// generator for the number as a UART rate, in every mode: divisor =
// 3 MHz / rate (48 MHz / 16), in eighths, so 150000 gives divisor 20. In
// bit-bang mode the pins are clocked from that generator (measurements
// published for the FT232R show the pins change at up to 16 times the
// number). libftdi's ftdi_set_baudrate instead multiplies the rate by 4
// whenever a bit-bang mode is on, which would set a divisor 4 times smaller
// for the same number (a 4 times faster clock, and "Unsupported baudrate"
// from about 790000 up). The port therefore sets the rate
// as libftdi does outside bit-bang mode (FtdiPort::SetUartBaudrate), so a
// number means here what it means with the vendor library.
FtStatus FtdiD2xx::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_SetBaudRate: no such handle");
  if (rate == 0 || rate > static_cast<std::uint32_t>(INT_MAX)) {
    return Fail(FT_INVALID_BAUD_RATE, "FT_SetBaudRate: " + std::to_string(rate) + " is no baud rate");
  }
  const int rc = port->usb->SetUartBaudrate(static_cast<int>(rate));
  // -1: the rate is out of the chip's reach (more than 5 % off).
  if (rc == -1) return Fail(FT_INVALID_BAUD_RATE, port->usb->ErrorString());
  if (rc < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  return FT_OK;
}

// The divisor register as the vendor library takes it: 14 bits of whole
// divisor and 2 bits of fraction (0, 1/2, 1/4, 1/8) of the 3 MHz base
// clock. 0 is the special value for the undivided 3 MHz, the chip's fastest
// rate ("Max CLK"); 1 gives 2 MHz.
FtStatus FtdiD2xx::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_SetDivisor: no such handle");
  // On single-port chips the request's index carries only the third
  // fraction bit, which this 16-bit form cannot express.
  if (port->usb->SetBaudDivisor(divisor, 0) < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  return FT_OK;
}

// --- Traffic ---

FtStatus FtdiD2xx::Poll(Port& port, std::uint64_t want) {
  const std::size_t room = kQueueLimit - std::min(kQueueLimit, port.queue.size());
  want = std::min<std::uint64_t>({want, room, kMaxPoll});
  if (want == 0) return FT_OK;
  if (port.read_size != port.chunk_now) {
    if (port.usb->SetReadChunksize(port.read_size) < 0) return Fail(FT_IO_ERROR, port.usb->ErrorString());
    port.chunk_now = port.read_size;
  }
  port.scratch.resize(static_cast<std::size_t>(want));
  const int n = port.usb->ReadData(port.scratch.data(), static_cast<int>(want));
  if (n < 0) return Fail(FT_IO_ERROR, port.usb->ErrorString());
  const std::size_t got = std::min(static_cast<std::size_t>(n), static_cast<std::size_t>(want));
  port.queue.insert(port.queue.end(), port.scratch.begin(), port.scratch.begin() + static_cast<std::ptrdiff_t>(got));
  return FT_OK;
}

FtStatus FtdiD2xx::Collect(Port& port, std::uint32_t timeout_ms, bool until_written) {
  port.scratch.clear();
  const int rc = port.usb->Pump(timeout_ms, until_written, &port.scratch);
  port.queue.insert(port.queue.end(), port.scratch.begin(), port.scratch.end());
  port.owed -= std::min<std::uint64_t>(port.owed, port.scratch.size());
  if (rc < 0) {
    // The stream has a hole: whatever else is in flight is cancelled.
    std::string error = port.usb->ErrorString();
    StopTransfers(port);
    return Fail(FT_IO_ERROR, std::move(error));
  }
  return FT_OK;
}

void FtdiD2xx::StopTransfers(Port& port) {
  (void)port.usb->CancelTransfers();
  port.owed = 0;
}

FtStatus FtdiD2xx::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_GetQueueStatus: no such handle");
  if (rx_bytes == nullptr) return Fail(FT_INVALID_PARAMETER, "FT_GetQueueStatus: no place for the count");
  // In synchronous mode nothing comes that was not written for, and the
  // answers owed are being read already; in the other modes the chip may
  // send at any time.
  if (port->mode == FT_BITMODE_SYNC_BITBANG) {
    if (port->owed > 0) {
      const FtStatus s = Collect(*port, 0);
      if (s != FT_OK) return s;
    }
  } else {
    const FtStatus s = Poll(*port, port->read_size);
    if (s != FT_OK) return s;
  }
  *rx_bytes = static_cast<std::uint32_t>(port->queue.size());
  return FT_OK;
}

FtStatus FtdiD2xx::WaitForQueue(FtHandle handle, std::uint32_t size, std::uint32_t timeout_ms,
                                std::uint32_t* rx_bytes) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "WaitForQueue: no such handle");
  if (rx_bytes == nullptr) return Fail(FT_INVALID_PARAMETER, "WaitForQueue: no place for the count");
  if (port->mode != FT_BITMODE_SYNC_BITBANG) return FT_NOT_SUPPORTED;
  // Until a transfer brings answers, or the time is up.
  if (port->queue.size() < size && port->owed > 0) {
    const FtStatus s = Collect(*port, timeout_ms);
    if (s != FT_OK) return s;
  }
  *rx_bytes = static_cast<std::uint32_t>(port->queue.size());
  return FT_OK;
}

FtStatus FtdiD2xx::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_Read: no such handle");
  if (read == nullptr || (buffer == nullptr && size > 0)) return Fail(FT_INVALID_PARAMETER, "FT_Read: no buffer");
  *read = 0;
  if (port->queue.size() < size) {
    // What has come meanwhile; the caller waits on the queue status for
    // anything slower.
    const bool sync = port->mode == FT_BITMODE_SYNC_BITBANG;
    if (!sync || port->owed > 0) {
      const FtStatus s = sync ? Collect(*port, 0) : Poll(*port, size - port->queue.size());
      if (s != FT_OK) return s;
    }
  }
  const std::size_t n = std::min<std::size_t>(size, port->queue.size());
  std::copy_n(port->queue.begin(), n, buffer);
  port->queue.erase(port->queue.begin(), port->queue.begin() + static_cast<std::ptrdiff_t>(n));
  *read = static_cast<std::uint32_t>(n);
  return FT_OK;
}

FtStatus FtdiD2xx::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                            std::uint32_t* written) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_Write: no such handle");
  if (written == nullptr || (data == nullptr && size > 0)) return Fail(FT_INVALID_PARAMETER, "FT_Write: no data");
  *written = 0;
  if (port->mode == FT_BITMODE_SYNC_BITBANG) return WriteSync(*port, data, size, written);
  std::uint32_t done = 0;
  int stalls = 0;
  while (done < size) {
    const int n = port->usb->WriteData(data + done, static_cast<int>(size - done));
    if (n < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
    if (n == 0) {
      if (++stalls >= kMaxStalls) return Fail(FT_IO_ERROR, "FT_Write: the adapter takes no more data");
      continue;
    }
    stalls = 0;
    done += std::min(static_cast<std::uint32_t>(n), size - done);
    *written = done;
  }
  return FT_OK;
}

// Synchronous bit-bang: the chip holds what it has not clocked yet and the
// answers not sent; when both are full it takes no more. So no more than
// it holds is ever in flight: each piece's answers are asked for before
// the piece goes, and a piece waits for earlier answers when it must.
FtStatus FtdiD2xx::WriteSync(Port& port, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) {
  std::uint32_t done = 0;
  int stalls = 0;
  while (done < size) {
    if (port.owed >= kChipHolds) {
      const std::uint64_t before = port.owed;
      const FtStatus s = Collect(port, kAnswerWaitMs);
      if (s != FT_OK) {
        StopTransfers(port);
        return s;
      }
      if (port.owed == before && ++stalls >= kMaxStalls) {
        StopTransfers(port);
        return Fail(FT_IO_ERROR, "FT_Write: the adapter sends no answers, so it takes no more data");
      }
      continue;
    }
    if (port.queue.size() + port.owed >= kQueueLimit) {
      return Fail(FT_INSUFFICIENT_RESOURCES, "FT_Write: the answers to earlier writes have not been read");
    }
    const auto len = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - done, kChipHolds - port.owed));
    if (port.usb->SubmitRead(static_cast<int>(len)) < 0 ||
        port.usb->SubmitWrite(data + done, static_cast<int>(len)) < 0) {
      std::string error = port.usb->ErrorString();
      StopTransfers(port);
      return Fail(FT_IO_ERROR, std::move(error));
    }
    port.owed += len;
    const FtStatus s = Collect(port, kWriteWaitMs, true);
    const bool still = port.usb->Writing();
    const auto took = static_cast<std::uint32_t>(still ? 0 : std::min<std::size_t>(port.usb->LastWriteTaken(), len));
    if (s != FT_OK || still || took < len) {
      std::string error = s != FT_OK ? last_error_
                                     : "FT_Write: the adapter took " + std::to_string(took) + " of " +
                                           std::to_string(len) + " bytes within " +
                                           std::to_string(kWriteWaitMs / 1000) + " s";
      StopTransfers(port);
      *written = done + took;
      return Fail(FT_IO_ERROR, std::move(error));
    }
    done += len;
    *written = done;
  }
  return FT_OK;
}

FtStatus FtdiD2xx::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_GetBitMode: no such handle");
  if (pins == nullptr) return Fail(FT_INVALID_PARAMETER, "FT_GetBitMode: no place for the pins");
  if (port->usb->ReadPins(pins) < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  return FT_OK;
}

FtStatus FtdiD2xx::FT_Purge(FtHandle handle, std::uint32_t mask) {
  Port* port = Find(handle);
  if (port == nullptr) return Fail(FT_INVALID_HANDLE, "FT_Purge: no such handle");
  const bool rx = (mask & FT_PURGE_RX) != 0;
  const bool tx = (mask & FT_PURGE_TX) != 0;
  // The bytes not yet clocked go first: the other way round, the chip would
  // answer some of them between the two requests, and those answers would
  // come after the purge.
  if (tx && port->usb->FlushTx() < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  // Either way the answers still to come are no longer known: some were
  // dropped, or will never be made. Nothing is read for them; those that
  // come all the same (after a purge of one direction alone) are read
  // ahead of the next write's answers, in order.
  if ((rx || tx) && port->usb->CancelTransfers() < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  if (rx || tx) port->owed = 0;
  if (rx) {
    port->queue.clear();
    if (port->usb->FlushRx() < 0) return Fail(FT_IO_ERROR, port->usb->ErrorString());
  }
  return FT_OK;
}

}  // namespace tavrin::adapter
