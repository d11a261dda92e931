// SPDX-License-Identifier: Apache-2.0

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "cli/play.h"

namespace {

// Standard input, output and error that the caller left closed are opened
// on /dev/null; else the first file the program opens (the waveform, the
// trace) would take the free number and get the log written into it.
bool OpenClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as those below it are open.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened == fd) continue;
    if (opened >= 0) ::close(opened);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!OpenClosedStandardDescriptors()) {
    // Standard error may be one of those left closed: then this goes nowhere.
    std::fputs("tavrin-play: standard input, output or error is closed and /dev/null cannot be opened in its place\n",
               stderr);
    return 2;
  }
  try {
    return tavrin::cli::PlayMain(argc, argv, stdout, stderr, stdin);
  } catch (const std::exception& e) {
    // Out of memory and the like: said, not a crash. The devices have been
    // destroyed on the way here, which closes a real adapter.
    std::fprintf(stderr, "tavrin-play: %s\n", e.what());
    return 1;
  }
}
