// SPDX-License-Identifier: Apache-2.0

// MAX II and MAX V CPLDs (EPM240, EPM570, 5M40Z, 5M240Z).
//
// The flash is read and written in 16-bit words, erased to ones. An address
// shifted after 203 names where the next operation starts: the configuration
// flash, one of the two user-flash sectors or the silicon-ID words; reads
// (205) and programs (2F4) then step through the words one per scan, and an
// erase (2F2) clears the sector that the address names. The silicon-ID words
// are those of the known-parts table, as are the address lengths (13 or 14
// bits): an address of another length names nothing, so a file for the
// EPM570 reads no silicon ID on an EPM240 and the other way round.
//
// Inferred from the vendor files (no public document of the encoding):
// - the addresses below, and that only they name a region (the model keys
//   them; where a word address runs past its region, reads give ones);
// - the user flash runs on from its first sector into the second;
// - the waits: 500 ms after an erase and 100 us after each word, the same
//   time at every FREQUENCY the files use;
// - the 5M240Z has the geometry of the 5M40Z (the same die, other ID word).

#include <array>
#include <cstring>

#include "board/models/families.h"
#include "board/models/isc_core.h"

namespace tavrin::board {

namespace {

constexpr std::size_t kWordBits = 16;
constexpr std::size_t kUfmSectorWords = 256;
constexpr std::size_t kUfmWords = 2 * kUfmSectorWords;
constexpr std::size_t kIdWords = 5;

struct Geometry {
  const char* part;
  std::size_t cfm_words;      // configuration flash
  std::uint32_t cfm_address;  // ... and where it starts
  std::uint32_t ufm_address[2];  // the two user-flash sectors
  std::uint32_t id_address;   // the silicon-ID words
  std::size_t boundary_bits;  // SAMPLE/PRELOAD
};

constexpr Geometry kGeometry[] = {
    {"EPM240", 3328, 0x0000, {0x0001, 0x0011}, 0x0089, 240},
    {"EPM570", 6912, 0x0000, {0x0001, 0x0021}, 0x0111, 480},
    {"5M40Z", 3328, 0x0000, {0x0001, 0x0011}, 0x0089, 240},
    {"5M240Z", 3328, 0x0000, {0x0001, 0x0011}, 0x0089, 240},
};

enum Opcode : std::uint16_t {
  kSample = 0x005,
  kIscDisable = 0x201,
  kIscAddressShift = 0x203,
  kIscRead = 0x205,
  kIscEnable = 0x2CC,
  kIscErase = 0x2F2,
  kIscProgram = 0x2F4,
  kBypass = 0x3FF,
};

constexpr std::uint64_t kEraseUs = 500'000;
constexpr std::uint64_t kProgramUs = 100;

enum class Region : std::uint8_t { kNone, kCfm, kUfm, kId };

class MaxII final : public IscPart {
 public:
  MaxII(const jtag::KnownPart& part, const ModelChoice& choice, const Geometry& g)
      : IscPart(part, choice, FlashArray(g.cfm_words + kUfmWords, kWordBits, true), "words", kBypass),
        g_(g),
        address_bits_(part.id_address_bits) {
    waits_ = Waits({{"erase", kEraseUs}, {"program", kProgramUs}}, choice.waits_us);
    // "8232 2AA2 ..." as the files read them.
    const char* text = part.silicon_id != nullptr ? part.silicon_id : "";
    for (std::size_t i = 0; i < kIdWords; ++i) {
      while (*text == ' ') ++text;
      char* end = nullptr;
      id_[i] = static_cast<std::uint16_t>(std::strtoul(text, &end, 16));
      text = end;
    }
  }

  std::uint64_t CaptureIr() override { return 0x01; }

  void PowerOn() override {
    IscPart::PowerOn();
    address_ = 0;
    at_ = {};
  }

  void UpdateIr(std::uint64_t opcode) override {
    NewInstruction();
    instruction_ = opcode;
    switch (opcode) {
      case kIscEnable:
        isc_ = true;
        break;
      case kIscDisable:
        isc_ = false;
        break;
      case kIscErase:
        Erase();
        break;
      default:
        break;
    }
  }

  void CaptureDr(Bits& out) override {
    switch (instruction_) {
      case kIscAddressShift:
        Fill(out, address_, address_bits_);
        break;
      case kIscRead:
        Fill(out, isc_ ? WordAt(at_) : 0xFFFFU, kWordBits);
        break;
      case kIscProgram:
        Fill(out, 0xFFFFU, kWordBits);
        break;
      case kSample:
        out.assign(g_.boundary_bits, false);
        break;
      default:
        out.assign(1, false);
        break;
    }
  }

