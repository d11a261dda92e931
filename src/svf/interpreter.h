// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/flags.h"
#include "common/ordered_log.h"
#include "common/window.h"
#include "jtag/engine.h"
#include "svf/reading.h"
#include "svf/words.h"

namespace tavrin::svf {

// The longest scan the player shifts, in bits: a longer one is reported and
// ends the run instead of allocating without bound.
inline constexpr std::int32_t kMaxScanBits = 1 << 26;
// The longest RUNTEST wait, in milliseconds.
inline constexpr std::uint32_t kMaxWaitMs = 10U * 60U * 1000U;

// Said when a file stops in the default reading at something that only
// standard SVF has (a "!" comment, header or trailer bits).
inline constexpr const char* kStandardSvfHint =
    "This file looks like standard SVF: --standard reads it so (in the window: the \"Standard SVF\" box).";

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
  void StartRun(const ReadingRules& rules = {});

  // Removes a final ";" from the caller's text, then interprets it.
  void ExecuteSvfStatement(std::string& statement);

  // With a log that keeps statement order, a scan whose answers decide
  // nothing (no TDO, or a MASK of zeros) does not wait for them: its report
  // takes its place in the log when they come. Scans with a check always
  // wait, so that a failed check stops the run before anything after it is
  // clocked. The log must be the window the engine and the interpreter
  // write to.
  void KeepOrderIn(OrderedLog* log) { ordered_ = log; }
  // Writes what is queued and waits for every answer, so that the log is
  // complete.
  void Settle() { (void)engine_.Sync(); }

  // The checks of the run so far (TDO compared), and the one that failed.
  struct FailedCheck {
    std::string expected;  // the TDO the file gives, as many digits as the length
    std::string got;       // what came back
    std::string mask;      // the mask the two were compared under
  };
  [[nodiscard]] std::uint64_t ChecksMade() const { return checks_made_; }
  [[nodiscard]] std::uint64_t ChecksPassed() const { return checks_passed_; }
  [[nodiscard]] const std::optional<FailedCheck>& LastFailedCheck() const { return failed_check_; }
  // The run stopped at something that only standard SVF has, read in the
  // default reading.
  [[nodiscard]] bool LooksLikeStandardSvf() const { return looks_standard_; }

  // A failed check stops the run; false: it is counted (ChecksMade less
  // ChecksPassed) and the run goes on, as an estimate of the whole file wants.
  bool stop_on_failed_check = true;

  std::string EndIrState = "IDLE";
  std::string EndDrState = "IDLE";

  std::int32_t max_scan_bits = kMaxScanBits;
  std::uint32_t max_wait_ms = kMaxWaitMs;

 private:
  // The commands that shift bits and remember values.
  enum Command : int { kSir, kSdr, kHir, kHdr, kTir, kTdr, kCommandCount };

  // The values a scan statement gives, as written: views into the words.
  struct Values {
    std::string_view tdi, smask, tdo, mask;
    bool has_tdi = false, has_smask = false, has_tdo = false, has_mask = false;
  };
  // What a command shifts and compares, each exactly as many digits as its
  // length needs: TDI after SMASK; with a check, the expected TDO and the
  // bits compared (no text when every bit is: care_all). Without a check
  // both are empty, and stand for zeros.
  struct Resolved {
    std::string tdi, tdo, care;
    bool check = false;
    bool care_all = false;
  };
  // What a command remembers for the next one while the length stays: TDI
  // (standard reading only) and SMASK, empty when none was given, and the
  // MASK, which is all ones (no text) unless one was given.
  struct Remembered {
    std::int64_t length = -1;
    std::string tdi, smask, mask;
    bool mask_all = true;
  };
  // Header and trailer bits in effect (standard reading).
  struct Padding {
    std::int64_t length = 0;
    Resolved bits;
  };
  // A scan whose report waits for its answers (see KeepOrderIn).
  struct Queued {
    std::uint64_t id = 0;
    OrderedLog::Slot slot = 0;
    std::int64_t total = 0;
    Resolved all;
  };

  // SIR and SDR: walk, shift, report and verify.
  void ExecuteScanStatement(const Words& words);
  void BailOut(std::string_view line);
  void HeaderTrailer(const Words& words);
  void RunTest(const Words& words);
  // RUNTEST in the standard reading, once read.
  void RunTestClocks(std::string_view given_state, std::string_view count_word, bool tck, double count,
                     std::string_view time_word, double seconds, std::string_view end_state);
  void State(const Words& words);
  bool EndState(const Words& words, std::string& state);
  // Waits on the clock; false when the run was stopped meanwhile.
  bool Wait(std::uint32_t ms);
  // The value given after a scan keyword, or a bail-out (false).
  bool ScanValue(const Words& words, std::size_t keyword, std::string_view& value);
  // The length of a scan or header (word 1), or a bail-out.
  bool ScanLength(const Words& words, std::int64_t& length);
  // The keywords and values from word 2 on, or a bail-out.
  bool ScanValues(const Words& words, Values& values);
  // The values a command shifts, with what it remembers applied and
  // updated, or a bail-out.
  bool Resolve(Command command, std::int64_t length, const Values& given, Resolved& out);
  // The log lines of a finished scan, added to `lines`, with the check
  // counted and a failed one recorded (the run stops).
  void Report(const Resolved& all, std::int64_t total, std::string_view captured, LogLines& lines);
  // A queued scan's answers have come (or it was cut).
  void FinishQueued(std::uint64_t id, std::string_view captured, bool cut);

  ReadingRules rules_;
  Remembered remembered_[kCommandCount];
  Padding padding_[4];  // HIR, HDR, TIR, TDR
  double frequency_hz_ = 1e6;
  std::string run_state_ = "IDLE";
  std::string run_end_state_ = "IDLE";
  std::uint64_t checks_made_ = 0;
  std::uint64_t checks_passed_ = 0;
  std::optional<FailedCheck> failed_check_;
  bool looks_standard_ = false;

  // Kept from statement to statement for their memory.
  Words words_;
  LogLines scan_lines_;    // the report of a scan that waited for its answers
  LogLines queued_lines_;  // the report of a queued scan
  std::string fitted_, expected_, result_, shifted_;
  // Queued scans from queued_head_ on, oldest first.
  std::vector<Queued> queued_;
  std::size_t queued_head_ = 0;
  std::uint64_t next_queued_id_ = 0;

  jtag::Engine& engine_;
  Window& window_;
  OrderedLog* ordered_ = nullptr;
  RunFlags& flags_;
  Clock& clock_;
};

}  // namespace tavrin::svf
