// SPDX-License-Identifier: Apache-2.0

#include "board/tap_chain.h"

#include <algorithm>

#include "board/models/catalogue.h"

namespace tavrin::board {

TapState NextTapState(TapState state, bool tms) {
  using S = TapState;
  switch (state) {
    case S::TestLogicReset: return tms ? S::TestLogicReset : S::RunTestIdle;
    case S::RunTestIdle: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectDrScan: return tms ? S::SelectIrScan : S::CaptureDr;
    case S::CaptureDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::ShiftDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::Exit1Dr: return tms ? S::UpdateDr : S::PauseDr;
    case S::PauseDr: return tms ? S::Exit2Dr : S::PauseDr;
    case S::Exit2Dr: return tms ? S::UpdateDr : S::ShiftDr;
    case S::UpdateDr: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectIrScan: return tms ? S::TestLogicReset : S::CaptureIr;
    case S::CaptureIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::ShiftIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::Exit1Ir: return tms ? S::UpdateIr : S::PauseIr;
    case S::PauseIr: return tms ? S::Exit2Ir : S::PauseIr;
    case S::Exit2Ir: return tms ? S::UpdateIr : S::ShiftIr;
    case S::UpdateIr: return tms ? S::SelectDrScan : S::RunTestIdle;
  }
  return S::TestLogicReset;
}

const char* TapStateName(TapState state) {
  using S = TapState;
  switch (state) {
    case S::TestLogicReset: return "Test-Logic-Reset";
    case S::RunTestIdle: return "Run-Test/Idle";
    case S::SelectDrScan: return "Select-DR-Scan";
    case S::CaptureDr: return "Capture-DR";
    case S::ShiftDr: return "Shift-DR";
    case S::Exit1Dr: return "Exit1-DR";
    case S::PauseDr: return "Pause-DR";
    case S::Exit2Dr: return "Exit2-DR";
    case S::UpdateDr: return "Update-DR";
    case S::SelectIrScan: return "Select-IR-Scan";
    case S::CaptureIr: return "Capture-IR";
    case S::ShiftIr: return "Shift-IR";
    case S::Exit1Ir: return "Exit1-IR";
    case S::PauseIr: return "Pause-IR";
    case S::Exit2Ir: return "Exit2-IR";
    case S::UpdateIr: return "Update-IR";
  }
  return "?";
}

TapDevice::TapDevice(const DeviceSpec& spec) : spec_(spec) {
  if (spec_.model) {
    model_ = MakeModel(*spec_.model);
    if (model_) {
      spec_.ir_length = model_->IrLength();
      spec_.idcode = model_->Idcode();
      spec_.instructions.clear();
      spec_.registers.clear();
    }
  }
  // A description that skipped validation still gives a well-formed device.
  spec_.ir_length = std::clamp(spec_.ir_length, kMinIrLength, kMaxIrLength);
  ir_mask_ = spec_.ir_length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << spec_.ir_length) - 1;
  spec_.ir_capture = (spec_.ir_capture & ir_mask_ & ~std::uint64_t{3}) | 1U;
  std::size_t longest = 32;
  for (auto& r : spec_.registers) {
    r.length = std::clamp<std::uint32_t>(r.length, 1, kMaxRegisterBits);
    r.value.resize(r.length, false);
    if (r.capture) r.capture->resize(r.length, false);
    longest = std::max<std::size_t>(longest, r.length);
  }
  shift_.assign((longest + 63) / 64, 0);
  // An instruction named IDCODE with its opcode, else any opcode that
  // selects IDCODE; all ones when the device has no IDCODE (BYPASS).
  reset_instruction_ = ir_mask_;
  if (spec_.idcode) {
    for (const auto& ins : spec_.instructions) {
      if (ins.target == kIdcode && !ins.opcodes.empty()) {
        reset_instruction_ = ins.opcodes.front();
        break;
      }
    }
  }
  PowerOn();
}

void TapDevice::PowerOn() {
  values_.clear();
  for (const auto& r : spec_.registers) values_.push_back(r.value);
  state_ = TapState::TestLogicReset;
  ir_shift_ = spec_.ir_capture;
  instruction_ = reset_instruction_;
  selected_ = spec_.idcode ? kIdcode : kBypass;
  shift_length_ = 1;
  shift_head_ = 0;
  std::fill(shift_.begin(), shift_.end(), 0);
  tdo_ = true;
  if (model_) {
    model_->PowerOn();
    ir_shift_ = 1;
    captured_.clear();
    scanned_.clear();
    shifted_ = 0;
  }
}

