// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <optional>
#include <string>

#include "adapter/adapter.h"
#include "adapter/d2xx.h"
#include "common/clock.h"
#include "common/flags.h"
#include "common/ordered_log.h"
#include "common/window.h"
#include "jtag/detect.h"
#include "jtag/engine.h"
#include "svf/interpreter.h"
#include "svf/run_driver.h"

namespace tavrin::player {

inline constexpr const char* kMsgBusy = "Not while a file is being processed.  Press Break first.";

// Everything the main window does, without the window itself: start-up and
// shutdown, and one procedure for each bound control event. The Qt window
// and the command-line player both drive one of these.
class Player {
 public:
  Player(Window& window, adapter::D2xx& chip, Clock& clock);

  void Form_Load();
  // Closing the window: stops a run; the adapter is shut down at once, or,
  // when a run is active underneath, as soon as that run has unwound.
  void Form_Unload();
  // True once Form_Unload has finished its work, so the window may go.
  [[nodiscard]] bool UnloadDone() const { return unload_done_; }

  void cmd_Find_Click() { adapter.cmd_Find_Click(); }
  void cmd_OpenInterface_Click();
  void cmd_CloseInterface_Click();
  void cmd_FTSetup_Click();
  void cmd_Process_Click();
  void cmd_step_Click() { driver.cmd_step_Click(); }
  void cmd_breakstep_Click() { driver.cmd_breakstep_Click(); }
  void cmb_TCK_Change() { adapter.cmb_TCK_Change(); }
  void cmb_TMS_Change() { adapter.cmb_TMS_Change(); }
  void cmb_TDI_Change() { adapter.cmb_TDI_Change(); }
  void cmb_TDO_Change() { adapter.cmb_TDO_Change(); }
  void txt_Baud_Change() { adapter.txt_Baud_Change(); }

  [[nodiscard]] bool Running() const { return driver.Running(); }

  // Finds, opens and sets up an adapter when none is open (as a run does),
  // then reads the chain. Nothing when the set-up is missing (the operator
  // has been told why).
  std::optional<jtag::ChainReport> DetectChain();

  // The folder the chooser starts in: the current folder (the window then
  // moves to the folder of the last file played, when it keeps one).
  static std::string StartFolder();

  Window& window;
  // What the core writes to: the window, with the log kept in statement
  // order while answers are on their way.
  OrderedLog log;
  RunFlags flags;
  adapter::Adapter adapter;
  jtag::Engine engine;
  svf::Interpreter interpreter;
  svf::RunDriver driver;

 private:
  void AfterRun();
  bool close_pending_ = false;
  bool unload_pending_ = false;
  bool unload_done_ = false;
};

}  // namespace tavrin::player
