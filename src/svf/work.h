// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "svf/reading.h"
#include "svf/words.h"

namespace tavrin::svf {

// What statements cost a run: how many there are, the TCK clocks of their
// scans and RUNTEST, and the time RUNTEST waits besides its clocks.
struct Work {
  std::uint64_t statements = 0;
  std::uint64_t clocks = 0;
  std::uint64_t wait_us = 0;

  Work& operator+=(const Work& other) {
    statements += other.statements;
    clocks += other.clocks;
    wait_us += other.wait_us;
    return *this;
  }
};

// A second of waiting weighs as much as this many clocks on the progress
// bar: about what a bit-bang run clocks in a second on a real FT232R at
// full speed, so that the bar moves at an even pace through scans and
// waits alike.
inline constexpr std::uint64_t kClocksPerWaitSecond = 100'000;

// The progress bar's measure of work: one for each statement, one for
// each clock, and the waits as clocks.
std::uint64_t WorkUnits(const Work& work);

// The work of each statement of a file, read in order as the interpreter
// reads it: a scan counts its bits (with the header and trailer bits in the
// standard reading), RUNTEST its clocks and its wait (at the FREQUENCY in
// the standard reading). Only the first words of a scan are looked at. A
// statement the interpreter refuses counts as it is written; the run stops
// there anyway.
class WorkCounter {
 public:
  explicit WorkCounter(const ReadingRules& rules) : rules_(rules) {}
  // The statement as gathered, with or without its ";".
  Work Of(std::string_view statement);

 private:
  // Splits the first words of a statement, upper-cased: what comes before
  // its first value in parentheses, and no more than a short line of it (a
  // scan of millions of bits is not read whole).
  const Words& LeadingWords(std::string_view statement);

  ReadingRules rules_;
  Words words_;  // kept for its memory
  std::uint64_t padding_[4] = {};  // HIR, HDR, TIR, TDR
  double frequency_hz_ = 1e6;
};

// How long the rest of a run takes at the pace so far: the waits left take
// their own time, the rest (clocks and statements) goes as fast as it has
// gone in the time not spent waiting. None until `active_seconds` (the run's
// time, less any time spent waiting for the operator) reaches
// kSecondsBeforeEstimate and some of that rest has been done.
inline constexpr double kSecondsBeforeEstimate = 2.0;
std::optional<double> SecondsLeft(const Work& done, const Work& total, double active_seconds);

// "about 45 s left", "about 3 min 20 s left", "about 2 h 5 min left".
std::string TimeLeftText(double seconds);

}  // namespace tavrin::svf
