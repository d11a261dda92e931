// SPDX-License-Identifier: Apache-2.0
// tavrin-play as a child process: signals, pipes, files, a full disk and a
// terminal. Times are bound generously (the machine may be busy); what was
// measured is printed for the record.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "child_process.h"
#include "play_rig.h"

namespace tavrin::cli {
namespace {

using testing::Child;
using testing::TempDir;

// A bound far above the 100 ms the program aims at.
constexpr double kPromptMs = 2000;

void Report(const std::string& what, double value, const char* unit = "ms") {
  std::cout << "[ measured ] " << what << ": " << value << " " << unit << "\n";
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  const std::size_t nl = t.find_last_of('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The trace's last chip call: the adapter was closed.
void ExpectClosedLast(const std::string& trace_path) {
  const std::string last = LastLine(ReadFile(trace_path));
  EXPECT_EQ(last.rfind("FT_Close(", 0), 0U) << last;
  EXPECT_NE(last.find("-> 0"), std::string::npos) << last;
}

const std::string kOnBoard = "; on virtual board (built-in board)";
const std::string kAdapterLine = "Adapter: virtual board (built-in board)\n";

constexpr int kBreakSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

TEST(Signals, EachBreakSignalEndsAWaitAtOnce) {
  for (const int signal : kBreakSignals) {
    SCOPED_TRACE(signal);
    TempDir dir;
    const std::string file = dir.Write("wait.svf", "SIR 8 TDI (01);\nRUNTEST 30 SEC;\nSTATE RESET;\n");
    const std::string trace = dir.Path("trace.txt");
    Child child({"--trace", trace, file});
    ASSERT_TRUE(child.WaitForLine("Waiting 30 SEC", 10000)) << child.out << child.err;
    const double sent = child.Ms();
    ::kill(child.Pid(), signal);
    EXPECT_EQ(child.Wait(10000), 1) << child.err;
    const double latency = child.ExitMs() - sent;
    Report("signal " + std::to_string(signal) + " in RUNTEST 30 SEC to exit", latency);
    EXPECT_LT(latency, kPromptMs);
    EXPECT_EQ(LastLine(child.err), file + ":2: stopped by the operator" + kOnBoard);
    EXPECT_EQ(LastLine(child.out), "Uh Oh, the operator stopped the run at line 2.  Bailing Out");
    ExpectClosedLast(trace);
  }
}

TEST(Signals, ALongScanIsCutShort) {
  TempDir dir;
  // 32 Mi bits: a few seconds of scanning on the virtual board.
  const std::size_t bits = std::size_t{32} << 20U;
  const std::string file =
      dir.Write("scan.svf", "SIR 8 TDI (FF);\nSDR " + std::to_string(bits) + " TDI (" + std::string(bits / 4, '5') +
                                ");\nSTATE RESET;\n");
  Child child({file});
  ASSERT_TRUE(child.WaitForLine("lNumBytes= " + std::to_string(bits * 3), 20000)) << child.err;
  const double sent = child.Ms();
  ::kill(child.Pid(), SIGINT);
  EXPECT_EQ(child.Wait(10000), 1) << child.err;
  const double latency = child.ExitMs() - sent;
  Report("SIGINT in a 32 Mi-bit scan to exit", latency);
  EXPECT_LT(latency, kPromptMs);
  EXPECT_EQ(LastLine(child.err), file + ":2: stopped by the operator" + kOnBoard);
  const std::size_t scan = child.out.find("lNumBytes= " + std::to_string(bits * 3));
  ASSERT_NE(scan, std::string::npos);
  EXPECT_EQ(child.out.find("\nGot: ", scan), std::string::npos) << "the scan was not finished";
}

// The read position of the child's open file of that path; -1 while none.
long long ReadPosition(pid_t pid, const std::string& path) {
  const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(fd_dir, ec)) {
    std::error_code link_ec;
    if (std::filesystem::read_symlink(entry.path(), link_ec) != path) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + entry.path().filename().string());
    std::string key;
    long long pos = -1;
    while (info >> key) {
      if (key == "pos:" && info >> pos) return pos;
    }
  }
  return -1;
}

TEST(Signals, TheCountingPassOfAHugeFileStops) {
  TempDir dir;
  // Ten million lines: a few hundred milliseconds of counting.
  std::string text;
  for (int i = 0; i < 10'000'000; ++i) text += "//\n";
  const std::string file = dir.Write("huge.svf", text);
  Child child({file});
  // The player is counting once it has read into the file.
  ASSERT_TRUE(child.WaitUntil([&] { return ReadPosition(child.Pid(), file) > 0; }, 20000)) << child.err;
  const double sent = child.Ms();
  ::kill(child.Pid(), SIGTERM);
  EXPECT_EQ(child.Wait(10000), 1) << child.err;
  const double latency = child.ExitMs() - sent;
  Report("SIGTERM in the counting pass of 10,000,000 lines to exit", latency);
  EXPECT_LT(latency, kPromptMs);
  EXPECT_EQ(LastLine(child.err), file + ": stopped by the operator" + kOnBoard);
  EXPECT_EQ(child.out, kAdapterLine + "Opening " + file + "\nUh Oh, the operator stopped the run before it began.  Bailing Out\n");
}

// A scan report far longer than a pipe holds (4 MiB of digits), held up by
// a reader that has not begun to read; then a signal, and the reader reads.
TEST(Signals, AfterAStopTheLogReachesAReaderThatKeepsReadingWhole) {
  TempDir dir;
  const std::size_t bits = std::size_t{16} << 20U;
  const std::string sent = "Sent: " + std::string(bits / 4, '5');
  const std::string file =
      dir.Write("scan.svf", "SIR 8 TDI (FF);\nSDR " + std::to_string(bits) + " TDI (" + std::string(bits / 4, '5') +
                                ");\nSTATE RESET;\n");
  // A large pipe: the reader wakes the program less often.
  Child::Options options;
  options.stdout_pipe_size = 1 << 20;
  for (const int signal : kBreakSignals) {
    SCOPED_TRACE(signal);
    Child child({file}, options);
    // Full but for the page of the lines before the report.
    const int full = child.PipeSize() - 4096;
    ASSERT_GT(full, 0);
    const double end = child.Ms() + 30000;
    while (child.Unread() < full && child.Ms() < end) ::usleep(2000);
    ASSERT_GE(child.Unread(), full) << "the report fills the pipe";
    ::kill(child.Pid(), signal);
    EXPECT_EQ(child.Wait(20000), 1) << child.err;
    EXPECT_EQ(child.err.find("not read"), std::string::npos) << child.err;
    EXPECT_TRUE(child.out.find("\n" + sent + "\n") != std::string::npos)
        << "the report is whole: " << child.out.size() << " bytes of output";
    EXPECT_EQ(LastLine(child.err), file + ":3: stopped by the operator" + kOnBoard);
    EXPECT_EQ(LastLine(child.out), "Uh Oh, the operator stopped the run at line 3.  Bailing Out");
  }
}

TEST(Output, ClosedStandardDescriptorsAreNotTakenByTheOutputFiles) {
  TempDir dir;
  const std::string file = std::string(TAVRIN_SOURCE_DIR) + "/examples/idcode.svf";
  const std::string vcd = dir.Path("w.vcd");
  const std::string trace = dir.Path("t.txt");
  for (const std::vector<int>& closed : std::vector<std::vector<int>>{{0}, {1}, {2}, {0, 1, 2}}) {
    SCOPED_TRACE(::testing::PrintToString(closed));
    Child::Options options;
    options.closed = closed;
    Child child({"--vcd", vcd, "--trace", trace, file}, options);
    EXPECT_EQ(child.Wait(20000), 0) << child.err;
    for (const std::string& output : {vcd, trace}) {
      const std::string text = ReadFile(output);
      EXPECT_EQ(text.find("Opening "), std::string::npos) << output << ": " << text.substr(0, 200);
      EXPECT_EQ(text.find(": 12 statements"), std::string::npos) << output;
    }
    EXPECT_EQ(ReadFile(vcd).rfind("$date", 0), 0U);
    ExpectClosedLast(trace);
    // What is still open is written as usual.
    if (closed.size() == 1) {
      EXPECT_EQ(child.out.rfind(kAdapterLine + "Opening " + file + "\n", 0) == 0, closed[0] != 1);
      EXPECT_EQ(child.err.rfind(file + ": 12 statements", 0) == 0, closed[0] != 2) << child.err;
    }
  }
}

TEST(Output, APipeOrFileSeesEachLineWhileTheRunGoesOn) {
  TempDir dir;
  const std::string file = dir.Write("wait.svf", "SIR 8 TDI (01);\nRUNTEST 1 SEC;\nSTATE RESET;\n");
  {
    Child child({file});
    ASSERT_EQ(child.Wait(20000), 0);
    const Child::Line* waiting = child.FindLine("Waiting 1 SEC, 1000 ms...");
    ASSERT_NE(waiting, nullptr) << child.out;
    // The line is appended just before the 1 s wait and the program ends
    // just after it: the line arrived about a second before the end.
    const double before_end = child.ExitMs() - waiting->ms;
    Report("pipe: the line before a 1 s wait, later than its append by about", 1000 - before_end);
    EXPECT_GT(before_end, 500);
  }
  {
    const std::string log = dir.Path("log.txt");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    Child::Options options;
    options.stdout_fd = fd;
    Child child({file}, options);
    ::close(fd);
    ASSERT_TRUE(child.WaitUntil([&] { return ReadFile(log).find("Waiting 1 SEC") != std::string::npos; }, 20000));
    const double seen = child.Ms();
    ASSERT_EQ(child.Wait(20000), 0);
    Report("file: the line before a 1 s wait, later than its append by about", 1000 - (child.ExitMs() - seen));
    EXPECT_GT(child.ExitMs() - seen, 500);
    EXPECT_EQ(LastLine(ReadFile(log)), "> STATE RESET;");
  }
}

TEST(Output, AReaderThatGoesAwayEndsTheRun) {
  TempDir dir;
  const std::string file =
      dir.Write("x.svf", "SIR 8 TDI (01);\nRUNTEST 0.3 SEC;\nSIR 8 TDI (01);\nRUNTEST 30 SEC;\nSTATE RESET;\n");
  const std::string trace = dir.Path("trace.txt");
  Child child({"--trace", trace, file});
  ASSERT_TRUE(child.WaitForLine("Waiting 0.3 SEC", 10000)) << child.err;
  child.CloseOut();
  // Not killed by SIGPIPE: it says why, closes the adapter and exits with 1.
  EXPECT_EQ(child.Wait(10000), 1) << child.err;
  EXPECT_LT(child.ExitMs(), 10000);
  EXPECT_NE(LastLine(child.err).find(": cannot write the log to standard output: Broken pipe"), std::string::npos)
      << child.err;
  ExpectClosedLast(trace);
}

TEST(Output, AFullDiskEndsTheRun) {
  TempDir dir;
  const std::string file = dir.Write("x.svf", "SIR 8 TDI (01);\nRUNTEST 30 SEC;\n");
  const std::string trace = dir.Path("trace.txt");
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  Child::Options options;
  options.stdout_fd = full;
  Child child({"--trace", trace, file}, options);
  ::close(full);
  EXPECT_EQ(child.Wait(10000), 1) << child.err;
  EXPECT_EQ(LastLine(child.err),
            file + ":1: cannot write the log to standard output: No space left on device" + kOnBoard);
  ExpectClosedLast(trace);
  // Whatever cannot go out fails the same way, a run or not.
  const int full_again = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  options.stdout_fd = full_again;
  Child list({"--list"}, options);
  ::close(full_again);
  EXPECT_EQ(list.Wait(10000), 1);
  EXPECT_EQ(LastLine(list.err), "tavrin-play: cannot write to standard output: No space left on device");
}

// What a terminal shows without the bar: its drawings ("\r[##  ] 12%\e[K")
// and clears ("\r\e[K") taken out.
std::string WithoutBar(const std::string& shown, int* bars) {
  std::string text;
  *bars = 0;
  for (std::size_t at = 0; at < shown.size();) {
    if (shown.compare(at, 4, "\r\x1b[K") == 0) {
      at += 4;
      continue;
    }
    if (shown[at] == '\r') {
      const std::size_t end = shown.find("\x1b[K", at);
      if (end != std::string::npos && end < shown.find('\n', at) && shown.find('%', at) < end) {
        ++*bars;
        at = end + 3;
        continue;
      }
    }
    text += shown[at++];
  }
  return text;
}

TEST(Terminal, TheBarStaysBelowTheLogAndGoesAtTheEnd) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 15; ++i) text += "SIR 8 TDI (01);\nRUNTEST 0.05 SEC;\n";
  const std::string file = dir.Write("bar.svf", text);
  Child::Options terminal;
  terminal.output = Child::Output::Terminal;
  Child child({file}, terminal);
  ASSERT_EQ(child.Wait(20000), 0) << child.out;
  const std::string& shown = child.out;
  // (A run of under a second: no time left yet.)
  const std::size_t first_bar = shown.find("%\x1b[K");
  ASSERT_NE(first_bar, std::string::npos) << "the bar shows during a run";
  EXPECT_EQ(shown.compare(first_bar - 3, 4, "] 0%"), 0) << "no bar from start-up: " << shown.substr(0, first_bar + 1);
  int bars = 0;
  const std::string log = WithoutBar(shown, &bars);
  Report("bar drawings in a " + std::to_string(child.ExitMs()) + " ms run", bars, "drawings");
  EXPECT_GE(bars, 2);
  EXPECT_LE(bars, static_cast<int>(child.ExitMs() / 100) + 2) << "at most ten a second";
  // The log, whole and in order, then the summary after the bar is gone.
  const testing::PlayResult plain = testing::PlayInProcess({"--virtual", file});
  std::string expected;
  for (char c : plain.out) {
    if (c == '\n') expected += '\r';
    expected += c;
  }
  ASSERT_EQ(log.substr(0, expected.size()), expected);
  EXPECT_EQ(log.substr(expected.size()).rfind(file + ": 30 statements, 0 checks passed, ", 0), 0U)
      << log.substr(expected.size());
  const std::size_t summary = shown.rfind(file + ": 30 statements");
  ASSERT_NE(summary, std::string::npos);
  const std::size_t last_bar = shown.rfind("%\x1b[K");
  ASSERT_LT(last_bar, summary);
  EXPECT_NE(shown.substr(last_bar, summary - last_bar).find("\r\x1b[K"), std::string::npos)
      << "the bar is removed before the summary";
}

