// SPDX-License-Identifier: Apache-2.0

// SRAM FPGAs configured over JTAG: Cyclone 10 LP (10CL025) and Spartan-6
// (XC6SLX9, XC6SLX16). Their "flash" is the configuration memory: an
// instruction clears it (PROGRAM, JPROGRAM), the clearing needs time in
// Run-Test/Idle (the wait the vendor files give it), then one long data scan
// carries the bitstream. A bitstream that arrives whole makes DONE true; one
// that is cut short, lacks its preamble or sync word, or names another part,
// does not. Neither model checks the frames' CRCs: a bit flipped inside the
// frame data goes unnoticed here.
//
// Cyclone 10 LP: instructions PROGRAM 002, STARTUP 003, CHECK_STATUS 004,
// IDCODE 006, USERCODE 007, BYPASS 3FF. Inferred from its vendor file: the
// bitstream is a run of ones, the preamble byte 6A (first bit shifted
// first) and data; CONF_DONE is bit 286 of the 732-bit CHECK_STATUS
// register; it rises once 5,747,824 bits from the preamble on have arrived
// (the file's data up to its trailing padding); the clearing after PROGRAM
// needs the file's 12,000 TCK at 12 MHz, 1 ms.
//
// Spartan-6: instructions CFG_IN 05, USERCODE 08, IDCODE 09, JPROGRAM 0B,
// JSTART 0C, BYPASS 3F; the instruction capture holds ISC_DONE (bit 2),
// INIT_B (bit 4) and DONE (bit 5). The bitstream is 16-bit words, first bit
// shifted the word's top bit, synchronised by AA995566, in type-1 packets
// (type, operation, register, count) and a type-2 packet with a 32-bit count
// for the frame data; the IDCODE register write must name the part (version
// aside); the START command, then JSTART and 16 TCK clocked in
// Run-Test/Idle (the startup sequence runs on TCK), raise DONE: the file is
// played in the standard reading, where RUNTEST clocks TCK. The clearing
// after JPROGRAM gets the file's 10,000 TCK, 10 ms; the model asks 9.9 ms of
// Run-Test/Idle, as a
// RUNTEST's time counts from the statement's start, a few TCK before
// Run-Test/Idle is reached. Inferred from the vendor file: two words of CRC
// follow the frame data.

#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

// What the two families share: the clearing, DONE, the account.
class SramFpga : public DeviceModel {
 public:
  SramFpga(const jtag::KnownPart& part, const ModelChoice& choice, std::uint64_t clear_us)
      : part_(part), boots_a_design_(!choice.blank), waits_({{"clear", clear_us}}, choice.waits_us) {
    done_ = boots_a_design_;
  }

  [[nodiscard]] unsigned IrLength() const override { return part_.ir_bits; }
  [[nodiscard]] std::optional<std::uint32_t> Idcode() const override { return part_.idcode; }
  void PowerOn() override {
    // The configuration memory forgets everything; a board whose boot memory
    // holds another design loads it.
    done_ = boots_a_design_;
    clear_left_ns_ = 0;
    instruction_ = reset_instruction_;
    NewConfiguration();
  }
  // Test-Logic-Reset selects the IDCODE.
  void Reset() override { instruction_ = reset_instruction_; }
  void Idle(const IdleSpell& spell) override {
    clear_left_ns_ -= std::min(clear_left_ns_, spell.nanos);
  }
  [[nodiscard]] std::vector<std::string> Report() const override {
    auto lines = account_.Lines(part_.name, "bitstreams");
    lines.insert(lines.begin() + 1, std::string(part_.name) + (done_ ? ": configured, DONE high" : ": not configured"));
    return lines;
  }
  [[nodiscard]] std::size_t Refusals() const override { return account_.Refusals(); }
  void NewAccount() override { account_ = Account{}; }
  // The configuration memory is volatile: nothing lasts.
  [[nodiscard]] std::string SaveState() const override { return {}; }
  std::string RestoreState(const std::string& state) override {
    return state.empty() ? std::string{} : "an SRAM FPGA keeps no state";
  }

 protected:
  // The clearing instruction: DONE falls, the memory needs the clear wait.
  void Clear() {
    done_ = false;
    clear_left_ns_ = waits_.Ns("clear");
    account_.Erased();
    NewConfiguration();
  }
  virtual void NewConfiguration() = 0;

