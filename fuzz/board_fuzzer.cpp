// SPDX-License-Identifier: Apache-2.0
// Reads arbitrary bytes as a virtual board's description file.
//
// A refused file must be refused with a reason that says where, never with
// the text of an exception that escaped the checks. An accepted file must
// pass ValidateBoard, load the same from a file as from memory, and the
// board built from it must answer on its pins as described:
// - after Test-Logic-Reset a DR scan shifts out each device's IDCODE, or the
//   0 of BYPASS for a device without one, nearest the TDO pin first;
// - an IR scan shifts out each device's ir_capture;
// - all ones in every instruction register leave a one-bit BYPASS per device;
// - a described register, selected by its opcode, reads its fixed capture
//   value or its contents, and keeps what a DR scan leaves in it.
// A device that names a modelled part captures what its model says in its
// instruction register. The same bytes, read as a board state file for a
// board of modelled parts, are refused with a reason or taken whole; a
// state taken is written back as it was read.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_spec.h"
#include "board/board_state.h"
#include "board/models/catalogue.h"
#include "board/virtual_d2xx.h"

namespace {

namespace ad = tavrin::adapter;
namespace board = tavrin::board;
using Bits = board::Bits;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "board_fuzzer: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void Require(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

std::string BitText(const Bits& bits) {
  std::string s;
  for (const bool b : bits) s += b ? '1' : '0';
  return s;
}

void RequireBits(const Bits& got, const Bits& want, const std::string& what) {
  if (got != want) Fail(what + ": got " + BitText(got) + ", want " + BitText(want));
}

Bits WordBits(std::uint64_t value, unsigned length) {
  Bits bits(length);
  for (unsigned i = 0; i < length; ++i) bits[i] = i < 64 && ((value >> i) & 1U) != 0;
  return bits;
}

void Append(Bits* to, const Bits& bits) { to->insert(to->end(), bits.begin(), bits.end()); }

// Drives TCK, TMS and TDI of the virtual chip in synchronous bit-bang mode on
// the board's own wiring and reads TDO from the chip's answers.
class Probe {
 public:
  explicit Probe(board::BoardSpec board) : chip_(std::move(board)) {
    const board::Wiring& w = chip_.Board().wiring;
    tck_ = Pin(w.tck);
    tms_ = Pin(w.tms);
    tdi_ = Pin(w.tdi);
    tdo_ = Pin(w.tdo);
    Require(chip_.FT_OpenEx(board::kVirtualDescription, ad::FT_OPEN_BY_DESCRIPTION, &handle_) == ad::FT_OK, "open");
    Require(chip_.FT_SetBitMode(handle_, static_cast<std::uint8_t>(tck_ | tms_ | tdi_), ad::FT_BITMODE_SYNC_BITBANG) ==
                ad::FT_OK,
            "set synchronous bit-bang mode");
  }

  board::VirtualD2xx& Chip() { return chip_; }

  // Test-Logic-Reset, then Run-Test/Idle.
  void Reset() { (void)Clock(Bits{true, true, true, true, true, false}, Bits(6, false)); }

  // From Run-Test/Idle through Shift-IR (or Shift-DR) with `in` on TDI, back
  // to Run-Test/Idle through Update; gives what TDO showed at each shift.
  Bits ShiftIr(const Bits& in) { return Shift(Bits{true, true, false, false}, in); }
  Bits ShiftDr(const Bits& in) { return Shift(Bits{true, false, false}, in); }

 private:
  static std::uint8_t Pin(unsigned pin) { return static_cast<std::uint8_t>(1U << (pin & 7U)); }

  Bits Shift(const Bits& lead_in, const Bits& in) {
    Bits tms = lead_in;
    Bits tdi(lead_in.size(), false);
    for (std::size_t i = 0; i < in.size(); ++i) {
      tms.push_back(i + 1 == in.size());  // the last bit leaves for Exit1
      tdi.push_back(in[i]);
    }
    tms.push_back(true);   // Update
    tms.push_back(false);  // Run-Test/Idle
    tdi.resize(tms.size(), false);
    const Bits tdo = Clock(tms, tdi);
    return Bits(tdo.begin() + static_cast<std::ptrdiff_t>(lead_in.size()),
                tdo.begin() + static_cast<std::ptrdiff_t>(lead_in.size() + in.size()));
  }