TEST(Terminal, ControlCharactersOfTheFileAreShownEscaped) {
  TempDir dir;
  const std::string comment = "// \x1b[2J\x1b]0;owned\x07 and \x7f";
  const std::string file = dir.Write("esc.svf", comment + "\nSIR 8 TDI (01);\n");
  Child::Options terminal;
  terminal.output = Child::Output::Terminal;
  Child child({"--trace", dir.Path("t.txt"), file}, terminal);
  ASSERT_EQ(child.Wait(20000), 0) << child.out;
  EXPECT_NE(child.out.find("> // \\x1b[2J\\x1b]0;owned\\x07 and \\x7f\r\n"), std::string::npos) << child.out;
  EXPECT_EQ(child.out.find("\x1b[2J"), std::string::npos);
  EXPECT_EQ(child.out.find('\x07'), std::string::npos);
  // In a file the log is the file's bytes.
  EXPECT_NE(testing::PlayInProcess({"--virtual", file}).out.find("> " + comment + "\n"), std::string::npos);
  // The summary shows a file name's control characters and stray bytes
  // escaped too.
  const std::string odd = dir.Write("odd\x1b[31m\xff.svf", "STATE RESET;\n");
  Child named({odd}, terminal);
  ASSERT_EQ(named.Wait(20000), 0) << named.out;
  EXPECT_NE(named.out.find("odd\\x1b[31m\\xff.svf: 1 statement, 0 checks passed"), std::string::npos) << named.out;
  EXPECT_EQ(named.out.find("\x1b[31m"), std::string::npos) << named.out;
  EXPECT_EQ(named.out.find('\xff'), std::string::npos) << named.out;
}

