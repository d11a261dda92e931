// SPDX-License-Identifier: Apache-2.0

// ispMACH 4000 CPLDs (LC4032V, LC4256V).
//
// Instructions from the public notes on the family's ISC flow; row counts and
// widths from the headers of the maker's files. ADDRESS INIT points at the
// first row and each PROGRAM INCR or READ INCR scan takes the row at the
// address and moves to the next; ADDRESS SHIFT loads a one-hot address whose
// most significant bit is the first row. The USERCODE and the DONE bit are
// cells of the same flash, erased with it.
//
// The waits are those of the maker's files: 100 ms for the erase, 13 ms for a
// row or the USERCODE, 50 ms for the DONE bit.
//
// Inferred from the files: the erased level is 1 (unused rows and the
// USERCODE a design leaves unset are written and read back as all ones); the
// instruction capture is 19, with bit 2 set while the DONE bit is programmed
// (the files read 1D after programming it).

#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t rows;
  std::size_t row_bits;
  std::size_t boundary_bits;  // the boundary-scan register PRELOAD fills
};

constexpr Geometry kGeometry[] = {
    {"LC4032V", 100, 172, 68},
    {"LC4256V", 95, 1592, 260},
};

enum Opcode : std::uint8_t {
  kAddressShift = 0x01,
  kErase = 0x03,
  kEnable = 0x15,
  kIdcode = 0x16,
  kReadUsercode = 0x17,
  kProgramUsercode = 0x1A,
  kPreload = 0x1C,
  kDisable = 0x1E,
  kAddressInit = 0x21,
  kProgramIncr = 0x27,
  kReadIncr = 0x2A,
  kProgramDone = 0x2F,
};

constexpr std::uint64_t kCaptureIr = 0x19;
constexpr std::uint64_t kDoneInCapture = 0x04;
constexpr std::size_t kUsercodeBits = 32;
constexpr bool kErasedLevel = true;

constexpr std::uint64_t kEraseUs = 100'000;
constexpr std::uint64_t kProgramUs = 13'000;
constexpr std::uint64_t kDoneUs = 50'000;


class IspMach4000 final : public IscPart {
 public:
  // The flash: the rows, then the USERCODE, then the DONE bit (bit 0).
  IspMach4000(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(g.rows + 2, g.row_bits, kErasedLevel), "rows", kIdcode),
        g_(g),
        boundary_(g.boundary_bits, false) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}, {"done", kDoneUs}}, choice.waits_us);
  }

  std::uint64_t CaptureIr() override {
    const bool done = flash_.Row(DoneRow())[0] != kErasedLevel;
    return kCaptureIr | (done ? kDoneInCapture : 0);
  }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    switch (opcode) {
      case kEnable:
        isc_ = true;
        break;
      case kDisable:
        isc_ = false;
        break;
      case kAddressInit:
        address_ = 0;
        break;
      case kErase:
        if (!isc_) {
          account_.Refused("erase outside ISC mode");
          break;
        }
        Start("erase", "erase", [this] {
          flash_.EraseAll();
          account_.Erased();
        });
        break;
      case kProgramDone:
        if (!isc_) {
          account_.Refused("program of the DONE bit outside ISC mode");
          break;
        }
        Start("program of the DONE bit", "done", [this] {
          flash_.Program(DoneRow(), Bits(1, !kErasedLevel));
          account_.Programmed();
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
      case kReadUsercode:
        out = flash_.Row(UsercodeRow());
        out.resize(kUsercodeBits);
        break;
      case kProgramUsercode:
        out.assign(kUsercodeBits, false);
        break;
      case kPreload:
        out = boundary_;
        break;
      case kAddressShift:
        out = OneHot();
        break;
      case kReadIncr:
        out = isc_ && address_ < g_.rows ? flash_.Row(address_) : Bits(g_.row_bits, false);
        break;
      case kProgramIncr:
        out.assign(g_.row_bits, false);
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    switch (instruction_) {
      case kPreload:
        boundary_ = AfterScan(boundary_, scan, g_.boundary_bits);
        break;
      case kAddressShift:
        LoadAddress(AfterScan(OneHot(), scan, g_.rows));
        break;
      case kProgramIncr:
        ProgramRow(scan);
        break;
      case kReadIncr:
        if (!isc_) {
          account_.Refused("read outside ISC mode");
        } else if (address_ < g_.rows) {
          account_.Read();
          ++address_;
        }
        break;
      case kProgramUsercode:
        if (!isc_) {
          account_.Refused("program of the USERCODE outside ISC mode");
          break;
        }
        Start("program of the USERCODE", "program",
              [this, data = AfterScan(Bits(kUsercodeBits, false), scan, kUsercodeBits)] {
                account_.Programmed();
                if (!flash_.Program(UsercodeRow(), data)) {
                  account_.Refused("program of the USERCODE, which was not erased: cells stayed programmed");
                }
              });
        break;
      default:
        break;
    }
  }

 private:
  void Settle() override {
    address_ = 0;
    boundary_.assign(g_.boundary_bits, false);
  }

  [[nodiscard]] std::size_t UsercodeRow() const { return g_.rows; }
  [[nodiscard]] std::size_t DoneRow() const { return g_.rows + 1; }

  // The address register: bit rows-1 (shifted last) is the first row.
  [[nodiscard]] Bits OneHot() const {
    Bits bits(g_.rows, false);
    if (address_ < g_.rows) bits[g_.rows - 1 - address_] = true;
    return bits;
  }

  // Anything but one bit set addresses no row.
  void LoadAddress(const Bits& bits) {
    std::size_t set = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) {
      if (bits[i]) {
        ++set;
        at = i;
      }
    }
    address_ = set == 1 ? g_.rows - 1 - at : g_.rows;
  }

  void ProgramRow(const DrScan& scan) {
    if (scan.shifted < g_.row_bits) {
      account_.Refused("program scan of " + std::to_string(scan.shifted) + " bits, not " +
                       std::to_string(g_.row_bits));
      return;
    }
    const std::size_t row = address_;
    if (!isc_) {
      account_.Refused("program of a row outside ISC mode");
      return;
    }
    if (row >= g_.rows) {
      account_.Refused("program with no row addressed");
      return;
    }
    ++address_;
    const std::string what = "program of row " + std::to_string(row + 1);
    Start(what, "program", [this, row, what, data = scan.Last(g_.row_bits)] {
      account_.Programmed();
      if (!flash_.Program(row, data)) account_.Refused(what + ", which was not erased: cells stayed programmed");
    });
  }

  const Geometry& g_;
  std::size_t address_ = 0;  // the row, rows when none
  Bits boundary_;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeIspMach4000(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<IspMach4000>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> IspMach4000Waits() { return {"erase", "program", "done"}; }

}  // namespace tavrin::board