  // One TCK clock per entry: TCK low with TMS and TDI set, then TCK high;
  // a last byte brings TCK low again. The answer to the byte that raises TCK
  // holds the pins sampled just before the edge.
  Bits Clock(const Bits& tms, const Bits& tdi) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(tms.size() * 2 + 1);
    std::uint8_t low = 0;
    for (std::size_t i = 0; i < tms.size(); ++i) {
      low = static_cast<std::uint8_t>((tms[i] ? tms_ : 0U) | (tdi[i] ? tdi_ : 0U));
      bytes.push_back(low);
      bytes.push_back(static_cast<std::uint8_t>(low | tck_));
    }
    bytes.push_back(low);
    std::uint32_t written = 0;
    Require(chip_.FT_Write(handle_, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) == ad::FT_OK &&
                written == bytes.size(),
            "write");
    std::uint32_t queued = 0;
    Require(chip_.FT_GetQueueStatus(handle_, &queued) == ad::FT_OK && queued == bytes.size(),
            "every byte written is answered");
    std::vector<std::uint8_t> answers(bytes.size());
    std::uint32_t read = 0;
    Require(chip_.FT_Read(handle_, answers.data(), static_cast<std::uint32_t>(answers.size()), &read) == ad::FT_OK &&
                read == answers.size(),
            "read");
    Bits tdo(tms.size());
    for (std::size_t i = 0; i < tms.size(); ++i) tdo[i] = (answers[2 * i + 1] & tdo_) != 0;
    return tdo;
  }

  board::VirtualD2xx chip_;
  ad::FtHandle handle_ = 0;
  std::uint8_t tck_ = 0, tms_ = 0, tdi_ = 0, tdo_ = 0;
};

// A refusal must name the place in the file, or be one of the whole-file reasons.
void CheckRefusal(const std::string& error) {
  static constexpr std::string_view kPrefix = "board description: ";
  Require(error.compare(0, kPrefix.size(), kPrefix) == 0, "refusal without its prefix: " + error);
  const std::string_view rest = std::string_view(error).substr(kPrefix.size());
  static constexpr std::string_view kKnown[] = {"larger than ", "nested deeper than ", "not valid JSON: ", "board",
                                                "version", "wiring", "chain"};
  for (const std::string_view k : kKnown) {
    if (rest.compare(0, k.size(), k) == 0) return;
  }
  Fail("refused with an escaped exception or an unplaced reason: " + error);
}

void CheckSameResult(const board::BoardLoadResult& memory, const board::BoardLoadResult& file, const std::string& path) {
  Require(memory.board.has_value() == file.board.has_value(), "file and memory loads disagree");
  if (!memory.board) Require(file.error == path + ": " + memory.error, "file refusal differs: " + file.error);
}

std::string FilePath() {
  static const std::string path = "/tmp/tavrin-board-fuzz-" + std::to_string(::getpid()) + ".json";
  return path;
}

void CheckValues(const board::BoardSpec& board) {
  for (const auto& dev : board.chain) {
    for (const auto& reg : dev.registers) {
      Require(reg.value.size() == reg.length, "register value length");
      const auto back = board::BitsFromHex(board::HexFromBits(reg.value), reg.length);
      Require(back.has_value() && *back == reg.value, "hexadecimal round trip of " + reg.name);
      if (reg.capture) Require(reg.capture->size() == reg.length, "register capture length");
    }
  }
}

