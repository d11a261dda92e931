// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <chrono>
#include <cstdio>
#include <string_view>

namespace tavrin::cli {

// Writes whole texts to the file descriptor of a stream, through partial
// writes, interrupted writes and non-blocking descriptors. A stream without
// a descriptor (an in-memory one) is written with stdio instead.
//
// Once a break signal has been caught, a reader that takes nothing for a
// while (a paused pager) is given up on, so that the program can still end
// promptly: the write fails with ETIMEDOUT. Only the time spent waiting for
// room counts against that patience: a file, or a pipe whose reader keeps
// up, takes everything that is left however long it is.
class FdWriter {
 public:
  explicit FdWriter(std::FILE* stream);

  // False when the text could not be written whole; the error stays, and
  // every later write fails at once without writing.
  bool Write(std::string_view text);
  [[nodiscard]] bool Failed() const { return error_ != 0; }
  // errno of the failure, 0 while none.
  [[nodiscard]] int Error() const { return error_; }
  [[nodiscard]] int Fd() const { return fd_; }

  // How long a stalled reader is waited for after a break signal, in all.
  static constexpr int kPatienceAfterSignalMs = 1000;

 private:
  bool WaitWritable();
  std::FILE* stream_;
  int fd_;
  int error_ = 0;
  std::chrono::microseconds patience_left_{std::chrono::milliseconds(kPatienceAfterSignalMs)};
};

}  // namespace tavrin::cli
