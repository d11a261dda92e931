// SPDX-License-Identifier: Apache-2.0

// ATF15xxAS CPLDs (ATF1502AS, ATF1508AS).
//
// Instructions, the memory map and the flows come from the maker's BSDL and
// the public notes on the family's JTAG programming: ATF_CONFIG with the key
// 1B9 turns configuration on and 000 off; ATF_ADDRESS (11 bits) picks a word;
// ATF_DATA0 to 3 hold a word whose length the address sets; ATF_PROGRAM_ERASE
// programs the word held at that address or, after ATF_LATCH_ERASE, erases
// the whole part; ATF_READ loads the addressed word into the data register.
// All three need time in Run-Test/Idle: 210 ms for the erase, 30 ms for a
// word and 20 ms for a read, the waits of the maker's files.
//
// Inferred from the files: the erased level is 1 (the words a design leaves
// unused, the JTAG word and the UES, are written and read back as all ones);
// the ranges of the memory map end before their last address (the ATF1502AS
// file writes 00-6B and 80-E4 where the map says 00..6C and 80..E5).

#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t row_bits;  // a word of the A and B sides
  std::size_t a_rows;    // from address 000
  std::size_t b_rows;    // from address 080
};

constexpr Geometry kGeometry[] = {
    {"ATF1502AS", 86, 0x6C, 0x65},
    {"ATF1508AS", 326, 0x6C, 0x7B},
};

// The words beyond the two sides: address, length.
struct SpecialWord {
  std::uint32_t address;
  std::size_t bits;
};
constexpr SpecialWord kSpecial[] = {{0x100, 32}, {0x200, 4}, {0x300, 16}};  // configuration, JTAG, UES
constexpr std::uint32_t kBSide = 0x080;
constexpr std::size_t kUesWord = 2;  // its index in kSpecial

enum Opcode : std::uint16_t {
  kIdcode = 0x059,
  kReadUes = 0x270,
  kConfig = 0x280,
  kRead = 0x28C,
  kData0 = 0x290,
  kData3 = 0x293,
  kProgramErase = 0x29E,
  kAddress = 0x2A1,
  kLatchErase = 0x2B3,
};

constexpr std::size_t kConfigBits = 10;
constexpr std::size_t kAddressBits = 11;
constexpr std::uint64_t kKeyOn = 0x1B9;
constexpr std::uint64_t kKeyOff = 0x000;
constexpr bool kErasedLevel = true;

constexpr std::uint64_t kEraseUs = 210'000;
constexpr std::uint64_t kProgramUs = 30'000;
constexpr std::uint64_t kReadUs = 20'000;

constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);


std::string Hex3(std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(v >> 8U) & 0xFU], kDigits[(v >> 4U) & 0xFU], kDigits[v & 0xFU]};
}

class Atf15xx final : public IscPart {
 public:
  Atf15xx(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(g.a_rows + g.b_rows + std::size(kSpecial), g.row_bits, kErasedLevel), "words", kIdcode),
        g_(g) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}, {"read", kReadUs}}, choice.waits_us);
  }

  std::uint64_t CaptureIr() override { return 0x059; }

  void Reset() override {
    IscPart::Reset();
    erase_latched_ = false;
  }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    switch (opcode) {
      case kLatchErase:
        if (isc_) {
          erase_latched_ = true;
        } else {
          account_.Refused("erase latched outside ISC mode");
        }
        break;
      case kProgramErase:
        ProgramOrErase();
        break;
      case kRead:
        if (!isc_) {
          account_.Refused("read outside ISC mode");
          break;
        }
        Start("read of word " + Hex3(address_), "read", [this] {
          data_ = Word(address_);
          account_.Read();
        });
        break;
      default:
        break;
    }
  }

  void CaptureDr(Bits& out) override {
    switch (instruction_) {
      case kIdcode:
        out = BitsOf(part_.idcode, 32);
        break;
      case kReadUes: {
        const Bits ues = flash_.Row(g_.a_rows + g_.b_rows + kUesWord);
        const std::size_t n = kSpecial[kUesWord].bits;
        out.assign(n, false);
        for (std::size_t i = 0; i < n; ++i) out[i] = ues[n - 1 - i];
        break;
      }
      case kConfig:
        out = BitsOf(key_, kConfigBits);
        break;
      case kAddress:
        out = BitsOf(address_, kAddressBits);
        break;
      default:
        if (instruction_ >= kData0 && instruction_ <= kData3) {
          out = data_;
          out.resize(WidthOf(address_), kErasedLevel);
        } else {
          out.assign(1, false);
        }
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    switch (instruction_) {
      case kConfig:
        key_ = ValueOf(AfterScan(BitsOf(key_, kConfigBits), scan, kConfigBits));
        if (key_ == kKeyOn) isc_ = true;
        if (key_ == kKeyOff) isc_ = false;
        break;
      case kAddress:
        address_ = static_cast<std::uint32_t>(ValueOf(AfterScan(BitsOf(address_, kAddressBits), scan, kAddressBits)));
        break;
      default:
        if (instruction_ >= kData0 && instruction_ <= kData3) data_ = AfterScan(data_, scan, WidthOf(address_));
        break;
    }
  }

 private:
  void Settle() override {
    key_ = 0;
    address_ = 0;
    data_.clear();
    erase_latched_ = false;
  }

  // The flash row holding the word at `address`, or kNoRow.
  [[nodiscard]] std::size_t RowOf(std::uint32_t address) const {
    if (address < g_.a_rows) return address;
    if (address >= kBSide && address < kBSide + g_.b_rows) return g_.a_rows + (address - kBSide);
    for (std::size_t i = 0; i < std::size(kSpecial); ++i) {
      if (kSpecial[i].address == address) return g_.a_rows + g_.b_rows + i;
    }
    return kNoRow;
  }

  [[nodiscard]] std::size_t WidthOf(std::uint32_t address) const {
    for (const SpecialWord& w : kSpecial) {
      if (w.address == address) return w.bits;
    }
    return g_.row_bits;
  }

  [[nodiscard]] Bits Word(std::uint32_t address) const {
    const std::size_t row = RowOf(address);
    Bits word = row == kNoRow ? Bits(WidthOf(address), kErasedLevel) : flash_.Row(row);
    word.resize(WidthOf(address));
    return word;
  }

  void ProgramOrErase() {
    if (!isc_) {
      account_.Refused(erase_latched_ ? "erase outside ISC mode" : "program outside ISC mode");
      return;
    }
    if (erase_latched_) {
      erase_latched_ = false;
      Start("erase", "erase", [this] {
        flash_.EraseAll();
        account_.Erased();
      });
      return;
    }
    const std::size_t row = RowOf(address_);
    const std::string what = "program of word " + Hex3(address_);
    if (row == kNoRow) {
      account_.Refused(what + ", which the part does not have");
      return;
    }
    Bits data = data_;
    data.resize(WidthOf(address_), kErasedLevel);
    Start(what, "program", [this, row, what, data = std::move(data)] {
      account_.Programmed();
      if (!flash_.Program(row, data)) account_.Refused(what + ", which was not erased: cells stayed programmed");
    });
  }

  const Geometry& g_;
  std::uint64_t key_ = 0;
  std::uint32_t address_ = 0;
  Bits data_;
  bool erase_latched_ = false;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeAtf15xx(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<Atf15xx>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> Atf15xxWaits() { return {"erase", "program", "read"}; }

}  // namespace tavrin::board
