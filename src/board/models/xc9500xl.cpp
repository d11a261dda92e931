// SPDX-License-Identifier: Apache-2.0

// XC9500XL CPLDs (XC9572XL, XC95144XL).
//
// Instructions, register layouts, the instruction capture and the erased
// level come from the public notes on the family's BSDL files and bitstream:
// ISPEN selects a 6-bit register and its scan puts the part in ISP mode;
// FBULK and FERASE take the 18-bit address register, FPGM and FVFY the
// configuration register (bit 0 valid, bit 1 strobe, a word of 8 bits per
// function block, then a 16-bit address). The array has 108 rows of 15
// words; an address holds the row in bits 5-11 and the column in bits 0-4
// (column / 5 in bits 3-4, column % 5 in bits 0-2). Erased cells read 0.
//
// Inferred, no file of the family being at hand (the table below):
// - a word scanned with its valid bit goes into a row buffer at its column,
//   and a scan with the strobe bit programs the buffer into the row that its
//   address names; the buffer is then clear again;
// - the erases start on the strobe bit of the address register's scan;
//   FERASE clears the same array as FBULK (the protection bits are not
//   modelled, so the capture's bits 2 and 3 stay 0);
// - a FVFY scan loads the address to read, and the next capture returns a
//   status of 01 (bit 0 set) in bits 0-1, that address's word and the
//   address itself, laid out as the configuration register;
// - the waits: 200 ms for an erase and 20 ms for a row.

#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t function_blocks;
};

constexpr Geometry kGeometry[] = {
    {"XC9572XL", 4},
    {"XC95144XL", 8},
};

enum Opcode : std::uint8_t {
  kIspen = 0xE8,
  kFpgm = 0xEA,
  kFerase = 0xEC,
  kFbulk = 0xED,
  kFvfy = 0xEE,
  kIspex = 0xF0,
  kIdcode = 0xFE,
};

constexpr std::size_t kEnableBits = 6;
constexpr std::size_t kAddressBits = 16;
constexpr std::size_t kAddressRegisterBits = 2 + kAddressBits;
constexpr std::size_t kValidBit = 0;
constexpr std::size_t kStrobeBit = 1;
constexpr std::size_t kRows = 108;
constexpr std::size_t kColumns = 15;
constexpr std::uint64_t kReadStatus = 0x1;  // bits 0 and 1 of a FVFY capture
constexpr std::uint64_t kCaptureIr = 0x01;
constexpr std::uint64_t kIspInCapture = 0x10;
constexpr bool kErasedLevel = false;

constexpr std::uint64_t kEraseUs = 200'000;
constexpr std::uint64_t kProgramUs = 20'000;

// The row and column an address names; nullopt for an address with no word.
struct Word {
  std::size_t row;
  std::size_t column;
};

std::optional<Word> WordAt(std::uint64_t address) {
  const std::uint64_t row = (address >> 5U) & 0x7FU;
  const std::uint64_t group = (address >> 3U) & 0x3U;
  const std::uint64_t within = address & 0x7U;
  if ((address >> 12U) != 0 || row >= kRows || group >= 3 || within >= 5) return std::nullopt;
  return Word{static_cast<std::size_t>(row), static_cast<std::size_t>(group * 5 + within)};
}

