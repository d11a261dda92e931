// SPDX-License-Identifier: Apache-2.0

#pragma once
// A full-speed USB FT232R on a simulated clock: its FIFOs, its bit-bang
// engine, its latency timer, and what each USB request costs the host.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/timing.h"
#include "board/board_pins.h"
#include "board/board_spec.h"

namespace tavrin::adapter::usbsim {

inline constexpr std::size_t kPacketSize = 64;                    // a full-speed bulk packet
inline constexpr std::size_t kStatusBytes = 2;                    // at the head of every IN packet
inline constexpr std::size_t kPacketData = kPacketSize - kStatusBytes;  // data in a full IN packet
inline constexpr std::size_t kTxFifo = 128;                       // host to chip: bytes not yet clocked
inline constexpr std::size_t kRxFifo = 256;                       // chip to host: answers not yet sent
inline constexpr Ticks kFastestByte = 128;                        // bit-bang at 3 MHz
// The status bytes of every IN packet: modem status (bit 0 always set),
// line status (transmitter empty).
inline constexpr std::uint8_t kModemStatus = 0x01;
inline constexpr std::uint8_t kLineStatus = 0x60;
// Bit modes, the chip's own numbers.
inline constexpr std::uint8_t kModeReset = 0x00;
inline constexpr std::uint8_t kModeAsync = 0x01;
inline constexpr std::uint8_t kModeSync = 0x04;

// What the simulated traffic was, and where the host's time went. Every
// call's time runs from the moment it is made to the moment its caller has
// the result: the wait for the host controller's grid is in it.
struct UsbStats {
  std::uint64_t control_requests = 0;
  std::uint64_t bulk_out = 0;          // OUT transfers
  std::uint64_t out_packets = 0;
  std::uint64_t out_refused = 0;       // OUT packets that had to wait for room in the transmit FIFO
  std::uint64_t bulk_in = 0;           // IN transfers
  std::uint64_t in_full_packets = 0;   // 62 data bytes, sent as soon as they were there
  std::uint64_t in_short_packets = 0;  // 1 to 61 data bytes, sent when the latency timer ran out
  std::uint64_t in_empty_packets = 0;  // status bytes only, sent when the latency timer ran out
  std::uint64_t latency_waits = 0;     // IN transfers that waited for the latency timer
  std::uint64_t in_lost = 0;           // IN packets with answers that never reached the host
  std::uint64_t bytes_out = 0;         // data bytes taken by the chip
  std::uint64_t bytes_in = 0;          // data bytes sent by the chip
  std::uint64_t bytes_clocked = 0;     // bytes put on the pins (or sent as serial data)
  std::uint64_t timeouts = 0;          // OUT transfers given up (the chip took nothing more)
  Ticks control_time = 0;
  Ticks out_time = 0;
  Ticks in_time = 0;
  Ticks latency_time = 0;  // of in_time: IN packets refused until the latency timer ran out
  Ticks host_time = 0;     // scanning the bus and opening, besides their requests
};

// One FT232R on a full-speed port, with a board wired to its data pins.
//
// The chip: bytes from the host wait in the 128-byte transmit FIFO and are
// clocked out one per period of the baud generator. In synchronous bit-bang
// mode each byte first samples the pins (its answer goes to the 256-byte
// receive FIFO) and then drives them; while the receive FIFO is full the
// chip clocks nothing. Asynchronous bit-bang drives without answers; reset
// mode sends the bytes out as serial data (ten bits each) and leaves the
// pins alone. An IN packet carries the two status bytes and up to 62
// answers: 62 are sent as soon as they are there, fewer (or none) only when
// the latency timer has run out, counted from the last IN packet sent. An
// OUT packet is refused while it does not fit in the transmit FIFO. The
// host profile's ChipRules make the FIFOs stricter and lose IN packets.
//
// The host: each request starts on the profile's grid, no earlier than the
// clock's time; the call leaves the clock at the moment its caller has the
// result. The chip runs behind the requests: it is brought up to each
// moment a request looks at it.
class UsbFt232r {
 public:
  UsbFt232r(const board::BoardSpec& board, HostProfile host, SimClock& clock);

  // --- Control requests ---
  // SIO_RESET: both FIFOs emptied (opening a device sends it).
  void Reset();
  void SetBitMode(std::uint8_t mask, std::uint8_t mode);
  // The baud generator's register, as the request carries it: 14 bits of
  // divisor and a fraction code in value bits 14-15 and index bit 0. 0 is
  // 3 Mbaud, 1 is 2 Mbaud.
  void SetBaudDivisor(std::uint16_t value, std::uint16_t index);
  void SetLatencyTimer(std::uint8_t ms);
  [[nodiscard]] std::uint8_t ReadPins();
  void PurgeRx();  // the receive FIFO (chip to host) emptied
  void PurgeTx();  // the transmit FIFO (host to chip) emptied: its bytes never reach the pins
  // A request that leaves the chip as it is (a descriptor read).
  void Control();

  // --- Bulk transfers ---
  // One OUT transfer: the bytes go in packets of 64. Gives the count the
  // chip took, less than size only when it took nothing more for `timeout`
  // (the transfer then ends at that time).
  std::size_t BulkOut(const std::uint8_t* data, std::size_t size, Ticks timeout);
  // One IN transfer of up to `length` bytes on the wire (a multiple of 64):
  // packets until one is short or the length is reached. Gives the bytes as
  // they came, the status bytes at the head of each packet.
  std::vector<std::uint8_t> BulkIn(std::size_t length);

