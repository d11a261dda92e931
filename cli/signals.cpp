// SPDX-License-Identifier: Apache-2.0

#include "cli/signals.h"

namespace tavrin::cli {

namespace {

volatile std::sig_atomic_t g_caught = 0;

constexpr std::array<int, 4> kBreakSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void NoteSignal(int signal_number) { g_caught = signal_number; }

}  // namespace

SignalCatcher::SignalCatcher() {
  g_caught = 0;
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  for (const int s : kBreakSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = 0;  // no SA_RESTART: reads, writes and polls return EINTR
  for (std::size_t i = 0; i < kBreakSignals.size(); ++i) sigaction(kBreakSignals[i], &action, &saved_breaks_[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &saved_pipe_);
}

SignalCatcher::~SignalCatcher() {
  for (std::size_t i = 0; i < kBreakSignals.size(); ++i) sigaction(kBreakSignals[i], &saved_breaks_[i], nullptr);
  sigaction(SIGPIPE, &saved_pipe_, nullptr);
  g_caught = 0;
}

int CaughtSignal() { return g_caught; }

}  // namespace tavrin::cli
