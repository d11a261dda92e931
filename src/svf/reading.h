// SPDX-License-Identifier: Apache-2.0

#pragma once

namespace tavrin::svf {

// How a file is read. The default reading is the player's own; the
// standard reading is that of standard SVF (revision E). Both go through
// the same gatherer and interpreter: these switches are all that differs.
struct ReadingRules {
  // "!" and "//" begin a comment wherever a blank may stand.
  bool comments_anywhere = false;
  // HIR, HDR, TIR and TDR of any length, shifted around every scan.
  bool headers_and_trailers = false;
  // TDI and SMASK carry over to the next scan of the same command while the
  // length stays the same (MASK always does).
  bool remember_values = false;
  // RUNTEST clocks TCK in the run state, and remembers its states.
  bool runtest_clocks = false;
  // ENDIR, ENDDR and the end of a STATE path take stable states only; TRST
  // takes its four words; PIO and PIOMAP are refused by name.
  bool strict_statements = false;
  // A scan begins with a fresh Capture: from a Pause state it goes through
  // Update first, as standard SVF's state paths do.
  bool scans_capture_anew = false;

  static ReadingRules Standard() { return {true, true, true, true, true, true}; }
};

}  // namespace tavrin::svf
