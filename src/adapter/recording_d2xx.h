// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <ostream>

#include "adapter/d2xx.h"

namespace tavrin::adapter {

// Passes every call on to another chip and writes one line per call to a
// stream: the operation, its arguments, its status, and the bytes written or
// read in hexadecimal.
class RecordingD2xx final : public D2xx {
 public:
  RecordingD2xx(D2xx& inner, std::ostream& out) : inner_(inner), out_(out) {}

  FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override;
  FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                          std::uint32_t flags) override;
  FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override;
  FtStatus FT_Close(FtHandle handle) override;
  FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) override;
  // Recorded as the queue status it ends with.
  FtStatus WaitForQueue(FtHandle handle, std::uint32_t size, std::uint32_t timeout_ms, std::uint32_t* rx_bytes) override;
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
  [[nodiscard]] std::string LastErrorText() const override { return inner_.LastErrorText(); }
  // A question about the device, not a chip call: not recorded.
  [[nodiscard]] std::string OpenedName(FtHandle handle) const override { return inner_.OpenedName(handle); }

 private:
  FtStatus Line(FtStatus status, const std::string& text);
  D2xx& inner_;
  std::ostream& out_;
};

}  // namespace tavrin::adapter