  // True when the scan may be taken as bitstream; refuses it otherwise.
  bool Ready(const DrScan& scan) {
    if (clear_left_ns_ > 0) {
      account_.Refused("bitstream shifted while the configuration memory was still clearing");
      return false;
    }
    if (scan.shifted > scan.in.size()) {
      account_.Refused("bitstream longer than the " + std::to_string(kMaxRecordedScanBits) + " bits kept of a scan");
      return false;
    }
    return true;
  }

  void Configured() {
    if (!done_) account_.Programmed();
    done_ = true;
  }

  const jtag::KnownPart& part_;
  bool boots_a_design_;
  Waits waits_;
  Account account_;
  bool done_ = false;
  std::uint64_t clear_left_ns_ = 0;
  std::uint64_t instruction_ = 0;
  std::uint64_t reset_instruction_ = 0;
};

// ---- Cyclone 10 LP ----

struct CycloneFacts {
  std::uint16_t program, startup, check_status, idcode, usercode;
  std::size_t status_bits, conf_done_bit;
  std::uint8_t preamble;
  std::uint64_t config_bits;  // from the preamble on
  std::uint64_t clear_us;
};

constexpr CycloneFacts kCyclone{0x002, 0x003, 0x004, 0x006, 0x007, 732, 286, 0x6A, 5'747'824, 1'000};

class Cyclone10Lp final : public SramFpga {
 public:
  Cyclone10Lp(const jtag::KnownPart& part, const ModelChoice& choice) : SramFpga(part, choice, kCyclone.clear_us) {
    reset_instruction_ = instruction_ = kCyclone.idcode;
  }

  std::uint64_t CaptureIr() override { return 0x155; }  // the family's usual 0101010101

  void UpdateIr(std::uint64_t opcode) override {
    instruction_ = opcode;
    if (opcode == kCyclone.program) Clear();
  }

  void CaptureDr(Bits& out) override {
    if (instruction_ == kCyclone.idcode) {
      out = BitsOf(part_.idcode, 32);
    } else if (instruction_ == kCyclone.usercode) {
      out = BitsOf(0xFFFFFFFFU, 32);
    } else if (instruction_ == kCyclone.check_status) {
      out.assign(kCyclone.status_bits, false);
      out[kCyclone.conf_done_bit] = done_;
    } else {
      out.assign(1, false);
    }
  }

  void UpdateDr(const DrScan& scan) override {
    if (instruction_ != kCyclone.program || !Ready(scan)) return;
    std::size_t i = 0;
    if (!synced_) {
      // Ones until the preamble, whose first bit is a zero.
      while (i < scan.in.size() && scan.in[i]) ++i;
      if (i + 8 > scan.in.size()) return;
      if (ValueOf(scan.in, i, 8) != kCyclone.preamble) {
        account_.Refused("bitstream without its preamble");
        return;
      }
      synced_ = true;
    }
    received_ += scan.in.size() - i;
    if (received_ >= kCyclone.config_bits) Configured();
  }

 private:
  void NewConfiguration() override {
    synced_ = false;
    received_ = 0;
  }

  bool synced_ = false;
  std::uint64_t received_ = 0;
};

// ---- Spartan-6 ----

struct SpartanFacts {
  std::uint8_t cfg_in, usercode, idcode, jprogram, jstart;
  std::uint32_t sync;
  unsigned reg_fdri, reg_cmd, reg_idcode;
  std::uint16_t cmd_start, cmd_desync;
  unsigned crc_words_after_frames;
  std::uint64_t startup_clocks;
  std::uint64_t clear_us;
  unsigned ir_isc_done, ir_init, ir_done;
};

constexpr SpartanFacts kSpartan{0x05, 0x08, 0x09,   0x0B, 0x0C, 0xAA995566U, 3, 5, 14, 0x0005, 0x000D,
                                2,    16,   9'900,  2,    4,    5};

class Spartan6 final : public SramFpga {
 public:
  Spartan6(const jtag::KnownPart& part, const ModelChoice& choice) : SramFpga(part, choice, kSpartan.clear_us) {
    reset_instruction_ = instruction_ = kSpartan.idcode;
  }

  std::uint64_t CaptureIr() override {
    const bool init = clear_left_ns_ == 0 && !error_;
    return 0x01U | (done_ ? 1U << kSpartan.ir_isc_done : 0U) | (init ? 1U << kSpartan.ir_init : 0U) |
           (done_ ? 1U << kSpartan.ir_done : 0U);
  }

  void UpdateIr(std::uint64_t opcode) override {
    instruction_ = opcode;
    startup_clocks_ = 0;
    if (opcode == kSpartan.jprogram) Clear();
  }

  void CaptureDr(Bits& out) override {
    if (instruction_ == kSpartan.idcode) {
      out = BitsOf(part_.idcode, 32);
    } else if (instruction_ == kSpartan.usercode) {
      out = BitsOf(0xFFFFFFFFU, 32);
    } else {
      out.assign(1, false);
    }
  }

  void UpdateDr(const DrScan& scan) override {
    if (instruction_ != kSpartan.cfg_in || !Ready(scan)) return;
    for (const bool bit : scan.in) Feed(bit);
  }

  void Idle(const IdleSpell& spell) override {
    SramFpga::Idle(spell);
    if (instruction_ != kSpartan.jstart || !start_) return;
    startup_clocks_ += spell.clocks;
    if (startup_clocks_ >= kSpartan.startup_clocks) Configured();
  }

 private:
  enum class Expect : std::uint8_t { Header, Count, Data, Crc };

  void NewConfiguration() override {
    synced_ = false;
    window_ = 0;
    bits_ = 0;
    expect_ = Expect::Header;
    error_ = false;
    start_ = false;
  }

  void Feed(bool bit) {
    window_ = (window_ << 1U) | (bit ? 1U : 0U);
    if (!synced_) {
      if (window_ == kSpartan.sync) {
        synced_ = true;
        bits_ = 0;
        expect_ = Expect::Header;
      }
      return;
    }
    if (++bits_ == 16) {
      bits_ = 0;
      Word(static_cast<std::uint16_t>(window_ & 0xFFFFU));
    }
  }

  void Word(std::uint16_t w) {
    switch (expect_) {
      case Expect::Header: {
        const unsigned type = w >> 13U;
        const unsigned op = (w >> 11U) & 3U;
        reg_ = (w >> 5U) & 0x3FU;
        if (type == 1) {
          if (op == 2 && (w & 0x1FU) != 0) Await(Expect::Data, w & 0x1FU);
        } else if (type == 2) {
          Await(Expect::Count, 2);
        } else {
          Fail("a bitstream word that is no packet header");
        }
        value_ = 0;
        break;
      }
      case Expect::Count:
        count_ = (count_ << 16U) | w;
        if (--left_ == 0) Await(Expect::Data, count_);
        break;
      case Expect::Data:
        value_ = (value_ << 16U) | w;
        if (--left_ == 0) Written();
        break;
      case Expect::Crc:
        if (--left_ == 0) expect_ = Expect::Header;
        break;
    }
  }

  void Await(Expect what, std::uint64_t words) {
    expect_ = what;
    left_ = words;
    count_ = 0;
    if (words == 0) expect_ = Expect::Header;
  }

  void Written() {
    expect_ = Expect::Header;
    if (reg_ == kSpartan.reg_fdri) {
      Await(Expect::Crc, kSpartan.crc_words_after_frames);
    } else if (reg_ == kSpartan.reg_idcode) {
      if (((value_ ^ part_.idcode) & 0x0FFFFFFFU) != 0) Fail("a bitstream for another part (its IDCODE differs)");
    } else if (reg_ == kSpartan.reg_cmd) {
      if (value_ == kSpartan.cmd_start && !error_) start_ = true;
      if (value_ == kSpartan.cmd_desync) synced_ = false;
    }
  }

  void Fail(const std::string& why) {
    if (!error_) account_.Refused(why);
    error_ = true;
    synced_ = false;
  }

  bool synced_ = false;
  std::uint32_t window_ = 0;
  unsigned bits_ = 0;
  Expect expect_ = Expect::Header;
  unsigned reg_ = 0;
  std::uint64_t left_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t value_ = 0;
  bool error_ = false;
  bool start_ = false;
  std::uint64_t startup_clocks_ = 0;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeCyclone10Lp(const jtag::KnownPart& part, const ModelChoice& choice) {
  return std::make_unique<Cyclone10Lp>(part, choice);
}
std::vector<std::string> Cyclone10LpWaits() { return {"clear"}; }

std::unique_ptr<DeviceModel> MakeSpartan6(const jtag::KnownPart& part, const ModelChoice& choice) {
  return std::make_unique<Spartan6>(part, choice);
}
std::vector<std::string> Spartan6Waits() { return {"clear"}; }

}  // namespace tavrin::board
