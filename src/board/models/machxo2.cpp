// SPDX-License-Identifier: Apache-2.0

// MachXO2 FPGAs with their configuration flash (LCMXO2-640HC, LCMXO2-1200HC).
//
// Opcodes, the status register's bits, the erase operand's sectors and the
// 128-bit configuration rows come from the public programming headers of the
// family; the row counts and boundary lengths from the family's part tables
// (the -640's 1151 rows and 152 boundary cells are also what its vendor file
// shifts). Rows are written and read by auto-increment from the address that
// LSC_INIT_ADDRESS sets. The waits are the ones the vendor files name in
// their comments: 1 ms, 10 ms per row, 1 s for the SRAM erase, 12 s for the
// flash erase.
//
// Inferred from the vendor file (kept in kInferred below):
// - the flash erases to zeros;
// - bit 2 of the instruction capture is the DONE fuse of the flash (set by
//   ISC PROGRAM DONE, checked before ISC_DISABLE), bits 6 and 7 are fail and
//   busy;
// - the status register's DONE (bit 8) is the SRAM's: cleared by an SRAM
//   erase, set when ISC_DISABLE loads a flash whose DONE fuse is set;
// - READ USERCODE shifts the word that ISC PROGRAM USERCODE then programs;
//   USERCODE and the DONE fuse sit in the configuration sector (its erase
//   clears them);
// - an operation that did not get its time leaves the part busy (F0 and
//   status bit 12 read 1) until its next spell in Run-Test/Idle.

#include <cstring>
#include <functional>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

struct Geometry {
  const char* part;
  std::size_t rows;           // configuration rows
  std::size_t boundary_bits;  // the boundary-scan register
};

constexpr Geometry kGeometry[] = {
    {"LCMXO2-640HC", 1151, 152},
    {"LCMXO2-1200HC", 2175, 208},
};

constexpr std::size_t kRowBits = 128;

enum Opcode : std::uint8_t {
  kIscErase = 0x0E,
  kPreload = 0x1C,
  kIscDisable = 0x26,
  kReadStatus = 0x3C,
  kInitAddress = 0x46,
  kProgramDone = 0x5E,
  kProgramIncr = 0x70,
  kReadIncr = 0x73,
  kIscEnableX = 0x74,
  kUsercode = 0xC0,
  kProgramUsercode = 0xC2,
  kIscEnable = 0xC6,
  kIdcode = 0xE0,
  kCheckBusy = 0xF0,
};

struct Facts {
  bool erased_level;
  // Erase operand bits (the low byte of the 8-bit ISC_ERASE operand).
  std::uint8_t erase_sram, erase_config;
  // The operand of LSC_INIT_ADDRESS that selects the configuration sector.
  std::uint8_t config_sector;
  // Status register bits.
  unsigned status_done, status_isc, status_busy, status_fail;
  // Instruction-capture bits.
  unsigned ir_done, ir_fail, ir_busy;
  // The extra flash row holding USERCODE (bits 0-31) and the DONE fuse.
  unsigned done_fuse_bit;
};

constexpr Facts kInferred{false, 0x01, 0x04, 0x04, 8, 9, 12, 13, 2, 6, 7, 32};

constexpr std::uint64_t kSramEraseUs = 1'000'000;
constexpr std::uint64_t kEraseUs = 12'000'000;
constexpr std::uint64_t kProgramUs = 10'000;

class MachXo2 final : public IscPart {
 public:
  MachXo2(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(g.rows + 1, kRowBits, kInferred.erased_level), "rows", kIdcode), g_(g) {
    waits_ = Waits({{"sram-erase", kSramEraseUs}, {"erase", kEraseUs}, {"program", kProgramUs}}, choice.waits_us);
    if (!choice.blank) {
      // Another design is a finished one: its DONE fuse is programmed.
      Bits extra = flash_.Row(ExtraRow());
      extra[kInferred.done_fuse_bit] = !kInferred.erased_level;
      flash_.Set(ExtraRow(), extra);
    }
    Settle();
  }

