// SPDX-License-Identifier: Apache-2.0

// ispMACH 4A CPLDs (M4A3-64/32).
//
// Everything here is read from the one file of the family at hand, its
// comments naming the instructions: ROW 03 shifts a one-hot row register
// (the bit shifted last is row 1; all ones selects every row), COLUMN 04 the
// row's data, PROGRAM 06 writes the data into the selected row and ERASE ALL
// 05 clears the part, VERIFY 07 captures the selected row into the column
// register, bit-reversed. PROGRAM MODE 0F takes a 5-bit value: 08 for the
// array, 09 for the one extra row the file writes with no row selected, 0C
// before READ USERCODE 10; any other value leaves program mode.
//
// Inferred: the erased level is 0 (the USERCODE, which the file never
// writes, reads 0 after the erase); the USERCODE cells are erased with the
// array; the waits are those of the file: 100 ms for the erase, 50 ms for a
// row.

#include <algorithm>
#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t rows;
  std::size_t row_bits;
  std::size_t boundary_bits;  // the register PRELOAD fills
};

constexpr Geometry kGeometry[] = {
    {"M4A3-64/32", 80, 378, 98},
};

enum Opcode : std::uint8_t {
  kIdcode = 0x01,
  kPreload = 0x02,
  kRow = 0x03,
  kColumn = 0x04,
  kEraseAll = 0x05,
  kProgram = 0x06,
  kVerify = 0x07,
  kProgramMode = 0x0F,
  kReadUsercode = 0x10,
};

enum Mode : std::uint8_t {
  kNoMode = 0x00,
  kArrayMode = 0x08,
  kExtraRowMode = 0x09,
  kUsercodeMode = 0x0C,
};

constexpr std::size_t kModeBits = 5;
constexpr std::size_t kUsercodeBits = 32;
constexpr bool kErasedLevel = false;

constexpr std::uint64_t kEraseUs = 100'000;
constexpr std::uint64_t kProgramUs = 50'000;

class IspMach4A final : public IscPart {
 public:
  // The flash: the rows, then the extra row, then the USERCODE.
  IspMach4A(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(g.rows + 2, g.row_bits, kErasedLevel), "rows", kIdcode),
        g_(g),
        rows_(g.rows, false),
        column_(g.row_bits, false) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}}, choice.waits_us);
  }

  // The two bits the standard asks for; the file checks none.
  std::uint64_t CaptureIr() override { return 0x01; }

  void Reset() override {
    IscPart::Reset();
    mode_ = kNoMode;
  }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    if (opcode == kEraseAll) {
      if (!isc_) {
        account_.Refused("erase outside program mode");
        return;
      }
      Start("erase", "erase", [this] {
        flash_.EraseAll();
        account_.Erased();
      });
    } else if (opcode == kProgram) {
      StartProgram();
    }
  }

  void CaptureDr(Bits& out) override {
    switch (instruction_) {
      case kIdcode:
        out = BitsOf(part_.idcode, 32);
        break;
      case kPreload:
        out.assign(g_.boundary_bits, false);
        break;
      case kProgramMode:
        out.assign(kModeBits, false);
        break;
      case kRow:
        out = rows_;
        break;
      case kColumn:
        out = column_;
        break;
      case kVerify:
        if (!isc_) account_.Refused("verify outside program mode");
        column_ = isc_ ? Reversed(flash_.Row(mode_ == kExtraRowMode ? ExtraRow() : Selected())) : column_;
        out = column_;
        break;
      case kReadUsercode:
        out = isc_ ? flash_.Row(UsercodeRow()) : Bits(kUsercodeBits, false);
        out.resize(kUsercodeBits);
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    switch (instruction_) {
      case kProgramMode:
        if (scan.shifted >= kModeBits) {
          mode_ = ValueOf(scan.Last(kModeBits), 0, kModeBits);
          if (mode_ != kArrayMode && mode_ != kExtraRowMode && mode_ != kUsercodeMode) mode_ = kNoMode;
          isc_ = mode_ != kNoMode;
        }
        break;
      case kRow:
        if (scan.shifted >= g_.rows) rows_ = scan.Last(g_.rows);
        break;
      case kColumn:
      case kVerify:
        if (scan.shifted >= g_.row_bits) column_ = scan.Last(g_.row_bits);
        if (instruction_ == kVerify && isc_) account_.Read();
        break;
      default:
        break;
    }
  }

 private:
  void Settle() override {
    mode_ = kNoMode;
    rows_.assign(g_.rows, false);
    column_.assign(g_.row_bits, false);
  }

  [[nodiscard]] std::size_t ExtraRow() const { return g_.rows; }
  [[nodiscard]] std::size_t UsercodeRow() const { return g_.rows + 1; }

  // The one row selected (bit rows-1 is the first row); rows + 2, which
  // reads as erased, when none or several are.
  [[nodiscard]] std::size_t Selected() const {
    std::size_t found = flash_.Rows();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (!rows_[i]) continue;
      if (found != flash_.Rows()) return flash_.Rows();
      found = g_.rows - 1 - i;
    }
    return found;
  }

  static Bits Reversed(Bits bits) {
    std::reverse(bits.begin(), bits.end());
    return bits;
  }

  void StartProgram() {
    if (!isc_ || (mode_ != kArrayMode && mode_ != kExtraRowMode)) {
      account_.Refused("program outside program mode");
      return;
    }
    std::vector<std::size_t> targets;
    if (mode_ == kExtraRowMode) {
      targets.push_back(ExtraRow());
    } else {
      for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i]) targets.push_back(g_.rows - 1 - i);
      }
    }
    std::string what = targets.empty() ? "program with no row selected" : "program of " + Name(targets.front());
    Start(what, "program", [this, what, targets = std::move(targets), data = column_] {
      for (const std::size_t row : targets) {
        account_.Programmed();
        if (!flash_.Program(row, data)) account_.Refused(what + ", which was not erased: cells stayed programmed");
      }
    });
  }

  [[nodiscard]] std::string Name(std::size_t row) const {
    return row == ExtraRow() ? "the extra row" : "row " + std::to_string(row + 1);
  }

  const Geometry& g_;
  std::uint64_t mode_ = kNoMode;
  Bits rows_;    // the row register
  Bits column_;  // the column register
};

}  // namespace

std::unique_ptr<DeviceModel> MakeIspMach4A(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<IspMach4A>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> IspMach4AWaits() { return {"erase", "program"}; }

}  // namespace tavrin::board