TEST(Terminal, CtrlCAtTheStepPromptBreaksAtOnce) {
  TempDir dir;
  const std::string file = dir.Write("steps.svf", "SIR 8 TDI (01);\nSTATE IDLE;\nSTATE RESET;\n");
  const std::string trace = dir.Path("trace.txt");
  Child::Options terminal;
  terminal.output = Child::Output::Terminal;
  terminal.stdin_terminal = true;
  Child child({"--single-step", "--trace", trace, file}, terminal);
  const std::string prompt = "Step: Enter, Break: b then Enter > ";
  auto prompts = [&] {
    int n = 0;
    for (std::size_t at = child.out.find(prompt); at != std::string::npos; at = child.out.find(prompt, at + 1)) ++n;
    return n;
  };
  ASSERT_TRUE(child.WaitUntil([&] { return prompts() == 1; }, 10000)) << child.out;
  ASSERT_TRUE(child.Type("\n"));  // Enter: one step
  ASSERT_TRUE(child.WaitUntil([&] { return prompts() == 2; }, 10000)) << child.out;
  const double sent = child.Ms();
  ASSERT_TRUE(child.Type("\x03"));  // Ctrl-C
  EXPECT_EQ(child.Wait(10000), 1) << child.out;
  const double latency = child.ExitMs() - sent;
  Report("Ctrl-C at the step prompt to exit", latency);
  EXPECT_LT(latency, kPromptMs);
  int bars = 0;
  EXPECT_EQ(LastLine(WithoutBar(child.out, &bars)), file + ":2: stopped by the operator" + kOnBoard);
  ExpectClosedLast(trace);
}

