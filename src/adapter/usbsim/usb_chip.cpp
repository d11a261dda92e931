// SPDX-License-Identifier: Apache-2.0

#include "adapter/usbsim/usb_chip.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tavrin::adapter::usbsim {

namespace {

// One transaction on a full-speed bus, besides its data: the token packet,
// the data packet's PID and CRC, the handshake and the gaps between them.
constexpr Ticks kTransaction = Us(3);
// One byte on the wire: 8 bits at 12 Mbit/s (256 ticks) and about a tenth
// more for bit stuffing.
constexpr Ticks kWireByte = 282;

// The fraction of the baud divisor, in eighths, for each code of value bits
// 14-15 and index bit 0 (as bit 2).
constexpr std::array<std::uint32_t, 8> kFractionEighths = {0, 4, 2, 1, 3, 5, 6, 7};

}  // namespace

UsbFt232r::UsbFt232r(const board::BoardSpec& board, HostProfile host, SimClock& clock)
    : pins_(board), host_(std::move(host)), clock_(clock) {
  if (host_.grid == 0) host_.grid = 1;
  next_byte_ = clock_.Now();
  last_packet_ = clock_.Now();
}

Ticks UsbFt232r::PacketTime(std::size_t bytes) { return kTransaction + static_cast<Ticks>(bytes) * kWireByte; }

