// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board/board_spec.h"
#include "common/clock.h"

#include "adapter/d2xx.h"

namespace tavrin::devices {

struct Options {
  std::string board_file;  // board description for the virtual board; empty: the built-in board
                           // (the file's name is the board's in the adapter's name)
  // A board built by the caller (a rehearsal's modelled part) in place of
  // the file's, and what the adapter's name calls it.
  std::optional<board::BoardSpec> board;
  std::string board_name;
  // The modelled parts' flash is read from this file before the run (when
  // it exists) and written back after it; empty: none.
  std::string board_state_file;
  // The clock the modelled parts time their operations by: the one the
  // player waits on. Must outlive the devices.
  const Clock* clock = nullptr;
  std::string vcd_file;    // waveform of the virtual board's pins; empty: none
  std::string trace_file;  // one line per chip call; empty: none
  bool real_adapters = true;  // list real adapters (when built with libftdi1)
};

// Whether a list entry's description is the virtual board's.
bool IsVirtualBoard(const std::string& description);

// Whether this build can play through real adapters (it has libftdi1).
bool RealAdaptersBuiltIn();

// The chips this computer offers: real FT232R/FT232B adapters first, the
// virtual board last, optionally traced.
class SystemDevices {
 public:
  virtual ~SystemDevices() = default;
  // Nothing, with the reason in *error, when a file named in the options
  // cannot be used.
  static std::unique_ptr<SystemDevices> Create(const Options& options, std::string* error);
  virtual adapter::D2xx& Chip() = 0;
  // The run is over: the modelled parts' accounts (none without models)
  // and the steps they did not carry out; their flash is written to the
  // state file. Empty, or what went wrong with the state file.
  virtual std::string EndRehearsal(std::vector<std::string>* report, std::size_t* refusals) = 0;
};

}  // namespace tavrin::devices
