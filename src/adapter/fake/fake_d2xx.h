// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/d2xx.h"

namespace tavrin::adapter {

// A scriptable chip for tests and benchmarks: lists the given descriptions,
// answers every byte written with one byte (scripted, computed, or a fixed
// level), can fail any call, and records every call and every byte written.
class FakeD2xx final : public D2xx {
 public:
  struct Call {
    std::string name;
    std::string args;
    FtStatus status = FT_OK;
  };

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

  // Makes the n-th call (counting from 1) of the named operation fail with
  // the status; n = 0 makes every call of it fail.
  void FailCall(const std::string& name, int nth, FtStatus status);

  // Forgets every recorded call and byte, and restarts the call counts.
  void ClearRecord();

  // Names of the recorded calls, in order.
  [[nodiscard]] std::vector<std::string> CallNames() const;
  [[nodiscard]] int CountCalls(const std::string& name) const;

  // --- Script ---
  std::vector<std::string> descriptions = {"FT232R USB UART"};
  FtStatus count_status = FT_OK;
  FtStatus description_status = FT_OK;
  FtHandle next_handle = 0x1234;
  std::uint8_t bit_mode_pins = 0x00;  // what FT_GetBitMode gives
  std::deque<std::uint8_t> scripted_answers;  // consumed first
  // Then one of these: the rest of a write answered at once (answers[i]
  // for written[i], `size` of each), else byte by byte.
  std::function<void(const std::uint8_t* written, std::uint8_t* answers, std::uint32_t size)> answer_block;
  std::function<std::uint8_t(std::uint8_t)> answer_fn;
  std::uint8_t answer_level = 0x00;  // else this
  // Late answers: at most this many answer bytes become visible per queue
  // query (0 = all at once). Answers that never arrive: drop_answers bytes of
  // the next writes get no answer.
  std::uint32_t deliver_per_query = 0;
  std::uint32_t drop_answers = 0;
  bool record_calls = true;
  bool record_bytes = true;

  // --- Record ---
  std::vector<Call> calls;
  std::vector<std::uint8_t> written_bytes;
  std::vector<std::vector<std::uint8_t>> writes;  // one entry per FT_Write
  bool open = false;
  FtHandle open_handle = 0;

 private:
  FtStatus Result(int op, const std::function<std::string()>& args);
  bool HandleOk(FtHandle h) const { return open && h == open_handle; }

  std::map<std::string, std::pair<int, FtStatus>> failures_;
  std::array<int, 13> counts_{};
  // Answers not yet read, from head_ on; the first visible_ of them have
  // arrived, the rest are on their way.
  std::vector<std::uint8_t> answers_;
  std::size_t head_ = 0;
  std::size_t visible_ = 0;
};

}  // namespace tavrin::adapter
