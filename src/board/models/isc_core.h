// SPDX-License-Identifier: Apache-2.0

#pragma once
// What the modelled in-system-programmable parts share: a flash array
// programmed one way only, operations that need time in Run-Test/Idle, and
// the account of a run that ends the log.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board/board_spec.h"
#include "board/device_model.h"
#include "jtag/parts.h"

namespace tavrin::board {

// Limits of a modelled array, whatever a board file asks for.
inline constexpr std::size_t kMaxFlashRows = 1U << 16;
inline constexpr std::size_t kMaxFlashRowBits = 1U << 14;
inline constexpr std::uint64_t kMaxFlashBits = std::uint64_t{1} << 24;

// Rows of cells. An erased cell reads the erased level; programming moves a
// cell to the other level and nothing but an erase moves it back.
class FlashArray {
 public:
  FlashArray() = default;
  // Sizes are clamped to the limits above.
  FlashArray(std::size_t rows, std::size_t width, bool erased_level);

  [[nodiscard]] std::size_t Rows() const { return rows_.size(); }
  [[nodiscard]] std::size_t Width() const { return width_; }
  [[nodiscard]] bool ErasedLevel() const { return erased_; }

  // Every cell erased.
  void Blank();
  // Another design: every row holds seeded pseudo-random cells, so a run
  // repeats exactly.
  void OtherDesign(std::uint64_t seed);

  // The row's cells (an erased row for a row out of range).
  [[nodiscard]] Bits Row(std::size_t row) const;
  [[nodiscard]] bool RowIsErased(std::size_t row) const;
  [[nodiscard]] bool IsBlank() const;
  void EraseRow(std::size_t row);
  void EraseAll();
  // Programs the cells that `data` sets to the programmed level (data
  // shorter or longer than the row is cut or padded with the erased level);
  // a programmed cell stays programmed whatever the data says. False when
  // the row is out of range, or when a cell that the data leaves erased was
  // already programmed before the row was first programmed since its
  // erase: the row held content from before, its erase was skipped. (A row
  // programmed twice in one pass, as some flows do for their last row, is
  // no such case.)
  bool Program(std::size_t row, const Bits& data);
  // Sets the row as it is (for state files and tests).
  void Set(std::size_t row, const Bits& data);

  // Rows as hex, one per line; Restore checks the shape and takes all or nothing.
  [[nodiscard]] std::string Save() const;
  std::string Restore(std::string_view text);

 private:
  std::vector<Bits> rows_;
  std::vector<bool> programmed_;  // programmed since the row's last erase
  std::size_t width_ = 0;
  bool erased_ = true;
};

// One account per part and run: what was done to its flash and what was
// refused, for the report at the end of a rehearsal.
class Account {
 public:
  void Erased() { ++erases_; }
  void Programmed(std::size_t rows = 1) { programmed_ += rows; }
  void Read(std::size_t rows = 1) { read_ += rows; }
  // A step the part did not carry out; the same reason counts once in the
  // report with how often it happened and at which TCK edge it first did.
  void Refused(const std::string& why);
  // "XC2C64A: 1 erase, 99 rows programmed, 98 rows read; nothing refused",
  // then one line per reason refused.
  [[nodiscard]] std::vector<std::string> Lines(std::string_view part, std::string_view unit) const;
  [[nodiscard]] std::size_t Refusals() const;

 private:
  std::uint64_t erases_ = 0;
  std::uint64_t programmed_ = 0;
  std::uint64_t read_ = 0;
  std::vector<std::pair<std::string, std::uint64_t>> refused_;  // in order of first occurrence
};

// An erase or program started by an instruction or its data and carried out
// in Run-Test/Idle: it completes at the end of the first spell there that
// lasts its minimum time; a shorter spell, a new instruction or a reset
// before then leaves the flash as it was.
class PendingOperation {
 public:
  // `what` names the operation in the report ("erase", "program row 12").
  void Arm(std::string what, std::uint64_t min_ns, std::function<void()> done);
  [[nodiscard]] bool Armed() const { return armed_; }
  // A spell in Run-Test/Idle ended: completes the operation or refuses it.
  void Idle(const IdleSpell& spell, Account& account);
  // Something else happened before any spell: the operation never ran.
  void Abandon(Account& account, const char* why);

 private:
  bool armed_ = false;
  std::string what_;
  std::uint64_t min_ns_ = 0;
  std::function<void()> done_;
};

// Operation times by name, with a board file's changes applied.
class Waits {
 public:
  Waits() = default;
  Waits(std::initializer_list<std::pair<const char*, std::uint64_t>> defaults_us,
        const std::vector<std::pair<std::string, std::uint64_t>>& overrides_us);
  [[nodiscard]] std::uint64_t Ns(const std::string& name) const;

 private:
  std::map<std::string, std::uint64_t> us_;
};

// The common frame of an in-system-programmable part: its name and IR, an
// IDCODE, a flash array that starts blank or holding another design, ISC
// mode, one pending operation and the account of the run. A family fills in
// its instructions.
class IscPart : public DeviceModel {
 public:
  // `reset_instruction`: what Test-Logic-Reset and power-on select, the
  // family's IDCODE instruction (all ones, BYPASS, for a part without one).
  IscPart(const jtag::KnownPart& part, const ModelChoice& choice, FlashArray flash, const char* unit,
          std::uint64_t reset_instruction);

  [[nodiscard]] unsigned IrLength() const override { return part_.ir_bits; }
  [[nodiscard]] std::optional<std::uint32_t> Idcode() const override;
  void PowerOn() override;
  void Reset() override;
  void Idle(const IdleSpell& spell) override { op_.Idle(spell, account_); }
  [[nodiscard]] std::vector<std::string> Report() const override { return account_.Lines(part_.name, unit_); }
  [[nodiscard]] std::size_t Refusals() const override { return account_.Refusals(); }
  void NewAccount() override { account_ = Account{}; }
  [[nodiscard]] std::string SaveState() const override { return flash_.Save(); }
  std::string RestoreState(const std::string& state) override;

  [[nodiscard]] const FlashArray& Flash() const { return flash_; }
  [[nodiscard]] const Account& Accounts() const { return account_; }

 protected:
  // After power-on and after a state was restored: volatile state from the flash.
  virtual void Settle() {}
  // Starts an operation that needs the wait called `wait` in Run-Test/Idle;
  // one armed before and not carried out is refused.
  void Start(std::string what, const std::string& wait, std::function<void()> done);
  // A new instruction: an operation still armed never ran.
  void NewInstruction() { op_.Abandon(account_, "another instruction came before Run-Test/Idle"); }

  const jtag::KnownPart& part_;
  ModelChoice choice_;
  FlashArray flash_;
  Account account_;
  PendingOperation op_;
  Waits waits_;
  bool isc_ = false;
  const std::uint64_t reset_instruction_;
  std::uint64_t instruction_ = reset_instruction_;

 private:
  const char* unit_;
};

// What a register of `length` bits holds after the scan, `before` being what
// it held: a scan shorter than the register moves the old bits down.
Bits AfterScan(const Bits& before, const DrScan& scan, std::size_t length);

// Bits from the low `n` bits of a number, and back (n <= 64).
Bits BitsOf(std::uint64_t value, std::size_t n);
std::uint64_t ValueOf(const Bits& bits, std::size_t from = 0, std::size_t n = 64);

}  // namespace tavrin::board
