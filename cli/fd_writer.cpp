// SPDX-License-Identifier: Apache-2.0

#include "cli/fd_writer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "cli/signals.h"

namespace tavrin::cli {

namespace {

// After a signal, writes go in pieces that a pipe with room for one page
// takes without blocking.
constexpr std::size_t kPieceAfterSignal = 4096;

}  // namespace

FdWriter::FdWriter(std::FILE* stream) : stream_(stream), fd_(stream != nullptr ? fileno(stream) : -1) {
  // Whatever stdio holds for the stream goes first.
  if (stream_ != nullptr) std::fflush(stream_);
}

bool FdWriter::WaitWritable() {
  // Waits for room, in short slices so that a signal is seen; after a
  // signal, for the patience left. Room that is there at once costs no
  // patience: only time spent waiting for the reader counts.
  using std::chrono::microseconds;
  for (;;) {
    const bool signalled = CaughtSignal() != 0;
    if (signalled && patience_left_ <= microseconds(0)) {
      error_ = ETIMEDOUT;
      return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    int ready = ::poll(&p, 1, 0);
    if (ready == 0) {
      int slice = 50;
      if (signalled) {
        const auto left_ms = (patience_left_.count() + 999) / 1000;
        slice = static_cast<int>(std::min<std::int64_t>(left_ms, slice));
      }
      p.revents = 0;
      const auto start = std::chrono::steady_clock::now();
      ready = ::poll(&p, 1, slice);
      if (signalled) patience_left_ -= std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start);
    }
    if (ready > 0) return true;  // writable, or an error that the write will report
    if (ready < 0 && errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

bool FdWriter::Write(std::string_view text) {
  if (error_ != 0) return false;
  if (text.empty()) return true;
  if (fd_ < 0) {
    if (stream_ == nullptr || std::fwrite(text.data(), 1, text.size(), stream_) != text.size() ||
        std::fflush(stream_) != 0) {
      error_ = errno != 0 ? errno : EIO;
      return false;
    }
    return true;
  }
  while (!text.empty()) {
    std::size_t piece = text.size();
    if (CaughtSignal() != 0) {
      if (!WaitWritable()) return false;
      piece = std::min(piece, kPieceAfterSignal);
    }
    const ssize_t n = ::write(fd_, text.data(), piece);
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;  // a signal: the loop now waits with patience
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitWritable()) return false;
      continue;
    }
    error_ = n < 0 ? errno : EIO;
    return false;
  }
  return true;
}

}  // namespace tavrin::cli
