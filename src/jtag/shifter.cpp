#include <algorithm>
#include <array>

#include "common/numbers.h"
#include "jtag/engine.h"

namespace tavrin::jtag {

using adapter::FT_OK;

bool Engine::ReadBack(std::uint8_t* buffer, std::uint32_t size) {
  adapter::D2xx& chip = adapter_.Chip();
  const std::uint64_t deadline = clock_.NowMicros() + static_cast<std::uint64_t>(readback_timeout_ms) * 1000U;
  std::uint32_t waiting = 0;
  for (;;) {
    const adapter::FtStatus status = chip.FT_GetQueueStatus(adapter_.DeviceHandle, &waiting);
    if (status != FT_OK) {
      ChipFailed(status, "FT_GetQueueStatus - check for input data");
      return false;
    }
    if (waiting >= size) break;
    if (clock_.NowMicros() >= deadline) {
      window_.ShowMessage("The adapter answered " + std::to_string(waiting) + " of " + std::to_string(size) +
                          " bytes within " + std::to_string(readback_timeout_ms) +
                          " ms.  The scan is incomplete; stopping.");
      flags_.StopRequested = kTrue;
      return false;
    }
    clock_.SleepBriefly();
  }
  std::uint32_t read = 0;
  const adapter::FtStatus status = chip.FT_Read(adapter_.DeviceHandle, buffer, size, &read);
  if (status != FT_OK) {
    ChipFailed(status, "FT_Read - get data");
    return false;
  }
  if (read != size) {
    window_.ShowMessage("The adapter returned " + std::to_string(read) + " of " + std::to_string(size) +
                        " bytes.  The scan is incomplete; stopping.");
    flags_.StopRequested = kTrue;
    return false;
  }
  return true;
}

bool Engine::ClockTck(std::uint64_t count) {
  if (!Ready()) return false;
  adapter::D2xx& chip = adapter_.Chip();
  std::uint8_t pins = 0;
  (void)chip.FT_Purge(adapter_.DeviceHandle, 255);
  (void)chip.FT_GetBitMode(adapter_.DeviceHandle, &pins);
  const adapter::PinMasks p = adapter_.Pins();
  pins = static_cast<std::uint8_t>(pins & ~p.tck & ~p.tdo);
  pins = static_cast<std::uint8_t>(CurrentTapState == RESET ? (pins | p.tms) : (pins & ~p.tms));
  // TCK high, low: two bytes a clock. The answers are read back chunk by
  // chunk, as in a scan, so that the chip's receive buffer never fills.
  std::array<std::uint8_t, kChunkBytes> chunk{};
  for (std::size_t k = 0; k < chunk.size(); k += 2) {
    chunk[k] = static_cast<std::uint8_t>(pins | p.tck);
    chunk[k + 1] = pins;
  }
  std::array<std::uint8_t, kChunkBytes> answers{};
  while (count > 0) {
    if (flags_.StopRequested == kTrue || flags_.Closing) return false;
    const auto clocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kChunkBytes / 2));
    std::uint32_t written = 0;
    const adapter::FtStatus status = chip.FT_Write(adapter_.DeviceHandle, chunk.data(), 2 * clocks, &written);
    if (status != FT_OK) {
      ChipFailed(status, "FT_Write - packet write");
      return false;
    }
    if (!ReadBack(answers.data(), 2 * clocks)) return false;
    count -= clocks;
    window_.ProcessPendingEvents();
  }
  return true;
}

std::string Engine::ShiftBits(const std::string& end_state, std::int32_t bit_count, const std::string& tdi) {
  std::string result;  // built least significant digit first, reversed at the end
  last_scan_cut_ = false;
  if (!Ready()) return result;
  adapter::D2xx& chip = adapter_.Chip();
  std::uint8_t pins = 0;
  (void)chip.FT_Purge(adapter_.DeviceHandle, 255);
  (void)chip.FT_GetBitMode(adapter_.DeviceHandle, &pins);

  const std::int64_t bits = std::max<std::int32_t>(bit_count, 0);
  const std::int64_t byte_count = 3 * bits;
  // The last bit carries TMS 1 and leaves the shift state; the model follows
  // before anything is sent.
  const int shift_state = CurrentTapState;
  if (bits > 0) {
    CurrentTapState = tables_.NextStateTable[static_cast<std::size_t>(CurrentTapState)][1];
  }
  window_.AppendLog("lNumBytes= " + std::to_string(byte_count));

  const adapter::PinMasks p = adapter_.Pins();
  const std::size_t tdi_len = tdi.size();
  result.reserve(static_cast<std::size_t>((bits + 3) / 4));

  std::array<std::uint8_t, kChunkBytes> chunk{};
  std::array<std::uint8_t, kChunkBytes> answers{};
  std::int64_t bit = 0;
  while (bit < bits) {
    // A stopped run (Break, closing, a failure elsewhere) ends the scan
    // after the chunk in flight. The last bit, which leaves the shift state,
    // has not been clocked: the model goes back to the shift state.
    if (flags_.StopRequested == kTrue || flags_.Closing) {
      CurrentTapState = shift_state;
      last_scan_cut_ = true;
      std::reverse(result.begin(), result.end());
      return result;
    }
    // Build one chunk: up to 16 bits, three bytes each (TCK low, high, low).
    std::uint32_t len = 0;
    const std::int64_t first_bit = bit;
    while (len < kChunkBytes && bit < bits) {
      const std::size_t digit = static_cast<std::size_t>(bit / 4);
      int nibble = 0;
      if (digit < tdi_len) nibble = std::max(HexDigitValue(tdi[tdi_len - 1 - digit]), 0);
      const bool tdi_bit = ((static_cast<unsigned>(nibble) >> static_cast<unsigned>(bit % 4)) & 1U) != 0U;
      pins = static_cast<std::uint8_t>(tdi_bit ? (pins | p.tdi) : (pins & ~p.tdi));
      pins = static_cast<std::uint8_t>(pins & ~p.tck & ~p.tms);
      if (bit == bits - 1) pins = static_cast<std::uint8_t>(pins | p.tms);
      chunk[len++] = pins;
      pins = static_cast<std::uint8_t>(pins | p.tck);
      chunk[len++] = pins;
      pins = static_cast<std::uint8_t>(pins & ~p.tck & ~p.tms);
      chunk[len++] = pins;
      ++bit;
    }

    std::uint32_t written = 0;
    const adapter::FtStatus status = chip.FT_Write(adapter_.DeviceHandle, chunk.data(), len, &written);
    if (status != FT_OK) {
      ChipFailed(status, "FT_Write - packet write");
      std::reverse(result.begin(), result.end());
      return result;
    }
    if (!ReadBack(answers.data(), len)) {
      std::reverse(result.begin(), result.end());
      return result;
    }

    // Decode: the third answer of each bit carries its TDO sample; four bits
    // make one digit. A chunk starts on a digit boundary (16 bits).
    const std::int64_t chunk_bits = bit - first_bit;
    for (std::int64_t g = 0; g < chunk_bits; g += 4) {
      unsigned nibble = 0;
      const std::int64_t in_group = std::min<std::int64_t>(4, chunk_bits - g);
      for (std::int64_t m = 0; m < in_group; ++m) {
        if ((answers[static_cast<std::size_t>(3 * (g + m) + 2)] & p.tdo) != 0) nibble |= 1U << static_cast<unsigned>(m);
      }
      result.push_back(HexDigitChar(nibble));
      window_.ProcessPendingEvents();
    }
  }

  std::reverse(result.begin(), result.end());
  MoveToState(end_state);
  return result;
}

}  // namespace tavrin::jtag
