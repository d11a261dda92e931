// SPDX-License-Identifier: Apache-2.0

#include "adapter/fake/fake_d2xx.h"

#include <algorithm>
#include <cstring>

namespace tavrin::adapter {

void FakeD2xx::FailCall(const std::string& name, int nth, FtStatus status) {
  failures_[name] = {nth, status};
}

namespace {
constexpr const char* kOpNames[] = {"FT_ListDevices", "FT_OpenEx", "FT_Close", "FT_GetQueueStatus", "FT_SetUSBParameters", "FT_SetLatencyTimer", "FT_SetBitMode", "FT_SetBaudRate", "FT_SetDivisor", "FT_Write", "FT_Read", "FT_GetBitMode", "FT_Purge"};
}  // namespace

FtStatus FakeD2xx::Result(int op, const std::function<std::string()>& args) {
  const int n = ++counts_[static_cast<std::size_t>(op)];
  FtStatus status = FT_OK;
  const char* name = kOpNames[op];
  if (!failures_.empty()) {
    if (auto it = failures_.find(name); it != failures_.end()) {
      if (it->second.first == 0 || it->second.first == n) status = it->second.second;
    }
  }
  if (record_calls) calls.push_back({name, args ? args() : std::string(), status});
  return status;
}

void FakeD2xx::ClearRecord() {
  calls.clear();
  written_bytes.clear();
  writes.clear();
  counts_.fill(0);
}

std::vector<std::string> FakeD2xx::CallNames() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const auto& c : calls) names.push_back(c.name);
  return names;
}

int FakeD2xx::CountCalls(const std::string& name) const {
  for (std::size_t i = 0; i < counts_.size(); ++i) {
    if (name == kOpNames[i]) return counts_[i];
  }
  return 0;
}

FtStatus FakeD2xx::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  FtStatus s = Result(0, [&] { return std::string("count flags=" + std::to_string(flags)); });
  if (s == FT_OK) s = count_status;
  if (s == FT_OK) *count = static_cast<std::uint32_t>(descriptions.size());
  return s;
}

FtStatus FakeD2xx::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                  std::uint32_t flags) {
  FtStatus s = Result(0, [&] { return std::string("index=" + std::to_string(index) + " flags=" + std::to_string(flags)); });
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
  FtStatus s = Result(1, [&] { return std::string(arg + " flags=" + std::to_string(flags)); });
  if (s != FT_OK) return s;
  if (std::find(descriptions.begin(), descriptions.end(), arg) == descriptions.end()) return FT_DEVICE_NOT_FOUND;
  open = true;
  open_handle = next_handle;
  *handle = open_handle;
  return FT_OK;
}

FtStatus FakeD2xx::FT_Close(FtHandle handle) {
  FtStatus s = Result(2, [&] { return std::string(std::to_string(handle)); });
  if (s != FT_OK) return s;
  if (!HandleOk(handle)) return FT_INVALID_HANDLE;
  open = false;
  answers_.clear();
  head_ = visible_ = 0;
  return FT_OK;
}

FtStatus FakeD2xx::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  FtStatus s = Result(3, nullptr);
  if (s != FT_OK) return s;
  if (!HandleOk(handle)) return FT_INVALID_HANDLE;
  const std::size_t on_the_way = answers_.size() - head_ - visible_;
  visible_ += deliver_per_query == 0 ? on_the_way : std::min<std::size_t>(deliver_per_query, on_the_way);
  *rx_bytes = static_cast<std::uint32_t>(visible_);
  return FT_OK;
}

FtStatus FakeD2xx::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) {
  FtStatus s = Result(4, [&] { return std::string(std::to_string(in_size) + "," + std::to_string(out_size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  FtStatus s = Result(5, [&] { return std::string(std::to_string(ms)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  FtStatus s = Result(6, [&] { return std::string(std::to_string(mask) + "," + std::to_string(mode)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  FtStatus s = Result(7, [&] { return std::string(std::to_string(rate)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  FtStatus s = Result(8, [&] { return std::string(std::to_string(divisor)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  return s;
}

FtStatus FakeD2xx::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                            std::uint32_t* written) {
  FtStatus s = Result(9, [&] { return std::string(std::to_string(size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s != FT_OK) return s;
  if (record_bytes) {
    written_bytes.insert(written_bytes.end(), data, data + size);
    writes.emplace_back(data, data + size);
  }
  std::uint32_t i = 0;
  // Byte by byte while scripted answers or dropped ones remain; the rest of
  // the write at once when a block function answers it.
  for (; i < size && (!scripted_answers.empty() || drop_answers > 0 || !answer_block); ++i) {
    std::uint8_t answer = answer_level;
    if (!scripted_answers.empty()) {
      answer = scripted_answers.front();
      scripted_answers.pop_front();
    } else if (answer_block) {
      answer_block(data + i, &answer, 1);
    } else if (answer_fn) {
      answer = answer_fn(data[i]);
    }
    if (drop_answers > 0) {
      --drop_answers;
      continue;
    }
    answers_.push_back(answer);
  }
  if (i < size) {
    const std::size_t at = answers_.size();
    answers_.resize(at + (size - i));
    answer_block(data + i, answers_.data() + at, size - i);
  }
  *written = size;
  return FT_OK;
}

FtStatus FakeD2xx::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  FtStatus s = Result(10, [&] { return std::string(std::to_string(size)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s != FT_OK) return s;
  const std::size_t n = std::min<std::size_t>(size, visible_);
  std::memcpy(buffer, answers_.data() + head_, n);
  head_ += n;
  visible_ -= n;
  if (head_ == answers_.size()) {
    answers_.clear();
    head_ = 0;
  }
  *read = static_cast<std::uint32_t>(n);
  return FT_OK;
}

FtStatus FakeD2xx::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  FtStatus s = Result(11, nullptr);
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s == FT_OK) *pins = bit_mode_pins;
  return s;
}

FtStatus FakeD2xx::FT_Purge(FtHandle handle, std::uint32_t mask) {
  FtStatus s = Result(12, [&] { return std::string(std::to_string(mask)); });
  if (s == FT_OK && !HandleOk(handle)) s = FT_INVALID_HANDLE;
  if (s == FT_OK && (mask & FT_PURGE_RX) != 0) {
    answers_.clear();
    head_ = visible_ = 0;
  }
  return s;
}

}  // namespace tavrin::adapter