class Xc9500Xl final : public IscPart {
 public:
  Xc9500Xl(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(kRows, kColumns * 8 * g.function_blocks, kErasedLevel), "rows", kIdcode),
        word_bits_(8 * g.function_blocks),
        buffer_(kColumns * word_bits_, kErasedLevel) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}}, choice.waits_us);
  }

  std::uint64_t CaptureIr() override { return kCaptureIr | (isc_ ? kIspInCapture : 0); }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    if (opcode == kIspex) isc_ = false;
    if (opcode == kFpgm) buffer_.assign(buffer_.size(), kErasedLevel);
  }

  void CaptureDr(Bits& out) override {
    switch (instruction_) {
      case kIdcode:
        out = BitsOf(part_.idcode, 32);
        break;
      case kIspen:
        out.assign(kEnableBits, false);
        break;
      case kFerase:
      case kFbulk:
        out.assign(kAddressRegisterBits, false);
        break;
      case kFpgm:
        out.assign(ConfigurationBits(), false);
        break;
      case kFvfy:
        CaptureRead(out);
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    switch (instruction_) {
      case kIspen:
        if (scan.shifted >= kEnableBits) isc_ = true;
        break;
      case kFerase:
      case kFbulk:
        Erase(scan);
        break;
      case kFpgm:
        Program(scan);
        break;
      case kFvfy:
        if (!isc_) {
          account_.Refused("read outside ISP mode");
        } else if (scan.shifted >= ConfigurationBits()) {
          // The capture of this scan returned the last word of a row: one row read.
          const auto word = WordAt(read_address_);
          if (word && word->column == kColumns - 1) account_.Read();
          read_address_ = ValueOf(scan.Last(ConfigurationBits()), 2 + word_bits_, kAddressBits);
        }
        break;
      default:
        break;
    }
  }

 private:
  void Settle() override {
    buffer_.assign(buffer_.size(), kErasedLevel);
    read_address_ = 0;
  }

  [[nodiscard]] std::size_t ConfigurationBits() const { return 2 + word_bits_ + kAddressBits; }

  // Status, the word at the address loaded last and that address; outside
  // ISP mode or for an address with no word, the status and word are 0.
  void CaptureRead(Bits& out) const {
    out.assign(ConfigurationBits(), false);
    const auto word = WordAt(read_address_);
    if (isc_ && word) {
      out[0] = (kReadStatus & 1U) != 0;
      out[1] = (kReadStatus & 2U) != 0;
      const Bits row = flash_.Row(word->row);
      for (std::size_t i = 0; i < word_bits_; ++i) out[2 + i] = row[word->column * word_bits_ + i];
    }
    for (std::size_t i = 0; i < kAddressBits; ++i) out[2 + word_bits_ + i] = ((read_address_ >> i) & 1U) != 0;
  }

  void Erase(const DrScan& scan) {
    if (scan.shifted < kAddressRegisterBits) return;
    const Bits bits = scan.Last(kAddressRegisterBits);
    if (!bits[kStrobeBit]) return;
    const char* what = instruction_ == kFbulk ? "bulk erase" : "erase";
    if (!isc_) {
      account_.Refused(std::string(what) + " outside ISP mode");
      return;
    }
    Start(what, "erase", [this] {
      flash_.EraseAll();
      account_.Erased();
    });
  }

  void Program(const DrScan& scan) {
    if (scan.shifted < ConfigurationBits()) {
      account_.Refused("program scan of " + std::to_string(scan.shifted) + " bits, not " +
                       std::to_string(ConfigurationBits()));
      return;
    }
    const Bits bits = scan.Last(ConfigurationBits());
    const std::uint64_t address = ValueOf(bits, 2 + word_bits_, kAddressBits);
    const auto word = WordAt(address);
    if (!isc_) {
      account_.Refused("program outside ISP mode");
      return;
    }
    if (!word) {
      account_.Refused("program of address " + std::to_string(address) + ", which holds no word");
      return;
    }
    if (bits[kValidBit]) {
      for (std::size_t i = 0; i < word_bits_; ++i) buffer_[word->column * word_bits_ + i] = bits[2 + i];
    }
    if (!bits[kStrobeBit]) return;
    const std::size_t row = word->row;
    const std::string what = "program of row " + std::to_string(row);
    Start(what, "program", [this, row, what, data = buffer_] {
      account_.Programmed();
      if (!flash_.Program(row, data)) account_.Refused(what + ", which was not erased: cells stayed programmed");
    });
    buffer_.assign(buffer_.size(), kErasedLevel);
  }

  std::size_t word_bits_;
  Bits buffer_;  // the words of the row being programmed
  std::uint64_t read_address_ = 0;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeXc9500Xl(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<Xc9500Xl>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> Xc9500XlWaits() { return {"erase", "program"}; }

}  // namespace tavrin::board