#ifdef TAVRIN_HAVE_ESTIMATE
TEST(Estimate, EachBreakSignalStopsItAsItStopsARun) {
  TempDir dir;
  // 32 Mi bits: about a second of simulating.
  const std::size_t bits = std::size_t{32} << 20U;
  const std::string file =
      dir.Write("scan.svf", "SIR 8 TDI (FF);\nSDR " + std::to_string(bits) + " TDI (" + std::string(bits / 4, '5') +
                                ");\nSTATE RESET;\n");
  for (const int signal : kBreakSignals) {
    SCOPED_TRACE(signal);
    Child child({"--estimate", file});
    ASSERT_TRUE(child.WaitForLine("lNumBytes= " + std::to_string(bits * 3), 20000)) << child.err;
    ::kill(child.Pid(), signal);
    EXPECT_EQ(child.Wait(20000), 1) << child.err;
    // The figure of the part played; the summary says where it stopped.
    const std::string err = child.err;
    EXPECT_EQ(err.rfind("estimated on a real FT232R (frame), up to line 2: ", 0), 0U) << err;
    EXPECT_NE(err.find(" s\n0 checks not met on the virtual board\n" + file +
                       ":2: stopped by the operator; on virtual board (built-in board) on a simulated USB FT232R\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("(fast)"), std::string::npos);
    EXPECT_EQ(LastLine(child.out), "Uh Oh, the operator stopped the run at line 2.  Bailing Out");
  }
}

TEST(Estimate, ItsMemoryDoesNotGrowWithTheLog) {
  TempDir dir;
  // 16 MiB of log.
  std::string text = "SIR 8 TDI (01);\n";
  const std::string comment = "// " + std::string(200, 'x') + "\n";
  for (int i = 0; i < 80'000; ++i) text += comment;
  const std::string file = dir.Write("long-log.svf", text);
  Child::Options options;
  options.sample_memory = true;
  // A sanitizer's quarantine of freed memory is not what the program keeps.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.environment = {std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                         "quarantine_size_mb=0"};
  auto peak = [&](const std::vector<std::string>& args) {
    Child child(args, options);
    EXPECT_EQ(child.Wait(60000), 0) << child.err;
    Report("peak memory of " + args.front() + (args.size() > 2 ? " " + args[1] : ""),
           static_cast<double>(child.PeakKb()), "KiB");
    return child.PeakKb();
  };
  const long run = peak({"-q", file});
  ASSERT_GT(run, 0);
  EXPECT_LT(peak({"--estimate", "-q", file}), run + 8L * 1024);
  EXPECT_LT(peak({"--estimate", file}), run + 8L * 1024) << "with the log printed";
}
#endif

}  // namespace
}  // namespace tavrin::cli
