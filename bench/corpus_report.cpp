// SPDX-License-Identifier: Apache-2.0
// corpus_report: plays SVF files on the virtual board with a simulated clock
// and prints, for each file, one tab-separated row:
//
//   file  outcome  statements  verifications  waiting_lines  wait_ms  last_line
//
// outcome is how the run ended; statements the statements the player carried
// out; verifications the log lines starting "Masked Expectation: "; waiting
// lines those starting "Waiting "; wait_ms the time the player slept on the
// simulated clock; last_line the last log line, cut to about 70 characters.
// Nothing is really waited for, so a file of minutes of RUNTEST plays at once.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board/board_spec.h"
#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"

namespace {

using tavrin::board::BoardSpec;

constexpr std::size_t kLastLineChars = 70;

struct Row {
  tavrin::svf::RunOutcome outcome = tavrin::svf::RunOutcome::NotRun;
  std::uint64_t statements = 0;
  std::uint64_t verifications = 0;
  std::uint64_t waiting_lines = 0;
  std::uint64_t wait_ms = 0;
  std::string last_line;
  std::vector<std::string> messages;
};

const char* OutcomeName(tavrin::svf::RunOutcome outcome) {
  switch (outcome) {
    case tavrin::svf::RunOutcome::NotRun: return "NotRun";
    case tavrin::svf::RunOutcome::Completed: return "Completed";
    case tavrin::svf::RunOutcome::Failed: return "Failed";
    case tavrin::svf::RunOutcome::Refused: return "Refused";
    case tavrin::svf::RunOutcome::FileError: return "FileError";
  }
  return "?";
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// One table cell: no tabs or line breaks, at most `limit` bytes, not ending
// inside a UTF-8 sequence.
std::string Cell(const std::string& text, std::size_t limit) {
  std::string out = text.substr(0, limit);
  if (out.size() < text.size()) {
    while (!out.empty() && (static_cast<unsigned char>(text[out.size()]) & 0xC0U) == 0x80U) out.pop_back();
    out += "...";
  }
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20U) c = ' ';
  }
  return out;
}

// A fresh board, chip, window and clock for each file, so that no state
// carries over from the file before.
Row Play(const BoardSpec& board, const std::string& path, bool standard, const std::string& vcd) {
  tavrin::board::VirtualD2xx chip(board);
  tavrin::MemoryWindow window;
  tavrin::FakeClock clock;
  tavrin::player::Player player(window, chip, clock);

  std::ofstream wave;
  if (!vcd.empty()) {
    wave.open(vcd, std::ios::binary);
    chip.StartVcd(wave);
  }
  player.Form_Load();
  window.single_step = 0;
  window.standard_svf = standard ? 1 : 0;
  window.selected_file = std::filesystem::path(path).filename().string();
  window.file_path = path;
  player.cmd_Process_Click();

  Row row;
  row.outcome = player.driver.LastOutcome();
  row.statements = player.driver.StatementsExecuted();
  row.wait_ms = clock.SleptMs();
  const std::vector<std::string> lines = window.LogLines();
  for (const std::string& line : lines) {
    if (StartsWith(line, "Masked Expectation: ")) ++row.verifications;
    if (StartsWith(line, "Waiting ")) ++row.waiting_lines;
  }
  if (!lines.empty()) row.last_line = Cell(lines.back(), kLastLineChars);
  row.messages = window.messages;
  player.Form_Unload();
  if (!vcd.empty()) chip.StopVcd();
  return row;
}

int Usage(std::FILE* to) {
  std::fputs(
      "usage: corpus_report [--board FILE.json] [--standard] [--vcd FILE.vcd] FILE.svf...\n"
      "Plays each file on the virtual board (the built-in board, or the one FILE.json\n"
      "describes) with a simulated clock, and prints one tab-separated row per file:\n"
      "file, outcome, statements, verifications, waiting_lines, wait_ms, last_line.\n"
      "--standard reads the files as standard SVF (revision E); --vcd writes the\n"
      "board's pins (of the last file) as a waveform.\n",
      to);
  return 2;
}

int Main(int argc, char** argv) {
  BoardSpec board = tavrin::board::DefaultBoard();
  std::vector<std::string> files;
  bool standard = false;
  std::string vcd;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--standard") {
      standard = true;
    } else if (arg == "--vcd") {
      if (i + 1 >= argc) return Usage(stderr);
      vcd = argv[++i];
    } else if (arg == "--board") {
      if (i + 1 >= argc) return Usage(stderr);
      auto loaded = tavrin::board::LoadBoardFile(argv[++i]);
      if (!loaded.board) {
        std::fprintf(stderr, "corpus_report: %s\n", loaded.error.c_str());
        return 2;
      }
      board = *loaded.board;
    } else if (StartsWith(arg, "-")) {
      std::fprintf(stderr, "corpus_report: unknown option %s\n", arg.c_str());
      return Usage(stderr);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return Usage(stderr);

  for (const std::string& file : files) {
    const Row row = Play(board, file, standard, vcd);
    for (const std::string& message : row.messages) {
      std::fprintf(stderr, "corpus_report: %s: message: %s\n", file.c_str(), message.c_str());
    }
    std::printf("%s\t%s\t%llu\t%llu\t%llu\t%llu\t%s\n", std::filesystem::path(file).filename().string().c_str(),
                OutcomeName(row.outcome), static_cast<unsigned long long>(row.statements),
                static_cast<unsigned long long>(row.verifications), static_cast<unsigned long long>(row.waiting_lines),
                static_cast<unsigned long long>(row.wait_ms), row.last_line.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

// Exit status: 0 once every file has been played, whatever the runs' outcomes;
// 2 for an unusable command line or board file.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corpus_report: %s\n", e.what());
  } catch (...) {
    std::fputs("corpus_report: unexpected failure\n", stderr);
  }
  return 2;
}