Ticks UsbFt232r::SendIn(std::size_t n, Ticks t, std::vector<std::uint8_t>* wire) {
  const std::uint32_t nth = host_.chip.drop_every_nth_in;
  const bool lost = n > 0 && nth > 0 && ++in_with_answers_ % nth == 0;
  if (lost) {
    ++stats_.in_lost;
  } else {
    wire->push_back(kModemStatus);
    wire->push_back(kLineStatus);
    wire->insert(wire->end(), rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    stats_.bytes_in += n;
  }
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
  t += PacketTime(kStatusBytes + n);
  last_packet_ = t;
  return t;
}

Ticks UsbFt232r::BytePeriod() const {
  // Bit-bang clocks a byte at 16 times the baud rate, at most 3 MHz; serial
  // data takes ten bit times (start, eight data bits, stop) a byte.
  if (mode_ == kModeSync || mode_ == kModeAsync) return std::max<Ticks>(divisor_eighths_, kFastestByte);
  return Ticks{160} * divisor_eighths_;
}

void UsbFt232r::Advance(Ticks t) {
  const Ticks period = BytePeriod();
  const bool answers = mode_ == kModeSync;
  while (!tx_.empty() && next_byte_ <= t) {
    if (answers && rx_.size() >= RxLimit()) break;
    const std::uint8_t byte = tx_.front();
    tx_.pop_front();
    pins_.Chain().SetNow(next_byte_ * 1000U / kTicksPerUs);
    if (answers) {
      // Sample first, then drive.
      rx_.push_back(pins_.Levels());
      pins_.Drive(byte);
    } else if (mode_ == kModeAsync) {
      pins_.Drive(byte);
    }
    ++stats_.bytes_clocked;
    next_byte_ += period;
  }
  // Idle or stopped by a full receive FIFO: the next byte goes no earlier
  // than now.
  if (tx_.empty() || (answers && rx_.size() >= RxLimit())) next_byte_ = std::max(next_byte_, t);
}

Ticks UsbFt232r::WhenClocked(std::size_t n) const {
  if (n == 0) return next_byte_;
  if (tx_.size() < n) return kNever;
  if (mode_ == kModeSync && rx_.size() + n > RxLimit()) return kNever;
  return next_byte_ + static_cast<Ticks>(n - 1) * BytePeriod();
}

std::size_t UsbFt232r::RxLimit() const {
  return host_.chip.status_in_rx ? kRxFifo / kPacketSize * kPacketData : kRxFifo;
}

std::size_t UsbFt232r::OutRoom(std::size_t n) const { return host_.chip.whole_out_slots ? kPacketSize : n; }

Ticks UsbFt232r::Start() const {
  const Ticks now = clock_.Now();
  return (now + host_.grid - 1) / host_.grid * host_.grid;
}

// --- Control requests ---

Ticks UsbFt232r::BeginControl() {
  const Ticks start = Start();
  (void)RunBus(start);
  Advance(start);
  return start;
}

void UsbFt232r::EndControl(Ticks called, Ticks start) {
  ++stats_.control_requests;
  Finish(start + host_.control);
  stats_.control_time += clock_.Now() - called;
}

void UsbFt232r::Control() {
  const Ticks called = clock_.Now();
  EndControl(called, BeginControl());
}

void UsbFt232r::Reset() {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  tx_.clear();
  rx_.clear();
  EndControl(called, start);
}

void UsbFt232r::SetBitMode(std::uint8_t mask, std::uint8_t mode) {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  mode_ = mode;
  direction_ = mask;
  pins_.SetDriveMask(mode == kModeSync || mode == kModeAsync ? mask : std::uint8_t{0});
  EndControl(called, start);
}

void UsbFt232r::SetBaudDivisor(std::uint16_t value, std::uint16_t index) {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  const std::uint32_t whole = value & 0x3FFFU;
  const std::uint32_t code = (static_cast<std::uint32_t>(value) >> 14U) | ((index & 1U) << 2U);
  if (whole == 0) {
    divisor_eighths_ = 8;  // 3 Mbaud
  } else if (whole == 1) {
    divisor_eighths_ = 12;  // 2 Mbaud
  } else {
    divisor_eighths_ = whole * 8 + kFractionEighths[code];
  }
  EndControl(called, start);
}

void UsbFt232r::SetLatencyTimer(std::uint8_t ms) {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  latency_ms_ = std::max<std::uint8_t>(ms, 1);
  EndControl(called, start);
}

std::uint8_t UsbFt232r::ReadPins() {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  const std::uint8_t levels = pins_.Levels();
  EndControl(called, start);
  return levels;
}

void UsbFt232r::PurgeRx() {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  rx_.clear();
  EndControl(called, start);
}

void UsbFt232r::PurgeTx() {
  const Ticks called = clock_.Now();
  const Ticks start = BeginControl();
  tx_.clear();
  EndControl(called, start);
}

void UsbFt232r::HostWork(Ticks t) {
  clock_.AdvanceTo(clock_.Now() + t);
  stats_.host_time += t;
}

// --- Bulk transfers ---

std::size_t UsbFt232r::BulkOut(const std::uint8_t* data, std::size_t size, Ticks timeout) {
  const Ticks called = clock_.Now();
  const Ticks start = Start();
  (void)RunBus(start);
  const Ticks give_up = start + timeout;
  Ticks t = start;
  std::size_t done = 0;
  ++stats_.bulk_out;
  while (done < size) {
    const std::size_t n = std::min(kPacketSize, size - done);
    Advance(t);
    const std::size_t room = OutRoom(n);
    if (tx_.size() + room <= kTxFifo) {
      t += PacketTime(n);
      Advance(t);
      tx_.insert(tx_.end(), data + done, data + done + n);
      done += n;
      ++stats_.out_packets;
      continue;
    }
    // Refused: tried again once the chip has clocked enough bytes out.
    ++stats_.out_refused;
    const Ticks freed = WhenClocked(tx_.size() + room - kTxFifo);
    const Ticks retry = freed == kNever ? kNever : std::max(freed, t + PacketTime(0));
    if (retry == kNever || retry > give_up) {
      t = std::max(t, give_up);
      ++stats_.timeouts;
      break;
    }
    t = retry;
  }
  stats_.bytes_out += done;
  Finish(t);
  stats_.out_time += clock_.Now() - called;
  return done;
}

std::vector<std::uint8_t> UsbFt232r::BulkIn(std::size_t length) {
  const Ticks called = clock_.Now();
  Ticks t = Start();
  (void)RunBus(t);
  std::vector<std::uint8_t> wire;
  bool waited = false;
  ++stats_.bulk_in;
  std::size_t on_wire = 0;  // bytes sent, lost packets too
  const auto send = [&](std::size_t n) {
    on_wire += kStatusBytes + n;
    t = SendIn(n, t, &wire);
  };
  for (;;) {
    Advance(t);
    if (rx_.size() >= kPacketData) {
      send(kPacketData);
      ++stats_.in_full_packets;
      if (on_wire + kPacketSize > length) break;
      continue;
    }
    const Ticks expiry = last_packet_ + latency_ms_ * kTicksPerMs;
    if (t >= expiry) {
      const std::size_t n = rx_.size();
      send(n);
      ++(n == 0 ? stats_.in_empty_packets : stats_.in_short_packets);
      break;
    }
    // Refused (NAK) until a full packet is there or the timer runs out.
    const Ticks full = mode_ == kModeSync ? WhenClocked(kPacketData - rx_.size()) : kNever;
    if (expiry <= full) {
      stats_.latency_time += expiry - t;
      waited = true;
      t = expiry;
    } else {
      t = full;
    }
  }
  if (waited) ++stats_.latency_waits;
  Finish(t);
  stats_.in_time += clock_.Now() - called;
  return wire;
}

// --- Transfers in flight ---

void UsbFt232r::SubmitOut(const std::uint8_t* data, std::size_t size, Ticks timeout) {
  (void)RunBus(clock_.Now());
  out_ = OutFlight{};
  out_.active = true;
  out_.data.assign(data, data + size);
  out_.submitted = clock_.Now();
  out_.start = std::max(Start(), bus_);
  out_.give_up = out_.start + timeout;
  ++stats_.bulk_out;
}

void UsbFt232r::SubmitIn(std::size_t length) {
  (void)RunBus(clock_.Now());
  in_ = InFlight{};
  in_.active = true;
  in_.length = std::max(length, kPacketSize);
  in_.submitted = clock_.Now();
  in_.start = std::max(Start(), bus_);
  ++stats_.bulk_in;
}

std::optional<UsbFt232r::OutResult> UsbFt232r::TakeOut() { return std::exchange(out_done_, std::nullopt); }
std::optional<UsbFt232r::InResult> UsbFt232r::TakeIn() { return std::exchange(in_done_, std::nullopt); }

void UsbFt232r::CancelTransfers() {
  (void)RunBus(clock_.Now());
  out_.active = false;
  in_.active = false;
  out_done_.reset();
  in_done_.reset();
}

void UsbFt232r::CancelIn() {
  (void)RunBus(clock_.Now());
  in_.active = false;
  in_done_.reset();
}

bool UsbFt232r::OutPacket(Ticks& t) {
  const std::size_t n = std::min(kPacketSize, out_.data.size() - out_.done);
  if (tx_.size() + OutRoom(n) > kTxFifo) return false;
  t += PacketTime(n);
  Advance(t);
  const auto* first = out_.data.data() + out_.done;
  tx_.insert(tx_.end(), first, first + n);
  out_.done += n;
  ++stats_.out_packets;
  if (out_.done == out_.data.size()) {
    out_.active = false;
    stats_.bytes_out += out_.done;
    stats_.out_time += t - out_.submitted;
    out_done_ = OutResult{out_.done, false, t};
  }
  return true;
}

bool UsbFt232r::InPacket(Ticks& t) {
  const bool full = rx_.size() >= kPacketData;
  if (!full && t < last_packet_ + latency_ms_ * kTicksPerMs) return false;
  const std::size_t n = full ? kPacketData : rx_.size();
  ++(full ? stats_.in_full_packets : n == 0 ? stats_.in_empty_packets : stats_.in_short_packets);
  t = SendIn(n, t, &in_.wire);
  in_.on_wire += kStatusBytes + n;
  // A short packet ends the transfer, and so does reaching its length.
  if (!full || in_.on_wire + kPacketSize > in_.length) {
    in_.active = false;
    if (in_.waited) ++stats_.latency_waits;
    stats_.in_time += t - in_.submitted;
    in_done_ = InResult{std::move(in_.wire), t};
  }
  return true;
}

Ticks UsbFt232r::RunBus(Ticks until) {
  Ticks t = bus_;
  while (t < until && (out_.active || in_.active) && !out_done_ && !in_done_) {
    const bool out_on = out_.active && out_.start <= t;
    const bool in_on = in_.active && in_.start <= t;
    if (!out_on && !in_on) {
      t = std::min({until, out_.active ? out_.start : kNever, in_.active ? in_.start : kNever});
      continue;
    }
    Advance(t);
    // Turns: the transfer that did not go last tries first.
    bool went = false;
    for (int turn = 0; turn < 2 && !went; ++turn) {
      const bool out_turn = (turn == 0) == out_first_;
      went = out_turn ? out_on && OutPacket(t) : in_on && InPacket(t);
      if (went) out_first_ = !out_turn;
    }
    if (went) continue;
    // Both refused: on to the first moment either can go.
    Ticks next = until;
    if (out_on) {
      if (t >= out_.give_up) {
        out_.active = false;
        ++stats_.timeouts;
        stats_.bytes_out += out_.done;
        stats_.out_time += t - out_.submitted;
        out_done_ = OutResult{out_.done, true, t};
        break;
      }
      ++stats_.out_refused;
      const std::size_t n = std::min(kPacketSize, out_.data.size() - out_.done);
      const Ticks freed = WhenClocked(tx_.size() + OutRoom(n) - kTxFifo);
      next = std::min({next, out_.give_up, freed == kNever ? kNever : std::max(freed, t + PacketTime(0))});
    }
    if (in_on) {
      const Ticks expiry = last_packet_ + latency_ms_ * kTicksPerMs;
      const Ticks full = mode_ == kModeSync ? WhenClocked(kPacketData - rx_.size()) : kNever;
      if (expiry <= std::min(full, next)) {
        stats_.latency_time += expiry - t;
        in_.waited = true;
      }
      next = std::min({next, expiry, full});
    }
    if (out_.active && !out_on) next = std::min(next, out_.start);
    if (in_.active && !in_on) next = std::min(next, in_.start);
    t = std::max(next, t + 1);
  }
  bus_ = std::max(bus_, t);
  return t;
}

}  // namespace tavrin::adapter::usbsim
