// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_spec.h"
#include "board/device_model.h"

namespace tavrin::board {

// The sixteen controller states of IEEE 1149.1.
enum class TapState : std::uint8_t {
  TestLogicReset,
  RunTestIdle,
  SelectDrScan,
  CaptureDr,
  ShiftDr,
  Exit1Dr,
  PauseDr,
  Exit2Dr,
  UpdateDr,
  SelectIrScan,
  CaptureIr,
  ShiftIr,
  Exit1Ir,
  PauseIr,
  Exit2Ir,
  UpdateIr,
};

// The state after a rising TCK edge with this TMS level.
TapState NextTapState(TapState state, bool tms);
// "Test-Logic-Reset", "Shift-DR", ...
const char* TapStateName(TapState state);

// One device's test access port: controller, instruction register, BYPASS,
// IDCODE and the further data registers of its description.
//
// A device whose description names a modelled part hands its instruction
// and data registers to that model; the controller stays here.
class TapDevice {
 public:
  explicit TapDevice(const DeviceSpec& spec);

  // TCK rises: samples TMS and TDI (Capture, Shift, state change) at the
  // board's time `now_ns`.
  void Rise(bool tms, bool tdi, std::uint64_t now_ns = 0);
  // TCK falls: Update, Test-Logic-Reset, and TDO takes its new level.
  void Fall();
  // The level this device puts on its TDO: the register's bit 0 in Shift-IR
  // and Shift-DR (as set at the last falling edge), else high (not driven).
  [[nodiscard]] bool Tdo() const { return tdo_; }
  // Power-on: Test-Logic-Reset, reset instruction, registers as described.
  void PowerOn();

  [[nodiscard]] const std::string& Name() const { return spec_.name; }
  [[nodiscard]] TapState State() const { return state_; }
  [[nodiscard]] std::uint64_t Instruction() const { return instruction_; }
  // The name of the current instruction ("BYPASS" for an unknown opcode).
  [[nodiscard]] std::string InstructionName() const;
  // The data register the current instruction selects: "BYPASS", "IDCODE" or a register's name.
  [[nodiscard]] std::string SelectedRegister() const;
  // The stored contents of a described register; nothing for an unknown name.
  [[nodiscard]] std::optional<Bits> RegisterValue(std::string_view name) const;
  // Changes a described register's contents (the length must match).
  bool SetRegisterValue(std::string_view name, const Bits& value);
  [[nodiscard]] const DeviceSpec& Spec() const { return spec_; }
  // The modelled part behind this device, if any.
  [[nodiscard]] DeviceModel* Model() { return model_.get(); }
  [[nodiscard]] const DeviceModel* Model() const { return model_.get(); }
  // The run ends: a spell in Run-Test/Idle under way counts as ended here.
  void EndSpell(std::uint64_t now_ns);

 private:
  void ModelRise(bool tms, bool tdi, std::uint64_t now_ns);
  void ModelFall();
  void SelectFor(std::uint64_t opcode);
  void CaptureDr();
  void UpdateDr();
  [[nodiscard]] bool ShiftBit(std::size_t i) const { return (shift_[i >> 6] >> (i & 63U)) & 1U; }
  void SetShiftBit(std::size_t i, bool v) {
    const std::uint64_t m = std::uint64_t{1} << (i & 63U);
    shift_[i >> 6] = v ? (shift_[i >> 6] | m) : (shift_[i >> 6] & ~m);
  }

  DeviceSpec spec_;
  std::uint64_t ir_mask_ = 0;
  TapState state_ = TapState::TestLogicReset;
  std::uint64_t ir_shift_ = 0;
  std::uint64_t instruction_ = 0;
  std::uint64_t reset_instruction_ = 0;
  int selected_ = kBypass;  // kBypass, kIdcode or a register index
  std::vector<Bits> values_;  // stored contents of the described registers
  // The data shift register, a ring of shift_length_ bits whose bit 0 (next
  // out on TDO) sits at shift_head_: one shift costs the same for any length.
  std::vector<std::uint64_t> shift_;
  std::size_t shift_length_ = 1;
  std::size_t shift_head_ = 0;
  bool tdo_ = true;

