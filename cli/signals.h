// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <csignal>

#include <array>

namespace tavrin::cli {

// Ctrl-C (SIGINT), SIGTERM, SIGHUP and Ctrl-\ (SIGQUIT) become Break: the
// handler only notes the signal, and the console window turns the note into
// Break at its next event pass (a scan chunk, a 20 ms slice of a wait, a
// statement). The handlers are installed without SA_RESTART, so a blocking
// read or write is interrupted and can look at the note. SIGPIPE is ignored:
// a reader that went away shows up as a failed write (EPIPE) and is reported.
//
// The catcher restores the handlers it replaced, so that PlayMain can be
// called more than once in one process.
class SignalCatcher {
 public:
  SignalCatcher();
  ~SignalCatcher();
  SignalCatcher(const SignalCatcher&) = delete;
  SignalCatcher& operator=(const SignalCatcher&) = delete;
  SignalCatcher(SignalCatcher&&) = delete;
  SignalCatcher& operator=(SignalCatcher&&) = delete;

 private:
  std::array<struct sigaction, 4> saved_breaks_{};
  struct sigaction saved_pipe_ {};
};

// The last signal noted while a catcher is installed, 0 for none.
int CaughtSignal();

}  // namespace tavrin::cli