void TapDevice::SelectFor(std::uint64_t opcode) {
  selected_ = kBypass;
  if (opcode == ir_mask_) return;
  for (const auto& ins : spec_.instructions) {
    if (std::find(ins.opcodes.begin(), ins.opcodes.end(), opcode) == ins.opcodes.end()) continue;
    if (ins.target == kIdcode && spec_.idcode) {
      selected_ = kIdcode;
    } else if (ins.target >= 0 && static_cast<std::size_t>(ins.target) < spec_.registers.size()) {
      selected_ = ins.target;
    }
    return;
  }
}

void TapDevice::CaptureDr() {
  shift_head_ = 0;
  if (selected_ == kBypass) {
    shift_length_ = 1;
    shift_[0] = 0;
    return;
  }
  if (selected_ == kIdcode) {
    shift_length_ = 32;
    shift_[0] = spec_.idcode.value_or(1U);
    return;
  }
  const auto index = static_cast<std::size_t>(selected_);
  const RegisterSpec& reg = spec_.registers[index];
  const Bits& source = reg.capture ? *reg.capture : values_[index];
  shift_length_ = reg.length;
  std::fill(shift_.begin(), shift_.begin() + static_cast<std::ptrdiff_t>((shift_length_ + 63) / 64), 0);
  for (std::size_t i = 0; i < shift_length_; ++i) {
    if (source[i]) SetShiftBit(i, true);
  }
}

void TapDevice::UpdateDr() {
  if (selected_ < 0) return;  // BYPASS and IDCODE keep nothing
  Bits& value = values_[static_cast<std::size_t>(selected_)];
  std::size_t at = shift_head_;
  for (std::size_t i = 0; i < shift_length_; ++i) {
    value[i] = ShiftBit(at);
    if (++at == shift_length_) at = 0;
  }
}

void TapDevice::Rise(bool tms, bool tdi, std::uint64_t now_ns) {
  if (model_) {
    ModelRise(tms, tdi, now_ns);
    return;
  }
  switch (state_) {
    case TapState::CaptureIr:
      ir_shift_ = spec_.ir_capture;
      break;
    case TapState::ShiftIr:
      ir_shift_ = (ir_shift_ >> 1) | (static_cast<std::uint64_t>(tdi) << (spec_.ir_length - 1));
      break;
    case TapState::CaptureDr:
      CaptureDr();
      break;
    case TapState::ShiftDr:
      // Bit 0 leaves; the new bit becomes the highest, in the slot bit 0 left.
      SetShiftBit(shift_head_, tdi);
      if (++shift_head_ == shift_length_) shift_head_ = 0;
      break;
    default:
      break;
  }
  state_ = NextTapState(state_, tms);
}

void TapDevice::Fall() {
  // In Shift-IR and Shift-DR TDO takes the register's next bit; elsewhere
  // it is not driven.
  if (state_ == TapState::ShiftIr) {
    tdo_ = (ir_shift_ & 1U) != 0;
    return;
  }
  if (state_ == TapState::ShiftDr) {
    tdo_ = ShiftBit(shift_head_);
    return;
  }
  if (model_) {
    ModelFall();
    return;
  }
  switch (state_) {
    case TapState::UpdateIr:
      instruction_ = ir_shift_;
      SelectFor(instruction_);
      break;
    case TapState::UpdateDr:
      UpdateDr();
      break;
    case TapState::TestLogicReset:
      instruction_ = reset_instruction_;
      selected_ = spec_.idcode ? kIdcode : kBypass;
      break;
    default:
      break;
  }
  tdo_ = true;
}

std::string TapDevice::InstructionName() const {
  if (selected_ == kIdcode) return "IDCODE";
  if (instruction_ == ir_mask_) return "BYPASS";
  for (const auto& ins : spec_.instructions) {
    if (std::find(ins.opcodes.begin(), ins.opcodes.end(), instruction_) != ins.opcodes.end()) return ins.name;
  }
  return "BYPASS";
}

