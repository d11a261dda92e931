// SPDX-License-Identifier: Apache-2.0
// tavrin --help and --version answer, and exit 0, in an environment holding
// nothing but PATH: no DISPLAY, no QT_QPA_PLATFORM. Had the program started
// Qt, it would have found no display and aborted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Outcome {
  bool exited = false;  // false: killed by a signal, or still running at the deadline
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the window's program with these arguments and an environment of PATH only.
Outcome RunTavrin(const std::vector<std::string>& args) {
  Outcome outcome;
  std::array<int, 2> out_pipe{-1, -1};
  std::array<int, 2> err_pipe{-1, -1};
  if (::pipe2(out_pipe.data(), O_CLOEXEC) != 0 || ::pipe2(err_pipe.data(), O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipes";
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> strings{TAVRIN_PROGRAM};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(strings.size() + 1);
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const char* path = std::getenv("PATH");
  std::string path_entry = std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
  std::array<char*, 2> envp{path_entry.data(), nullptr};

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, TAVRIN_PROGRAM, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    ADD_FAILURE() << "cannot start " << TAVRIN_PROGRAM;
    return outcome;
  }

  // Both pipes until they close, for at most 30 seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::array<pollfd, 2> fds{pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks{&outcome.out, &outcome.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    if (::poll(fds.data(), fds.size(), static_cast<int>(left)) < 0) break;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 4096> buf{};
      const ssize_t n = ::read(fds[i].fd, buf.data(), buf.size());
      if (n > 0) {
        sinks[i]->append(buf.data(), static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) ::close(f.fd);
  }
  int wstatus = 0;
  if (open_pipes > 0) ::kill(pid, SIGKILL);  // still running at the deadline
  if (::waitpid(pid, &wstatus, 0) == pid && open_pipes == 0 && WIFEXITED(wstatus)) {
    outcome.exited = true;
    outcome.status = WEXITSTATUS(wstatus);
  }
  return outcome;
}

void ExpectHelp(const Outcome& r) {
  ASSERT_TRUE(r.exited) << "stderr: " << r.err;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: tavrin ", 0), 0U) << r.out;
  for (const char* option : {"--board FILE.json", "--screenshot FILE.png", "--play FILE.svf", "--help", "--version"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option << " is not in the help:\n" << r.out;
  }
  EXPECT_EQ(r.err, "");
}

TEST(TavrinMain, HelpWithoutDisplay) { ExpectHelp(RunTavrin({"--help"})); }

TEST(TavrinMain, ShortHelp) { ExpectHelp(RunTavrin({"-h"})); }

TEST(TavrinMain, VersionWithoutDisplay) {
  const Outcome r = RunTavrin({"--version"});
  ASSERT_TRUE(r.exited) << "stderr: " << r.err;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tavrin " TAVRIN_VERSION "\n");
  EXPECT_EQ(r.err, "");
}

TEST(TavrinMain, HelpBeforeTheBoardIsRead) {
  // The board file does not exist; asking for help must not read it.
  ExpectHelp(RunTavrin({"--board", "/nonexistent/board.json", "--help"}));
  ExpectHelp(RunTavrin({"--board=/nonexistent/board.json", "-platform", "offscreen", "--help"}));
}

TEST(TavrinMain, OptionValuesAreNotRequests) {
  // "--version" is the name of the picture here, so this asks for help.
  ExpectHelp(RunTavrin({"--screenshot", "--version", "--help"}));
  // And here "--help" is the file to play.
  const Outcome r = RunTavrin({"--play", "--help", "--version"});
  ASSERT_TRUE(r.exited) << "stderr: " << r.err;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tavrin " TAVRIN_VERSION "\n");
}

}  // namespace
