// SPDX-License-Identifier: Apache-2.0

#pragma once
// The few libftdi1 operations the real-adapter backend uses, behind an
// interface, so that the backend's D2XX meaning (queue emulation, status
// codes, rates) can be tested without a chip. LibFtdiApi() is the real thing;
// FakeFtdiApi (fake_ftdi_api.h) is the scriptable one.
//
// Return codes are libftdi's own: 0 or a count for success, a negative code
// for failure, with the text of the failure in ErrorString().
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::adapter::ftdi {

// The chip families this backend tells apart (libftdi's ftdi_context::type).
enum class ChipType {
  kAm,     // FT8U232AM: no bit-bang at all
  kBm,     // FT232BM/FT245BM: asynchronous bit-bang only
  kR,      // FT232R/FT245R: asynchronous and synchronous bit-bang
  kOther,  // anything else answering to 0403:6001
};

// One chip found on the bus.
struct UsbDeviceInfo {
  // Where the chip sits (bus and address); stays the same while it is
  // plugged in, and opens exactly this chip.
  std::uint32_t location = 0;
  // 0 when the product description could be read, else the libftdi code
  // (-4: the device could not be opened, usually a permission problem).
  int strings_status = 0;
  std::string strings_error;  // libftdi's text when strings_status != 0
  std::string description;    // USB product string
  std::string serial;         // USB serial string; empty when the chip has none
  // What the chip is, when the bus knows better than its strings (a
  // simulated chip); empty: the description and serial say it.
  std::string name;
};

// Codes of this interface beside libftdi's: no chip at the location any
// more (Open); libusb could not be initialised (ListDevices, Open).
inline constexpr int kNoSuchDevice = -1000;
inline constexpr int kNoUsb = -1001;

// An open chip. Destroying it releases the USB device (without leaving
// bit-bang mode: the backend does that first).
class FtdiPort {
 public:
  virtual ~FtdiPort() = default;
  [[nodiscard]] virtual ChipType Type() const = 0;
  virtual int SetBitmode(std::uint8_t mask, std::uint8_t mode) = 0;  // ftdi_set_bitmode
  // The baud generator set for this UART rate, as libftdi computes it
  // outside bit-bang mode: no factor of 4 whatever the mode.
  virtual int SetUartBaudrate(int rate) = 0;
  // The raw divisor register (request SIO_SET_BAUDRATE with value and index).
  virtual int SetBaudDivisor(std::uint16_t value, std::uint16_t index) = 0;
  virtual int SetLatencyTimer(std::uint8_t ms) = 0;
  virtual int SetReadChunksize(unsigned size) = 0;
  virtual int SetWriteChunksize(unsigned size) = 0;
  // ftdi_read_data: up to size bytes, whatever the chip has sent; 0 when
  // nothing came within the latency time. Never blocks for the full size.
  virtual int ReadData(std::uint8_t* buffer, int size) = 0;
  // ftdi_write_data: the count accepted.
  virtual int WriteData(const std::uint8_t* data, int size) = 0;
  virtual int ReadPins(std::uint8_t* pins) = 0;  // ftdi_read_pins
  virtual int FlushRx() = 0;                     // ftdi_tciflush: chip to host
  virtual int FlushTx() = 0;                     // ftdi_tcoflush: host to chip
  // ftdi_usb_close: releases the device (and lets the kernel serial driver
  // take it again). Nothing else may be called afterwards.
  virtual int Close() = 0;

  // --- Transfers in flight (synchronous bit-bang) ---
  // The answers are read while the bytes that owe them are written: a read
  // is in flight before the write goes, so both directions share the bus
  // and the chip never waits for the host to ask.
  //
  // Starts one OUT transfer with a copy of the bytes (at most one in flight).
  virtual int SubmitWrite(const std::uint8_t* data, int size) = 0;
  // Adds `size` answers to those being read: IN transfers, each packet's
  // status bytes dropped, follow one another until all of them have come.
  virtual int SubmitRead(int size) = 0;
  // Handles what the transfers have done, waiting up to timeout_ms (0: not
  // at all) until the OUT transfer has ended (until_written) or answers
  // have come. Appends the answers to `answers`. A negative code when a
  // transfer failed; the others are then still in flight.
  virtual int Pump(std::uint32_t timeout_ms, bool until_written, std::vector<std::uint8_t>* answers) = 0;
  [[nodiscard]] virtual bool Writing() const = 0;
  // Bytes the chip took from the last OUT transfer that ended (fewer than
  // were submitted when it took nothing more within the write time-out).
  [[nodiscard]] virtual std::size_t LastWriteTaken() const = 0;
  // Answers asked for and not yet come.
  [[nodiscard]] virtual std::size_t Reading() const = 0;
  // Cancels every transfer in flight and waits until they have ended; what
  // they would have brought is dropped.
  virtual int CancelTransfers() = 0;
  [[nodiscard]] virtual std::string ErrorString() const = 0;
};

// An IN transfer that reaches a chip whose latency timer has run out gets
// at once what answers there are, often just the first of a block; the
// rest of the block then ends in a short packet that waits a whole latency
// time. So when the host has seen no IN packet for nearly that time (less
// a frame, in which the next request may start), a read first takes the
// chip's status packet (which starts its timer again), and only then asks
// for the answers. Much sooner, the status packet would be a wait for the
// timer, and is not asked for.
inline bool LatencyHasRunOut(std::uint64_t since_last_in_us, unsigned latency_ms) {
  return since_last_in_us + 1000 >= std::uint64_t{latency_ms} * 1000;
}

class FtdiApi {
 public:
  virtual ~FtdiApi() = default;
  // Every chip with vendor 0x0403 and product 0x6001 (FT232R, FT232BM,
  // FT245R, FT8U232AM), in bus order; a negative code when the bus cannot be
  // scanned.
  virtual int ListDevices(std::vector<UsbDeviceInfo>* devices) = 0;
  // Opens the chip at the location (the kernel serial driver is detached
  // from it for the time it is open).
  virtual int Open(std::uint32_t location, std::unique_ptr<FtdiPort>* port) = 0;
  [[nodiscard]] virtual std::string ErrorString() const = 0;
};

// The implementation on libftdi1.
std::unique_ptr<FtdiApi> LibFtdiApi();

}  // namespace tavrin::adapter::ftdi
