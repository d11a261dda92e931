// SPDX-License-Identifier: Apache-2.0

#include "adapter/device_list.h"

namespace tavrin::adapter {

DeviceList::Open* DeviceList::Find(FtHandle handle) {
  if (handle == 0 || handle > open_.size()) return nullptr;
  Open& o = open_[handle - 1];
  return o.backend == nullptr ? nullptr : &o;
}

FtStatus DeviceList::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  std::uint32_t total = 0;
  for (D2xx* b : backends_) {
    std::uint32_t n = 0;
    // A backend that cannot list (no USB access, say) contributes nothing,
    // so the others stay usable.
    if (b->FT_ListDevices(&n, flags) == FT_OK) total += n;
  }
  *count = total;
  return FT_OK;
}

FtStatus DeviceList::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                    std::uint32_t flags) {
  for (D2xx* b : backends_) {
    std::uint32_t n = 0;
    if (b->FT_ListDevices(&n, FT_LIST_NUMBER_ONLY) != FT_OK) continue;
    if (index < n) return b->FT_ListDevices(index, buffer, buffer_size, flags);
    index -= n;
  }
  return FT_DEVICE_NOT_FOUND;
}

FtStatus DeviceList::FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) {
  FtStatus status = FT_DEVICE_NOT_FOUND;
  for (D2xx* b : backends_) {
    FtHandle inner = 0;
    status = b->FT_OpenEx(arg, flags, &inner);
    last_ = b;
    if (status == FT_OK) {
      open_.push_back({b, inner});
      *handle = static_cast<FtHandle>(open_.size());
      return FT_OK;
    }
    // Only "not found" lets the next backend try; any other failure is the
    // device's own answer (busy, no permission) and is reported.
    if (status != FT_DEVICE_NOT_FOUND) return status;
  }
  return status;
}

FtStatus DeviceList::FT_Close(FtHandle handle) {
  Open* o = Find(handle);
  if (o == nullptr) return FT_INVALID_HANDLE;
  last_ = o->backend;
  const FtStatus s = o->backend->FT_Close(o->inner);
  o->backend = nullptr;
  return s;
}

#define TAVRIN_FORWARD(call)                 \
  Open* o = Find(handle);                    \
  if (o == nullptr) return FT_INVALID_HANDLE; \
  last_ = o->backend;                        \
  return o->backend->call

FtStatus DeviceList::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  TAVRIN_FORWARD(FT_GetQueueStatus(o->inner, rx_bytes));
}
FtStatus DeviceList::WaitForQueue(FtHandle handle, std::uint32_t size, std::uint32_t timeout_ms,
                                  std::uint32_t* rx_bytes) {
  TAVRIN_FORWARD(WaitForQueue(o->inner, size, timeout_ms, rx_bytes));
}
FtStatus DeviceList::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) {
  TAVRIN_FORWARD(FT_SetUSBParameters(o->inner, in_size, out_size));
}
FtStatus DeviceList::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  TAVRIN_FORWARD(FT_SetLatencyTimer(o->inner, ms));
}
FtStatus DeviceList::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  TAVRIN_FORWARD(FT_SetBitMode(o->inner, mask, mode));
}
FtStatus DeviceList::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  TAVRIN_FORWARD(FT_SetBaudRate(o->inner, rate));
}
FtStatus DeviceList::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  TAVRIN_FORWARD(FT_SetDivisor(o->inner, divisor));
}
FtStatus DeviceList::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                              std::uint32_t* written) {
  TAVRIN_FORWARD(FT_Write(o->inner, data, size, written));
}
FtStatus DeviceList::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  TAVRIN_FORWARD(FT_Read(o->inner, buffer, size, read));
}
FtStatus DeviceList::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  TAVRIN_FORWARD(FT_GetBitMode(o->inner, pins));
}
FtStatus DeviceList::FT_Purge(FtHandle handle, std::uint32_t mask) {
  TAVRIN_FORWARD(FT_Purge(o->inner, mask));
}

#undef TAVRIN_FORWARD

std::string DeviceList::OpenedName(FtHandle handle) const {
  if (handle == 0 || handle > open_.size()) return {};
  const Open& o = open_[handle - 1];
  return o.backend == nullptr ? std::string() : o.backend->OpenedName(o.inner);
}

std::string DeviceList::LastErrorText() const { return last_ == nullptr ? std::string() : last_->LastErrorText(); }

}  // namespace tavrin::adapter
