// SPDX-License-Identifier: Apache-2.0

#pragma once
// The built tavrin-play as a child process, with its standard output and
// error on pipes (or a pseudo-terminal), read while it runs, and the time
// each line of standard output arrived.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::cli::testing {

enum class ChildOutput { Pipes, Terminal };
struct ChildOptions {
  ChildOutput output = ChildOutput::Pipes;
  bool stdin_terminal = false;  // with a terminal: standard input is the terminal too
  int stdout_fd = -1;           // with pipes: standard output goes here instead
  std::vector<int> closed;      // descriptors (0 to 2) the child starts with closed
  int stdout_pipe_size = 0;     // with pipes: the room of standard output's pipe, when not 0
  std::vector<std::string> environment;  // "NAME=value" set for the child
  bool sample_memory = false;   // PeakKb() follows the child's peak memory while it is waited for
};

class Child {
 public:
  using Output = ChildOutput;
  using Options = ChildOptions;
  struct Line {
    double ms;  // since the start
    std::string text;
  };

  explicit Child(const std::vector<std::string>& args, Options options = Options()) : options_(std::move(options)) {
    // Always into the virtual board: no test plays into an adapter that
    // happens to be plugged in.
    std::vector<std::string> all = args;
    all.insert(all.begin(), {TAVRIN_PLAY_PATH, "--virtual"});
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const bool replaced = std::any_of(options_.environment.begin(), options_.environment.end(), [&](const auto& v) {
        return v.substr(0, v.find('=') + 1) == entry.substr(0, entry.find('=') + 1);
      });
      if (!replaced) env_text.push_back(entry);
    }
    env_text.insert(env_text.end(), options_.environment.begin(), options_.environment.end());
    std::vector<char*> envp;
    envp.reserve(env_text.size() + 1);
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    std::string slave;
    if (options_.output == Output::Terminal) {
      master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
      slave = ::ptsname(master_);
      winsize size{};
      size.ws_row = 24;
      size.ws_col = 80;
      ::ioctl(master_, TIOCSWINSZ, &size);
    } else {
      if (::pipe2(err_pipe, O_CLOEXEC) != 0) return;
      if (options_.stdout_fd < 0 && ::pipe2(out_pipe, O_CLOEXEC) != 0) return;
      if (options_.stdout_pipe_size > 0) ::fcntl(out_pipe[0], F_SETPIPE_SZ, options_.stdout_pipe_size);
    }
    start_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
      if (options_.output == Output::Terminal) {
        ::setsid();  // the terminal becomes the controlling one: Ctrl-C typed on it is SIGINT
        const int t = ::open(slave.c_str(), O_RDWR);
        if (t < 0) ::_exit(126);
        ::dup2(t, 1);
        ::dup2(t, 2);
        if (options_.stdin_terminal) ::dup2(t, 0);
      } else {
        ::dup2(options_.stdout_fd >= 0 ? options_.stdout_fd : out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
      }
      if (!(options_.output == Output::Terminal && options_.stdin_terminal)) {
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(null, 0);
      }
      for (const int fd : options_.closed) ::close(fd);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (options_.output == Output::Pipes) {
      ::close(err_pipe[1]);
      err_fd_ = err_pipe[0];
      if (out_pipe[1] >= 0) {
        ::close(out_pipe[1]);
        out_fd_ = out_pipe[0];
      }
    } else {
      out_fd_ = master_;
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    CloseOut();
    if (err_fd_ >= 0) ::close(err_fd_);
  }

  [[nodiscard]] pid_t Pid() const { return pid_; }
  // The child's peak memory seen while it was waited for (Options::sample_memory), in KiB.
  [[nodiscard]] long PeakKb() const { return peak_kb_; }
  // Bytes of standard output in the pipe, not read yet, and the pipe's room.
  [[nodiscard]] int Unread() const {
    int n = 0;
    return out_fd_ >= 0 && ::ioctl(out_fd_, FIONREAD, &n) == 0 ? n : -1;
  }
  [[nodiscard]] int PipeSize() const { return out_fd_ >= 0 ? ::fcntl(out_fd_, F_GETPIPE_SZ) : -1; }
  [[nodiscard]] double Ms() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  }

