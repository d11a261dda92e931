// SPDX-License-Identifier: Apache-2.0

#pragma once
// Raw byte streams for the virtual board, built the way the player builds
// them (a TAP step is TCK low, high, low with TMS steady; a scan bit is three
// bytes with TDO read from the answer to the third), and a chip opened and
// set up with the player's call sequence.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "board/virtual_d2xx.h"

namespace tavrin::board::testing {

struct Stream {
  std::uint8_t tck = 0x80;
  std::uint8_t tms = 0x02;
  std::uint8_t tdi = 0x20;
  std::uint8_t tdo = 0x40;
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> tdo_at;  // answer positions holding scanned TDO bits

  // One TAP step: 3 bytes with TMS at the given level.
  Stream& Step(bool tms_level) {
    const auto a = static_cast<std::uint8_t>(tms_level ? tms : 0);
    bytes.insert(bytes.end(), {a, static_cast<std::uint8_t>(a | tck), a});
    return *this;
  }
  Stream& Steps(std::initializer_list<int> levels) {
    for (const int l : levels) Step(l != 0);
    return *this;
  }
  // The player's reset step: TMS high over five TCK pulses in 11 bytes.
  Stream& Reset() {
    bytes.push_back(tms);
    for (int i = 0; i < 5; ++i) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(tms | tck), tms});
    return *this;
  }
  // Shifts the bits (bit 0 first), TMS high on the last one, as a scan does.
  Stream& Shift(const std::vector<bool>& bits) {
    for (std::size_t i = 0; i < bits.size(); ++i) {
      auto a = static_cast<std::uint8_t>(bits[i] ? tdi : 0);
      if (i + 1 == bits.size()) a = static_cast<std::uint8_t>(a | tms);
      bytes.insert(bytes.end(), {a, static_cast<std::uint8_t>(a | tck), static_cast<std::uint8_t>(a & ~tms)});
      tdo_at.push_back(bytes.size() - 1);
    }
    return *this;
  }
  // From Run-Test/Idle: scan the instruction register, back to Run-Test/Idle.
  Stream& ScanIr(const std::vector<bool>& bits) {
    Steps({1, 1, 0, 0});
    Shift(bits);
    return Steps({1, 0});
  }
  Stream& ScanDr(const std::vector<bool>& bits) {
    Steps({1, 0, 0});
    Shift(bits);
    return Steps({1, 0});
  }
};

inline std::vector<bool> BitsOf(std::uint64_t value, std::size_t length) {
  std::vector<bool> bits(length);
  for (std::size_t i = 0; i < length && i < 64; ++i) bits[i] = ((value >> i) & 1U) != 0;
  return bits;
}

inline std::uint64_t ValueOf(const std::vector<bool>& bits) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bits.size() && i < 64; ++i) {
    if (bits[i]) v |= std::uint64_t{1} << i;
  }
  return v;
}

// A chip opened and set up as the player does it (pins D7 TCK, D1 TMS,
// D5 TDI, D6 TDO; direction mask 0xA2; rate 150000; one byte 0x00).
struct Bench {
  explicit Bench(BoardSpec board = DefaultBoard()) : chip(std::move(board)) {}

  void OpenAndSetUp(std::uint8_t direction = 0xA2) {
    ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
    std::uint32_t n = 0;
    std::uint32_t written = 0;
    const std::uint8_t zero = 0;
    ASSERT_EQ(chip.FT_GetQueueStatus(handle, &n), FT_OK);
    ASSERT_EQ(chip.FT_SetUSBParameters(handle, 128, 0), FT_OK);
    ASSERT_EQ(chip.FT_SetLatencyTimer(handle, 2), FT_OK);
    ASSERT_EQ(chip.FT_SetBitMode(handle, 0, 0), FT_OK);
    ASSERT_EQ(chip.FT_SetBitMode(handle, direction, 4), FT_OK);
    ASSERT_EQ(chip.FT_SetBaudRate(handle, 150000), FT_OK);
    ASSERT_EQ(chip.FT_Write(handle, &zero, 1, &written), FT_OK);
    ASSERT_EQ(chip.FT_Purge(handle, 255), FT_OK);
  }

  // Writes the stream and reads back every answer.
  std::vector<std::uint8_t> Run(const Stream& s) {
    std::uint32_t written = 0;
    EXPECT_EQ(chip.FT_Write(handle, s.bytes.data(), static_cast<std::uint32_t>(s.bytes.size()), &written), FT_OK);
    std::uint32_t waiting = 0;
    EXPECT_EQ(chip.FT_GetQueueStatus(handle, &waiting), FT_OK);
    std::vector<std::uint8_t> answers(waiting);
    std::uint32_t read = 0;
    EXPECT_EQ(chip.FT_Read(handle, answers.data(), waiting, &read), FT_OK);
    answers.resize(read);
    return answers;
  }

  // The scanned TDO bits of the stream, from its answers.
  std::vector<bool> Scan(const Stream& s) {
    const auto answers = Run(s);
    std::vector<bool> bits;
    for (const std::size_t at : s.tdo_at) bits.push_back(at < answers.size() && (answers[at] & s.tdo) != 0);
    return bits;
  }

  VirtualD2xx chip;
  FtHandle handle = 0;
};

}  // namespace tavrin::board::testing
