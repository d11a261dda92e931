// SPDX-License-Identifier: Apache-2.0

#include "cli/console_window.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "cli/signals.h"

namespace tavrin::cli {

namespace {

bool IsTerminal(std::FILE* f) { return f != nullptr && fileno(f) >= 0 && isatty(fileno(f)) != 0; }

// The longest single-step answer kept; the rest of a longer line is read and dropped.
constexpr std::size_t kMaxAnswer = 256;
// How long one poll of the terminal waits before it looks at the signals again.
constexpr int kAnswerPollMs = 50;

constexpr char kClearLine[] = "\r\033[K";

}  // namespace

std::uint64_t CoarseClock::NowMicros() const {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000U + static_cast<std::uint64_t>(t.tv_nsec) / 1000U;
}

ConsoleSettings ConsoleSettings::Detect(std::FILE* out, std::FILE* err, bool quiet) {
  ConsoleSettings s;
  s.quiet = quiet;
  s.escape_log = IsTerminal(out);
  s.escape_messages = IsTerminal(err);
  s.progress = s.escape_messages;
  if (s.escape_log && s.progress) {
    struct stat a {};
    struct stat b {};
    s.bar_shares_terminal = fstat(fileno(out), &a) == 0 && fstat(fileno(err), &b) == 0 && a.st_rdev == b.st_rdev;
  }
  return s;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0 when the
// byte there starts none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t n = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
  }
  return n;
}

}  // namespace

void AppendEscaped(std::string& to, std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::size_t start = 0;
  auto escape = [&](std::size_t i, std::size_t n) {
    to.append(text.substr(start, i - start));
    for (std::size_t k = i; k < i + n; ++k) {
      const auto c = static_cast<unsigned char>(text[k]);
      const char escaped[4] = {'\\', 'x', kDigits[c >> 4U], kDigits[c & 0xFU]};
      to.append(escaped, sizeof escaped);
    }
    start = i + n;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) escape(i, 1);
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      escape(i, 1);  // a byte of no character
      ++i;
      continue;
    }
    // U+0080 to U+009F are control characters too.
    if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) escape(i, 2);
    i += n;
  }
  to.append(text.substr(start));
}

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, const ConsoleSettings& settings, Clock& clock)
    : out_(out), err_(err), settings_(settings), clock_(clock) {
  log.clear();
  held_ = "Merrow Log...\r\n";
}

void ConsoleWindow::Break() {
  if (brk) brk();
}

// --- The log ---

void ConsoleWindow::ReleaseHeld() {
  std::string held;
  held.swap(held_);
  const bool print = !holding_start_up_;
  holding_start_up_ = false;
  if (!print) return;
  partial_.append(held);
  SplitPartial();
}

void ConsoleWindow::SplitPartial() {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = partial_.find("\r\n", start);
    if (end == std::string::npos) break;
    Line(std::string_view(partial_).substr(start, end - start));
    start = end + 2;
  }
  partial_.erase(0, start);
}

void ConsoleWindow::AppendLog(std::string_view text) {
  if (CaughtSignal() != 0) Break();
  if (!held_.empty()) ReleaseHeld();
  if (partial_.empty() && text.find('\r') == std::string_view::npos) {
    Line(text);
    return;
  }
  partial_.append(text);
  partial_.append("\r\n");
  SplitPartial();
}

void ConsoleWindow::AppendLogNoBreak(std::string_view text) {
  if (!held_.empty()) ReleaseHeld();
  partial_.append(text);
  // A CR LF may be split over two calls: its LF completes the line.
  if (text.find('\n') != std::string_view::npos) SplitPartial();
}

void ConsoleWindow::ReplaceLog(std::string_view text) {
  // What was printed stays printed; only text not yet shown can be replaced.
  partial_.clear();
  held_.assign(text);
  holding_start_up_ = false;
}

void ConsoleWindow::Line(std::string_view line) {
  std::string& kept = recent_[recent_next_];
  kept.assign(line.substr(0, kRememberedChars));
  recent_next_ = (recent_next_ + 1) % kRememberedLines;
  recent_count_ = std::min(recent_count_ + 1, kRememberedLines);
  if (settings_.quiet) return;
  if (settings_.escape_log) {
    AppendEscaped(pending_, line);
  } else {
    pending_.append(line);
  }
  pending_.push_back('\n');
  if (pending_.size() >= kFlushBytes) {
    // Much text goes out at once; the bar comes back at its own pace.
    Flush(clock_.NowMicros(), false);
    return;
  }
  const std::uint64_t now = clock_.NowMicros();
  if (!flushed_once_ || now - last_flush_us_ >= FlushInterval()) Flush(now);
}