  // --- Transfers in flight ---
  // At most one OUT and one IN transfer may be in flight at once. Each
  // starts on the grid at or after the moment it is submitted, and then the
  // two share the bus: the host controller takes turns, one packet of each,
  // and tries a refused one again when the chip can take it. The bus runs
  // only when RunBus is called; a transfer that has ended waits to be taken
  // (TakeOut, TakeIn), as a completion waits for the host to handle it.
  struct OutResult {
    std::size_t taken = 0;   // bytes the chip took
    bool timed_out = false;  // it took nothing more within the time-out
    Ticks end = 0;
  };
  struct InResult {
    std::vector<std::uint8_t> wire;  // packets as they came, status bytes at the head of each
    Ticks end = 0;
  };
  void SubmitOut(const std::uint8_t* data, std::size_t size, Ticks timeout);
  void SubmitIn(std::size_t length);
  // Runs the transfers in flight up to t, or until one of them ends; gives
  // the moment the bus stopped.
  Ticks RunBus(Ticks t);
  [[nodiscard]] bool OutInFlight() const { return out_.active; }
  [[nodiscard]] bool InInFlight() const { return in_.active; }
  [[nodiscard]] bool InEnded() const { return in_done_.has_value(); }
  std::optional<OutResult> TakeOut();
  std::optional<InResult> TakeIn();
  // Cancels both at the clock's time: bytes not yet delivered never reach
  // the chip, answers not yet handed to the host are lost.
  void CancelTransfers();
  // Cancels the IN transfer alone.
  void CancelIn();

  // Host work without USB traffic (listing, opening).
  void HostWork(Ticks t);

  // --- What tests and tools look at ---
  // Runs the chip up to the clock's time.
  void CatchUp() { Advance(clock_.Now()); }
  [[nodiscard]] std::size_t TxLevel() const { return tx_.size(); }
  [[nodiscard]] std::size_t RxLevel() const { return rx_.size(); }
  [[nodiscard]] std::uint8_t Mode() const { return mode_; }
  [[nodiscard]] std::uint8_t LatencyMs() const { return latency_ms_; }
  // The baud generator's divisor in eighths (8 for 3 Mbaud) and the time
  // one byte takes in the current mode.
  [[nodiscard]] std::uint32_t DivisorEighths() const { return divisor_eighths_; }
  [[nodiscard]] Ticks BytePeriod() const;
  // When the last IN packet was on the wire (the latency timer counts from it).
  [[nodiscard]] Ticks LastPacket() const { return last_packet_; }
  [[nodiscard]] const UsbStats& Stats() const { return stats_; }
  [[nodiscard]] board::BoardPins& Pins() { return pins_; }
  [[nodiscard]] const HostProfile& Host() const { return host_; }
  [[nodiscard]] SimClock& HostClock() { return clock_; }

 private:
  static constexpr Ticks kNever = ~Ticks{0};

  // Clocks every byte due up to t.
  void Advance(Ticks t);
  // When the n-th byte from now will have been clocked, if no answer leaves
  // meanwhile; kNever when the FIFOs stop it first.
  [[nodiscard]] Ticks WhenClocked(std::size_t n) const;
  // How many answers the receive FIFO holds, and how much room an OUT
  // packet of n bytes needs in the transmit FIFO, under the rules.
  [[nodiscard]] std::size_t RxLimit() const;
  [[nodiscard]] std::size_t OutRoom(std::size_t n) const;
  // The grid point the next request starts on.
  [[nodiscard]] Ticks Start() const;
  // The request is complete at `done`: the caller has its result a turnaround later.
  void Finish(Ticks done) { clock_.AdvanceTo(done + host_.turnaround); }
  // A control request: starts on the grid, acts at its start, takes the
  // profile's time.
  Ticks BeginControl();
  void EndControl(Ticks called, Ticks start);
  // One packet on the wire with this many bytes in its data stage (token,
  // data, handshake and gaps).
  static Ticks PacketTime(std::size_t bytes);
  // One IN packet of n answers (0: the status bytes alone) at t, possibly
  // lost under the rules; appends what reaches the host to `wire`. Gives
  // the packet's end.
  Ticks SendIn(std::size_t n, Ticks t, std::vector<std::uint8_t>* wire);
  // One packet of the transfer in flight at t, when the chip takes or has
  // one; false when it refuses.
  bool OutPacket(Ticks& t);
  bool InPacket(Ticks& t);

  struct OutFlight {
    bool active = false;
    std::vector<std::uint8_t> data;
    std::size_t done = 0;
    Ticks submitted = 0, start = 0, give_up = 0;
  };
  struct InFlight {
    bool active = false;
    std::size_t length = 0;
    std::size_t on_wire = 0;
    std::vector<std::uint8_t> wire;
    Ticks submitted = 0, start = 0;
    bool waited = false;
  };

  board::BoardPins pins_;
  HostProfile host_;
  SimClock& clock_;

  std::deque<std::uint8_t> tx_;
  std::deque<std::uint8_t> rx_;
  Ticks next_byte_ = 0;    // the earliest moment the next byte can be clocked
  Ticks last_packet_ = 0;  // the end of the last IN packet
  std::uint8_t mode_ = kModeReset;
  std::uint8_t direction_ = 0;
  std::uint8_t latency_ms_ = 16;
  std::uint32_t divisor_eighths_ = 2500;  // 9600 baud
  std::uint64_t in_with_answers_ = 0;     // IN packets with answers, for ChipRules::drop_every_nth_in
  OutFlight out_;
  InFlight in_;
  std::optional<OutResult> out_done_;
  std::optional<InResult> in_done_;
  Ticks bus_ = 0;           // the transfers in flight have run up to here
  bool out_first_ = true;   // whose turn on the bus it is
  UsbStats stats_;
};

}  // namespace tavrin::adapter::usbsim
