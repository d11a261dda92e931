#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/flags.h"
#include "common/window.h"
#include "jtag/engine.h"

namespace tavrin::svf {

// The longest scan the player shifts, in bits: a longer one is reported and
// ends the run instead of allocating without bound.
inline constexpr std::int32_t kMaxScanBits = 1 << 26;
// The longest RUNTEST wait, in milliseconds.
inline constexpr std::uint32_t kMaxWaitMs = 10U * 60U * 1000U;

// The words of a statement. Blanks and tabs separate words. A "(" begins a
// value that runs to the next ")", and is one word: "(" then its text with
// blanks and tabs removed, then ")" (missing when the text has none).
// So "TDI(0F)" gives "TDI" and "(0F)", and "( 0F 12 )" gives "(0F12)".
std::vector<std::string> StatementWords(std::string_view text);

// Digit-by-digit AND of two hexadecimal texts aligned at their left ends;
// missing or non-hexadecimal characters count as 0.
std::string MaskHexDigits(std::string_view a, std::string_view b, std::size_t positions);

// Carries out one SVF statement at a time.
class Interpreter {
 public:
  Interpreter(jtag::Engine& engine, Window& window, RunFlags& flags, Clock& clock)
      : engine_(engine), window_(window), flags_(flags), clock_(clock) {}

  // A run begins: what scans remember (the last MASK of each kind) is
  // forgotten. The end states are kept.
  void StartRun();

  // Removes a final ";" from the caller's text, then interprets it.
  void ExecuteSvfStatement(std::string& statement);
  // SIR and SDR: walk, shift, report and verify.
  void ExecuteScanStatement(const std::vector<std::string>& words);

  // The checks of the run so far (TDO compared), and the one that failed.
  struct FailedCheck {
    std::string expected;  // the TDO the file gives, as many digits as the length
    std::string got;       // what came back
    std::string mask;      // the mask the two were compared under
  };
  [[nodiscard]] std::uint64_t ChecksMade() const { return checks_made_; }
  [[nodiscard]] std::uint64_t ChecksPassed() const { return checks_passed_; }
  [[nodiscard]] const std::optional<FailedCheck>& LastFailedCheck() const { return failed_check_; }

  std::string EndIrState = "IDLE";
  std::string EndDrState = "IDLE";

  std::int32_t max_scan_bits = kMaxScanBits;
  std::uint32_t max_wait_ms = kMaxWaitMs;

 private:
  void BailOut(const std::string& line);
  void HeaderTrailer(const std::vector<std::string>& words);
  void RunTest(const std::vector<std::string>& words);
  void State(const std::vector<std::string>& words);
  // Waits on the clock; false when the run was stopped meanwhile.
  bool Wait(std::uint32_t ms);
  // The value given after a scan keyword, or a bail-out (false).
  bool ScanValue(const std::vector<std::string>& words, std::size_t keyword, std::string& value);

  // The MASK that a scan of one kind (0 SIR, 1 SDR) without MASK compares
  // under: the last one given, while the length stays the same.
  struct RememberedMask {
    std::int64_t length = -1;
    std::string digits;  // empty: all ones
  };
  RememberedMask last_mask_[2];
  std::uint64_t checks_made_ = 0;
  std::uint64_t checks_passed_ = 0;
  std::optional<FailedCheck> failed_check_;

  jtag::Engine& engine_;
  Window& window_;
  RunFlags& flags_;
  Clock& clock_;
};

}  // namespace tavrin::svf
