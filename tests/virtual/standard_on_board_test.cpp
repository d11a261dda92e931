// The standard reading on the virtual board: a two-device chain reached
// through header and trailer bits, and every corpus file on a board made
// from the file's own identification check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/virtual/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "jtag/detect.h"
#include "player/player.h"

namespace tavrin::adapter::virt {
namespace {

namespace fs = std::filesystem;

struct StandardRig {
  explicit StandardRig(BoardSpec board) : chip(std::move(board)) {}

  // Plays the file in the standard reading, from start-up.
  std::vector<std::string> PlayFile(const std::string& path) {
    player.Form_Load();
    window.selected_file = fs::path(path).filename().string();
    window.file_path = path;
    window.single_step = 0;
    window.standard_svf = 1;
    player.cmd_Process_Click();
    return window.LogLines();
  }
  std::vector<std::string> PlayText(const std::string& text) {
    const fs::path path = fs::temp_directory_path() / ("tavrin-standard-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(path, std::ios::binary) << text;
    auto lines = PlayFile(path.string());
    fs::remove(path);
    return lines;
  }
  svf::RunOutcome Outcome() const { return player.driver.LastOutcome(); }

  VirtualD2xx chip;
  MemoryWindow window;
  FakeClock clock;
  player::Player player{window, chip, clock};
};

BoardSpec TwoDevices() {
  auto r = LoadBoardFile(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/two-device-chain.json");
  EXPECT_TRUE(r.board) << r.error;
  return r.board ? *r.board : DefaultBoard();
}

int Count(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                         [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

// The chain runs TDI -> CPLD (IR 8) -> FPGA (IR 6) -> TDO. Bits for the
// devices nearer TDO go first (header), for those nearer TDI last (trailer).
TEST(StandardOnBoard, TwoDeviceChainThroughHeadersAndTrailers) {
  StandardRig rig(TwoDevices());
  const auto lines = rig.PlayText(
      "! the FPGA: the CPLD in BYPASS behind it, its bits last\n"
      "TIR 8; TDR 1;\n"
      "SIR 6 TDI (02);\n"
      "SDR 64 TDI (FEDCBA9876543210);\n"
      "SDR 64 TDI (1111222233334444) TDO (FEDCBA9876543210);\n"
      "! the CPLD: the FPGA in BYPASS ahead of it, its bits first\n"
      "TIR 0; TDR 0; HIR 6; HDR 1 TDI (0) TDO (0) MASK (1);\n"
      "SIR 8 TDI (01);\n"
      "SDR 32 TDI (00000000) TDO (F6E5F093);\n");
  EXPECT_EQ(rig.Outcome(), svf::RunOutcome::Completed) << ::testing::PrintToString(lines);
  EXPECT_EQ(Count(lines, " Pass!"), 2);
  EXPECT_EQ(HexFromBits(*rig.chip.Chain().Device(1).RegisterValue("USER1")), "1111222233334444");
  EXPECT_EQ(rig.chip.Chain().Device(0).InstructionName(), "IDCODE");
  EXPECT_EQ(rig.chip.Chain().Device(1).InstructionName(), "BYPASS");

  // Without the padding the IDCODE read sees the FPGA's bypass bit first.
  StandardRig bare(TwoDevices());
  const auto wrong = bare.PlayText("SIR 8 TDI (01);\nSDR 32 TDI (00000000) TDO (F6E5F093);\n");
  EXPECT_EQ(Count(wrong, " Fail!"), 1);
  EXPECT_EQ(wrong.back(), "Stopped at line 2.");
}

// --- Finding the chain ---

TEST(DetectOnBoard, ListsEveryDeviceAndTheTotalIrLength) {
  BoardSpec three = TwoDevices();
  DeviceSpec plain;  // no IDCODE: BYPASS after a reset
  plain.name = "GLUE";
  plain.ir_length = 5;
  three.chain.insert(three.chain.begin() + 1, plain);
  ASSERT_EQ(ValidateBoard(three), "");
  struct Case {
    BoardSpec board;
    std::vector<std::optional<std::uint32_t>> ids;
    std::uint32_t ir;
  };
  const Case cases[] = {
      {DefaultBoard(), {0xF6E5F093U}, 8},
      {TwoDevices(), {0xF6E5F093U, 0x24001093U}, 14},
      {three, {0xF6E5F093U, std::nullopt, 0x24001093U}, 19},
  };
  for (const Case& c : cases) {
    StandardRig rig(c.board);
    rig.player.Form_Load();
    const auto report = rig.player.DetectChain();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->problem, "");
    std::vector<std::optional<std::uint32_t>> ids;
    for (const auto& d : report->devices) ids.push_back(d.idcode);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(report->ir_length, c.ir);
    EXPECT_EQ(rig.chip.Chain().Device(0).State(), TapState::TestLogicReset);
  }
}

TEST(DetectOnBoard, NamesTheCommonMakers) {
  EXPECT_EQ(jtag::JedecManufacturer(0xF6E5F093U), "Xilinx (AMD)");
  EXPECT_EQ(jtag::JedecManufacturer(0x020A10DDU), "Altera (Intel)");
  EXPECT_EQ(jtag::JedecManufacturer(0x012B9043U), "Lattice Semiconductor");
  EXPECT_EQ(jtag::JedecManufacturer(0x0150203FU), "Atmel (Microchip)");
  EXPECT_EQ(jtag::JedecManufacturer(0x4BA00477U), "ARM");
  EXPECT_EQ(jtag::JedecManufacturer(0x00057621U), "unknown");
}

// --- The corpus ---

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The statements of a file, comments ("!" and "//" to the end of the line)
// removed, blanks collapsed, upper case.
std::vector<std::string> Statements(const std::string& text) {
  std::string joined;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t cut = std::min(line.find('!'), line.find("//"));
    if (cut != std::string::npos) line.resize(cut);
    joined += ' ' + line;
  }
  std::vector<std::string> out;
  std::string current;
  for (const char c : joined) {
    if (c == ';') {
      out.push_back(Upper(current));
      current.clear();
    } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      if (!current.empty() && current.back() != ' ') current += ' ';
    } else {
      if (c == '(' && !current.empty() && current.back() != ' ') current += ' ';
      current += c;
    }
  }
  return out;
}

// The value after a keyword in a statement ("TDI (0F)" gives "0F").
std::string Value(const std::string& statement, const std::string& keyword) {
  const std::size_t at = statement.find(' ' + keyword + " (");
  if (at == std::string::npos) return {};
  const std::size_t open = at + keyword.size() + 3;
  std::string v = statement.substr(open, statement.find(')', open) - open);
  v.erase(std::remove(v.begin(), v.end(), ' '), v.end());
  return v;
}

Bits BitsOf(const std::string& hex, std::uint32_t length) {
  Bits bits(length);
  for (std::uint32_t b = 0; b < length && b / 4 < hex.size(); ++b) {
    const char c = hex[hex.size() - 1 - b / 4];
    const int v = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0' : c - 'A' + 10;
    bits[b] = ((v >> (b % 4)) & 1) != 0;
  }
  return bits;
}

// One device that answers the file's first check: an IR capture for an
// SIR check, else a register with a fixed capture value, selected by the
// instruction the file loaded before it.
BoardSpec BoardFor(const std::string& text) {
  BoardSpec board;
  DeviceSpec dev;
  dev.name = "DUT";
  std::string opcode = "1";
  for (const std::string& s : Statements(text)) {
    std::istringstream words(s);
    std::string command;
    std::uint32_t length = 0;
    if (!(words >> command >> length)) continue;
    if (command == "SIR") {
      dev.ir_length = std::clamp<std::uint32_t>(length, 2, 64);
      opcode = Value(s, "TDI");
    }
    if (s.find(" TDO (") == std::string::npos) continue;
    if (command == "SIR") {
      const Bits capture = BitsOf(Value(s, "TDO"), dev.ir_length);
      dev.ir_capture = 0;
      for (std::size_t b = 0; b < capture.size(); ++b) dev.ir_capture |= std::uint64_t{capture[b]} << b;
      dev.ir_capture = (dev.ir_capture & ~std::uint64_t{3}) | 1U;
    } else if (command == "SDR" && length > 0 && length <= kMaxRegisterBits) {
      RegisterSpec reg{"ID", length, Bits(length), BitsOf(Value(s, "TDO"), length)};
      dev.registers.push_back(reg);
      std::uint64_t op = 0;
      for (const char c : opcode) op = op * 16 + static_cast<std::uint64_t>(std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0' : c - 'A' + 10);
      dev.instructions.push_back(InstructionSpec{"ID", {op & ((std::uint64_t{1} << dev.ir_length) - 1)}, 0});
    }
    break;
  }
  board.chain.push_back(dev);
  return board;
}

// The file without its TDO and MASK clauses (SMASK stays).
std::string WithoutChecks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const std::string upper = Upper(text);
  std::size_t i = 0;
  while (i < text.size()) {
    bool clause = false;
    for (const std::string kw : {"TDO", "MASK"}) {
      if (upper.compare(i, kw.size(), kw) != 0) continue;
      if (i > 0 && std::isalnum(static_cast<unsigned char>(upper[i - 1])) != 0) continue;
      std::size_t j = i + kw.size();
      while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j])) != 0) ++j;
      if (j >= text.size() || text[j] != '(') continue;
      const std::size_t close = text.find(')', j);
      if (close == std::string::npos) continue;
      i = close + 1;
      clause = true;
      break;
    }
    if (!clause) out += text[i++];
  }
  return out;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TAVRIN_CORPUS_DIR, ec)) {
    if (e.path().extension() == ".svf") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(StandardOnBoard, EveryCorpusFilePlaysAndPassesItsIdentificationCheck) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << TAVRIN_CORPUS_DIR;
  for (const std::string& path : files) {
    const std::string name = fs::path(path).filename().string();
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const BoardSpec board = BoardFor(text);
    ASSERT_EQ(ValidateBoard(board), "") << name;

    // With its checks the first one, the identification, passes.
    StandardRig checked(board);
    const auto lines = checked.PlayFile(path);
    const auto first = std::find_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.rfind("Masked Expectation", 0) == 0; });
    const auto statements = Statements(text);
    const bool has_check = std::any_of(statements.begin(), statements.end(),
                                       [](const std::string& st) { return st.find(" TDO (") != std::string::npos; });
    if (has_check) {
      ASSERT_NE(first, lines.end()) << name << ": no check made\n" << lines.back();
    }
    if (first != lines.end()) {
      EXPECT_NE(first->find(" Pass!"), std::string::npos) << name << ": " << *first;
    }

    // Without them it plays to its end.
    const fs::path stripped = fs::temp_directory_path() / ("tavrin-nocheck-" + std::to_string(::getpid()) + ".svf");
    std::ofstream(stripped, std::ios::binary) << WithoutChecks(text);
    StandardRig plain(board);
    const auto all = plain.PlayFile(stripped.string());
    fs::remove(stripped);
    EXPECT_EQ(plain.Outcome(), svf::RunOutcome::Completed) << name << ": " << all.back();
    EXPECT_TRUE(plain.window.messages.empty()) << name << ": " << plain.window.messages.front();
  }
}

}  // namespace
}  // namespace tavrin::adapter::virt
