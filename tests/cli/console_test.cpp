// SPDX-License-Identifier: Apache-2.0
// The console window on a simulated clock: when standard output is written,
// and how the progress bar shares a terminal with the log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/console_window.h"
#include "common/clock.h"

namespace tavrin::cli {
namespace {

// Everything written to the stream's file so far.
std::string Contents(std::FILE* f) {
  std::string s;
  char buf[4096];
  ssize_t n = 0;
  while ((n = ::pread(fileno(f), buf, sizeof buf, static_cast<off_t>(s.size()))) > 0) {
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

struct Console {
  explicit Console(ConsoleSettings settings = {}) : file(std::tmpfile()), window(file, file, settings, clock) {
    clock.SleepMs(1000);
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console() { std::fclose(file); }
  std::FILE* file;  // standard output and error both
  FakeClock clock;
  ConsoleWindow window;
};

TEST(ConsoleOutput, LinesGoOutPromptlyButInBursts) {
  Console c;
  c.window.AppendLog("first");
  EXPECT_EQ(Contents(c.file), "first\n") << "the first line is written at once";
  for (int i = 0; i < 1000; ++i) c.window.AppendLog("line");
  for (int i = 0; i < 1000; ++i) c.window.ProcessPendingEvents();
  EXPECT_EQ(Contents(c.file), "first\n") << "held while the last write is recent";
  c.clock.SleepMs(5);
  // A scan's digit events look at the clock now and then.
  for (unsigned i = 0; i < ConsoleWindow::kEventsPerTick; ++i) c.window.ProcessPendingEvents();
  EXPECT_EQ(Contents(c.file).size(), 6 + 5000U);
  c.window.AppendLog("during a wait");
  c.clock.SleepMs(20);
  c.window.ProcessPendingEventsNow();
  EXPECT_EQ(Contents(c.file).size(), 6 + 5000 + 14U);
  EXPECT_EQ(c.window.OutputWrites(), 3);
  // Much held text goes out without waiting for the clock.
  c.window.AppendLog(std::string(ConsoleWindow::kFlushBytes, 'b'));
  EXPECT_EQ(c.window.OutputWrites(), 4);
}

ConsoleSettings SharedTerminal() {
  ConsoleSettings s;
  s.progress = true;
  s.bar_shares_terminal = true;
  s.columns = 60;
  return s;
}

TEST(ProgressBar, OnlyARunShowsItAndItGoesAtTheEnd) {
  Console c(SharedTerminal());
  c.window.SetProgressValue(100);  // start-up
  c.window.ProcessPendingEventsNow();
  EXPECT_EQ(Contents(c.file), "") << "no bar before a run sets its length";
  c.window.SetProgressMax(250);
  c.window.SetProgressValue(25);
  EXPECT_EQ(Contents(c.file), "\r[####                                    ] 10%\x1b[K");
  // The time left follows the share once the run can tell it, at the bar's pace.
  c.clock.SleepMs(100);
  c.window.SetTimeLeft("about 3 min 20 s left");
  const std::string tail = "] 10%, about 3 min 20 s left\x1b[K";
  EXPECT_EQ(Contents(c.file).substr(Contents(c.file).size() - tail.size()), tail);
  c.window.Finish();
  EXPECT_EQ(Contents(c.file).substr(Contents(c.file).size() - 4), "\r\x1b[K");
}

TEST(ProgressBar, TheFirstDrawOfARunNeverShowsTheValueBeforeIt) {
  Console c(SharedTerminal());
  c.window.SetProgressValue(100);  // start-up, or the last run
  c.window.SetProgressMax(1603);
  c.window.ProcessPendingEventsNow();
  EXPECT_EQ(Contents(c.file).find("] 6%"), std::string::npos) << Contents(c.file);  // 100 of 1603
  EXPECT_NE(Contents(c.file).find("] 0%\x1b[K"), std::string::npos) << Contents(c.file);
}

TEST(ProgressBar, TheLogStaysWholeAndTheBarIsRedrawnAtMostTenTimesASecond) {
  Console c(SharedTerminal());
  c.window.SetProgressMax(10000);
  // Ten seconds of a busy run: a statement with a log line every millisecond.
  std::string expected;
  for (int ms = 0; ms < 10000; ++ms) {
    c.window.SetProgressValue(ms + 1);
    c.window.AppendLog("line " + std::to_string(ms));
    expected += "line " + std::to_string(ms) + "\n";
    c.window.ProcessPendingEvents();
    c.clock.SleepMs(1);
  }
  c.window.Finish();
  EXPECT_LE(c.window.BarDraws(), 101);
  EXPECT_GE(c.window.BarDraws(), 95) << "the bar stays in view";
  // Taken apart: every bar is drawn on an empty line and cleared before the
  // log goes on; what is left is the log, whole and in order.
  const std::string text = Contents(c.file);
  std::string log;
  int bars = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (text.compare(at, 4, "\r\x1b[K") == 0) {
      at += 4;
    } else if (text[at] == '\r') {
      ASSERT_TRUE(at == 0 || text[at - 1] == '\n') << "a bar inside a line at " << at;
      const std::size_t end = text.find("\x1b[K", at);
      ASSERT_LT(end, text.find('\n', at));
      at = end + 3;
      ASSERT_TRUE(at == text.size() || text.compare(at, 4, "\r\x1b[K") == 0) << "a log line after a bar at " << at;
      ++bars;
    } else {
      const std::size_t end = text.find('\n', at);
      ASSERT_NE(end, std::string::npos);
      log.append(text, at, end + 1 - at);
      at = end + 1;
    }
  }
  EXPECT_EQ(bars, c.window.BarDraws());
  EXPECT_EQ(log, expected);
}

TEST(StepPrompt, OnlyTheAnswersLineIsTakenFromAPipe) {
  Console c;
  int steps = 0;
  c.window.step = [&] { ++steps; };
  c.window.awaiting_step = [] { return true; };
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ASSERT_EQ(::write(p[1], "s\nrest", 6), 6);
  std::FILE* answers = ::fdopen(p[0], "r");
  c.window.terminal = answers;
  c.window.ProcessPendingEvents();
  EXPECT_EQ(steps, 1);
  char rest[8] = {};
  EXPECT_EQ(::read(p[0], rest, sizeof rest), 4);
  EXPECT_EQ(std::string(rest), "rest");
  EXPECT_EQ(Contents(c.file), std::string(ConsoleWindow::kStepPrompt) + "\n")
      << "with nothing to echo the answer, the prompt ends its line";
  std::fclose(answers);
  ::close(p[1]);
}

// On a terminal, control characters and bytes that are no UTF-8 are shown
// as \xNN; well-formed UTF-8 is shown as it is.
TEST(Escaping, ControlCharactersAndBadUtf8AreShownAsBytes) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain\ttab", "plain\ttab"},
      {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"},
      {"\xc2\x9b" "1m", "\\xc2\\x9b1m"},                 // U+009B, a C1 control
      {"a\xff\xc3(", "a\\xff\\xc3("},                     // no lead byte; a lead without its tail
      {"\xe0\x80\xaf \xed\xa0\x80", "\\xe0\\x80\\xaf \\xed\\xa0\\x80"},  // overlong; a surrogate
      {"\xf4\x90\x80\x80 \xe2\x82", "\\xf4\\x90\\x80\\x80 \\xe2\\x82"},  // beyond U+10FFFF; cut short
  };
  for (const auto& c : cases) {
    std::string shown;
    AppendEscaped(shown, c.text);
    EXPECT_EQ(shown, c.shown) << c.text;
  }
  // A line printed whole keeps its line breaks escaped too; a message keeps
  // its own.
  ConsoleSettings terminal;
  terminal.escape_messages = true;
  Console t(terminal);
  t.window.PrintErrorLine("x\r\ny\xff.svf: stopped");
  t.window.PrintError("one\r\ntwo");
  EXPECT_EQ(Contents(t.file), "x\\x0d\\x0ay\\xff.svf: stopped\none\ntwo\n");
  Console file;
  file.window.PrintErrorLine("x\xff.svf");
  EXPECT_EQ(Contents(file.file), "x\xff.svf\n");
}

}  // namespace
}  // namespace tavrin::cli
