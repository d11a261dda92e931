// SPDX-License-Identifier: Apache-2.0
// The virtual board's chip under arbitrary call sequences: the input picks
// the board's wiring, then the calls (list, open, close, modes, rates, writes
// of any size, queue queries, reads, purges, pin reads), their arguments,
// wrong handles and null pointers, and the test hooks (injected failures,
// late and lost answers, unplugging, power cycles, waveforms).
//
// A model kept beside the chip predicts every status and every answer byte:
// a read never returns more than asked or more than has arrived, answers
// never outnumber the bytes written, each answer holds the pins as they were
// just before its byte was driven, a failing call changes nothing, the chain
// sees one rising edge for each time the TCK pin goes high, and the waveform
// ends at the levels the pins show.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/baud_divisor.h"
#include "board/board_spec.h"
#include "board/virtual_d2xx.h"

namespace {

namespace ad = tavrin::adapter;
namespace board = tavrin::board;
using board::Op;

// Bytes written per input at most (a large write crosses the chip's 64 KiB
// simulation slices; this keeps the slowest input well under a second).
constexpr std::uint64_t kMaxBytesPerInput = std::uint64_t{100} * 1024U;
constexpr int kMaxCallsPerInput = 4000;

// The step being checked, for the message of a failed check.
const char* g_step = "power-on";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "chip_fuzzer: %s (at %s)\n", what.c_str(), g_step);
  std::fflush(stderr);
  std::abort();
}

