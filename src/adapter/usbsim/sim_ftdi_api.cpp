// SPDX-License-Identifier: Apache-2.0

#include "adapter/usbsim/sim_ftdi_api.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "adapter/baud_divisor.h"

namespace tavrin::adapter::usbsim {

namespace {

constexpr std::uint32_t kLocation = 1;
// The largest IN transfer of answers: 16 KiB.
constexpr std::size_t kMaxInPackets = 256;

class SimPort final : public ftdi::FtdiPort {
 public:
  SimPort(std::shared_ptr<UsbFt232r> chip, std::shared_ptr<bool> open) : chip_(std::move(chip)), open_(std::move(open)) {
    *open_ = true;
  }
  SimPort(const SimPort&) = delete;
  SimPort& operator=(const SimPort&) = delete;
  ~SimPort() override {
    if (closed_) return;
    chip_->CancelTransfers();
    *open_ = false;
  }

  [[nodiscard]] ftdi::ChipType Type() const override { return ftdi::ChipType::kR; }

  int SetBitmode(std::uint8_t mask, std::uint8_t mode) override {
    if (closed_) return Gone();
    chip_->SetBitMode(mask, mode);
    return 0;
  }

  int SetUartBaudrate(int rate) override {
    if (closed_) return Gone();
    // More than 5 % off the rate asked is refused without a request.
    const auto d = rate > 0 ? Ft232rDivisorFor(static_cast<std::uint32_t>(rate)) : std::nullopt;
    if (!d) return Fail(-1, "Unsupported baudrate");
    chip_->SetBaudDivisor(d->value, d->index);
    return 0;
  }

  int SetBaudDivisor(std::uint16_t value, std::uint16_t index) override {
    if (closed_) return Gone();
    chip_->SetBaudDivisor(value, index);
    return 0;
  }

  int SetLatencyTimer(std::uint8_t ms) override {
    if (closed_) return Gone();
    if (ms < 1) return Fail(-1, "latency out of range. Only valid for 1-255");
    chip_->SetLatencyTimer(ms);
    latency_ms_ = ms;
    return 0;
  }

  // Changing a chunk size drops what the read buffer holds.
  int SetReadChunksize(unsigned size) override {
    if (closed_) return Gone();
    if (size == 0 || size > kMaxChunk) return Fail(-1, "chunk size out of range");
    read_chunk_ = size;
    ClearBuffer();
    return 0;
  }
  int SetWriteChunksize(unsigned size) override {
    if (closed_) return Gone();
    if (size == 0 || size > kMaxChunk) return Fail(-1, "chunk size out of range");
    write_chunk_ = size;
    return 0;
  }

  // ftdi_read_data: first what the read buffer holds; then IN transfers of
  // the chunk size, the two status bytes of every packet dropped, until the
  // size is reached or a transfer brings no data. What a transfer brings
  // beyond the size waits in the read buffer for the next call.
  int ReadData(std::uint8_t* buffer, int size) override {
    if (closed_) return Gone();
    if (size <= 0 || buffer == nullptr) return 0;
    const auto want = static_cast<std::size_t>(size);
    std::size_t offset = TakeBuffered(buffer, want);
    const std::size_t length = std::max<std::size_t>(read_chunk_ / kPacketSize, 1) * kPacketSize;
    while (offset < want) {
      const std::vector<std::uint8_t> wire = chip_->BulkIn(length);
      last_in_ = chip_->HostClock().Now();
      ClearBuffer();
      if (Unpack(wire, &buffer_) == 0) break;
      offset += TakeBuffered(buffer + offset, want - offset);
    }
    return static_cast<int>(offset);
  }

  // ftdi_write_data: one OUT transfer per chunk; a transfer the chip does
  // not take within the write time-out fails the call.
  int WriteData(const std::uint8_t* data, int size) override {
    if (closed_) return Gone();
    if (size <= 0 || data == nullptr) return 0;
    const auto total = static_cast<std::size_t>(size);
    std::size_t offset = 0;
    while (offset < total) {
      const std::size_t n = std::min<std::size_t>(write_chunk_, total - offset);
      if (chip_->BulkOut(data + offset, n, kWriteTimeout) < n) return Fail(-1, "usb bulk write failed");
      offset += n;
    }
    return size;
  }

