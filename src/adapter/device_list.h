// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <vector>

#include "adapter/d2xx.h"

namespace tavrin::adapter {

// Several chip backends seen as one: devices are listed backend after
// backend (real adapters first, the virtual board last), and a device is
// opened in the first backend that knows its description.
class DeviceList final : public D2xx {
 public:
  explicit DeviceList(std::vector<D2xx*> backends) : backends_(std::move(backends)) {}

  FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override;
  FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                          std::uint32_t flags) override;
  FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override;
  FtStatus FT_Close(FtHandle handle) override;
  FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) override;
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
  [[nodiscard]] std::string LastErrorText() const override;
  [[nodiscard]] std::string OpenedName(FtHandle handle) const override;

 private:
  struct Open {
    D2xx* backend = nullptr;
    FtHandle inner = 0;
  };
  // The open device behind a handle, or nothing.
  Open* Find(FtHandle handle);

  std::vector<D2xx*> backends_;
  std::vector<Open> open_;  // handle h is open_[h - 1]
  D2xx* last_ = nullptr;
};

}  // namespace tavrin::adapter
