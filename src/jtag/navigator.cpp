#include <array>

#include "jtag/engine.h"

namespace tavrin::jtag {

using adapter::FT_OK;

void Engine::ChipFailed(adapter::FtStatus status, const char* label) {
  adapter_.ShowBadResult(status, label);
  // Clocking on with an adapter that failed, and the TAP model out of step,
  // could leave a device half programmed: the run ends here.
  flags_.StopRequested = kTrue;
}

bool Engine::Ready() {
  // Without an adapter, or with pins or rate changed since the set-up,
  // nothing is clocked; a run in progress ends here instead of showing this
  // for every statement that follows and reporting success.
  if (adapter_.InterfaceOpen != kTrue) {
    window_.ShowMessage(adapter::kMsgOpenFirst);
    flags_.StopRequested = kTrue;
    return false;
  }
  if (adapter_.PortSetupValid != kTrue) {
    window_.ShowMessage(adapter::kMsgPortSetup);
    flags_.StopRequested = kTrue;
    return false;
  }
  return true;
}

bool Engine::Step(int target) {
  adapter::D2xx& chip = adapter_.Chip();
  std::uint8_t pins = 0;
  (void)chip.FT_Purge(adapter_.DeviceHandle, 255);
  (void)chip.FT_GetBitMode(adapter_.DeviceHandle, &pins);
  const int tms = tables_.TmsPathTable[static_cast<std::size_t>(CurrentTapState)][static_cast<std::size_t>(target)];
  int clocks = 1;
  if (target == RESET) {
    clocks = 5;
    CurrentTapState = RESET;
  }
  const adapter::PinMasks p = adapter_.Pins();
  if (tms != 0) {
    pins = static_cast<std::uint8_t>(pins | p.tms);
  } else {
    pins = static_cast<std::uint8_t>(pins & ~p.tms);
  }
  pins = static_cast<std::uint8_t>(pins & ~p.tdo & ~p.tck);
  std::array<std::uint8_t, 11> bytes{};
  std::uint32_t count = 0;
  bytes[count++] = pins;
  for (int c = 0; c < clocks; ++c) {
    bytes[count++] = static_cast<std::uint8_t>(pins | p.tck);
    bytes[count++] = pins;
  }
  std::uint32_t written = 0;
  const adapter::FtStatus status = chip.FT_Write(adapter_.DeviceHandle, bytes.data(), count, &written);
  if (status != FT_OK) {
    ChipFailed(status, "FT_Write - packet write");
    return false;
  }
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
  if (!Ready()) return;
  (void)Step(RESET);
}

}  // namespace tavrin::jtag