std::vector<std::string> ConsoleWindow::RecentLines() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < recent_count_; ++i) {
    lines.push_back(recent_[(recent_next_ + kRememberedLines - recent_count_ + i) % kRememberedLines]);
  }
  return lines;
}

std::uint64_t ConsoleWindow::FlushInterval() const {
  // On the bar's terminal every write of the log clears the bar and is
  // followed by a redraw: both at the bar's pace.
  return settings_.bar_shares_terminal && bar_active_ ? kBarIntervalUs : kFlushIntervalUs;
}

void ConsoleWindow::Flush(std::uint64_t now, bool redraw_bar) {
  if (pending_.empty()) return;
  last_flush_us_ = now;
  flushed_once_ = true;
  if (bar_shown_ && settings_.bar_shares_terminal) ClearBar();
  if (!out_.Failed()) {
    ++output_writes_;
    // A reader that went away or a full disk ends the run, as Break does.
    if (!out_.Write(pending_)) Break();
  }
  pending_.clear();
  if (!redraw_bar) return;
  if (settings_.bar_shares_terminal) {
    // Log and bar go out together, at the bar's pace: the bar is back at once.
    if (BarWanted()) DrawBar(now);
  } else {
    MaybeDrawBar(now);
  }
}

void ConsoleWindow::Tick() {
  const std::uint64_t now = clock_.NowMicros();
  if (!pending_.empty() && (!flushed_once_ || now - last_flush_us_ >= FlushInterval())) Flush(now);
  MaybeDrawBar(now);
}

void ConsoleWindow::Finish() {
  if (!held_.empty() && !holding_start_up_) ReleaseHeld();
  held_.clear();
  if (!partial_.empty()) {
    // A last line without its CR LF.
    std::string last;
    last.swap(partial_);
    Line(last);
  }
  bar_active_ = false;
  Flush(clock_.NowMicros(), false);
  if (bar_shown_) ClearBar();
}

// --- Standard error ---

void ConsoleWindow::WriteError(std::string_view text) {
  // The log so far comes first, and the bar makes room.
  Flush(clock_.NowMicros(), false);
  if (bar_shown_) ClearBar();
  std::string shown;
  // Line breaks of a message are CR LF; the console gets LF.
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    const std::string_view part = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (settings_.escape_messages) {
      AppendEscaped(shown, part);
    } else {
      shown.append(part);
    }
    shown.push_back('\n');
    if (end == std::string_view::npos) break;
    start = end + 2;
  }
  (void)err_.Write(shown);
}

void ConsoleWindow::ShowMessage(std::string_view text) {
  MemoryWindow::ShowMessage(text);
  WriteError(text);
}

void ConsoleWindow::PrintError(std::string_view text) { WriteError(text); }

void ConsoleWindow::PrintErrorLine(std::string_view text) {
  if (!settings_.escape_messages) {
    WriteError(text);
    return;
  }
  std::string shown;
  AppendEscaped(shown, text);
  WriteError(shown);
}

// --- Events ---

void ConsoleWindow::ProcessPendingEvents() {
  MemoryWindow::ProcessPendingEvents();
  if (CaughtSignal() != 0) {
    Break();
    return;
  }
  if ((!pending_.empty() || BarWanted()) && ++events_ % kEventsPerTick == 0) Tick();
  if (awaiting_step && awaiting_step()) AskStep();
}

void ConsoleWindow::ProcessPendingEventsNow() {
  MemoryWindow::ProcessPendingEvents();
  if (CaughtSignal() != 0) {
    Break();
    return;
  }
  Tick();
  if (awaiting_step && awaiting_step()) AskStep();
}

void ConsoleWindow::AskStep() {
  Flush(clock_.NowMicros(), false);
  if (bar_shown_) ClearBar();
  (void)err_.Write(kStepPrompt);
  std::string answer;
  const Answer got = ReadAnswer(answer);
  // A terminal echoes the answer and its Enter; anything else leaves the
  // prompt's line open.
  const bool echoed = terminal != nullptr && fileno(terminal) >= 0 && isatty(fileno(terminal)) != 0;
  if (got == Answer::Line && !echoed) (void)err_.Write("\n");
  switch (got) {
    case Answer::Line:
      if (!answer.empty() && (answer[0] == 'b' || answer[0] == 'B')) {
        Break();
      } else if (step) {
        step();
      }
      return;
    case Answer::End:
    case Answer::Interrupted:
      // No more answers can come, or the operator pressed Ctrl-C: stop
      // rather than wait for ever.
      (void)err_.Write("\n");
      Break();
      return;
  }
}