  std::unique_ptr<DeviceModel> model_;
  Bits captured_;               // the model's last Capture-DR
  Bits scanned_;                // bits shifted in since Capture-DR (bounded)
  std::uint64_t shifted_ = 0;   // all of them
  std::uint64_t idle_clocks_ = 0;
  std::uint64_t idle_since_ns_ = 0;
};

// The devices of a board, from the TDI pin to the TDO pin: each device's TDO
// feeds the next device's TDI, TCK and TMS are shared.
class TapChain {
 public:
  explicit TapChain(const BoardSpec& board);

  void Rise(bool tms, bool tdi) {
    ++rising_edges_;
    now_ps_ += tck_ps_;
    const std::uint64_t now_ns = now_ps_ / 1000U;
    bool in = tdi;
    for (auto& d : devices_) {
      const bool out = d.Tdo();  // the level before this edge, which the next device samples
      d.Rise(tms, in, now_ns);
      in = out;
    }
  }
  void Fall() {
    ++falling_edges_;
    for (auto& d : devices_) d.Fall();
  }
  // The level at the chain's end (high when the last device does not drive it).
  [[nodiscard]] bool Tdo() const { return devices_.empty() || devices_.back().Tdo(); }
  void PowerOn();

  [[nodiscard]] std::size_t Size() const { return devices_.size(); }
  [[nodiscard]] TapDevice& Device(std::size_t i) { return devices_.at(i); }
  [[nodiscard]] const TapDevice& Device(std::size_t i) const { return devices_.at(i); }
  [[nodiscard]] std::uint64_t RisingEdges() const { return rising_edges_; }
  [[nodiscard]] std::uint64_t FallingEdges() const { return falling_edges_; }

  // The board's time, which modelled parts measure their waits by. Each
  // rising TCK edge moves it on by one TCK period.
  void SetTckPeriodPs(std::uint64_t ps) { tck_ps_ = ps; }
  // A driver with a clock of its own that marks every byte's moment (the
  // simulated USB chip) sets the time before each byte; it never goes back.
  void SetNow(std::uint64_t ns) { now_ps_ = std::max(now_ps_, ns * 1000U); }
  // A driver whose bytes take no time of the computer's clock (the virtual
  // chip) says what that clock reads when bytes are written and when their
  // answers are read. An answer can only be read once it was clocked, so
  // the computer is then at least at the board's time; from there on the
  // clock's advance (a wait) moves the board's time on in full.
  void ClockAtWrite(std::uint64_t clock_ns) {
    const auto ahead = static_cast<std::int64_t>(clock_ns) + offset_ns_;
    if (ahead > static_cast<std::int64_t>(NowNs())) now_ps_ = static_cast<std::uint64_t>(ahead) * 1000U;
  }
  void ClockAtRead(std::uint64_t clock_ns) {
    offset_ns_ = std::max(offset_ns_, static_cast<std::int64_t>(NowNs()) - static_cast<std::int64_t>(clock_ns));
  }
  [[nodiscard]] std::uint64_t NowNs() const { return now_ps_ / 1000U; }
  // The run ends: modelled parts take a spell in Run-Test/Idle as ended.
  void EndRun() {
    for (auto& d : devices_) d.EndSpell(NowNs());
  }
  [[nodiscard]] bool HasModels() const;

 private:
  std::vector<TapDevice> devices_;
  std::uint64_t rising_edges_ = 0;
  std::uint64_t falling_edges_ = 0;
  std::uint64_t now_ps_ = 0;  // picoseconds: a TCK period is no whole number of nanoseconds
  // The board's time less the driver's clock, at least: the board is never
  // behind the clock by more than where the driver last caught up with it.
  std::int64_t offset_ns_ = INT64_MIN / 2;
  std::uint64_t tck_ps_ = 0;
};

}  // namespace tavrin::board
