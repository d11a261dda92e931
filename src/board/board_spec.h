// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::board {

// Limits of a board description. Everything read from a file is bounded by
// these, so a hostile file can cost at most a few megabytes.
inline constexpr std::size_t kMaxBoardFileBytes = std::size_t{4} << 20U;
inline constexpr std::size_t kMaxJsonDepth = 16;
inline constexpr std::size_t kMaxDevices = 64;
inline constexpr unsigned kMinIrLength = 2;
inline constexpr unsigned kMaxIrLength = 64;
inline constexpr std::size_t kMaxInstructions = 64;   // per device
inline constexpr std::size_t kMaxOpcodesPerInstruction = 16;
inline constexpr std::size_t kMaxRegisters = 32;      // per device, besides BYPASS and IDCODE
inline constexpr std::uint32_t kMaxRegisterBits = 1U << 20;
inline constexpr std::uint64_t kMaxBoardRegisterBits = 1U << 24;  // all registers of a board
inline constexpr std::size_t kMaxNameLength = 64;
// The longest minimum wait a modelled part's operation may be given (10 minutes).
inline constexpr std::uint64_t kMaxWaitUs = 600'000'000;

// Bit strings, bit 0 first (bit 0 is the bit nearest TDO, shifted out first).
using Bits = std::vector<bool>;

// Hexadecimal text (most significant digit first, optional "0x") of exactly
// `length` bits; nothing when the text is no such number or has bits set at
// or above `length`.
std::optional<Bits> BitsFromHex(std::string_view text, std::uint32_t length);
// Lower-case hexadecimal, most significant digit first, (length + 3) / 4 digits.
std::string HexFromBits(const Bits& bits);

// Which data pin (0 to 7, bit n of the pin byte is Dn) carries which signal.
struct Wiring {
  unsigned tck = 7;
  unsigned tms = 1;
  unsigned tdi = 5;
  unsigned tdo = 6;
  // The board's TCK line has a pull-down (true) or a pull-up (false): what the
  // chip's TCK pin reads, and what the board sees, while the chip does not
  // drive it. TMS and TDI are pulled up, as JTAG wants; so is every pin the
  // board leaves unconnected, by the chip's own pull-ups.
  bool tck_pull_down = true;
};

// A data register besides BYPASS and IDCODE.
struct RegisterSpec {
  std::string name;
  std::uint32_t length = 0;
  Bits value;                    // the power-on contents, `length` bits
  std::optional<Bits> capture;   // fixed capture value; none: captures the contents
};

// An instruction: its name and the opcodes that select it.
struct InstructionSpec {
  std::string name;
  std::vector<std::uint64_t> opcodes;
  // What it selects: kBypass, kIdcode or an index into DeviceSpec::registers.
  int target = -1;
};

inline constexpr int kBypass = -1;
inline constexpr int kIdcode = -2;

// A modelled part in place of a described device: its flash, its
// programming instructions and the time its operations need.
struct ModelChoice {
  ModelChoice() = default;
  ModelChoice(std::string part_name, bool start_blank) : part(std::move(part_name)), blank(start_blank) {}

  std::string part;        // a name from the catalogue of modelled parts
  bool blank = false;      // starts blank; else it holds another design
  std::uint64_t seed = 1;  // the other design's content comes from this
  // Minimum waits in Run-Test/Idle, in microseconds, by operation name
  // ("erase", "program", ...), replacing the family's own.
  std::vector<std::pair<std::string, std::uint64_t>> waits_us;
};

struct DeviceSpec {
  std::string name;
  // Set: the device is this modelled part (its IR length and IDCODE are
  // the part's; instructions and registers above are not used).
  std::optional<ModelChoice> model;
  unsigned ir_length = 8;
  std::uint64_t ir_capture = 0x01;  // the two low bits are always 01
  std::optional<std::uint32_t> idcode;
  std::vector<InstructionSpec> instructions;
  std::vector<RegisterSpec> registers;
};

struct BoardSpec {
  Wiring wiring;
  std::vector<DeviceSpec> chain;  // in order from the TDI pin to the TDO pin
};

struct BoardLoadResult {
  std::optional<BoardSpec> board;  // set on success
  std::string error;               // set on failure: what is wrong and where
};

// Reads a board description (JSON text). Never throws.
BoardLoadResult ParseBoard(std::string_view json_text);
// Reads a board description file. Never throws.
BoardLoadResult LoadBoardFile(const std::string& path);

// The built-in board: one small CPLD (IR 8, IDCODE f6e5f093 on opcode 0x01,
// USERCODE on 0xFD) on the default pins.
BoardSpec DefaultBoard();
// The built-in board as a description file would give it.
std::string_view DefaultBoardJson();

// Checks a board built in code against the same rules as a file; empty when
// it is fine.
std::string ValidateBoard(const BoardSpec& board);

}  // namespace tavrin::board