std::string TapDevice::SelectedRegister() const {
  if (selected_ == kBypass) return "BYPASS";
  if (selected_ == kIdcode) return "IDCODE";
  return spec_.registers[static_cast<std::size_t>(selected_)].name;
}

std::optional<Bits> TapDevice::RegisterValue(std::string_view name) const {
  for (std::size_t i = 0; i < spec_.registers.size(); ++i) {
    if (spec_.registers[i].name == name) return values_[i];
  }
  return std::nullopt;
}

bool TapDevice::SetRegisterValue(std::string_view name, const Bits& value) {
  for (std::size_t i = 0; i < spec_.registers.size(); ++i) {
    if (spec_.registers[i].name != name) continue;
    if (value.size() != spec_.registers[i].length) return false;
    values_[i] = value;
    return true;
  }
  return false;
}

Bits DrScan::Last(std::size_t n, std::size_t from_end) const {
  Bits out(n, false);
  // Bit i of the result is the (shifted - from_end - n + i)-th bit shifted in.
  if (shifted < from_end + n) return out;
  const std::uint64_t first = shifted - from_end - n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t at = first + i;
    if (at < in.size()) out[i] = in[at];
  }
  return out;
}

void TapDevice::ModelRise(bool tms, bool tdi, std::uint64_t now_ns) {
  switch (state_) {
    case TapState::RunTestIdle:
      if (!tms) {
        ++idle_clocks_;
      } else {
        model_->Idle({idle_clocks_, now_ns - idle_since_ns_});
      }
      break;
    case TapState::CaptureIr:
      ir_shift_ = (model_->CaptureIr() & ir_mask_ & ~std::uint64_t{2}) | 1U;
      break;
    case TapState::ShiftIr:
      ir_shift_ = (ir_shift_ >> 1) | (static_cast<std::uint64_t>(tdi) << (spec_.ir_length - 1));
      break;
    case TapState::CaptureDr: {
      captured_.clear();
      model_->CaptureDr(captured_);
      if (captured_.empty()) captured_.push_back(false);
      if (captured_.size() > kMaxRecordedScanBits) captured_.resize(kMaxRecordedScanBits);
      shift_length_ = captured_.size();
      shift_head_ = 0;
      shift_.assign((shift_length_ + 63) / 64, 0);
      for (std::size_t i = 0; i < shift_length_; ++i) {
        if (captured_[i]) SetShiftBit(i, true);
      }
      scanned_.clear();
      shifted_ = 0;
      break;
    }
    case TapState::ShiftDr:
      SetShiftBit(shift_head_, tdi);
      if (++shift_head_ == shift_length_) shift_head_ = 0;
      if (shifted_ < kMaxRecordedScanBits) scanned_.push_back(tdi);
      ++shifted_;
      break;
    default:
      break;
  }
  const TapState before = state_;
  state_ = NextTapState(state_, tms);
  if (state_ == TapState::RunTestIdle && before != TapState::RunTestIdle) {
    idle_clocks_ = 0;
    idle_since_ns_ = now_ns;
  }
}

void TapDevice::ModelFall() {
  switch (state_) {
    case TapState::UpdateIr:
      instruction_ = ir_shift_;
      model_->UpdateIr(instruction_);
      break;
    case TapState::UpdateDr:
      model_->UpdateDr(DrScan{scanned_, shifted_});
      break;
    case TapState::TestLogicReset:
      model_->Reset();
      break;
    default:
      break;
  }
  tdo_ = true;
}

void TapDevice::EndSpell(std::uint64_t now_ns) {
  if (!model_ || state_ != TapState::RunTestIdle) return;
  model_->Idle({idle_clocks_, now_ns - idle_since_ns_});
  idle_clocks_ = 0;
  idle_since_ns_ = now_ns;
}

bool TapChain::HasModels() const {
  return std::any_of(devices_.begin(), devices_.end(), [](const TapDevice& d) { return d.Model() != nullptr; });
}

TapChain::TapChain(const BoardSpec& board) {
  devices_.reserve(board.chain.size());
  for (const auto& d : board.chain) devices_.emplace_back(d);
}

void TapChain::PowerOn() {
  for (auto& d : devices_) d.PowerOn();
  rising_edges_ = falling_edges_ = 0;
}

}  // namespace tavrin::board