// Checks run for every byte, so their messages cost nothing until they fail.
void Require(bool ok, const char* what) {
  if (!ok) Fail(what);
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

void RequireStatus(ad::FtStatus got, ad::FtStatus want, const char* call) {
  if (got != want) Fail(std::string(call) + " gave status " + Num(got) + ", want " + Num(want));
}

struct Fault {
  bool active = false;
  bool every = false;
  int at = 0;
  ad::FtStatus status = ad::FT_OK;
};

// One answer byte the model expects: the pins before its byte, on the pins
// whose level the model knows (all but an undriven TDO).
struct Expected {
  std::uint8_t value;
  std::uint8_t care;
};

board::BoardSpec PickBoard(FuzzedDataProvider& in) {
  board::BoardSpec board = board::DefaultBoard();
  // Four different pins for TCK, TMS, TDI and TDO.
  std::array<unsigned, 8> pins{0, 1, 2, 3, 4, 5, 6, 7};
  for (unsigned i = 0; i < 4; ++i) {
    const auto j = in.ConsumeIntegralInRange<unsigned>(i, 7);
    std::swap(pins[i], pins[j]);
  }
  if (in.ConsumeBool()) {
    board.wiring.tck = pins[0];
    board.wiring.tms = pins[1];
    board.wiring.tdi = pins[2];
    board.wiring.tdo = pins[3];
  }
  board.wiring.tck_pull_down = in.ConsumeBool();
  const auto extra = in.ConsumeIntegralInRange<unsigned>(0, 2);
  for (unsigned i = 0; i < extra; ++i) {
    board::DeviceSpec dev = board.chain.front();
    dev.name += "-" + std::to_string(i);
    board.chain.push_back(dev);
  }
  return board;
}

class Rig {
 public:
  Rig(FuzzedDataProvider& in, const board::BoardSpec& board)
      : in_(in),
        chip_(board),
        tck_(Bit(board.wiring.tck)),
        tms_(Bit(board.wiring.tms)),
        tdi_(Bit(board.wiring.tdi)),
        tdo_(Bit(board.wiring.tdo)),
        tck_pull_down_(board.wiring.tck_pull_down) {
    tck_high_ = (ModelPins() & tck_) != 0;
    CheckState();
  }

  void Run() {
    for (int calls = 0; calls < kMaxCallsPerInput && in_.remaining_bytes() > 0; ++calls) {
      const auto what = in_.ConsumeIntegralInRange<unsigned>(0, 26);
      g_step = Step(what);
      CheckState();
    }
    if (vcd_on_) StopVcd();
  }

 private:
  static std::uint8_t Bit(unsigned pin) { return static_cast<std::uint8_t>(1U << (pin & 7U)); }

  // --- The model ---

  [[nodiscard]] std::uint8_t Driven() const { return mode_ == ad::FT_BITMODE_RESET ? 0 : dir_mask_; }
  [[nodiscard]] std::uint8_t ModelPins() const {
    const std::uint8_t driven = Driven();
    std::uint8_t undriven = 0xFF;
    if (tck_pull_down_) undriven = static_cast<std::uint8_t>(undriven & ~tck_);
    return static_cast<std::uint8_t>((latch_ & driven) | (undriven & ~driven));
  }
  [[nodiscard]] std::uint8_t Care() const {
    return (Driven() & tdo_) != 0 ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(~tdo_);
  }
  void PinsChanged() {
    const bool high = (ModelPins() & tck_) != 0;
    if (high && !tck_high_) ++rises_;
    tck_high_ = high;
  }
  void SetMode(std::uint8_t mask, std::uint8_t mode) {
    mode_ = mode;
    dir_mask_ = mask;
    PinsChanged();
  }
  void ClearQueue() {
    queue_.clear();
    arrived_ = 0;
  }
  void Unplug() {
    unplugged_ = true;
    ClearQueue();
  }
  // Counts a call; the injected status when a fault strikes it.
  std::optional<ad::FtStatus> Strikes(Op op) {
    const auto i = static_cast<std::size_t>(op);
    const int n = ++counts_[i];
    const Fault& f = faults_[i];
    if (f.active && (f.every || f.at == n)) return f.status;
    return std::nullopt;
  }
  // What a call on a handle gives before it does anything; FT_OK to go on.
  ad::FtStatus Gate(Op op, ad::FtHandle h) {
    if (const auto s = Strikes(op)) return *s;
    if (unplugged_ && h == handle_ && handle_ != 0) return ad::FT_IO_ERROR;
    if (!open_ || h != handle_) return ad::FT_INVALID_HANDLE;
    return ad::FT_OK;
  }

  void CheckState() {
    Require(chip_.IsOpen() == open_, "open");
    Require(chip_.IsUnplugged() == unplugged_, "unplugged");
    Require(chip_.Mode() == mode_, "mode");
    Require(chip_.DirectionMask() == dir_mask_, "direction mask");
    const std::uint8_t care = Care();
    if ((chip_.Pins() & care) != (ModelPins() & care)) {
      Fail("pins " + Num(chip_.Pins()) + ", model " + Num(ModelPins()) + " (care " + Num(care) + ")");
    }
    Require(chip_.BytesWritten() == bytes_written_, "bytes written");
    Require(chip_.BytesDriven() == bytes_driven_, "bytes driven");
    if (chip_.PendingAnswers() != queue_.size()) {
      Fail("pending answers " + Num(chip_.PendingAnswers()) + ", model " + Num(queue_.size()));
    }
    Require(chip_.PendingAnswers() <= chip_.BytesDriven(), "more answers waiting than bytes driven");
    Require(chip_.OverflowedAnswers() == 0, "answers lost to a full queue");
    if (chip_.Chain().RisingEdges() != rises_) {
      Fail("rising TCK edges " + Num(chip_.Chain().RisingEdges()) + ", model " + Num(rises_));
    }
    Require(chip_.Chain().FallingEdges() + 1 >= rises_ && chip_.Chain().FallingEdges() <= rises_ + 1,
            "rising and falling edges alternate");
    Require(chip_.BaudRate() == baud_ && chip_.Divisor() == divisor_ && chip_.LatencyTimer() == latency_ &&
                chip_.UsbInTransferSize() == usb_in_ && chip_.UsbOutTransferSize() == usb_out_,
            "settings");
    for (std::size_t i = 0; i < board::kOpCount; ++i) {
      if (chip_.CallCount(static_cast<Op>(i)) != counts_[i]) {
        Fail(std::string("call count of ") + board::OpName(static_cast<Op>(i)));
      }
    }
  }

  // --- Arguments from the input ---

  ad::FtHandle PickHandle() {
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 9)) {
      case 0: return last_handle_ + 1;
      case 1: return 0;
      case 2: return in_.ConsumeIntegral<ad::FtHandle>();
      default: return last_handle_;  // the handle of the last open, also after its close
    }
  }
  ad::FtStatus PickStatus() {
    static constexpr ad::FtStatus kStatuses[] = {ad::FT_IO_ERROR, ad::FT_OTHER_ERROR, ad::FT_INSUFFICIENT_RESOURCES,
                                                 ad::FT_DEVICE_NOT_FOUND, ad::FT_INVALID_HANDLE};
    const auto i = in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kStatuses));
    if (i < std::size(kStatuses)) return kStatuses[i];
    return in_.ConsumeIntegralInRange<ad::FtStatus>(1, 0xFFFFFFFFU);
  }
  std::uint32_t PickListFlags(bool by_index) {
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 4)) {
      case 0: return in_.ConsumeIntegral<std::uint32_t>();
      case 1: return by_index ? ad::FT_LIST_BY_INDEX | ad::FT_OPEN_BY_SERIAL_NUMBER : ad::FT_LIST_NUMBER_ONLY;
      default:
        return by_index ? ad::FT_LIST_BY_INDEX | ad::FT_OPEN_BY_DESCRIPTION : ad::FT_LIST_NUMBER_ONLY;
    }
  }

  // --- One step ---

  const char* Step(unsigned what) {
    switch (what) {
      case 0: return ListCount();
      case 1: return ListByIndex();
      case 2:
      case 3: return Open();
      case 4: return Close();
      case 5: return SetUsbParameters();
      case 6: return SetLatency();
      case 7:
      case 8: return SetBitMode();
      case 9: return SetRate();
      case 10:
      case 11:
      case 12: return Write();
      case 13:
      case 14: return QueueStatus();
      case 15:
      case 16: return Read();
      case 17: return GetPins();
      case 18: return Purge();
      case 19: return InjectFailure();
      case 20:
        chip_.ClearFaults();
        faults_.fill(Fault{});
        deliver_ = 0;
        drop_next_ = 0;
        drop_all_ = false;
        unplug_at_.reset();
        return "ClearFaults";
      case 21: return LateOrLostAnswers();
      case 22: return UnplugOrReplug();
      case 23:
        chip_.PowerCycleBoard();
        rises_ = 0;
        return "PowerCycleBoard";
      case 24: return Waveform();
      default: return Write();
    }
  }

  const char* ListCount() {
    std::uint32_t count = 0xDEADBEEF;
    const bool null = in_.ConsumeIntegralInRange<unsigned>(0, 15) == 0;
    const std::uint32_t flags = PickListFlags(false);
    const auto struck = Strikes(Op::ListDevices);
    const ad::FtStatus got = chip_.FT_ListDevices(null ? nullptr : &count, flags);
    if (struck) {
      RequireStatus(got, *struck, "FT_ListDevices (count)");
    } else if (null || (flags & ad::FT_LIST_NUMBER_ONLY) == 0) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_ListDevices (count)");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_ListDevices (count)");
      if (count != (unplugged_ ? 0U : 1U)) Fail("device count " + Num(count));
    }
    return "FT_ListDevices (count)";
  }

  const char* ListByIndex() {
    const auto index = in_.ConsumeIntegralInRange<std::uint32_t>(0, 2);
    const auto size = in_.ConsumeIntegralInRange<std::size_t>(0, ad::kDescriptionBufferSize + 3);
    const bool null = in_.ConsumeIntegralInRange<unsigned>(0, 15) == 0;
    const std::uint32_t flags = PickListFlags(true);
    // Exactly `size` bytes, so that a write past them is caught.
    std::vector<char> buffer(size, '\x5A');
    char* const data = null || size == 0 ? nullptr : buffer.data();
    const auto struck = Strikes(Op::ListDevices);
    const ad::FtStatus got = chip_.FT_ListDevices(index, data, size, flags);
    if (struck) {
      RequireStatus(got, *struck, "FT_ListDevices (by index)");
    } else if (data == nullptr || (flags & ad::FT_LIST_BY_INDEX) == 0) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_ListDevices (by index)");
    } else if (unplugged_ || index != 0) {
      RequireStatus(got, ad::FT_DEVICE_NOT_FOUND, "FT_ListDevices (by index)");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_ListDevices (by index)");
      const std::string text = (flags & ad::FT_OPEN_BY_SERIAL_NUMBER) != 0 ? board::kVirtualSerial
                                                                            : board::kVirtualDescription;
      const std::size_t n = std::min(text.size(), size);
      Require(std::memcmp(buffer.data(), text.data(), n) == 0, "listed text");
      if (n < size) Require(buffer[n] == '\0', "listed text ends in a zero when it fits");
      for (std::size_t i = n + 1; i < size; ++i) Require(buffer[i] == '\x5A', "listing wrote past its text");
    }
    if (got != ad::FT_OK) {
      for (const char c : buffer) Require(c == '\x5A', "a failed listing wrote into the buffer");
    }
    return "FT_ListDevices (by index)";
  }

  const char* Open() {
    std::string arg;
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 5)) {
      case 0: arg = in_.ConsumeRandomLengthString(32); break;
      case 1:
      case 2: arg = board::kVirtualSerial; break;
      default: arg = board::kVirtualDescription; break;
    }
    std::uint32_t flags = 0;
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 4)) {
      case 0: flags = in_.ConsumeIntegral<std::uint32_t>(); break;
      case 1: flags = ad::FT_OPEN_BY_SERIAL_NUMBER; break;
      default: flags = arg == board::kVirtualSerial ? ad::FT_OPEN_BY_SERIAL_NUMBER : ad::FT_OPEN_BY_DESCRIPTION; break;
    }
    const bool null = in_.ConsumeIntegralInRange<unsigned>(0, 15) == 0;
    ad::FtHandle h = 0xDEADBEEF;
    const auto struck = Strikes(Op::OpenEx);
    const ad::FtStatus got = chip_.FT_OpenEx(arg, flags, null ? nullptr : &h);
    const bool by_serial = flags == ad::FT_OPEN_BY_SERIAL_NUMBER;
    const bool match = by_serial ? arg == board::kVirtualSerial : arg == board::kVirtualDescription;
    if (struck) {
      RequireStatus(got, *struck, "FT_OpenEx");
    } else if (null || (flags != ad::FT_OPEN_BY_SERIAL_NUMBER && flags != ad::FT_OPEN_BY_DESCRIPTION)) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_OpenEx");
    } else if (unplugged_ || !match) {
      RequireStatus(got, ad::FT_DEVICE_NOT_FOUND, "FT_OpenEx");
    } else if (open_) {
      RequireStatus(got, ad::FT_DEVICE_NOT_OPENED, "FT_OpenEx");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_OpenEx");
      Require(h != 0 && h != last_handle_, "every open hands out a new handle");
      open_ = true;
      handle_ = last_handle_ = h;
      ClearQueue();
      baud_ = 9600;
      divisor_.reset();
      latency_ = 16;
      usb_in_ = usb_out_ = 4096;
      SetMode(0, ad::FT_BITMODE_RESET);
    }
    if (got != ad::FT_OK) Require(h == 0xDEADBEEF, "a failed open handed out a handle");
    return "FT_OpenEx";
  }

  const char* Close() {
    const ad::FtHandle h = PickHandle();
    const auto struck = Strikes(Op::Close);
    const ad::FtStatus got = chip_.FT_Close(h);
    if (struck) {
      RequireStatus(got, *struck, "FT_Close");
    } else if (unplugged_ && h == handle_ && handle_ != 0) {
      RequireStatus(got, ad::FT_IO_ERROR, "FT_Close");
      handle_ = 0;
      open_ = false;
    } else if (!open_ || h != handle_) {
      RequireStatus(got, ad::FT_INVALID_HANDLE, "FT_Close");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_Close");
      open_ = false;
      handle_ = 0;
      ClearQueue();
      SetMode(0, ad::FT_BITMODE_RESET);
    }
    return "FT_Close";
  }

  const char* SetUsbParameters() {
    const ad::FtHandle h = PickHandle();
    const auto in_size = in_.ConsumeIntegral<std::uint32_t>();
    const auto out_size = in_.ConsumeIntegral<std::uint32_t>();
    const ad::FtStatus gate = Gate(Op::SetUSBParameters, h);
    RequireStatus(chip_.FT_SetUSBParameters(h, in_size, out_size), gate, "FT_SetUSBParameters");
    if (gate == ad::FT_OK) {
      usb_in_ = in_size;
      usb_out_ = out_size;
    }
    return "FT_SetUSBParameters";
  }

  const char* SetLatency() {
    const ad::FtHandle h = PickHandle();
    const auto ms = in_.ConsumeIntegral<std::uint8_t>();
    const ad::FtStatus gate = Gate(Op::SetLatencyTimer, h);
    RequireStatus(chip_.FT_SetLatencyTimer(h, ms), gate, "FT_SetLatencyTimer");
    if (gate == ad::FT_OK) latency_ = ms;
    return "FT_SetLatencyTimer";
  }

  const char* SetBitMode() {
    const ad::FtHandle h = PickHandle();
    auto mask = static_cast<std::uint8_t>(tck_ | tms_ | tdi_);
    if (in_.ConsumeBool()) mask = in_.ConsumeIntegral<std::uint8_t>();
    std::uint8_t mode = ad::FT_BITMODE_SYNC_BITBANG;
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 5)) {
      case 0: mode = ad::FT_BITMODE_RESET; break;
      case 1: mode = ad::FT_BITMODE_ASYNC_BITBANG; break;
      case 2: mode = in_.ConsumeIntegral<std::uint8_t>(); break;
      default: break;
    }
    const ad::FtStatus gate = Gate(Op::SetBitMode, h);
    const ad::FtStatus got = chip_.FT_SetBitMode(h, mask, mode);
    if (gate != ad::FT_OK) {
      RequireStatus(got, gate, "FT_SetBitMode");
    } else if (mode != ad::FT_BITMODE_RESET && mode != ad::FT_BITMODE_ASYNC_BITBANG &&
               mode != ad::FT_BITMODE_SYNC_BITBANG) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_SetBitMode");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_SetBitMode");
      SetMode(mask, mode);
    }
    return "FT_SetBitMode";
  }

  const char* SetRate() {
    const ad::FtHandle h = PickHandle();
    if (in_.ConsumeBool()) {
      const auto rate = in_.ConsumeBool() ? 0U : in_.ConsumeIntegral<std::uint32_t>();
      const ad::FtStatus gate = Gate(Op::SetBaudRate, h);
      const ad::FtStatus got = chip_.FT_SetBaudRate(h, rate);
      if (gate != ad::FT_OK) {
        RequireStatus(got, gate, "FT_SetBaudRate");
      } else if (!ad::Ft232rDivisorFor(rate)) {
        // No divisor comes within 5 % of it; the rate stays as it was.
        RequireStatus(got, ad::FT_INVALID_BAUD_RATE, "FT_SetBaudRate");
      } else {
        RequireStatus(got, ad::FT_OK, "FT_SetBaudRate");
        baud_ = rate;
        divisor_.reset();
      }
      return "FT_SetBaudRate";
    }
    const auto divisor = in_.ConsumeIntegral<std::uint16_t>();
    const ad::FtStatus gate = Gate(Op::SetDivisor, h);
    RequireStatus(chip_.FT_SetDivisor(h, divisor), gate, "FT_SetDivisor");
    if (gate == ad::FT_OK) divisor_ = divisor;
    return "FT_SetDivisor";
  }

  const char* Write() {
    const ad::FtHandle h = PickHandle();
    std::vector<std::uint8_t> bytes;
    if (in_.ConsumeIntegralInRange<unsigned>(0, 7) == 0) {
      // A long write, repeating a short pattern.
      const auto n = in_.ConsumeIntegralInRange<std::size_t>(1, 70000);
      std::vector<std::uint8_t> pattern = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(1, 8));
      if (pattern.empty()) pattern.push_back(0x80);
      bytes.resize(n);
      for (std::size_t i = 0; i < n; ++i) bytes[i] = pattern[i % pattern.size()];
    } else {
      bytes = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, 48));
    }
    if (total_offered_ + bytes.size() > kMaxBytesPerInput) bytes.clear();
    total_offered_ += bytes.size();
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const bool null_data = size > 0 && in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    const bool null_written = in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    std::uint32_t written = 0xDEADBEEF;

    const ad::FtStatus gate = Gate(Op::Write, h);
    const ad::FtStatus got = chip_.FT_Write(h, null_data ? nullptr : bytes.data(), size,
                                            null_written ? nullptr : &written);
    if (gate != ad::FT_OK) {
      RequireStatus(got, gate, "FT_Write");
      Require(written == 0xDEADBEEF, "a refused write reported a count");
      return "FT_Write";
    }
    if (null_data || null_written) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_Write");
      return "FT_Write";
    }
    std::size_t take = size;
    if (unplug_at_) {
      const std::uint64_t left = *unplug_at_ > bytes_written_ ? *unplug_at_ - bytes_written_ : 0;
      take = static_cast<std::size_t>(std::min<std::uint64_t>(take, left));
    }
    const std::uint8_t care = Care();
    for (std::size_t i = 0; i < take; ++i) {
      if (mode_ == ad::FT_BITMODE_RESET) break;  // serial data: no pin moves
      if (mode_ == ad::FT_BITMODE_SYNC_BITBANG && !drop_all_) {
        if (drop_next_ > 0) {
          --drop_next_;
        } else {
          queue_.push_back(Expected{ModelPins(), care});
        }
      }
      latch_ = bytes[i];
      PinsChanged();
    }
    if (mode_ != ad::FT_BITMODE_RESET) bytes_driven_ += take;
    bytes_written_ += take;
    if (deliver_ == 0) arrived_ = queue_.size();
    if (written != take) Fail("write count " + Num(written) + ", want " + Num(take));
    if (unplug_at_ && bytes_written_ >= *unplug_at_) {
      Unplug();
      RequireStatus(got, take < size ? ad::FT_IO_ERROR : ad::FT_OK, "FT_Write (unplugged by it)");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_Write");
    }
    return "FT_Write";
  }

  const char* QueueStatus() {
    const ad::FtHandle h = PickHandle();
    const bool null = in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    std::uint32_t rx = 0xDEADBEEF;
    const ad::FtStatus gate = Gate(Op::GetQueueStatus, h);
    const ad::FtStatus got = chip_.FT_GetQueueStatus(h, null ? nullptr : &rx);
    if (gate != ad::FT_OK) {
      RequireStatus(got, gate, "FT_GetQueueStatus");
    } else if (null) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_GetQueueStatus");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_GetQueueStatus");
      const std::size_t on_the_way = queue_.size() - arrived_;
      arrived_ += deliver_ == 0 ? on_the_way : std::min<std::size_t>(deliver_, on_the_way);
      if (rx != arrived_) Fail("queue status " + Num(rx) + ", want " + Num(arrived_));
      Require(rx <= chip_.BytesWritten() - total_read_, "more answers than bytes written and not yet read");
    }
    return "FT_GetQueueStatus";
  }

  const char* Read() {
    const ad::FtHandle h = PickHandle();
    std::size_t size = 0;
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 3)) {
      case 0: size = in_.ConsumeIntegralInRange<std::size_t>(0, 64); break;
      case 1: size = arrived_ + in_.ConsumeIntegralInRange<std::size_t>(0, 16); break;
      case 2: size = in_.ConsumeIntegralInRange<std::size_t>(0, 200000); break;
      default: size = arrived_; break;
    }
    size = std::min<std::size_t>(size, kMaxBytesPerInput + 64);
    const bool null_buffer = size > 0 && in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    const bool null_read = in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    // Exactly `size` bytes, so that a read past them is caught.
    std::vector<std::uint8_t> buffer(size, 0x5A);
    std::uint32_t read = 0xDEADBEEF;
    const ad::FtStatus gate = Gate(Op::Read, h);
    const ad::FtStatus got = chip_.FT_Read(h, null_buffer ? nullptr : buffer.data(), static_cast<std::uint32_t>(size),
                                           null_read ? nullptr : &read);
    if (gate != ad::FT_OK) {
      RequireStatus(got, gate, "FT_Read");
      Require(read == 0xDEADBEEF, "a refused read reported a count");
      return "FT_Read";
    }
    if (null_buffer || null_read) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_Read");
      return "FT_Read";
    }
    RequireStatus(got, ad::FT_OK, "FT_Read");
    if (read > size) Fail("read " + Num(read) + " bytes, asked for " + Num(size));
    const std::size_t want = std::min(size, arrived_);
    if (read != want) Fail("read " + Num(read) + " bytes, want " + Num(want));
    for (std::size_t i = 0; i < want; ++i) {
      const Expected e = queue_.front();
      queue_.pop_front();
      if ((buffer[i] & e.care) != (e.value & e.care)) {
        Fail("answer byte " + Num(i) + " is " + Num(buffer[i]) + ", want " + Num(e.value) + " on pins " + Num(e.care));
      }
    }
    // The bytes just past the count, and the last one (a write beyond the
    // buffer is ASan's to catch).
    for (std::size_t i = want; i < size && i < want + 64; ++i) Require(buffer[i] == 0x5A, "read wrote past its count");
    if (size > want) Require(buffer[size - 1] == 0x5A, "read wrote past its count");
    arrived_ -= want;
    total_read_ += want;
    Require(total_read_ <= chip_.BytesWritten(), "more answers read than bytes written");
    return "FT_Read";
  }

  const char* GetPins() {
    const ad::FtHandle h = PickHandle();
    const bool null = in_.ConsumeIntegralInRange<unsigned>(0, 31) == 0;
    std::uint8_t pins = 0x5A;
    const ad::FtStatus gate = Gate(Op::GetBitMode, h);
    const ad::FtStatus got = chip_.FT_GetBitMode(h, null ? nullptr : &pins);
    if (gate != ad::FT_OK) {
      RequireStatus(got, gate, "FT_GetBitMode");
    } else if (null) {
      RequireStatus(got, ad::FT_INVALID_PARAMETER, "FT_GetBitMode");
    } else {
      RequireStatus(got, ad::FT_OK, "FT_GetBitMode");
      Require(pins == chip_.Pins(), "FT_GetBitMode disagrees with the pins");
      Require((pins & Care()) == (ModelPins() & Care()), "FT_GetBitMode pins");
    }
    return "FT_GetBitMode";
  }

  const char* Purge() {
    const ad::FtHandle h = PickHandle();
    const std::uint32_t mask =
        in_.ConsumeBool() ? in_.ConsumeIntegralInRange<std::uint32_t>(0, 3) : in_.ConsumeIntegral<std::uint32_t>();
    const ad::FtStatus gate = Gate(Op::Purge, h);
    RequireStatus(chip_.FT_Purge(h, mask), gate, "FT_Purge");
    if (gate == ad::FT_OK && (mask & ad::FT_PURGE_RX) != 0) ClearQueue();
    return "FT_Purge";
  }

  const char* InjectFailure() {
    const auto op = static_cast<Op>(in_.ConsumeIntegralInRange<std::size_t>(0, board::kOpCount - 1));
    const int nth = in_.ConsumeIntegralInRange<int>(-1, 4);
    const ad::FtStatus status = PickStatus();
    if (in_.ConsumeBool()) {
      chip_.FailCall(op, nth, status);
    } else {
      Require(chip_.FailCall(board::OpName(op), nth, status), "FailCall by name");
    }
    Fault& f = faults_[static_cast<std::size_t>(op)];
    f.active = nth >= 0;
    f.every = nth == 0;
    f.at = counts_[static_cast<std::size_t>(op)] + nth;
    f.status = status;
    Require(!chip_.FailCall("FT_NoSuchCall", 1, status), "FailCall of an unknown name");
    return "FailCall";
  }

  const char* LateOrLostAnswers() {
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 3)) {
      case 0:
        deliver_ = in_.ConsumeIntegralInRange<std::uint32_t>(0, 300);
        chip_.SetDeliveryPerQuery(deliver_);
        return "SetDeliveryPerQuery";
      case 1: {
        const auto n = in_.ConsumeIntegralInRange<std::uint64_t>(0, 300);
        drop_next_ += n;
        chip_.DropAnswers(n);
        return "DropAnswers";
      }
      default:
        drop_all_ = in_.ConsumeBool();
        chip_.DropAllAnswers(drop_all_);
        return "DropAllAnswers";
    }
  }

  const char* UnplugOrReplug() {
    switch (in_.ConsumeIntegralInRange<unsigned>(0, 3)) {
      case 0: {
        const std::uint64_t at = bytes_written_ + in_.ConsumeIntegralInRange<std::uint64_t>(0, 400);
        const std::uint64_t mark = in_.ConsumeBool() && at >= 8 ? at - 8 : at;
        chip_.UnplugAfterBytes(mark);
        unplug_at_ = mark;
        if (bytes_written_ >= mark) Unplug();
        return "UnplugAfterBytes";
      }
      case 1:
        chip_.Unplug();
        Unplug();
        return "Unplug";
      default:
        chip_.Replug();
        unplugged_ = false;
        unplug_at_.reset();
        open_ = false;
        handle_ = 0;
        SetMode(0, ad::FT_BITMODE_RESET);
        return "Replug";
    }
  }

  const char* Waveform() {
    if (vcd_on_ && in_.ConsumeBool()) {
      StopVcd();
      return "StopVcd";
    }
    if (vcd_on_) StopVcd();
    vcd_.str("");
    board::VcdOptions options;
    if (in_.ConsumeBool()) options.date = "today";
    if (in_.ConsumeBool()) options.timescale = in_.ConsumeRandomLengthString(8);
    chip_.StartVcd(vcd_, options);
    vcd_on_ = true;
    return "StartVcd";
  }

  // The waveform's time stamps only go forward, its value lines name the
  // four signals, and it ends at the levels the pins show.
  void StopVcd() {
    chip_.StopVcd();
    vcd_on_ = false;
    const std::string text = vcd_.str();
    const std::size_t body = text.find("$enddefinitions $end\n");
    Require(body != std::string::npos, "waveform without its header");
    std::optional<std::uint64_t> last_time;
    std::array<char, 4> level{'?', '?', '?', '?'};  // tck, tms, tdi, tdo
    static constexpr char kIds[4] = {'!', '"', '%', '&'};
    for (std::size_t at = body; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string_view line(text.data() + at, end - at);
      at = end + 1;
      if (line.empty() || line[0] == '$') continue;
      if (line[0] == '#') {
        const std::uint64_t t = std::strtoull(std::string(line.substr(1)).c_str(), nullptr, 10);
        if (last_time && t <= *last_time) Fail("waveform time goes back: " + std::string(line));
        last_time = t;
        continue;
      }
      if (line.size() != 2 || (line[0] != '0' && line[0] != '1')) Fail("waveform value line: " + std::string(line));
      const char* id = std::find(kIds, kIds + 4, line[1]);
      if (id == kIds + 4) Fail("waveform signal: " + std::string(line));
      level[static_cast<std::size_t>(id - kIds)] = line[0];
    }
    const std::uint8_t pins = ModelPins();
    const std::uint8_t bits[3] = {tck_, tms_, tdi_};
    for (std::size_t i = 0; i < 3; ++i) {
      Require(level[i] == ((pins & bits[i]) != 0 ? '1' : '0'), "waveform ends at other levels than the pins");
    }
  }

  FuzzedDataProvider& in_;
  std::ostringstream vcd_;  // outlives the chip, which finishes the waveform when it goes
  board::VirtualD2xx chip_;
  const std::uint8_t tck_, tms_, tdi_, tdo_;
  const bool tck_pull_down_;

  bool open_ = false;
  bool unplugged_ = false;
  ad::FtHandle handle_ = 0;
  ad::FtHandle last_handle_ = 0;
  std::uint8_t mode_ = ad::FT_BITMODE_RESET;
  std::uint8_t dir_mask_ = 0;
  std::uint8_t latch_ = 0;
  bool tck_high_ = false;
  std::uint64_t rises_ = 0;
  std::uint32_t baud_ = 9600;
  std::optional<std::uint16_t> divisor_;
  std::uint8_t latency_ = 16;
  std::uint32_t usb_in_ = 4096;
  std::uint32_t usb_out_ = 4096;
  std::deque<Expected> queue_;
  std::size_t arrived_ = 0;
  std::uint32_t deliver_ = 0;
  std::uint64_t drop_next_ = 0;
  bool drop_all_ = false;
  std::optional<std::uint64_t> unplug_at_;
  std::uint64_t bytes_written_ = 0;
  std::uint64_t bytes_driven_ = 0;
  std::uint64_t total_offered_ = 0;
  std::uint64_t total_read_ = 0;
  std::array<int, board::kOpCount> counts_{};
  std::array<Fault, board::kOpCount> faults_{};
  bool vcd_on_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  g_step = "power-on";
  FuzzedDataProvider in(data, size);
  const board::BoardSpec board = PickBoard(in);
  Require(board::ValidateBoard(board).empty(), "the fuzzer's own board is invalid");
  Rig rig(in, board);
  rig.Run();
  return 0;
}
