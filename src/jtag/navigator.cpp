// SPDX-License-Identifier: Apache-2.0

#include "jtag/engine.h"

namespace tavrin::jtag {

using adapter::FT_OK;

void Engine::ChipFailed(adapter::FtStatus status, const char* label) {
  // Clocking on with an adapter that failed, and the TAP model out of step,
  // could leave a device half programmed: the run ends here. What is queued
  // is dropped first, so that the log is complete before the message. The
  // log names the call too: it is why the run ended.
  Abandon();
  window_.AppendLog(adapter::BadResultText(status, label));
  adapter_.ShowBadResult(status, label);
}

bool Engine::Ready() {
  // After a failure the run is ending, and the operator has been told.
  if (failed_) return false;
  // Without an adapter, or with pins or rate changed since the set-up,
  // nothing is clocked; a run in progress ends here instead of showing this
  // for every statement that follows and reporting success.
  // The run is stopped before the operator is told: the message is why it
  // ended.
  if (adapter_.InterfaceOpen != kTrue) {
    Drop();
    flags_.StopRequested = kTrue;
    window_.ShowMessage(adapter::kMsgOpenFirst);
    return false;
  }
  if (adapter_.PortSetupValid != kTrue) {
    Drop();
    flags_.StopRequested = kTrue;
    window_.ShowMessage(adapter::kMsgPortSetup);
    return false;
  }
  return true;
}

bool Engine::EnsurePins() {
  if (pins_known_) return true;
  // Whatever an earlier run left in the receive queue goes; the levels of
  // the pins are the start of this run's stream. Without either, the
  // stream would start from levels the chip does not have.
  adapter::D2xx& chip = adapter_.Chip();
  adapter::FtStatus status = chip.FT_Purge(adapter_.DeviceHandle, 255);
  if (status != FT_OK) {
    ChipFailed(status, "FT_Purge - clear the receive queue");
    return false;
  }
  status = chip.FT_GetBitMode(adapter_.DeviceHandle, &pins_);
  if (status != FT_OK) {
    ChipFailed(status, "FT_GetBitMode - read the pins");
    return false;
  }
  masks_ = adapter_.Pins();
  pins_known_ = true;
  return true;
}

bool Engine::Step(int target) {
  if (!EnsurePins()) return false;
  const int tms = tables_.TmsPathTable[static_cast<std::size_t>(CurrentTapState)][static_cast<std::size_t>(target)];
  int clocks = 1;
  if (target == RESET) clocks = 5;
  const adapter::PinMasks& p = masks_;
  auto pins = static_cast<std::uint8_t>(tms != 0 ? (pins_ | p.tms) : (pins_ & ~p.tms));
  pins = static_cast<std::uint8_t>(pins & ~p.tdo & ~p.tck);
  bool ok = Put(pins);
  for (int c = 0; c < clocks; ++c) {
    ok = Put(static_cast<std::uint8_t>(pins | p.tck)) && ok;
    ok = Put(pins) && ok;
  }
  if (!ok) return false;
  if (target == RESET) CurrentTapState = RESET;
  CurrentTapState = tables_.NextStateTable[static_cast<std::size_t>(CurrentTapState)][static_cast<std::size_t>(tms)];
  return true;
}

void Engine::MoveToState(const std::string& name) {
  if (!Ready()) return;
  const auto target = TapStateFromName(name);
  if (!target) {
    const std::string text = "Uh Oh, I don't recognize state: " + name + ".  Bailing Out";
    window_.AppendLog(text);
    flags_.StopRequested = kTrue;
    window_.ShowMessage(text);
    return;
  }
  while (CurrentTapState != *target && !flags_.Closing) {
    if (!Step(*target)) return;
  }
}

void Engine::ResetTap() {
  // What an earlier call left queued goes out first (unless that run
  // failed); then this run starts afresh, with the pins read from the chip.
  (void)Sync();
  failed_ = false;
  if (!Ready()) return;
  pins_known_ = false;  // the step reads them
  (void)Step(RESET);
}

}  // namespace tavrin::jtag