  // Reads what the child has written, waiting at most ms for something.
  void Pump(int ms) {
    pollfd fds[2];
    int n = 0;
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (n == 0) {
      ::usleep(static_cast<useconds_t>(ms) * 1000U);
      return;
    }
    if (::poll(fds, static_cast<nfds_t>(n), ms) <= 0) return;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      char buf[65536];
      const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      const bool is_out = fds[i].fd == out_fd_;
      if (got <= 0) {
        // End of a pipe, or EIO from a terminal whose other side is closed.
        if (is_out) {
          CloseOut();
        } else {
          ::close(err_fd_);
          err_fd_ = -1;
        }
        continue;
      }
      if (is_out) {
        const std::size_t searched = out.size();
        out.append(buf, static_cast<std::size_t>(got));
        const double now = Ms();
        // Only the new text can hold a line end.
        for (std::size_t nl = out.find('\n', std::max(line_start_, searched)); nl != std::string::npos;
             nl = out.find('\n', line_start_)) {
          lines.push_back({now, out.substr(line_start_, nl - line_start_)});
          line_start_ = nl + 1;
        }
      } else {
        err.append(buf, static_cast<std::size_t>(got));
      }
    }
  }

  // Reads until a line of standard output holds the text; false when the
  // child ended or the time ran out first.
  bool WaitForLine(const std::string& text, int timeout_ms) {
    return WaitUntil([&] { return FindLine(text) != nullptr; }, timeout_ms);
  }
  template <typename Done>
  bool WaitUntil(Done done, int timeout_ms) {
    const double end = Ms() + timeout_ms;
    while (!done()) {
      if (!Running()) {
        for (int i = 0; i < 200 && (out_fd_ >= 0 || err_fd_ >= 0); ++i) Pump(5);
        return done();
      }
      if (Ms() > end) return false;
      Pump(5);
    }
    return true;
  }
  [[nodiscard]] const Line* FindLine(const std::string& text) const {
    for (const Line& l : lines) {
      if (l.text.find(text) != std::string::npos) return &l;
    }
    return nullptr;
  }

  // The exit status (128 + the signal for a child killed by one), reading
  // everything written; -1 when it had not ended in time (it is killed).
  int Wait(int timeout_ms) {
    const double end = Ms() + timeout_ms;
    while (Running()) {
      if (Ms() > end) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        status_ = -1;
        break;
      }
      Pump(2);
    }
    // What is left in the pipes (a terminal is read until it reports EIO).
    for (int i = 0; i < 200 && (out_fd_ >= 0 || err_fd_ >= 0); ++i) Pump(5);
    return status_;
  }
  [[nodiscard]] double ExitMs() const { return exit_ms_; }
  // Keys typed on the terminal (Output::Terminal).
  bool Type(const std::string& keys) {
    return master_ >= 0 && ::write(master_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
  }
  // Stops reading standard output: a pipe's reader goes away.
  void CloseOut() {
    if (out_fd_ >= 0) ::close(out_fd_);
    if (out_fd_ == master_) master_ = -1;
    out_fd_ = -1;
  }

  std::string out;  // standard output (with a terminal: everything shown on it)
  std::string err;
  std::vector<Line> lines;

 private:
  static constexpr int kRunning = -2;
  bool Running() {
    if (status_ != kRunning) return false;
    if (options_.sample_memory) SampleMemory();
    int status = 0;
    if (pid_ <= 0) {
      status_ = -1;
      return false;
    }
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exit_ms_ = Ms();
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }

  // VmHWM: the high-water mark of the child's memory since its exec (before
  // it, the child is a copy of this process).
  void SampleMemory() {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    std::string name;
    long kb = 0;
    while (status >> key) {
      if (key == "Name:") status >> name;
      if (key == "VmHWM:" && status >> kb && name == "tavrin-play") peak_kb_ = std::max(peak_kb_, kb);
    }
  }

  Options options_;
  long peak_kb_ = 0;
  pid_t pid_ = -1;
  int master_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int status_ = kRunning;
  double exit_ms_ = 0;
  std::size_t line_start_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tavrin::cli::testing
