// SPDX-License-Identifier: Apache-2.0

#include "player/player.h"

#include <filesystem>
#include <system_error>

namespace tavrin::player {

Player::Player(Window& w, adapter::D2xx& chip, Clock& clock)
    : window(w),
      log(w),
      adapter(chip, log),
      engine(adapter, log, flags, clock),
      interpreter(engine, log, flags, clock),
      driver(adapter, engine, interpreter, log, flags, clock) {
  log.settle = [this] { (void)engine.Sync(); };
  log.on_events = [this] { driver.ShowProgress(); };
  interpreter.KeepOrderIn(&log);
}

std::string Player::StartFolder() {
  std::error_code ec;
  // Where the program was started: a file named relative to it, and the
  // files of a project the operator works in, are there.
  std::filesystem::path p = std::filesystem::current_path(ec);
  if (ec || !std::filesystem::is_directory(p, ec)) p = "/";
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

void Player::Form_Load() {
  const Signal order[] = {Signal::TMS, Signal::TDO, Signal::TDI, Signal::TCK};
  for (const char* entry : adapter::kPinEntries) {
    for (const Signal s : order) window.AddPinEntry(s, entry);
  }
  window.SetPinListIndex(Signal::TMS, 1);
  window.SetPinListIndex(Signal::TDO, 6);
  window.SetPinListIndex(Signal::TDI, 5);
  window.SetPinListIndex(Signal::TCK, 7);
  adapter.InterfaceOpen = kFalse;
  adapter.PortSetupValid = kFalse;
  engine.CurrentTapState = jtag::RESET;
  window.SetProgressValue(100);
  window.SetDirPath(StartFolder());
  window.SetFilePathText(window.DirPath() + "/*.svf");
  adapter.cmd_Find_Click();
  interpreter.EndIrState = "IDLE";
  interpreter.EndDrState = "IDLE";
  engine.BuildTapTables();
}

void Player::Form_Unload() {
  flags.StopRequested = kTrue;
  flags.OperatorStop = true;
  if (driver.Running()) {
    // The run underneath still uses the adapter: it stops at its next check,
    // any scan in progress ends after its current chunk, and the shutdown
    // follows when the run has returned.
    flags.Closing = true;
    unload_pending_ = true;
    return;
  }
  adapter.ShutdownInterface();
  unload_done_ = true;
}

void Player::cmd_OpenInterface_Click() {
  if (driver.Running()) return window.ShowMessage(kMsgBusy);
  adapter.cmd_OpenInterface_Click();
}

void Player::cmd_FTSetup_Click() {
  if (driver.Running()) return window.ShowMessage(kMsgBusy);
  adapter.cmd_FTSetup_Click();
}

void Player::cmd_CloseInterface_Click() {
  if (driver.Running()) {
    // Closing under a scan would leave the run clocking a closed adapter:
    // the run is stopped and the adapter closed once it has returned.
    flags.StopRequested = kTrue;
    flags.OperatorStop = true;
    flags.Closing = true;
    close_pending_ = true;
    return;
  }
  adapter.cmd_CloseInterface_Click();
}

void Player::cmd_Process_Click() {
  const bool outer = !driver.Running();
  driver.cmd_Process_Click();
  if (outer) AfterRun();
}

std::optional<jtag::ChainReport> Player::DetectChain() {
  if (driver.Running()) {
    window.ShowMessage(kMsgBusy);
    return std::nullopt;
  }
  if (!adapter.SetUpIfNeeded()) return std::nullopt;
  flags.StopRequested = kFalse;
  flags.OperatorStop = false;
  return jtag::DetectChain(engine);
}

void Player::AfterRun() {
  flags.Closing = false;
  if (close_pending_) {
    close_pending_ = false;
    adapter.cmd_CloseInterface_Click();
  }
  if (unload_pending_) {
    unload_pending_ = false;
    adapter.ShutdownInterface();
    unload_done_ = true;
  }
}

}  // namespace tavrin::player