  std::uint64_t CaptureIr() override {
    return 0x01U | (DoneFuse() ? 1U << kInferred.ir_done : 0U) | (fail_ ? 1U << kInferred.ir_fail : 0U) |
           (busy_ ? 1U << kInferred.ir_busy : 0U);
  }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    switch (opcode) {
      case kIscDisable:
        isc_ = false;
        Settle();
        break;
      case kProgramUsercode:
        ProgramExtra("program of the USERCODE", usercode_shift_);
        break;
      case kProgramDone:
        ProgramExtra("program of the DONE fuse", {});
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
        out = flash_.Row(ExtraRow());
        out.resize(32);
        break;
      case kReadStatus:
        out = BitsOf(Status(), 32);
        break;
      case kCheckBusy:
        out.assign(1, busy_);
        break;
      case kPreload:
        out.assign(g_.boundary_bits, false);
        break;
      case kIscEnable:
      case kIscEnableX:
      case kIscErase:
      case kInitAddress:
        out.assign(8, false);
        break;
      case kProgramIncr:
        out.assign(kRowBits, false);
        break;
      case kReadIncr:
        if (isc_ && config_sector_) {
          out = flash_.Row(address_);
        } else {
          out.assign(kRowBits, false);
        }
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    if (instruction_ == kUsercode) {
      if (scan.shifted >= 32) usercode_shift_ = scan.Last(32);
      return;
    }
    if (scan.shifted < 8) return;
    switch (instruction_) {
      case kIscEnable:
      case kIscEnableX:
        isc_ = true;
        fail_ = false;
        break;
      case kIscErase:
        Erase(static_cast<std::uint8_t>(ValueOf(scan.Last(8), 0, 8)));
        break;
      case kInitAddress:
        config_sector_ = (ValueOf(scan.Last(8), 0, 8) & kInferred.config_sector) != 0;
        address_ = 0;
        break;
      case kProgramIncr:
        if (scan.shifted >= kRowBits) ProgramRow(scan.Last(kRowBits));
        break;
      case kReadIncr:
        if (scan.shifted >= kRowBits && isc_ && config_sector_) {
          account_.Read();
          ++address_;
        }
        break;
      default:
        break;
    }
  }

  void Idle(const IdleSpell& spell) override {
    // An operation cut short leaves the part busy until it has had more time.
    const bool armed = op_.Armed();
    completed_ = false;
    IscPart::Idle(spell);
    busy_ = armed && !completed_;
  }

  void Reset() override {
    IscPart::Reset();
    busy_ = false;
  }

 private:
  [[nodiscard]] std::size_t ExtraRow() const { return g_.rows; }
  [[nodiscard]] bool DoneFuse() const {
    return flash_.Row(ExtraRow())[kInferred.done_fuse_bit] != kInferred.erased_level;
  }

  void Settle() override {
    busy_ = false;
    sram_done_ = DoneFuse();
  }

  [[nodiscard]] std::uint64_t Status() const {
    auto bit = [](bool on, unsigned at) { return on ? std::uint64_t{1} << at : 0U; };
    return bit(sram_done_, kInferred.status_done) | bit(isc_, kInferred.status_isc) |
           bit(busy_, kInferred.status_busy) | bit(fail_, kInferred.status_fail);
  }

  void Operation(const std::string& what, const char* wait, std::function<void()> done) {
    Start(what, wait, [this, done = std::move(done)] {
      completed_ = true;
      done();
    });
  }

  bool Refuse(const std::string& what) {
    if (isc_) return false;
    account_.Refused(what + " outside ISC mode");
    fail_ = true;
    return true;
  }

  void Erase(std::uint8_t sectors) {
    if (Refuse("erase")) return;
    if ((sectors & kInferred.erase_config) != 0) {
      Operation("erase of the configuration flash", "erase", [this] {
        flash_.EraseAll();
        account_.Erased();
      });
    } else if ((sectors & kInferred.erase_sram) != 0) {
      Operation("erase of the SRAM", "sram-erase", [this] { sram_done_ = false; });
    }
  }

  void ProgramRow(const Bits& data) {
    const std::size_t row = address_++;
    const std::string what = "program of row " + std::to_string(row + 1);
    if (Refuse(what)) return;
    if (!config_sector_ || row >= g_.rows) {
      account_.Refused(what + ", beyond the configuration rows");
      fail_ = true;
      return;
    }
    Operation(what, "program", [this, row, what, data] {
      account_.Programmed();
      if (!flash_.Program(row, data)) account_.Refused(what + ", which was not erased: cells stayed programmed");
    });
  }

  // Programs USERCODE, or the DONE fuse when `usercode` is empty.
  void ProgramExtra(const std::string& what, const Bits& usercode) {
    if (Refuse(what)) return;
    Operation(what, "program", [this, what, usercode] {
      Bits data = usercode;
      if (data.empty()) {
        data = flash_.Row(ExtraRow());
        data[kInferred.done_fuse_bit] = !kInferred.erased_level;
      }
      if (!flash_.Program(ExtraRow(), data)) {
        account_.Refused(what + ", which was not erased: cells stayed programmed");
      }
    });
  }

  const Geometry& g_;
  std::size_t address_ = 0;
  bool config_sector_ = false;
  bool sram_done_ = false;
  bool busy_ = false;
  bool fail_ = false;
  bool completed_ = false;
  Bits usercode_shift_ = Bits(32, false);
};

}  // namespace

std::unique_ptr<DeviceModel> MakeMachXo2(const jtag::KnownPart& part, const ModelChoice& choice) {
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<MachXo2>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> MachXo2Waits() { return {"sram-erase", "erase", "program"}; }

}  // namespace tavrin::board
