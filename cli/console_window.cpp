#include "cli/console_window.h"

#include <unistd.h>

#include <csignal>

namespace tavrin::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) {
  g_interrupted = 1;
  // A second Ctrl-C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void InstallInterruptHandler() { std::signal(SIGINT, OnInterrupt); }

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, bool quiet)
    : out_(out), err_(err), quiet_(quiet), progress_tty_(isatty(fileno(err)) != 0) {
  log.clear();
  held_ = "Merrow Log...\r\n";
}

void ConsoleWindow::Emit(std::string_view text) {
  // Lines of the log end in CR LF; the console gets LF.
  if (!held_.empty()) {
    std::string held;
    held.swap(held_);
    if (!holding_start_up_) Emit(held);
    holding_start_up_ = false;
  }
  partial_.append(text);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = partial_.find("\r\n", start);
    if (end == std::string::npos) break;
    if (!quiet_) {
      if (progress_shown_) {
        std::fputs("\r\033[K", err_);
        progress_shown_ = false;
        last_drawn_ = -1;
      }
      std::fwrite(partial_.data() + start, 1, end - start, out_);
      std::fputc('\n', out_);
    }
    start = end + 2;
  }
  partial_.erase(0, start);
}

void ConsoleWindow::AppendLog(std::string_view text) {
  std::string line(text);
  line.append("\r\n");
  Emit(line);
}

void ConsoleWindow::AppendLogNoBreak(std::string_view text) { Emit(text); }

void ConsoleWindow::ReplaceLog(std::string_view text) {
  // What was printed stays printed; only text not yet shown can be replaced.
  partial_.clear();
  held_.assign(text);
  holding_start_up_ = false;
}

void ConsoleWindow::Finish() {
  if (!held_.empty() && !holding_start_up_) Emit("");
  held_.clear();
  if (!partial_.empty()) {
    if (!quiet_) {
      std::fwrite(partial_.data(), 1, partial_.size(), out_);
      std::fputc('\n', out_);
    }
    partial_.clear();
  }
  if (progress_shown_) {
    DrawProgress(true);
    std::fputc('\n', err_);
    progress_shown_ = false;
  }
  std::fflush(out_);
}

void ConsoleWindow::ShowMessage(std::string_view text) {
  MemoryWindow::ShowMessage(text);
  std::fflush(out_);
  if (progress_shown_) {
    std::fputs("\r\033[K", err_);
    progress_shown_ = false;
  }
  // The exact text, with LF for the CR LF inside a message.
  std::string line(text);
  for (std::size_t p = line.find("\r\n"); p != std::string::npos; p = line.find("\r\n", p)) line.replace(p, 2, "\n");
  std::fprintf(err_, "%s\n", line.c_str());
  std::fflush(err_);
}

void ConsoleWindow::ProcessPendingEvents() {
  MemoryWindow::ProcessPendingEvents();
  if (g_interrupted != 0) {
    g_interrupted = 0;
    if (brk) brk();
    return;
  }
  if (!awaiting_step || !awaiting_step()) return;
  std::fflush(out_);
  std::fputs("Step: Enter, Break: b then Enter > ", err_);
  std::fflush(err_);
  char buf[256];
  if (std::fgets(buf, sizeof buf, terminal) == nullptr) {
    // No more answers can come: stop rather than wait for ever.
    std::fputc('\n', err_);
    if (brk) brk();
    return;
  }
  if (buf[0] == 'b' || buf[0] == 'B') {
    if (brk) brk();
  } else if (step) {
    step();
  }
}

void ConsoleWindow::SetProgressMax(int max) {
  MemoryWindow::SetProgressMax(max);
  last_drawn_ = -1;
}

void ConsoleWindow::SetProgressValue(int value) {
  MemoryWindow::SetProgressValue(value);
  DrawProgress(false);
}

void ConsoleWindow::DrawProgress(bool force) {
  if (!progress_tty_ || progress_max <= 0) return;
  const int width = 40;
  const int filled = static_cast<int>(static_cast<long long>(progress_value) * width / progress_max);
  const int percent = static_cast<int>(static_cast<long long>(progress_value) * 100 / progress_max);
  if (!force && percent == last_drawn_) return;
  last_drawn_ = percent;
  std::fflush(out_);
  std::fprintf(err_, "\r[%.*s%*s] %d/%d lines", filled, "########################################", width - filled, "",
               progress_value, progress_max);
  std::fflush(err_);
  progress_shown_ = true;
}

}  // namespace tavrin::cli
