// SPDX-License-Identifier: Apache-2.0

#pragma once
// The corpus of real vendor files, and a board for each: one device that
// answers the file's first check.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_spec.h"

namespace tavrin::board::corpus {

namespace fs = std::filesystem;

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The statements of a file, comments ("!" and "//" to the end of the line)
// removed, blanks collapsed, upper case.
inline std::vector<std::string> Statements(const std::string& text) {
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
inline std::string Value(const std::string& statement, const std::string& keyword) {
  const std::size_t at = statement.find(' ' + keyword + " (");
  if (at == std::string::npos) return {};
  const std::size_t open = at + keyword.size() + 3;
  std::string v = statement.substr(open, statement.find(')', open) - open);
  v.erase(std::remove(v.begin(), v.end(), ' '), v.end());
  return v;
}

inline Bits BitsOf(const std::string& hex, std::uint32_t length) {
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
inline BoardSpec BoardFor(const std::string& text) {
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
inline std::string WithoutChecks(const std::string& text) {
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

inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TAVRIN_CORPUS_DIR, ec)) {
    if (e.path().extension() == ".svf") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}


inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tavrin::board::corpus
