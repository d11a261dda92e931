// SPDX-License-Identifier: Apache-2.0

#include "adapter/ftdi/fake_ftdi_api.h"

#include <algorithm>

namespace tavrin::adapter::ftdi {

std::uint8_t FakeChip::Sample() const {
  const auto driven = static_cast<std::uint8_t>(outputs & direction);
  const std::uint8_t seen = wiring ? wiring(driven) : std::uint8_t{0};
  return static_cast<std::uint8_t>(driven | (seen & ~direction));
}

namespace {

constexpr std::uint8_t kSyncMode = 0x04;

class FakePort final : public FtdiPort {
 public:
  // Opening resets the chip (libftdi's ftdi_usb_reset): nothing old waits.
  explicit FakePort(std::shared_ptr<FakeChip> chip) : chip_(std::move(chip)) {
    chip_->open = true;
    chip_->answers.clear();
  }
  FakePort(const FakePort&) = delete;
  FakePort& operator=(const FakePort&) = delete;
  ~FakePort() override { chip_->open = false; }

  [[nodiscard]] ChipType Type() const override { return chip_->type; }

  int SetBitmode(std::uint8_t mask, std::uint8_t mode) override {
    if (const int rc = Enter("SetBitmode", false); rc != 0) return rc;
    chip_->direction = mask;
    chip_->mode = mode;
    return 0;
  }
  int SetUartBaudrate(int rate) override {
    if (const int rc = Enter("SetUartBaudrate", false); rc != 0) return rc;
    // libftdi refuses what the 3 MHz generator misses by more than 5 %.
    if (rate <= 0 || rate > 3150000) return Error(-1, "Unsupported baudrate");
    chip_->uart_rate = rate;
    return 0;
  }
  int SetBaudDivisor(std::uint16_t value, std::uint16_t index) override {
    if (const int rc = Enter("SetBaudDivisor", false); rc != 0) return rc;
    chip_->divisor_value = value;
    chip_->divisor_index = index;
    return 0;
  }
  int SetLatencyTimer(std::uint8_t ms) override {
    if (const int rc = Enter("SetLatencyTimer", false); rc != 0) return rc;
    chip_->latency = ms;
    return 0;
  }
  int SetReadChunksize(unsigned size) override {
    if (const int rc = Enter("SetReadChunksize", false, true); rc != 0) return rc;
    chip_->read_chunk = size;
    return 0;
  }
  int SetWriteChunksize(unsigned size) override {
    if (const int rc = Enter("SetWriteChunksize", false, true); rc != 0) return rc;
    chip_->write_chunk = size;
    return 0;
  }

