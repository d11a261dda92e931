// SPDX-License-Identifier: Apache-2.0
// What reaches the board's pins, for every corpus file, stays as recorded:
// the sequence of levels on the pins the adapter drives, each change once.
// Bytes that change no pin (hold bytes) and the way bytes travel (chunk
// sizes, reads, purges) are free to change; a TCK edge, or a TMS or TDI
// level at one, is not.
//
// After a deliberate change to what is clocked, record anew with
//   TAVRIN_RECORD_PIN_SEQUENCES=1 build/tests/board/test_board --gtest_filter='PinSequence*'
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "corpus_boards.h"
#include "player/player.h"

namespace tavrin::board {
namespace {

using namespace corpus;  // NOLINT(google-build-using-namespace)

// Passes every call to the virtual board and folds the driven levels of
// each written byte into a running digest.
class PinTrail final : public D2xx {
 public:
  explicit PinTrail(D2xx& inner) : inner_(inner) {}

  FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override { return inner_.FT_ListDevices(count, flags); }
  FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t size, std::uint32_t flags) override {
    return inner_.FT_ListDevices(index, buffer, size, flags);
  }
  FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override {
    return inner_.FT_OpenEx(arg, flags, handle);
  }
  FtStatus FT_Close(FtHandle h) override { return inner_.FT_Close(h); }
  FtStatus FT_GetQueueStatus(FtHandle h, std::uint32_t* n) override { return inner_.FT_GetQueueStatus(h, n); }
  FtStatus FT_SetUSBParameters(FtHandle h, std::uint32_t in, std::uint32_t out) override {
    return inner_.FT_SetUSBParameters(h, in, out);
  }
  FtStatus FT_SetLatencyTimer(FtHandle h, std::uint8_t ms) override { return inner_.FT_SetLatencyTimer(h, ms); }
  FtStatus FT_SetBitMode(FtHandle h, std::uint8_t mask, std::uint8_t mode) override {
    const FtStatus s = inner_.FT_SetBitMode(h, mask, mode);
    if (s == FT_OK) drive_mask_ = mode == FT_BITMODE_RESET ? 0 : mask;
    return s;
  }
  FtStatus FT_SetBaudRate(FtHandle h, std::uint32_t rate) override { return inner_.FT_SetBaudRate(h, rate); }
  FtStatus FT_SetDivisor(FtHandle h, std::uint16_t d) override { return inner_.FT_SetDivisor(h, d); }
  FtStatus FT_Write(FtHandle h, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override {
    const FtStatus s = inner_.FT_Write(h, data, size, written);
    for (std::uint32_t i = 0; s == FT_OK && i < *written; ++i) {
      const auto level = static_cast<std::uint8_t>(data[i] & drive_mask_);
      if (changes_ > 0 && level == last_) continue;
      last_ = level;
      ++changes_;
      if (dump_ != nullptr) std::fprintf(dump_, "%02x\n", level);
      digest_ = (digest_ ^ level) * 0x100000001B3ULL;  // FNV-1a
    }
    return s;
  }
  FtStatus FT_Read(FtHandle h, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override {
    return inner_.FT_Read(h, buffer, size, read);
  }
  FtStatus FT_GetBitMode(FtHandle h, std::uint8_t* pins) override { return inner_.FT_GetBitMode(h, pins); }
  FtStatus FT_Purge(FtHandle h, std::uint32_t mask) override { return inner_.FT_Purge(h, mask); }

  [[nodiscard]] std::string Summary() const {
    std::ostringstream s;
    s << changes_ << ' ' << std::hex << digest_;
    return s.str();
  }

 private:
  D2xx& inner_;
  std::uint8_t drive_mask_ = 0;
  std::uint8_t last_ = 0;
  std::uint64_t changes_ = 0;
  std::uint64_t digest_ = 0xCBF29CE484222325ULL;

 public:
  std::FILE* dump_ = nullptr;
};

// The default reading ends at a "!" comment, which most vendor files begin
// with: here those lines become "//" comments, so that the file is played.
std::string SlashComments(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool line_start = true;
  for (const char c : text) {
    if (line_start && c == '!') {
      out += "//";
      line_start = false;
      continue;
    }
    if (c == '\n') {
      line_start = true;
    } else if (c != ' ' && c != '\t') {
      line_start = false;
    }
    out += c;
  }
  return out;
}

struct Play {
  std::string pins;                // changes and digest
  std::vector<std::string> log;
};

// The pin changes of one play of the file, from start-up to shutdown, and
// its log. `wait_for_every_scan` makes every scan wait for its answers.
Play PlayAndTrail(const BoardSpec& board, const std::string& path, bool standard, bool wait_for_every_scan = false) {
  VirtualD2xx chip(board);
  PinTrail trail(chip);
  const char* dump = std::getenv("TAVRIN_PIN_DUMP");
  if (dump != nullptr) trail.dump_ = std::fopen(dump, "a");
  if (trail.dump_ != nullptr) std::fprintf(trail.dump_, "# %s %d\n", path.c_str(), standard ? 1 : 0);
  MemoryWindow window;
  FakeClock clock;
  player::Player player{window, trail, clock};
  if (wait_for_every_scan) player.interpreter.KeepOrderIn(nullptr);
  player.Form_Load();
  window.selected_file = fs::path(path).filename().string();
  window.file_path = path;
  window.single_step = 0;
  window.standard_svf = standard ? 1 : 0;
  player.cmd_Process_Click();
  player.Form_Unload();
  if (trail.dump_ != nullptr) std::fclose(trail.dump_);
  return {trail.Summary(), window.LogLines()};
}

const char* const kRecord = TAVRIN_SOURCE_DIR "/tests/board/pin_sequences.txt";

TEST(PinSequence, EveryCorpusFileClocksWhatWasRecorded) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << TAVRIN_CORPUS_DIR;
  // Three plays of each file on a board made from it: with its checks in
  // the default reading, and without them in both readings (so that the
  // whole file is clocked).
  std::map<std::string, std::string> now;
  for (const std::string& path : files) {
    const std::string name = fs::path(path).filename().string();
    const std::string text = ReadAll(path);
    const BoardSpec board = BoardFor(text);
    const fs::path temp = fs::temp_directory_path() / ("tavrin-pins-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(temp, std::ios::binary) << SlashComments(text);
    now[name + " default"] = PlayAndTrail(board, temp.string(), false).pins;
    std::ofstream(temp, std::ios::binary) << SlashComments(WithoutChecks(text));
    const Play later = PlayAndTrail(board, temp.string(), false);
    now[name + " default-nocheck"] = later.pins;
    // Scans answered later leave the log exactly as scans that wait.
    const Play waiting = PlayAndTrail(board, temp.string(), false, true);
    EXPECT_EQ(waiting.pins, later.pins) << name;
    EXPECT_TRUE(waiting.log == later.log) << name << ": the log differs when every scan waits";
    std::ofstream(temp, std::ios::binary) << WithoutChecks(text);
    now[name + " standard-nocheck"] = PlayAndTrail(board, temp.string(), true).pins;
    fs::remove(temp);
  }

  if (std::getenv("TAVRIN_RECORD_PIN_SEQUENCES") != nullptr) {
    std::ofstream out(kRecord);
    for (const auto& [key, value] : now) out << key << ' ' << value << '\n';
    GTEST_SKIP() << "recorded " << now.size() << " plays in " << kRecord;
  }
  std::ifstream in(kRecord);
  ASSERT_TRUE(in) << "no record at " << kRecord;
  std::map<std::string, std::string> recorded;
  std::string name, variant, changes, digest;
  while (in >> name >> variant >> changes >> digest) {
    name += ' ';
    name += variant;
    changes += ' ';
    changes += digest;
    recorded[name] = changes;
  }
  for (const auto& [key, value] : now) {
    const auto it = recorded.find(key);
    if (it == recorded.end()) continue;  // a corpus file added since the record
    EXPECT_EQ(value, it->second) << key << ": the pins see another sequence (changes, digest)";
  }
  EXPECT_GE(recorded.size(), now.size() / 2) << "the record covers too few of the corpus files";
}

}  // namespace
}  // namespace tavrin::board
