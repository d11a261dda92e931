// SPDX-License-Identifier: Apache-2.0

#pragma once
// A scriptable USB bus of FT232 chips behind the FtdiApi seam, for tests
// and benchmarks of the real-adapter backend without hardware.
//
// A chip in synchronous bit-bang mode behaves as the real one does: for
// every byte written it first samples its eight pins (the answer), then
// drives the byte onto its outputs. What the inputs read is the `wiring`
// function of the driven outputs, so a jumper or a small target can be
// modelled. Answers wait in the chip until ReadData collects them, at most
// deliver_per_read bytes per call.
//
// Round trips: every chip counts its USB transfers in `transfers` (one
// ReadData or WriteData call, an OUT transfer submitted, or a Pump that
// brings answers is one bulk transfer here; libftdi may split a large one),
// and FakeFtdiApi::TotalTransfers() sums them over the bus. Transfers in
// flight end at once: a write is taken as it is submitted.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ftdi/ftdi_api.h"

namespace tavrin::adapter::ftdi {

struct Transfers {
  int reads = 0;     // bulk IN (ReadData)
  int writes = 0;    // bulk OUT (WriteData)
  int controls = 0;  // control requests (modes, rates, latency, pins, flushes)
};

struct FakeChip {
  // --- What the bus shows ---
  std::string description = "FT232R USB UART";
  std::string serial = "A100001";
  ChipType type = ChipType::kR;
  int strings_status = 0;   // non-zero: the strings cannot be read (-4: no permission)
  int open_code = 0;        // what Open gives (-4 no permission, -5 busy, ...)
  bool present = true;      // false: unplugged; gone from scans, every call fails

  // --- Behaviour ---
  // Levels on all eight pins for the levels the chip drives (its outputs,
  // already masked); only the input bits are taken from it. None: inputs
  // read low.
  std::function<std::uint8_t(std::uint8_t driven)> wiring;
  std::uint32_t deliver_per_read = 0;  // most answers one ReadData or Pump hands over; 0 = all waiting
  std::uint32_t accept_per_write = 0;  // most bytes one WriteData or OUT transfer takes; 0 = all
  bool silent = false;                 // transfers in flight: the answers never come
  std::uint32_t lose_answers = 0;      // transfers in flight: the next this many answers are lost on the way
  // Makes the n-th call (from 1; 0 = every call) of a port operation
  // ("ReadData", "WriteData", "SetBitmode", "SetUartBaudrate",
  // "SetBaudDivisor", "SetLatencyTimer", "SetReadChunksize",
  // "SetWriteChunksize", "ReadPins", "FlushRx", "FlushTx", "Close",
  // "SubmitWrite", "SubmitRead", "Pump", "CancelTransfers") return the
  // code, with the text "<operation> failed".
  void FailCall(const std::string& operation, int nth, int code) { failures[operation] = {nth, code}; }

  // --- State, as the calls left it ---
  bool open = false;
  std::uint8_t mode = 0;
  std::uint8_t direction = 0;  // bit set: output
  std::uint8_t outputs = 0;    // the last byte driven
  int uart_rate = 0;           // last SetUartBaudrate
  int divisor_value = -1;      // last SetBaudDivisor, -1 = never
  int divisor_index = -1;
  int latency = 16;
  unsigned read_chunk = 4096;
  unsigned write_chunk = 4096;
  std::vector<std::uint8_t> written;          // every byte the chip took
  std::vector<std::vector<std::uint8_t>> write_calls;  // one entry per WriteData
  std::deque<std::uint8_t> answers;           // sent by the chip, not yet read
  std::vector<int> read_requests;             // the size asked by each ReadData
  std::size_t reading = 0;                    // transfers in flight: answers asked for, not yet come
  std::size_t most_reading = 0;               // the most `reading` has been
  Transfers transfers;
  std::map<std::string, int> calls;           // operation -> count

  // The levels of the eight pins now.
  [[nodiscard]] std::uint8_t Sample() const;

  std::map<std::string, std::pair<int, int>> failures;
};

class FakeFtdiApi final : public FtdiApi {
 public:
  // Adds a chip at the end of the bus (location: its position, from 1).
  FakeChip& AddChip(const std::string& description = "FT232R USB UART", const std::string& serial = "A100001",
                    ChipType type = ChipType::kR);

  int ListDevices(std::vector<UsbDeviceInfo>* devices) override;
  int Open(std::uint32_t location, std::unique_ptr<FtdiPort>* port) override;
  [[nodiscard]] std::string ErrorString() const override { return error_; }

  [[nodiscard]] Transfers TotalTransfers() const;

  std::vector<std::shared_ptr<FakeChip>> chips;
  int list_code = 0;  // non-zero: scans fail with it
  int list_calls = 0;
  int open_calls = 0;

 private:
  std::string error_;
};

}  // namespace tavrin::adapter::ftdi