  // --- Transfers in flight ---
  // As on libusb: a transfer's completion is handled when the host pumps,
  // and that is when the next IN transfer of the answers still to come is
  // submitted, as the completion callback does.
  int SubmitWrite(const std::uint8_t* data, int size) override {
    if (closed_) return Gone();
    if (chip_->OutInFlight()) return Fail(-1, "a write is already in flight");
    if (size <= 0 || data == nullptr) return 0;
    chip_->SubmitOut(data, static_cast<std::size_t>(size), kWriteTimeout);
    return 0;
  }

  int SubmitRead(int size) override {
    if (closed_) return Gone();
    if (size <= 0) return 0;
    if (!chip_->InInFlight() && !chip_->InEnded()) {
      // After a pause the chip's latency timer has run out: the status
      // packet it then sends at once is taken first (see ftdi_api.h).
      SimClock& clock = chip_->HostClock();
      if (ftdi::LatencyHasRunOut((clock.Now() - last_in_) / kTicksPerUs, latency_ms_)) {
        chip_->SubmitIn(kPacketSize);
        const Ticks deadline = clock.Now() + (latency_ms_ + 2U) * kTicksPerMs;
        while (!HandleEnded(&early_) && clock.Now() < deadline) {
          if (chip_->RunBus(deadline) >= deadline && !chip_->InEnded()) clock.AdvanceTo(deadline);
        }
        if (chip_->InInFlight()) chip_->CancelIn();
      }
    }
    reading_ += static_cast<std::size_t>(size);
    if (!chip_->InInFlight() && !chip_->InEnded()) SubmitIn();
    return 0;
  }

  int Pump(std::uint32_t timeout_ms, bool until_written, std::vector<std::uint8_t>* answers) override {
    if (closed_) return Gone();
    SimClock& clock = chip_->HostClock();
    const Ticks deadline = clock.Now() + timeout_ms * kTicksPerMs;
    answers->insert(answers->end(), early_.begin(), early_.end());
    early_.clear();
    const std::size_t before = answers->size();
    bool done = false;
    for (;;) {
      // The bus runs until the deadline or until a transfer ends, which
      // the waiting host handles at once.
      (void)chip_->RunBus(deadline);
      const bool ended = HandleEnded(answers);
      done = until_written ? !chip_->OutInFlight() : answers->size() > before;
      if (done || !ended) break;
    }
    if (!done) clock.AdvanceTo(deadline);
    return 0;
  }

  [[nodiscard]] bool Writing() const override { return chip_->OutInFlight(); }
  [[nodiscard]] std::size_t LastWriteTaken() const override { return last_taken_; }
  [[nodiscard]] std::size_t Reading() const override { return reading_; }

  int CancelTransfers() override {
    if (closed_) return Gone();
    chip_->CancelTransfers();
    reading_ = 0;
    early_.clear();
    return 0;
  }

  int ReadPins(std::uint8_t* pins) override {
    if (closed_) return Gone();
    const std::uint8_t levels = chip_->ReadPins();
    if (pins != nullptr) *pins = levels;
    return 0;
  }
  int FlushRx() override {
    if (closed_) return Gone();
    chip_->PurgeRx();
    ClearBuffer();
    return 0;
  }
  int FlushTx() override {
    if (closed_) return Gone();
    chip_->PurgeTx();
    return 0;
  }
  int Close() override {
    if (closed_) return 0;
    chip_->CancelTransfers();
    reading_ = 0;
    closed_ = true;
    *open_ = false;
    return 0;
  }

  [[nodiscard]] std::string ErrorString() const override { return error_; }

