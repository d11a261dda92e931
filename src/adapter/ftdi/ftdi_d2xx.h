// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter/d2xx.h"
#include "adapter/ftdi/ftdi_api.h"

namespace tavrin::adapter {

// Real FT232R and FT232B adapters (USB 0403:6001) through libftdi1, with the
// vendor library's meaning and status codes.
//
//   FtdiD2xx chip(ftdi::LibFtdiApi());
//
// Listing: the count form scans the bus; the by-index forms answer from
// that scan (scanning first when there has been none), so the indices of one
// Find stay the same. Descriptions and serials are cut to 64 characters.
// Open by description or serial scans again and opens the first matching
// chip that this backend does not hold open already, going on to the next
// match when one cannot be opened (busy, no permission).
//
// libftdi has no receive queue of its own: this backend keeps one per open
// chip, filled by reads of whatever the chip has sent, and FT_GetQueueStatus
// reports its length. In synchronous bit-bang mode every byte written owes
// exactly one answer: FT_Write asks for the answers of its bytes before it
// sends them, so they are read while the bytes go out (both directions in
// flight at once), and the queue status collects what has come.
class FtdiD2xx final : public D2xx {
 public:
  explicit FtdiD2xx(std::unique_ptr<ftdi::FtdiApi> api);
  FtdiD2xx(const FtdiD2xx&) = delete;
  FtdiD2xx& operator=(const FtdiD2xx&) = delete;
  ~FtdiD2xx() override;  // closes what is still open

  FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override;
  FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                          std::uint32_t flags) override;
  FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override;
  FtStatus FT_Close(FtHandle handle) override;
  FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) override;
  // Synchronous mode: waits on the transfers in flight. Other modes cannot.
  FtStatus WaitForQueue(FtHandle handle, std::uint32_t size, std::uint32_t timeout_ms, std::uint32_t* rx_bytes) override;
  FtStatus FT_SetUSBParameters(FtHandle handle, std::uint32_t in_transfer_size,
                               std::uint32_t out_transfer_size) override;
  FtStatus FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) override;
  FtStatus FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override;
  FtStatus FT_SetBaudRate(FtHandle handle, std::uint32_t rate) override;
  FtStatus FT_SetDivisor(FtHandle handle, std::uint16_t divisor) override;
  FtStatus FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                    std::uint32_t* written) override;
  FtStatus FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override;
  FtStatus FT_GetBitMode(FtHandle handle, std::uint8_t* pins) override;
  FtStatus FT_Purge(FtHandle handle, std::uint32_t mask) override;

  // libftdi's text of the last failure (with a hint for the usual causes of
  // a failed open), or this backend's own for failures libftdi never saw.
  [[nodiscard]] std::string LastErrorText() const override { return last_error_; }
  // "<description> (serial <serial>)", as the chip gave them when it was opened.
  [[nodiscard]] std::string OpenedName(FtHandle handle) const override;

  // The most answer bytes kept for one chip: beyond it no more are read,
  // and in synchronous mode no more are written for.
  static constexpr std::size_t kQueueLimit = std::size_t{1} << 20;
  // In synchronous mode the chip holds at most this many bytes written and
  // not answered: 128 not yet clocked, and 256 answers not yet sent (it
  // stops clocking when they fill up). No more are ever in flight: a longer
  // write goes in pieces, each after the answers that make room for it.
  static constexpr std::uint64_t kChipHolds = 128 + 256;

 private:
  struct Port {
    std::unique_ptr<ftdi::FtdiPort> usb;
    std::uint32_t location = 0;
    std::string name;  // what OpenedName gives
    std::uint8_t mode = FT_BITMODE_RESET;
    std::deque<std::uint8_t> queue;   // answers read from the chip, not yet handed out
    std::uint64_t owed = 0;           // synchronous mode: answers written for, not yet come
    std::uint32_t read_size = 4096;   // the USB IN transfer size
    std::uint32_t chunk_now = 0;      // the size libftdi reads with now (0: not known)
    std::vector<std::uint8_t> scratch;
  };

  Port* Find(FtHandle handle);
  FtStatus Scan();
  // Modes without answers owed: one read of what the chip has sent, up to
  // want bytes, into the queue.
  FtStatus Poll(Port& port, std::uint64_t want);
  // Synchronous mode: the answers that have come, into the queue, waiting
  // up to timeout_ms for some (or, until_written, for the write in flight
  // to end).
  FtStatus Collect(Port& port, std::uint32_t timeout_ms, bool until_written = false);
  FtStatus WriteSync(Port& port, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written);
  // Cancels the transfers in flight; nothing is owed any more.
  static void StopTransfers(Port& port);
  // Leaves bit-bang mode and releases the chip; the port is gone afterwards.
  FtStatus Release(std::map<FtHandle, Port>::iterator it);
  FtStatus Fail(FtStatus status, std::string text);

  std::unique_ptr<ftdi::FtdiApi> api_;
  std::vector<ftdi::UsbDeviceInfo> devices_;
  bool scanned_ = false;
  std::map<FtHandle, Port> ports_;
  FtHandle next_handle_ = 1;
  std::string last_error_;
};

}  // namespace tavrin::adapter
