// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavrin::adapter {

// The chip call set, with the vendor library's arguments and 32-bit status
// codes. Real adapters (libftdi1), the virtual board, the scriptable fake and
// the recording decorator all implement it.
using FtStatus = std::uint32_t;
using FtHandle = std::uint32_t;

inline constexpr FtStatus FT_OK = 0;
inline constexpr FtStatus FT_INVALID_HANDLE = 1;
inline constexpr FtStatus FT_DEVICE_NOT_FOUND = 2;
inline constexpr FtStatus FT_DEVICE_NOT_OPENED = 3;
inline constexpr FtStatus FT_IO_ERROR = 4;
inline constexpr FtStatus FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FtStatus FT_INVALID_PARAMETER = 6;
inline constexpr FtStatus FT_INVALID_BAUD_RATE = 7;
inline constexpr FtStatus FT_DEVICE_NOT_OPENED_FOR_ERASE = 8;
inline constexpr FtStatus FT_DEVICE_NOT_OPENED_FOR_WRITE = 9;
inline constexpr FtStatus FT_FAILED_TO_WRITE_DEVICE = 10;
inline constexpr FtStatus FT_INVALID_ARGS = 16;
inline constexpr FtStatus FT_NOT_SUPPORTED = 17;
inline constexpr FtStatus FT_OTHER_ERROR = 18;

// Flags of FT_ListDevices and FT_OpenEx.
inline constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000U;
inline constexpr std::uint32_t FT_LIST_BY_INDEX = 0x40000000U;
inline constexpr std::uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2;

// Purge bits.
inline constexpr std::uint32_t FT_PURGE_RX = 1;
inline constexpr std::uint32_t FT_PURGE_TX = 2;

// Bit modes.
inline constexpr std::uint8_t FT_BITMODE_RESET = 0x00;
inline constexpr std::uint8_t FT_BITMODE_ASYNC_BITBANG = 0x01;
inline constexpr std::uint8_t FT_BITMODE_SYNC_BITBANG = 0x04;

// The longest description or serial number the library hands back, with its
// terminating zero.
inline constexpr std::size_t kDescriptionBufferSize = 65;

class D2xx {
 public:
  virtual ~D2xx() = default;

  // Count form: flags FT_LIST_NUMBER_ONLY.
  virtual FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) = 0;
  // By-index form: flags FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION (or
  // | FT_OPEN_BY_SERIAL_NUMBER). Writes at most buffer_size bytes, a
  // zero-terminated text when it fits.
  virtual FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                  std::uint32_t flags) = 0;
  // flags FT_OPEN_BY_DESCRIPTION or FT_OPEN_BY_SERIAL_NUMBER.
  virtual FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) = 0;
  virtual FtStatus FT_Close(FtHandle handle) = 0;
  virtual FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) = 0;
  virtual FtStatus FT_SetUSBParameters(FtHandle handle, std::uint32_t in_transfer_size,
                                       std::uint32_t out_transfer_size) = 0;
  virtual FtStatus FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) = 0;
  virtual FtStatus FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) = 0;
  virtual FtStatus FT_SetBaudRate(FtHandle handle, std::uint32_t rate) = 0;
  virtual FtStatus FT_SetDivisor(FtHandle handle, std::uint16_t divisor) = 0;
  virtual FtStatus FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                            std::uint32_t* written) = 0;
  virtual FtStatus FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size,
                           std::uint32_t* read) = 0;
  virtual FtStatus FT_GetBitMode(FtHandle handle, std::uint8_t* pins) = 0;
  virtual FtStatus FT_Purge(FtHandle handle, std::uint32_t mask) = 0;

  // Not in the vendor library: waits up to timeout_ms for the receive queue
  // to hold `size` bytes, on the bus, and gives its length as
  // FT_GetQueueStatus does. It may come back earlier, with fewer. A chip
  // that cannot wait this way answers FT_NOT_SUPPORTED (the default), and
  // the caller polls the queue status with its own sleeps.
  virtual FtStatus WaitForQueue(FtHandle /*handle*/, std::uint32_t /*size*/, std::uint32_t /*timeout_ms*/,
                                std::uint32_t* /*rx_bytes*/) {
    return FT_NOT_SUPPORTED;
  }

  // The library's own words for the last failure, when it has any.
  [[nodiscard]] virtual std::string LastErrorText() const { return {}; }
  // What the device open behind the handle is, as a person would name it:
  // "FT232R USB UART (serial A100001)", "virtual board (built-in board)";
  // empty for a handle that is not open or a chip that cannot tell.
  [[nodiscard]] virtual std::string OpenedName(FtHandle /*handle*/) const { return {}; }
};

}  // namespace tavrin::adapter
