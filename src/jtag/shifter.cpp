// SPDX-License-Identifier: Apache-2.0

#include <algorithm>

#include "common/numbers.h"
#include "jtag/engine.h"

namespace tavrin::jtag {

using adapter::FT_OK;

std::string ScanSizeLine(std::int32_t bit_count) {
  return "lNumBytes= " + std::to_string(3 * static_cast<std::int64_t>(std::max<std::int32_t>(bit_count, 0)));
}

bool Engine::ReadBack(std::uint8_t* buffer, std::uint32_t size) {
  adapter::D2xx& chip = adapter_.Chip();
  const std::uint64_t deadline = clock_.NowMicros() + static_cast<std::uint64_t>(readback_timeout_ms) * 1000U;
  std::uint32_t waiting = 0;
  adapter::FtStatus status = chip.FT_GetQueueStatus(adapter_.DeviceHandle, &waiting);
  while (status == FT_OK && waiting < size) {
    const std::uint64_t now = clock_.NowMicros();
    if (now >= deadline) {
      Abandon();
      // Nothing is left in flight to answer later.
      (void)chip.FT_Purge(adapter_.DeviceHandle, adapter::FT_PURGE_RX | adapter::FT_PURGE_TX);
      window_.ShowMessage("The adapter answered " + std::to_string(waiting) + " of " + std::to_string(size) +
                          " bytes within " + std::to_string(readback_timeout_ms) +
                          " ms.  The scan is incomplete; stopping.");
      return false;
    }
    // The chip's backend waits on the bus when it can; a wait that brought
    // nothing, or none at all, is a brief sleep.
    const std::uint32_t had = waiting;
    const auto left_ms = static_cast<std::uint32_t>((deadline - now + 999) / 1000);
    status = chip.WaitForQueue(adapter_.DeviceHandle, size, left_ms, &waiting);
    if (status == adapter::FT_NOT_SUPPORTED || (status == FT_OK && waiting == had)) {
      clock_.SleepBriefly();
      status = chip.FT_GetQueueStatus(adapter_.DeviceHandle, &waiting);
    }
  }
  if (status != FT_OK) {
    ChipFailed(status, "FT_GetQueueStatus - check for input data");
    return false;
  }
  std::uint32_t read = 0;
  status = chip.FT_Read(adapter_.DeviceHandle, buffer, size, &read);
  if (status != FT_OK) {
    ChipFailed(status, "FT_Read - get data");
    return false;
  }
  if (read != size) {
    Abandon();
    window_.ShowMessage("The adapter returned " + std::to_string(read) + " of " + std::to_string(size) +
                        " bytes.  The scan is incomplete; stopping.");
    return false;
  }
  return true;
}

bool Engine::WriteBlock(bool pad) {
  if (queued_ == 0) return !failed_;
  // After a failure, or with the adapter closed under the run (Close
  // Interface stops the run too), nothing more goes out.
  if (failed_ || adapter_.InterfaceOpen != kTrue) {
    failed_ = true;
    Drop();
    return false;
  }
  // Pins or rate changed in the middle of a run: what is queued was made
  // for the old ones.
  if (adapter_.PortSetupValid != kTrue) {
    Abandon();
    window_.ShowMessage(adapter::kMsgPortSetup);
    return false;
  }
  // Hold bytes repeat the last byte: no pin changes. They fill the last
  // packet of answers, which would otherwise wait for the latency timer.
  if (pad) {
    const std::uint32_t whole = (queued_ + kPacketAnswers - 1) / kPacketAnswers * kPacketAnswers;
    std::fill(block_.begin() + queued_, block_.begin() + whole, pins_);
    queued_ = whole;
  }
  const std::uint32_t size = queued_;
  adapter::D2xx& chip = adapter_.Chip();
  std::uint32_t written = 0;
  const adapter::FtStatus status = chip.FT_Write(adapter_.DeviceHandle, block_.data(), size, &written);
  if (status != FT_OK) {
    ChipFailed(status, "FT_Write - packet write");
    return false;
  }
  answers_.resize(size);
  if (!ReadBack(answers_.data(), size)) return false;
  queued_ = 0;
  Dispatch(answers_.data(), size);
  written_ += size;
  // The window's events are handled once a block, padded or not: a run of
  // short checked scans is nothing but padded blocks, and Break and closing
  // must be seen there too. Whatever the events do, Sync waits (Busy).
  window_.ProcessPendingEvents();
  return true;
}

void Engine::Dispatch(const std::uint8_t* answers, std::uint32_t size) {
  const std::uint8_t tdo = masks_.tdo;
  const std::uint64_t end = written_ + size;
  for (PendingScan& s : scans_) {
    // The third byte of each bit (TCK low again) answers with its TDO
    // sample. Locals: the byte loads could alias the scan's fields.
    std::int64_t decoded = s.decoded;
    unsigned nibble = s.nibble;
    std::uint64_t at = s.first_byte + 3 * static_cast<std::uint64_t>(decoded) + 2;
    const std::int64_t bits = s.bits;
    while (decoded < bits && at < end) {
      const auto sample = static_cast<unsigned>((answers[at - written_] & tdo) != 0);
      nibble |= sample << (static_cast<unsigned>(decoded) & 3U);
      ++decoded;
      at += 3;
      if ((decoded & 3) == 0) {
        s.digits.push_back(HexDigitChar(nibble));
        nibble = 0;
      }
    }
    s.decoded = decoded;
    s.nibble = nibble;
    // Later scans start after this one's bytes.
    if (decoded < bits) break;
  }
  CompleteFinished();
}

void Engine::CompleteFinished() {
  while (!scans_.empty() && scans_.front().decoded >= scans_.front().bits) {
    PendingScan s = std::move(scans_.front());
    scans_.pop_front();
    if (s.bits % 4 != 0) s.digits.push_back(HexDigitChar(s.nibble));
    std::reverse(s.digits.begin(), s.digits.end());
    s.done(std::move(s.digits), s.cut);
  }
}

void Engine::Abandon() {
  failed_ = true;
  flags_.StopRequested = kTrue;
  Drop();
}

void Engine::Drop() {
  queued_ = 0;
  std::deque<PendingScan> cut;
  cut.swap(scans_);
  for (PendingScan& s : cut) {
    std::reverse(s.digits.begin(), s.digits.end());
    s.done(std::move(s.digits), true);
  }
}

bool Engine::Flush() {
  const Busy busy(depth_);
  const bool ok = WriteBlock(true);
  // Scans of no bits complete without answers.
  CompleteFinished();
  if (!scans_.empty()) Drop();
  return ok && !failed_;
}

bool Engine::ClockTck(std::uint64_t count) {
  const Busy busy(depth_);
  if (!Ready() || !EnsurePins()) return false;
  const adapter::PinMasks& p = masks_;
  auto pins = static_cast<std::uint8_t>(pins_ & ~p.tck & ~p.tdo);
  pins = static_cast<std::uint8_t>(CurrentTapState == RESET ? (pins | p.tms) : (pins & ~p.tms));
  const auto high = static_cast<std::uint8_t>(pins | p.tck);
  // TCK high, low: two bytes a clock. A stop is seen once a block.
  std::uint64_t since_check = 0;
  while (count > 0) {
    if (since_check == 0 && (flags_.StopRequested == kTrue || flags_.Closing)) return false;
    since_check = (since_check + 1) % (kBlockBytes / 2);
    if (!Put(high) || !Put(pins)) return false;
    --count;
  }
  return !failed_;
}

void Engine::ShiftBitsThen(const std::string& end_state, std::int32_t bit_count, const std::string& tdi,
                           ScanDone done) {
  const Busy busy(depth_);
  last_scan_cut_ = false;
  // A scan that is never clocked has nothing to compare: it is cut.
  if (!Ready() || !EnsurePins()) {
    last_scan_cut_ = true;
    done({}, true);
    return;
  }
  const std::int64_t bits = std::max<std::int32_t>(bit_count, 0);
  // The last bit carries TMS 1 and leaves the shift state; the model follows
  // before anything is sent.
  const int shift_state = CurrentTapState;
  if (bits > 0) {
    CurrentTapState = tables_.NextStateTable[static_cast<std::size_t>(CurrentTapState)][1];
  }
  PendingScan entry;
  entry.first_byte = written_ + queued_;
  entry.bits = bits;
  entry.digits.reserve(static_cast<std::size_t>((bits + 3) / 4));
  entry.done = std::move(done);
  scans_.push_back(std::move(entry));
  // Only while the scan is being queued is it the last one; a failure
  // meanwhile cuts it (and every other) at once.
  const std::size_t queued_before = scans_.size() - 1;

  const adapter::PinMasks& p = masks_;
  const std::size_t tdi_len = tdi.size();
  std::int64_t bit = 0;
  while (bit < bits) {
    if (failed_) return;
    // A stopped run (Break, closing, a failure elsewhere) ends the scan
    // after the block in flight; what is queued still goes out, so the
    // stream ends on a whole bit. The last bit, which leaves the shift
    // state, has not been clocked: the model goes back to the shift state.
    if (flags_.StopRequested == kTrue || flags_.Closing) {
      CurrentTapState = shift_state;
      last_scan_cut_ = true;
      if (scans_.size() == queued_before + 1) {
        scans_.back().bits = bit;
        scans_.back().cut = true;
      }
      (void)Flush();
      return;
    }
    // Sixteen bits at a time (four digits), three bytes each: TCK low,
    // high, low. TDI is read a digit at a time. The masks and the count
    // are kept in locals: byte stores could alias the members.
    const std::int64_t group_end = std::min<std::int64_t>(bits, bit + 16);
    const std::uint8_t tck = p.tck;
    const std::uint8_t tms = p.tms;
    const std::uint8_t tdi_mask = p.tdi;
    const auto base = static_cast<std::uint8_t>(pins_ & ~tck & ~tms & ~tdi_mask);
    std::uint8_t* const out = block_.data();
    std::uint32_t q = queued_;
    std::uint8_t last = pins_;
    while (bit < group_end) {
      const std::size_t digit = static_cast<std::size_t>(bit / 4);
      const unsigned nibble =
          digit < tdi_len ? static_cast<unsigned>(std::max(HexDigitValue(tdi[tdi_len - 1 - digit]), 0)) : 0U;
      const std::int64_t digit_end = std::min<std::int64_t>(group_end, static_cast<std::int64_t>(digit + 1) * 4);
      for (unsigned k = static_cast<unsigned>(bit % 4); bit < digit_end; ++bit, ++k) {
        auto pins = ((nibble >> k) & 1U) != 0U ? static_cast<std::uint8_t>(base | tdi_mask) : base;
        if (bit == bits - 1) pins = static_cast<std::uint8_t>(pins | tms);
        const auto high = static_cast<std::uint8_t>(pins | tck);
        last = static_cast<std::uint8_t>(pins & ~tms);
        if (q + 3 < kBlockBytes) {  // the usual case: the bit fits and the block is not full after it
          out[q] = pins;
          out[q + 1] = high;
          out[q + 2] = last;
          q += 3;
          continue;
        }
        queued_ = q;
        bool ok = Put(pins);
        ok = Put(high) && ok;
        ok = Put(last) && ok;
        if (!ok) return;
        q = queued_;
      }
    }
    queued_ = q;
    pins_ = last;
  }
  MoveToState(end_state);
}

std::string Engine::ShiftBits(const std::string& end_state, std::int32_t bit_count, const std::string& tdi) {
  last_scan_cut_ = false;
  if (!Ready()) {
    last_scan_cut_ = true;
    return {};
  }
  window_.AppendLog(ScanSizeLine(bit_count));
  std::string result;
  bool cut = false;
  ShiftBitsThen(end_state, bit_count, tdi, [&result, &cut](std::string captured, bool was_cut) {
    result = std::move(captured);
    cut = was_cut;
  });
  (void)Sync();
  last_scan_cut_ = cut;
  return result;
}

}  // namespace tavrin::jtag
