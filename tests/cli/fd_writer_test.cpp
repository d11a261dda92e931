// SPDX-License-Identifier: Apache-2.0
// Writing after a break signal: what is left goes out whole to a file or to
// a reader that keeps reading; only a reader that takes nothing is given up on.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/fd_writer.h"
#include "cli/signals.h"

namespace tavrin::cli {
namespace {

enum class Reader { File, KeepsReading, TakesNothing };

TEST(FdWriter, AfterASignalOnlyAStalledReaderCutsTheText) {
  // Far more than a second of patience would take at a millisecond a page.
  const std::string text(std::size_t{16} << 20U, 'x');
  for (const Reader reader : {Reader::File, Reader::KeepsReading, Reader::TakesNothing}) {
    SCOPED_TRACE(static_cast<int>(reader));
    const SignalCatcher catcher;
    std::raise(SIGINT);
    ASSERT_EQ(CaughtSignal(), SIGINT);

    std::FILE* file = nullptr;
    int read_end = -1;
    if (reader == Reader::File) {
      file = std::tmpfile();
    } else {
      int fds[2] = {-1, -1};
      ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
      // A large pipe: the reader wakes the writer less often.
      ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
      read_end = fds[0];
      file = ::fdopen(fds[1], "w");
    }
    ASSERT_NE(file, nullptr);
    std::size_t received = 0;
    std::thread drain;
    if (reader == Reader::KeepsReading) {
      drain = std::thread([read_end, &received] {
        char buf[65536];
        for (ssize_t n = 0; (n = ::read(read_end, buf, sizeof buf)) != 0;) {
          if (n > 0) received += static_cast<std::size_t>(n);
          if (n < 0 && errno != EINTR) break;
        }
      });
    }

    FdWriter writer(file);
    const bool written = writer.Write(text);
    if (reader == Reader::File) received = static_cast<std::size_t>(::lseek(fileno(file), 0, SEEK_END));
    std::fclose(file);  // the reader sees the end
    if (drain.joinable()) drain.join();
    if (read_end >= 0) ::close(read_end);

    if (reader == Reader::TakesNothing) {
      EXPECT_FALSE(written);
      EXPECT_EQ(writer.Error(), ETIMEDOUT);
    } else {
      EXPECT_TRUE(written) << writer.Error();
      EXPECT_EQ(received, text.size());
    }
  }
}

}  // namespace
}  // namespace tavrin::cli
