// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdio>

#include "adapter/d2xx.h"

namespace tavrin::cli {

// Where tavrin-play reads, writes and plays.
struct PlayEnvironment {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Where single-step answers are read from.
  std::FILE* terminal = stdin;
  // The chips to find, open and play through; none: this computer's (real
  // adapters, then the virtual board), when --board, --vcd and --trace apply.
  adapter::D2xx* chip = nullptr;
};

// tavrin-play: the window's start-up, the options applied to its controls,
// then "Process SVF File". Gives the exit status: 0 the file ran to its end,
// 1 the run ended early (bail-out, failed check, failed chip call, Break or a
// signal, unfinished statement, a failed write to standard output), 2 the run
// was refused or the command line or a file was unusable. Whatever ends the
// run, the adapter is shut down before this returns.
int PlayMain(int argc, const char* const* argv, const PlayEnvironment& environment);
int PlayMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* terminal);

}  // namespace tavrin::cli
