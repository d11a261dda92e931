// SPDX-License-Identifier: Apache-2.0
// The FtdiApi on libftdi1: the only file of the program that includes
// <ftdi.h>.
#include <ftdi.h>
#include <libusb.h>

#include <array>
#include <cstring>

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

std::string TextOf(const std::array<char, 256>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

class LibFtdiPort final : public FtdiPort {
 public:
  explicit LibFtdiPort(ftdi_context* ctx) : ctx_(ctx) {}
  LibFtdiPort(const LibFtdiPort&) = delete;
  LibFtdiPort& operator=(const LibFtdiPort&) = delete;
  ~LibFtdiPort() override {
    if (open_) (void)ftdi_usb_close(ctx_);
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

  int SetLatencyTimer(std::uint8_t ms) override { return Check(ftdi_set_latency_timer(ctx_, ms)); }
  int SetReadChunksize(unsigned size) override { return Check(ftdi_read_data_set_chunksize(ctx_, size)); }
  int SetWriteChunksize(unsigned size) override { return Check(ftdi_write_data_set_chunksize(ctx_, size)); }
  int ReadData(std::uint8_t* buffer, int size) override { return Check(ftdi_read_data(ctx_, buffer, size)); }
  int WriteData(const std::uint8_t* data, int size) override { return Check(ftdi_write_data(ctx_, data, size)); }
  int ReadPins(std::uint8_t* pins) override { return Check(ftdi_read_pins(ctx_, pins)); }
  int FlushRx() override { return Check(ftdi_tciflush(ctx_)); }
  int FlushTx() override { return Check(ftdi_tcoflush(ctx_)); }

  int Close() override {
    if (!open_) return 0;
    open_ = false;
    return Check(ftdi_usb_close(ctx_));
  }

  [[nodiscard]] std::string ErrorString() const override { return error_; }

 private:
  int Check(int rc) {
    if (rc < 0) error_ = ErrorOf(ctx_);
    return rc;
  }

  ftdi_context* ctx_;
  bool open_ = true;
  std::string error_;
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