  int ReadData(std::uint8_t* buffer, int size) override {
    chip_->read_requests.push_back(size);
    ++chip_->transfers.reads;
    if (const int rc = Enter("ReadData", true, true); rc != 0) return rc;
    std::size_t n = std::min(static_cast<std::size_t>(std::max(size, 0)), chip_->answers.size());
    if (chip_->deliver_per_read != 0) n = std::min<std::size_t>(n, chip_->deliver_per_read);
    std::copy_n(chip_->answers.begin(), n, buffer);
    chip_->answers.erase(chip_->answers.begin(), chip_->answers.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
  }

  int WriteData(const std::uint8_t* data, int size) override {
    ++chip_->transfers.writes;
    if (const int rc = Enter("WriteData", true, true); rc != 0) return rc;
    return static_cast<int>(Take(data, size));
  }

  int SubmitWrite(const std::uint8_t* data, int size) override {
    ++chip_->transfers.writes;
    if (const int rc = Enter("SubmitWrite", true, true); rc != 0) return rc;
    last_taken_ = Take(data, size);
    return 0;
  }
  int SubmitRead(int size) override {
    if (const int rc = Enter("SubmitRead", true, true); rc != 0) return rc;
    chip_->reading += static_cast<std::size_t>(std::max(size, 0));
    chip_->most_reading = std::max(chip_->most_reading, chip_->reading);
    return 0;
  }
  int Pump(std::uint32_t /*timeout_ms*/, bool /*until_written*/, std::vector<std::uint8_t>* answers) override {
    if (const int rc = Enter("Pump", true, true); rc != 0) return rc;
    std::deque<std::uint8_t>& a = chip_->answers;
    const std::size_t lost = std::min<std::size_t>(chip_->lose_answers, a.size());
    a.erase(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(lost));
    chip_->lose_answers -= static_cast<std::uint32_t>(lost);
    if (chip_->silent) return 0;
    std::size_t n = std::min(chip_->reading, a.size());
    if (chip_->deliver_per_read != 0) n = std::min<std::size_t>(n, chip_->deliver_per_read);
    if (n == 0) return 0;
    ++chip_->transfers.reads;
    answers->insert(answers->end(), a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
    a.erase(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
    chip_->reading -= n;
    return 0;
  }
  [[nodiscard]] bool Writing() const override { return false; }
  [[nodiscard]] std::size_t LastWriteTaken() const override { return last_taken_; }
  [[nodiscard]] std::size_t Reading() const override { return chip_->reading; }
  int CancelTransfers() override {
    if (const int rc = Enter("CancelTransfers", false, true); rc != 0) return rc;
    chip_->reading = 0;
    return 0;
  }

  int ReadPins(std::uint8_t* pins) override {
    if (const int rc = Enter("ReadPins", false); rc != 0) return rc;
    *pins = chip_->Sample();
    return 0;
  }
  int FlushRx() override {
    if (const int rc = Enter("FlushRx", false); rc != 0) return rc;
    chip_->answers.clear();
    return 0;
  }
  int FlushTx() override { return Enter("FlushTx", false); }
  int Close() override {
    if (const int rc = Enter("Close", false, true); rc != 0) return rc;
    chip_->open = false;
    return 0;
  }

  [[nodiscard]] std::string ErrorString() const override { return error_; }

 private:
  // The chip takes the bytes (at most accept_per_write of them).
  std::size_t Take(const std::uint8_t* data, int size) {
    std::size_t n = static_cast<std::size_t>(std::max(size, 0));
    if (chip_->accept_per_write != 0) n = std::min<std::size_t>(n, chip_->accept_per_write);
    chip_->write_calls.emplace_back(data, data + n);
    for (std::size_t i = 0; i < n; ++i) {
      chip_->written.push_back(data[i]);
      // Synchronous bit-bang: sample first, then drive.
      if (chip_->mode == kSyncMode) chip_->answers.push_back(chip_->Sample());
      chip_->outputs = data[i];
    }
    return n;
  }
  // Counts the call and gives the code it is to fail with, or 0.
  int Enter(const std::string& op, bool bulk, bool local = false) {
    const int n = ++chip_->calls[op];
    if (!bulk && !local) ++chip_->transfers.controls;
    if (auto it = chip_->failures.find(op); it != chip_->failures.end()) {
      if (it->second.first == 0 || it->second.first == n) return Error(it->second.second, op + " failed");
    }
    if (!chip_->present && op != "Close") {
      return bulk ? Error(-4, "usb bulk transfer failed") : Error(-2, "USB device unavailable");
    }
    return 0;
  }
  int Error(int code, std::string text) {
    error_ = std::move(text);
    return code;
  }

  std::shared_ptr<FakeChip> chip_;
  std::size_t last_taken_ = 0;
  std::string error_;
};

}  // namespace

FakeChip& FakeFtdiApi::AddChip(const std::string& description, const std::string& serial, ChipType type) {
  auto chip = std::make_shared<FakeChip>();
  chip->description = description;
  chip->serial = serial;
  chip->type = type;
  chips.push_back(chip);
  return *chip;
}

int FakeFtdiApi::ListDevices(std::vector<UsbDeviceInfo>* devices) {
  ++list_calls;
  devices->clear();
  if (list_code != 0) {
    error_ = "libusb_get_device_list() failed";
    return list_code;
  }
  for (std::size_t i = 0; i < chips.size(); ++i) {
    const FakeChip& c = *chips[i];
    if (!c.present) continue;
    UsbDeviceInfo info;
    info.location = static_cast<std::uint32_t>(i + 1);
    info.strings_status = c.strings_status;
    if (c.strings_status != 0) {
      info.strings_error = "libusb_open() failed";
    } else {
      info.description = c.description;
      info.serial = c.serial;
    }
    devices->push_back(std::move(info));
  }
  return static_cast<int>(devices->size());
}

int FakeFtdiApi::Open(std::uint32_t location, std::unique_ptr<FtdiPort>* port) {
  ++open_calls;
  if (location == 0 || location > chips.size() || !chips[location - 1]->present) {
    error_ = "device not found (unplugged?)";
    return kNoSuchDevice;
  }
  const auto& chip = chips[location - 1];
  if (chip->open_code != 0) {
    switch (chip->open_code) {
      case -5: error_ = "unable to claim usb device. Make sure the default FTDI driver is not in use"; break;
      case kNoSuchDevice: error_ = "device not found (unplugged?)"; break;
      default: error_ = "libusb_open() failed"; break;
    }
    return chip->open_code;
  }
  if (chip->open) {
    error_ = "unable to claim usb device. Make sure the default FTDI driver is not in use";
    return -5;
  }
  *port = std::make_unique<FakePort>(chip);
  return 0;
}

Transfers FakeFtdiApi::TotalTransfers() const {
  Transfers t;
  for (const auto& c : chips) {
    t.reads += c->transfers.reads;
    t.writes += c->transfers.writes;
    t.controls += c->transfers.controls;
  }
  return t;
}

}  // namespace tavrin::adapter::ftdi
