// SPDX-License-Identifier: Apache-2.0

// CoolRunner-II CPLDs (XC2C32A, XC2C64A, XC2C256).
//
// Instructions, erased level and the program register's layout come from the
// parts' BSDL files. Rows are keyed by the address the files shift (a Gray
// code); the read takes the address alone in one scan and returns the row in
// the next. Inferred from the files: bit 2 of the instruction capture is DONE,
// set while the part runs a configuration (not in ISC mode, array not blank).
// The waits are those of the vendor files at their 1 MHz: 100,000 TCK for the
// erase and 10,000 for a row.

#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t data_bits;
  std::size_t address_bits;
};

constexpr Geometry kGeometry[] = {
    {"XC2C32A", 260, 6},
    {"XC2C64A", 274, 7},
    {"XC2C256", 1364, 7},
};

enum Opcode : std::uint8_t {
  kIdcode = 0x01,
  kIscDisable = 0xC0,
  kIscEnable = 0xE8,
  kIscEnableOtf = 0xE4,
  kIscProgram = 0xEA,
  kIscErase = 0xED,
  kIscRead = 0xEE,
  kIscInit = 0xF0,
  kUsercode = 0xFD,
  kBypass = 0xFF,
};

constexpr std::uint64_t kEraseUs = 100'000;
constexpr std::uint64_t kProgramUs = 10'000;

class CoolRunner2 final : public IscPart {
 public:
  CoolRunner2(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(std::size_t{1} << g.address_bits, g.data_bits, true), "rows", kIdcode), g_(g) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}}, choice.waits_us);
    Settle();
  }

  std::uint64_t CaptureIr() override { return done_ ? 0x05 : 0x01; }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    switch (opcode) {
      case kIscEnable:
      case kIscEnableOtf:
        isc_ = true;
        break;
      case kIscDisable:
        isc_ = false;
        Settle();
        break;
      case kIscErase:
        if (!isc_) {
          account_.Refused("erase outside ISC mode");
          break;
        }
        Start("erase", "erase", [this] {
          flash_.EraseAll();
          account_.Erased();
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
      case kUsercode:
        out = BitsOf(0xFFFFFFFFU, 32);
        break;
      case kIscRead:
        out = isc_ ? flash_.Row(read_address_) : Bits(g_.data_bits, true);
        break;
      case kIscProgram:
        out.assign(g_.data_bits + g_.address_bits, false);
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    if (instruction_ == kIscProgram) {
      Program(scan);
    } else if (instruction_ == kIscRead) {
      if (!isc_) {
        account_.Refused("read outside ISC mode");
      } else if (scan.shifted < g_.data_bits) {
        // Shorter than a row: the address (bits for devices nearer TDO
        // passed through first).
        read_address_ = ValueOf(scan.Last(g_.address_bits), 0, g_.address_bits);
      } else {
        account_.Read();
      }
    }
  }

 private:
  void Settle() override { done_ = !isc_ && !flash_.IsBlank(); }

  void Program(const DrScan& scan) {
    const std::size_t length = g_.data_bits + g_.address_bits;
    if (scan.shifted < length) {
      account_.Refused("program scan of " + std::to_string(scan.shifted) + " bits, not " + std::to_string(length));
      return;
    }
    Bits bits = scan.Last(length);
    const std::size_t row = ValueOf(bits, g_.data_bits, g_.address_bits);
    if (!isc_) {
      account_.Refused("program of row " + std::to_string(row) + " outside ISC mode");
      return;
    }
    bits.resize(g_.data_bits);
    Start("program of row " + std::to_string(row), "program", [this, row, data = std::move(bits)] {
      account_.Programmed();
      if (!flash_.Program(row, data)) {
        account_.Refused("program of row " + std::to_string(row) + ", which was not erased: cells stayed programmed");
      }
    });
  }

  const Geometry& g_;
  std::size_t read_address_ = 0;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeCoolRunner2(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<CoolRunner2>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> CoolRunner2Waits() { return {"erase", "program"}; }

}  // namespace tavrin::board