ConsoleWindow::Answer ConsoleWindow::ReadAnswer(std::string& answer) {
  if (terminal == nullptr) return Answer::End;
  const int fd = fileno(terminal);
  if (fd < 0) {
    // A stream without a descriptor cannot be polled; it cannot wait either.
    char buf[kMaxAnswer];
    if (std::fgets(buf, sizeof buf, terminal) == nullptr) return Answer::End;
    answer.assign(buf);
    return Answer::Line;
  }
  // Byte by byte from the descriptor, so that nothing beyond the answer's
  // line is taken from a pipe, and a signal is seen within one poll.
  for (;;) {
    if (CaughtSignal() != 0) return Answer::Interrupted;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kAnswerPollMs);
    if (ready < 0 && errno != EINTR) return Answer::End;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 0) return Answer::End;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return Answer::End;
    }
    if (c == '\n') return Answer::Line;
    if (answer.size() < kMaxAnswer) answer.push_back(c);
  }
}

// --- The progress bar ---

void ConsoleWindow::SetProgressMax(int max) {
  MemoryWindow::SetProgressMax(max);
  // Only a run sets the length: the value that start-up sets is not shown,
  // and a new length starts from nothing done, so that the first draw
  // never shows more than the next.
  bar_active_ = max > 0;
  drawn_max_ = -1;
  progress_value = 0;
}

void ConsoleWindow::SetProgressValue(int value) {
  MemoryWindow::SetProgressValue(value);
  if (BarWanted()) MaybeDrawBar(clock_.NowMicros());
}

void ConsoleWindow::SetTimeLeft(std::string_view text) {
  MemoryWindow::SetTimeLeft(text);
  if (BarWanted()) MaybeDrawBar(clock_.NowMicros());
}

bool ConsoleWindow::BarWanted() const {
  return settings_.progress && bar_active_ &&
         (!bar_shown_ || drawn_value_ != progress_value || drawn_max_ != progress_max || drawn_time_left_ != time_left);
}

void ConsoleWindow::ClearBar() {
  (void)err_.Write(kClearLine);
  bar_shown_ = false;
}

void ConsoleWindow::MaybeDrawBar(std::uint64_t now) {
  if (!BarWanted()) return;
  if (drawn_once_ && now - last_draw_us_ < kBarIntervalUs) return;
  if (settings_.bar_shares_terminal) {
    if (flushed_once_ && now - last_flush_us_ < kBarIntervalUs) return;
    // Held log lines go out first, so that the bar stays below them; the
    // flush draws the bar after them.
    if (!pending_.empty()) {
      Flush(now);
      return;
    }
    last_flush_us_ = now;
    flushed_once_ = true;
  }
  DrawBar(now);
}

void ConsoleWindow::DrawBar(std::uint64_t now) {
  int columns = settings_.columns;
  if (columns <= 0) {
    winsize size{};
    columns = ioctl(err_.Fd(), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  }
  const int max = progress_max;
  const int value = std::clamp(progress_value, 0, max);
  // The share of the file's work done (100% only at its end), and the time
  // left once the run can tell.
  std::string counts = std::to_string(static_cast<long long>(value) * 100 / max) + "%";
  if (!time_left.empty()) counts += ", " + time_left;
  // One column is left free, so that the bar never wraps.
  const int room = columns - 1 - static_cast<int>(counts.size()) - 3;
  // The bar overwrites the old one and clears what is left of it.
  std::string text = "\r";
  if (room >= 10) {
    const int width = std::min(room, 40);
    const int filled = static_cast<int>(static_cast<long long>(value) * width / max);
    text += "[";
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(width - filled), ' ');
    text += "] ";
  }
  text += counts.substr(0, static_cast<std::size_t>(std::max(columns - 1, 0)));
  text += "\033[K";
  (void)err_.Write(text);
  bar_shown_ = true;
  drawn_value_ = progress_value;
  drawn_max_ = progress_max;
  drawn_time_left_ = time_left;
  last_draw_us_ = now;
  drawn_once_ = true;
  ++bar_draws_;
}

}  // namespace tavrin::cli