void CheckOnPins(const board::BoardSpec& board) {
  const std::size_t n = board.chain.size();
  Probe probe(board);
  probe.Reset();

  // IDCODEs, nearest the TDO pin first, then what went in at TDI.
  Bits want;
  for (std::size_t d = n; d-- > 0;) {
    const auto& id = probe.Chip().Chain().Device(d).Spec().idcode;
    Append(&want, id ? WordBits(*id, 32) : Bits{false});
  }
  Append(&want, Bits(8, true));
  RequireBits(probe.ShiftDr(Bits(want.size(), true)), want, "DR after Test-Logic-Reset");

  // Captured instructions; all ones go in, which is BYPASS everywhere.
  want.clear();
  std::size_t ir_bits = 0;
  for (std::size_t d = n; d-- > 0;) {
    const auto& dev = board.chain[d];
    const unsigned length = probe.Chip().Chain().Device(d).Spec().ir_length;
    std::uint64_t capture = dev.ir_capture;
    if (board::DeviceModel* m = probe.Chip().Chain().Device(d).Model()) {
      const std::uint64_t mask = length >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
      capture = (m->CaptureIr() & mask & ~std::uint64_t{2}) | 1U;
    }
    Append(&want, WordBits(capture, length));
    ir_bits += length;
  }
  Append(&want, Bits(8, true));
  RequireBits(probe.ShiftIr(Bits(want.size(), true)), want, "IR capture");
  for (std::size_t d = 0; d < n; ++d) {
    // A model keeps its own registers; the one-bit BYPASS below shows it.
    if (probe.Chip().Chain().Device(d).Model() != nullptr) continue;
    Require(probe.Chip().Chain().Device(d).SelectedRegister() == "BYPASS", "all ones selects BYPASS");
  }

  const Bits pattern{true, false, false, true, true, true, false, true, false, true, true, false, false, false, true, true};
  want.assign(n, false);
  Append(&want, pattern);
  Bits in = pattern;
  in.resize(want.size(), false);
  RequireBits(probe.ShiftDr(in), want, "BYPASS chain");

  // The first register selected by an opcode of its own.
  for (std::size_t k = 0; k < n; ++k) {
    const auto& dev = board.chain[k];
    for (const auto& ins : dev.instructions) {
      if (ins.target < 0 || ins.opcodes.empty()) continue;
      const auto& reg = dev.registers[static_cast<std::size_t>(ins.target)];
      if (reg.length > 4096) continue;
      Bits ir;
      for (std::size_t d = n; d-- > 0;) {
        const auto& other = board.chain[d];
        Append(&ir, d == k ? WordBits(ins.opcodes.front(), other.ir_length) : Bits(other.ir_length, true));
      }
      (void)probe.ShiftIr(ir);
      Require(probe.Chip().Chain().Device(k).SelectedRegister() == reg.name,
              "opcode of " + ins.name + " selects " + probe.Chip().Chain().Device(k).SelectedRegister());

      // Devices after k (nearer TDO) in BYPASS, then k's register.
      const std::size_t offset = n - 1 - k;
      const std::size_t total = n - 1 + reg.length;
      Bits data(total);
      for (std::size_t i = 0; i < total; ++i) data[i] = ((i * 7 + ir_bits) % 5) < 2;
      const Bits written(data.begin() + static_cast<std::ptrdiff_t>(offset),
                         data.begin() + static_cast<std::ptrdiff_t>(offset + reg.length));
      const Bits& first = reg.capture ? *reg.capture : reg.value;
      Bits expect(offset, false);
      Append(&expect, first);
      expect.resize(total, false);
      RequireBits(probe.ShiftDr(data), expect, "first capture of " + reg.name);
      const auto kept = probe.Chip().Chain().Device(k).RegisterValue(reg.name);
      Require(kept.has_value(), "register " + reg.name + " is known");
      RequireBits(*kept, written, "contents of " + reg.name + " after Update-DR");

      expect.assign(offset, false);
      Append(&expect, reg.capture ? *reg.capture : written);
      expect.resize(total, false);
      RequireBits(probe.ShiftDr(Bits(total, false)), expect, "second capture of " + reg.name);
      return;
    }
  }
}

}  // namespace

// The bytes as the flash of a board of modelled parts.
void CheckAsState(std::string_view text) {
  static board::TapChain* chain = [] {
    board::BoardSpec b;
    for (const char* part : {"XC2C32A", "EPM240", "LC4032V"}) b.chain.push_back(board::ModelledDevice({part, true}));
    return new board::TapChain(b);
  }();
  const std::string before = board::BoardStateText(*chain);
  const std::string error = board::TakeBoardState(*chain, std::string(text));
  if (!error.empty()) {
    Require(board::BoardStateText(*chain) == before, "a refused state changed the parts: " + error);
    return;
  }
  const std::string taken = board::BoardStateText(*chain);
  Require(board::TakeBoardState(*chain, taken).empty(), "a state written cannot be read back");
  Require(board::BoardStateText(*chain) == taken, "a state read back differs");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const board::BoardLoadResult result = board::ParseBoard(text);
  CheckAsState(text);

  // The same bytes from a file. A new file each time: ext4 writes a file
  // emptied by truncation out to disk when it is closed, which would make
  // this the slowest part of a run.
  const std::string path = FilePath();
  (void)std::remove(path.c_str());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) == 0 && ok) CheckSameResult(result, board::LoadBoardFile(path), path);
  }
  (void)std::remove(path.c_str());

  if (!result.board) {
    Require(!result.error.empty(), "refused without a reason");
    CheckRefusal(result.error);
    return 0;
  }
  const board::BoardSpec& board = *result.board;
  const std::string invalid = board::ValidateBoard(board);
  Require(invalid.empty(), "accepted a board that ValidateBoard refuses: " + invalid);
  Require(!board.chain.empty() && board.chain.size() <= board::kMaxDevices, "chain size");
  CheckValues(board);
  CheckOnPins(board);
  return 0;
}
