// SPDX-License-Identifier: Apache-2.0
// The FtdiApi on libftdi1: the only file of the program that includes
// <ftdi.h>.
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "adapter/ftdi/ftdi_api.h"

namespace tavrin::adapter::ftdi {

namespace {

constexpr int kVendor = 0x0403;
constexpr int kProduct = 0x6001;  // FT232R, FT232BM, FT245R, FT8U232AM

std::string ErrorOf(ftdi_context* ctx) {
  const char* text = ftdi_get_error_string(ctx);
  return text == nullptr ? std::string() : std::string(text);
}

std::uint32_t LocationOf(libusb_device* dev) {
  return (static_cast<std::uint32_t>(libusb_get_bus_number(dev)) << 8U) | libusb_get_device_address(dev);
}

// Why an asynchronous transfer ended without its data, in words.
std::string TransferFailure(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_NO_DEVICE: return "the device was unplugged";
    case LIBUSB_TRANSFER_STALL: return "the endpoint stalled";
    case LIBUSB_TRANSFER_OVERFLOW: return "the chip sent more than asked for";
    case LIBUSB_TRANSFER_TIMED_OUT: return "timed out";
    default: return "transfer error";
  }
}

std::string TextOf(const std::array<char, 256>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

// One libusb transfer of the port's, reused.
struct Transfer {
  libusb_transfer* usb = nullptr;
  std::vector<std::uint8_t> buffer;
  bool busy = false;  // submitted, its callback not yet run
};

class LibFtdiPort final : public FtdiPort {
 public:
  explicit LibFtdiPort(ftdi_context* ctx) : ctx_(ctx) {
    out_.usb = libusb_alloc_transfer(0);
    in_.usb = libusb_alloc_transfer(0);
  }
  LibFtdiPort(const LibFtdiPort&) = delete;
  LibFtdiPort& operator=(const LibFtdiPort&) = delete;
  ~LibFtdiPort() override {
    (void)CancelTransfers();
    if (open_) (void)ftdi_usb_close(ctx_);
    // A transfer whose callback never came cannot be freed safely; with the
    // device closed that does not happen.
    if (!out_.busy) libusb_free_transfer(out_.usb);
    if (!in_.busy) libusb_free_transfer(in_.usb);
    ftdi_free(ctx_);
  }

  [[nodiscard]] ChipType Type() const override {
    switch (ctx_->type) {
      case TYPE_AM: return ChipType::kAm;
      case TYPE_BM: return ChipType::kBm;
      case TYPE_R: return ChipType::kR;
      default: return ChipType::kOther;
    }
  }

  int SetBitmode(std::uint8_t mask, std::uint8_t mode) override { return Check(ftdi_set_bitmode(ctx_, mask, mode)); }

  int SetUartBaudrate(int rate) override {
    // ftdi_set_baudrate multiplies the rate by 4 whenever a bit-bang mode is
    // on (its bitbang_enabled flag, set by ftdi_set_bitmode). The vendor
    // library computes the divisor from the number as given in every mode,
    // and the rate typed by the operator is meant that way, so the flag is
    // put aside for this one call.
    const unsigned char bitbang = ctx_->bitbang_enabled;
    ctx_->bitbang_enabled = 0;
    const int rc = ftdi_set_baudrate(ctx_, rate);
    ctx_->bitbang_enabled = bitbang;
    return Check(rc);
  }

  int SetBaudDivisor(std::uint16_t value, std::uint16_t index) override {
    // libftdi offers no call for a raw divisor: the same vendor request its
    // ftdi_set_baudrate sends, with the value as given.
    if (ctx_->usb_dev == nullptr) {
      error_ = "USB device unavailable";
      return -3;
    }
    const int rc = libusb_control_transfer(ctx_->usb_dev, FTDI_DEVICE_OUT_REQTYPE, SIO_SET_BAUDRATE_REQUEST, value,
                                           index, nullptr, 0, static_cast<unsigned>(ctx_->usb_write_timeout));
    if (rc < 0) {
      error_ = std::string("setting the baud divisor failed: ") + libusb_strerror(rc);
      return -2;
    }
    return 0;
  }

  int SetLatencyTimer(std::uint8_t ms) override {
    const int rc = Check(ftdi_set_latency_timer(ctx_, ms));
    if (rc >= 0) latency_ms_ = ms;
    return rc;
  }
  int SetReadChunksize(unsigned size) override { return Check(ftdi_read_data_set_chunksize(ctx_, size)); }
  int SetWriteChunksize(unsigned size) override { return Check(ftdi_write_data_set_chunksize(ctx_, size)); }
  int ReadData(std::uint8_t* buffer, int size) override {
    const int rc = Check(ftdi_read_data(ctx_, buffer, size));
    last_in_ = std::chrono::steady_clock::now();  // the chip's latency timer starts again with its packets
    return rc;
  }
  int WriteData(const std::uint8_t* data, int size) override { return Check(ftdi_write_data(ctx_, data, size)); }
  int ReadPins(std::uint8_t* pins) override { return Check(ftdi_read_pins(ctx_, pins)); }
  int FlushRx() override { return Check(ftdi_tciflush(ctx_)); }
  int FlushTx() override { return Check(ftdi_tcoflush(ctx_)); }

  int Close() override {
    if (!open_) return 0;
    (void)CancelTransfers();
    open_ = false;
    return Check(ftdi_usb_close(ctx_));
  }

  [[nodiscard]] std::string ErrorString() const override { return error_; }

  // --- Transfers in flight ---
  // On libusb's asynchronous transfers, to the endpoints libftdi opened:
  // libftdi's own (ftdi_transfer_data_done) waits without a time limit,
  // and a silent chip must end a wait. Callbacks run inside Pump and
  // CancelTransfers, on the caller's thread.
  int SubmitWrite(const std::uint8_t* data, int size) override {
    if (const int rc = Unusable(out_); rc != 0) return rc;
    if (out_.busy) return Fail(-1, "a write is already in flight");
    if (size <= 0 || data == nullptr) return 0;
    out_.buffer.assign(data, data + size);
    libusb_fill_bulk_transfer(out_.usb, ctx_->usb_dev, static_cast<unsigned char>(ctx_->in_ep), out_.buffer.data(),
                              size, &LibFtdiPort::OutDone, this, static_cast<unsigned>(ctx_->usb_write_timeout));
    const int rc = libusb_submit_transfer(out_.usb);
    if (rc < 0) return Fail(-4, std::string("usb bulk write failed: ") + libusb_strerror(rc));
    out_.busy = true;
    return 0;
  }

  int SubmitRead(int size) override {
    if (const int rc = Unusable(in_); rc != 0) return rc;
    if (size <= 0) return 0;
    if (!in_.busy && LatencyHasRunOut(MicrosSince(last_in_), latency_ms_)) {
      // The chip's status packet first (see ftdi_api.h).
      if (const int rc = SubmitIn(1); rc != 0) return rc;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(latency_ms_ + 100U);
      while (in_.busy && failed_ == 0 && std::chrono::steady_clock::now() < deadline) {
        timeval tv{0, 10000};
        (void)libusb_handle_events_timeout_completed(ctx_->usb_ctx, &tv, nullptr);
      }
      if (in_.busy) (void)Cancel(false, true);
      if (failed_ != 0) return std::exchange(failed_, 0);
    }
    reading_ += static_cast<std::size_t>(size);
    return in_.busy ? 0 : SubmitIn();
  }

  int Pump(std::uint32_t timeout_ms, bool until_written, std::vector<std::uint8_t>* answers) override {
    if (ctx_->usb_ctx == nullptr) return Fail(-3, "USB device unavailable");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    const std::size_t before = answers->size();
    for (bool first = true;; first = false) {
      const bool done = until_written ? !out_.busy : answers->size() + got_.size() > before;
      const auto left = deadline - std::chrono::steady_clock::now();
      if (failed_ != 0 || done || (!first && left <= std::chrono::steady_clock::duration::zero())) break;
      const auto us = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(left).count());
      timeval tv{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
      const int rc = libusb_handle_events_timeout_completed(ctx_->usb_ctx, &tv, nullptr);
      if (rc < 0 && rc != LIBUSB_ERROR_INTERRUPTED) {
        Fail(-4, std::string("usb event handling failed: ") + libusb_strerror(rc));
        break;
      }
      if (timeout_ms == 0) break;
    }
    answers->insert(answers->end(), got_.begin(), got_.end());
    got_.clear();
    if (failed_ != 0) return std::exchange(failed_, 0);
    return 0;
  }

  [[nodiscard]] bool Writing() const override { return out_.busy; }
  [[nodiscard]] std::size_t LastWriteTaken() const override { return last_taken_; }
  [[nodiscard]] std::size_t Reading() const override { return reading_; }

  int CancelTransfers() override {
    reading_ = 0;
    got_.clear();
    const int rc = Cancel(true, true);
    failed_ = 0;
    return rc;
  }

 private:
  int Unusable(const Transfer& t) {
    if (t.usb == nullptr) return Fail(-1, "out of memory for a USB transfer");
    if (!open_ || ctx_->usb_dev == nullptr) return Fail(-3, "USB device unavailable");
    return 0;
  }

  static std::uint64_t MicrosSince(std::chrono::steady_clock::time_point then) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - then).count());
  }

  // Cancels the OUT and/or the IN transfer and waits for their callbacks:
  // cancelling is asynchronous too.
  int Cancel(bool out, bool in) {
    if (out && out_.busy) (void)libusb_cancel_transfer(out_.usb);
    if (in && in_.busy) (void)libusb_cancel_transfer(in_.usb);
    const auto busy = [&] { return (out && out_.busy) || (in && in_.busy); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (busy() && ctx_->usb_ctx != nullptr && std::chrono::steady_clock::now() < deadline) {
      timeval tv{0, 100000};
      (void)libusb_handle_events_timeout_completed(ctx_->usb_ctx, &tv, nullptr);
    }
    return busy() ? Fail(-4, "a USB transfer could not be cancelled") : 0;
  }

  // The IN transfer for the answers still to come (or for `packets`
  // packets): whole packets, at most 16 KiB.
  int SubmitIn(std::size_t packets = 0) {
    const std::size_t packet = ctx_->max_packet_size > 2 ? ctx_->max_packet_size : 64;
    if (packets == 0) packets = std::min<std::size_t>((reading_ + packet - 3) / (packet - 2), 16384 / packet);
    packets = std::max<std::size_t>(packets, 1);
    in_.buffer.resize(packets * packet);
    libusb_fill_bulk_transfer(in_.usb, ctx_->usb_dev, static_cast<unsigned char>(ctx_->out_ep), in_.buffer.data(),
                              static_cast<int>(in_.buffer.size()), &LibFtdiPort::InDone, this,
                              static_cast<unsigned>(ctx_->usb_read_timeout));
    const int rc = libusb_submit_transfer(in_.usb);
    if (rc < 0) return Fail(-4, std::string("usb bulk read failed: ") + libusb_strerror(rc));
    in_.busy = true;
    return 0;
  }

  static void LIBUSB_CALL OutDone(libusb_transfer* t) {
    auto* self = static_cast<LibFtdiPort*>(t->user_data);
    self->out_.busy = false;
    self->last_taken_ = static_cast<std::size_t>(std::max(t->actual_length, 0));
    // A time-out is a write the chip did not take whole: LastWriteTaken says so.
    if (t->status != LIBUSB_TRANSFER_COMPLETED && t->status != LIBUSB_TRANSFER_TIMED_OUT &&
        t->status != LIBUSB_TRANSFER_CANCELLED) {
      self->failed_ = self->Fail(-4, "usb bulk write failed: " + TransferFailure(t->status));
    }
  }

  static void LIBUSB_CALL InDone(libusb_transfer* t) {
    auto* self = static_cast<LibFtdiPort*>(t->user_data);
    self->in_.busy = false;
    if (t->status == LIBUSB_TRANSFER_CANCELLED) return;
    self->last_in_ = std::chrono::steady_clock::now();
    if (t->status == LIBUSB_TRANSFER_COMPLETED) {
      // Each packet starts with the chip's two status bytes.
      const std::size_t packet = self->ctx_->max_packet_size > 2 ? self->ctx_->max_packet_size : 64;
      const auto length = static_cast<std::size_t>(std::max(t->actual_length, 0));
      std::size_t got = 0;
      for (std::size_t p = 0; p < length; p += packet) {
        const std::size_t end = std::min(p + packet, length);
        if (end - p <= 2) continue;
        self->got_.insert(self->got_.end(), t->buffer + p + 2, t->buffer + end);
        got += end - p - 2;
      }
      self->reading_ -= std::min(self->reading_, got);
    } else if (t->status != LIBUSB_TRANSFER_TIMED_OUT) {
      self->failed_ = self->Fail(-4, "usb bulk read failed: " + TransferFailure(t->status));
      return;
    }
    if (self->reading_ > 0) (void)self->SubmitIn();
  }

  int Fail(int code, std::string text) {
    error_ = std::move(text);
    return code;
  }

  int Check(int rc) {
    if (rc < 0) error_ = ErrorOf(ctx_);
    return rc;
  }

  ftdi_context* ctx_;
  bool open_ = true;
  std::string error_;
  Transfer out_;
  Transfer in_;
  std::size_t reading_ = 0;       // answers asked for, not yet come
  std::size_t last_taken_ = 0;    // of the last OUT transfer that ended
  std::vector<std::uint8_t> got_;  // answers come, not yet handed out
  int failed_ = 0;                 // a transfer failed: Pump gives the code once
  unsigned latency_ms_ = 16;       // the chip's latency timer, as set
  std::chrono::steady_clock::time_point last_in_{};  // when the last IN transfer ended
};

