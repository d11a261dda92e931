#include "adapter/fake/fake_d2xx.h"

#include <algorithm>
#include <cstring>

namespace tavrin::adapter {

void FakeD2xx::FailCall(const std::string& name, int nth, FtStatus status) {
  failures_[name] = {nth, status};
}

FtStatus FakeD2xx::Result(std::string_view name, const std::function<std::string()>& args) {
  const int n = ++counts_[name];
  FtStatus status = FT_OK;
  if (!failures_.empty()) {
    if (auto it = failures_.find(std::string(name)); it != failures_.end()) {
      if (it->second.first == 0 || it->second.first == n) status = it->second.second;
    }
  }
  if (record_calls) calls.push_back({std::string(name), args ? args() : std::string(), status});
  return status;
}

void FakeD2xx::ClearRecord() {
  calls.clear();
  written_bytes.clear();
  writes.clear();
  counts_.clear();
}

std::vector<std::string> FakeD2xx::CallNames() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const auto& c : calls) names.push_back(c.name);
  return names;
}

int FakeD2xx::CountCalls(const std::string& name) const {
  auto it = counts_.find(std::string_view(name));
  return it == counts_.end() ? 0 : it->second;
}

FtStatus FakeD2xx::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  FtStatus s = Result("FT_ListDevices", [&] { return std::string("count flags=" + std::to_string(flags)); });
  if (s == FT_OK) s = count_status;
  if (s == FT_OK) *count = static_cast<std::uint32_t>(descriptions.size());
  return s;
}

FtStatus FakeD2xx::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                  std::uint32_t flags) {
  FtStatus s = Result("FT_ListDevices", [&] { return std::string("index=" + std::to_string(index) + " flags=" + std::to_string(flags)); });
  if (s == FT_OK) s = description_status;
  if (s != FT_OK) return s;
  if (index >= descriptions.size()) return FT_DEVICE_NOT_FOUND;
  const std::string& d = descriptions[index];
  const std::size_t n = std::min(d.size(), buffer_size);
  std::memcpy(buffer, d.data(), n);
  if (n < buffer_size) buffer[n] = '\0';
  return FT_OK;
}

FtStatus FakeD2xx::FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) {
  FtStatus s = Result("FT_OpenEx", [&] { return std::string(arg + " flags=" + std::to_string(flags)); });
  if (s != FT_OK) return s;
  if (std::find(descriptions.begin(), descriptions.end(), arg) == descriptions.end()) return FT_DEVICE_NOT_FOUND;
  open = true;
  open_handle = next_handle;
  *handle = open_handle;
  return FT_OK;
}

FtStatus FakeD2xx::FT_Close(FtHandle handle) {
  FtStatus s = Result("FT_Close", [&] { return std::string(std::to_string(handle)); });
  if (s != FT_OK) return s;
  if (!HandleOk(handle)) return FT_INVALID_HANDLE;
  open = false;
  rx_.clear();
  pending_.clear();
  return FT_OK;
}

FtStatus FakeD2xx::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  FtStatus s = Result("FT_GetQueueStatus", nullptr);
  if (s != FT_OK) return s;
  if (!HandleOk(handle)) return FT_INVALID_HANDLE;
  std::size_t arrive = deliver_per_query == 0 ? pending_.size() : std::min<std::size_t>(deliver_per_query, pending_.size());
  while (arrive-- > 0) {
    rx_.push_back(pending_.front());
    pending_.pop_front();
  }
  *rx_bytes = static_cast<std::uint32_t>(rx_.size());
  return FT_OK;
}

FtStatus FakeD2xx::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) {
  FtStatus s = Result("FT_SetUSBParameters", [&] { return std::string(std::to_string(in_size) + "," + std::to_string(out_size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  FtStatus s = Result("FT_SetLatencyTimer", [&] { return std::string(std::to_string(ms)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  FtStatus s = Result("FT_SetBitMode", [&] { return std::string(std::to_string(mask) + "," + std::to_string(mode)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  FtStatus s = Result("FT_SetBaudRate", [&] { return std::string(std::to_string(rate)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  FtStatus s = Result("FT_SetDivisor", [&] { return std::string(std::to_string(divisor)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                            std::uint32_t* written) {
  FtStatus s = Result("FT_Write", [&] { return std::string(std::to_string(size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s != FT_OK) return s;
  if (record_bytes) {
    written_bytes.insert(written_bytes.end(), data, data + size);
    writes.emplace_back(data, data + size);
  }
  for (std::uint32_t i = 0; i < size; ++i) {
    std::uint8_t answer = answer_level;
    if (!scripted_answers.empty()) {
      answer = scripted_answers.front();
      scripted_answers.pop_front();
    } else if (answer_fn) {
      answer = answer_fn(data[i]);
    }
    if (drop_answers > 0) {
      --drop_answers;
      continue;
    }
    pending_.push_back(answer);
  }
  *written = size;
  return FT_OK;
}

FtStatus FakeD2xx::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  FtStatus s = Result("FT_Read", [&] { return std::string(std::to_string(size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s != FT_OK) return s;
  std::uint32_t n = 0;
  while (n < size && !rx_.empty()) {
    buffer[n++] = rx_.front();
    rx_.pop_front();
  }
  *read = n;
  return FT_OK;
}

FtStatus FakeD2xx::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  FtStatus s = Result("FT_GetBitMode", nullptr);
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s == FT_OK) *pins = bit_mode_pins;
  return s;
}

FtStatus FakeD2xx::FT_Purge(FtHandle handle, std::uint32_t mask) {
  FtStatus s = Result("FT_Purge", [&] { return std::string(std::to_string(mask)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s == FT_OK && (mask & FT_PURGE_RX) != 0) {
    rx_.clear();
    pending_.clear();
  }
  return s;
}

}  // namespace tavrin::adapter