  void UpdateDr(const DrScan& scan) override {
    switch (instruction_) {
      case kIscAddressShift:
        LoadAddress(scan);
        break;
      case kIscRead:
        if (!isc_) {
          account_.Refused("read outside ISC mode");
          break;
        }
        account_.Read();
        ++at_.offset;
        break;
      case kIscProgram:
        Program(scan);
        break;
      default:
        break;
    }
  }

 private:
  struct Place {
    Region region = Region::kNone;
    std::size_t offset = 0;
  };

  static void Fill(Bits& out, std::uint64_t value, std::size_t n) {
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = ((value >> i) & 1U) != 0;
  }

  [[nodiscard]] Place PlaceOf(std::uint32_t address) const {
    if (address == g_.cfm_address) return {Region::kCfm, 0};
    if (address == g_.ufm_address[0]) return {Region::kUfm, 0};
    if (address == g_.ufm_address[1]) return {Region::kUfm, kUfmSectorWords};
    if (address == g_.id_address) return {Region::kId, 0};
    return {};
  }

  // The flash row of a place, or none (the silicon ID, no region, past its end).
  [[nodiscard]] std::optional<std::size_t> RowOf(const Place& p) const {
    if (p.region == Region::kCfm && p.offset < g_.cfm_words) return p.offset;
    if (p.region == Region::kUfm && p.offset < kUfmWords) return g_.cfm_words + p.offset;
    return std::nullopt;
  }

  [[nodiscard]] std::uint16_t WordAt(const Place& p) const {
    if (p.region == Region::kId) return p.offset < kIdWords ? id_[p.offset] : 0xFFFFU;
    const auto row = RowOf(p);
    return row ? static_cast<std::uint16_t>(ValueOf(flash_.Row(*row), 0, kWordBits)) : 0xFFFFU;
  }

  // A scan shorter than the register leaves the captured bits it did not
  // push out below the ones it shifted in.
  void LoadAddress(const DrScan& scan) {
    const std::size_t n = address_bits_;
    if (scan.shifted >= n) {
      address_ = static_cast<std::uint32_t>(ValueOf(scan.Last(n), 0, n));
    } else {
      const auto k = static_cast<std::size_t>(scan.shifted);
      const std::uint64_t in = ValueOf(scan.Last(k), 0, k);
      address_ = static_cast<std::uint32_t>(((address_ >> k) | (in << (n - k))) & ((std::uint64_t{1} << n) - 1));
    }
    at_ = PlaceOf(address_);
  }

  void Erase() {
    if (!isc_) {
      account_.Refused("erase outside ISC mode");
      return;
    }
    const Place p = PlaceOf(address_);
    std::size_t first = 0;
    std::size_t count = 0;
    const char* name = nullptr;
    if (p.region == Region::kCfm) {
      count = g_.cfm_words;
      name = "erase of the configuration flash";
    } else if (p.region == Region::kUfm) {
      first = g_.cfm_words + p.offset;
      count = kUfmSectorWords;
      name = p.offset == 0 ? "erase of user-flash sector 0" : "erase of user-flash sector 1";
    } else {
      account_.Refused("erase at address " + std::to_string(address_) + ", which names no erasable sector");
      return;
    }
    Start(name, "erase", [this, first, count] {
      for (std::size_t r = first; r < first + count; ++r) flash_.EraseRow(r);
      account_.Erased();
    });
  }

  void Program(const DrScan& scan) {
    const Place p = at_;
    ++at_.offset;
    if (scan.shifted < kWordBits) {
      account_.Refused("program scan of " + std::to_string(scan.shifted) + " bits, not 16");
      return;
    }
    if (!isc_) {
      account_.Refused("program outside ISC mode");
      return;
    }
    const auto row = RowOf(p);
    if (!row) {
      account_.Refused("program of a word at no flash address");
      return;
    }
    Start("program of word " + std::to_string(*row), "program", [this, r = *row, data = scan.Last(kWordBits)] {
      account_.Programmed();
      if (!flash_.Program(r, data)) {
        account_.Refused("program of word " + std::to_string(r) + ", which was not erased: cells stayed programmed");
      }
    });
  }

  const Geometry& g_;
  const std::size_t address_bits_;
  std::array<std::uint16_t, kIdWords> id_{};
  std::uint32_t address_ = 0;
  Place at_;
};

}  // namespace

std::unique_ptr<DeviceModel> MakeMaxII(const jtag::KnownPart& part, const ModelChoice& choice) {
  if (part.id_address_bits == 0 || part.id_address_bits > 16) return nullptr;
  for (const Geometry& g : kGeometry) {
    if (std::strcmp(g.part, part.name) == 0) return std::make_unique<MaxII>(part, choice, g);
  }
  return nullptr;
}

std::vector<std::string> MaxIIWaits() { return {"erase", "program"}; }

}  // namespace tavrin::board