class LibFtdi final : public FtdiApi {
 public:
  LibFtdi() = default;
  LibFtdi(const LibFtdi&) = delete;
  LibFtdi& operator=(const LibFtdi&) = delete;
  ~LibFtdi() override {
    if (list_ctx_ != nullptr) ftdi_free(list_ctx_);
  }

  int ListDevices(std::vector<UsbDeviceInfo>* devices) override {
    devices->clear();
    if (list_ctx_ == nullptr) list_ctx_ = ftdi_new();
    if (list_ctx_ == nullptr) {
      error_ = "libusb could not be initialised";
      return kNoUsb;
    }
    ftdi_device_list* list = nullptr;
    const int n = ftdi_usb_find_all(list_ctx_, &list, kVendor, kProduct);
    if (n < 0) {
      error_ = ErrorOf(list_ctx_);
      return n;
    }
    for (ftdi_device_list* d = list; d != nullptr; d = d->next) {
      UsbDeviceInfo info;
      info.location = LocationOf(d->dev);
      // Description and serial are read separately: a chip without a serial
      // string fails the serial query, and still has a description.
      std::array<char, 256> text{};
      int rc = ftdi_usb_get_strings(list_ctx_, d->dev, nullptr, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
      if (rc == 0) {
        info.description = TextOf(text);
        text.fill('\0');
        rc = ftdi_usb_get_strings(list_ctx_, d->dev, nullptr, 0, nullptr, 0, text.data(),
                                  static_cast<int>(text.size()));
        if (rc == 0) info.serial = TextOf(text);
      } else {
        info.strings_status = rc;
        info.strings_error = ErrorOf(list_ctx_);
      }
      // Some failure paths of ftdi_usb_get_strings leave the device open in
      // the context, where the next query would find and reuse it.
      if (list_ctx_->usb_dev != nullptr) (void)ftdi_usb_close(list_ctx_);
      devices->push_back(std::move(info));
    }
    ftdi_list_free(&list);
    return static_cast<int>(devices->size());
  }

  int Open(std::uint32_t location, std::unique_ptr<FtdiPort>* port) override {
    ftdi_context* ctx = ftdi_new();
    if (ctx == nullptr) {
      error_ = "libusb could not be initialised";
      return kNoUsb;
    }
    // libftdi detaches the kernel serial driver (ftdi_sio) when it opens a
    // chip; in this mode libusb also gives the chip back to it on close, so
    // /dev/ttyUSBn returns when the adapter is closed.
    ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    ftdi_device_list* list = nullptr;
    int rc = ftdi_usb_find_all(ctx, &list, kVendor, kProduct);
    if (rc < 0) {
      error_ = ErrorOf(ctx);
      ftdi_free(ctx);
      return rc;
    }
    rc = kNoSuchDevice;
    for (ftdi_device_list* d = list; d != nullptr; d = d->next) {
      if (LocationOf(d->dev) == location) {
        rc = ftdi_usb_open_dev(ctx, d->dev);
        break;
      }
    }
    ftdi_list_free(&list);
    if (rc != 0) {
      error_ = rc == kNoSuchDevice ? std::string("device not found (unplugged?)") : ErrorOf(ctx);
      ftdi_free(ctx);
      return rc;
    }
    *port = std::make_unique<LibFtdiPort>(ctx);
    return 0;
  }

  [[nodiscard]] std::string ErrorString() const override { return error_; }

 private:
  ftdi_context* list_ctx_ = nullptr;  // for scans only; never holds a chip open
  std::string error_;
};

}  // namespace

std::unique_ptr<FtdiApi> LibFtdiApi() { return std::make_unique<LibFtdi>(); }

}  // namespace tavrin::adapter::ftdi