 private:
  std::size_t TakeBuffered(std::uint8_t* out, std::size_t want) {
    const std::size_t n = std::min(want, buffer_.size() - head_);
    if (n > 0) std::memcpy(out, buffer_.data() + head_, n);
    head_ += n;
    return n;
  }
  void ClearBuffer() {
    buffer_.clear();
    head_ = 0;
  }
  // Handles the transfers that have ended, as their callbacks would; true
  // when there were any. Submitting the next IN transfer runs the bus up to
  // the host's time, which may end the OUT transfer too.
  bool HandleEnded(std::vector<std::uint8_t>* answers) {
    SimClock& clock = chip_->HostClock();
    const Ticks turnaround = chip_->Host().turnaround;
    bool ended = false;
    for (bool any = true; any; ended = ended || any) {
      any = false;
      if (auto out = chip_->TakeOut()) {
        last_taken_ = out->taken;
        clock.AdvanceTo(out->end + turnaround);
        any = true;
      }
      if (auto in = chip_->TakeIn()) {
        reading_ -= std::min(reading_, Unpack(in->wire, answers));
        clock.AdvanceTo(in->end + turnaround);
        last_in_ = clock.Now();
        if (reading_ > 0) SubmitIn();
        any = true;
      }
    }
    return ended;
  }
  // The IN transfer for the answers still to come: whole packets, at most
  // the largest chunk.
  void SubmitIn() {
    const std::size_t packets = std::min<std::size_t>((reading_ + kPacketData - 1) / kPacketData, kMaxInPackets);
    chip_->SubmitIn(packets * kPacketSize);
  }
  // The answers of a transfer's packets, their status bytes dropped.
  static std::size_t Unpack(const std::vector<std::uint8_t>& wire, std::vector<std::uint8_t>* answers) {
    std::size_t got = 0;
    for (std::size_t p = 0; p < wire.size(); p += kPacketSize) {
      const std::size_t end = std::min(p + kPacketSize, wire.size());
      if (end - p <= kStatusBytes) continue;
      answers->insert(answers->end(), wire.begin() + static_cast<std::ptrdiff_t>(p + kStatusBytes),
                      wire.begin() + static_cast<std::ptrdiff_t>(end));
      got += end - p - kStatusBytes;
    }
    return got;
  }
  int Fail(int code, std::string text) {
    error_ = std::move(text);
    return code;
  }
  int Gone() { return Fail(-3, "USB device unavailable"); }

  std::shared_ptr<UsbFt232r> chip_;
  std::shared_ptr<bool> open_;
  bool closed_ = false;
  unsigned read_chunk_ = kDefaultChunk;
  unsigned write_chunk_ = kDefaultChunk;
  std::size_t reading_ = 0;      // answers asked for, not yet come
  std::vector<std::uint8_t> early_;  // answers that came with a status packet taken before a read
  Ticks last_in_ = 0;            // when the host saw the last IN transfer end
  unsigned latency_ms_ = 16;     // the chip's latency timer, as set
  std::size_t last_taken_ = 0;   // of the last OUT transfer in flight
  std::vector<std::uint8_t> buffer_;  // libftdi's read buffer: data of the last IN transfer
  std::size_t head_ = 0;              // of it, handed out so far
  std::string error_;
};

}  // namespace

SimFtdiApi::SimFtdiApi(const board::BoardSpec& board, const HostProfile& host, SimClock& clock)
    : chip_(std::make_shared<UsbFt232r>(board, host, clock)), open_(std::make_shared<bool>(false)) {}

// Scanning the bus reads each chip's description and serial number: a
// language query and a string for each.
int SimFtdiApi::ListDevices(std::vector<ftdi::UsbDeviceInfo>* devices) {
  if (devices == nullptr) return -1;
  devices->clear();
  chip_->HostWork(chip_->Host().list);
  for (int i = 0; i < 4; ++i) chip_->Control();
  ftdi::UsbDeviceInfo info;
  info.location = kLocation;
  info.description = kSimDescription;
  info.serial = kSimSerial;
  info.name = "virtual board (" + board_name + ") on a simulated USB FT232R";
  devices->push_back(std::move(info));
  return 1;
}

// Opening resets the chip and sets 9600 baud, as ftdi_usb_open_dev does.
int SimFtdiApi::Open(std::uint32_t location, std::unique_ptr<ftdi::FtdiPort>* port) {
  if (port == nullptr) return -1;
  if (location != kLocation) {
    error_ = "device not found (unplugged?)";
    return ftdi::kNoSuchDevice;
  }
  if (*open_) {
    error_ = "unable to claim usb device. Make sure the default FTDI driver is not in use";
    return -5;
  }
  chip_->HostWork(chip_->Host().open);
  chip_->Reset();
  const BaudDivisor d = Ft232rDivisorFor(9600).value_or(BaudDivisor{});
  chip_->SetBaudDivisor(d.value, d.index);
  *port = std::make_unique<SimPort>(chip_, open_);
  return 0;
}

}  // namespace tavrin::adapter::usbsim
