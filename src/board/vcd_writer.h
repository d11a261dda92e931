// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <ostream>
#include <string>

namespace tavrin::board {

struct VcdOptions {
  // The text of $date. Empty: none is written (the file then depends on
  // nothing but the traffic); the command-line player passes the local time.
  std::string date;
  // The length of one time step, which is one byte driven onto the pins: a
  // VCD time unit, "1", "10" or "100" followed by s, ms, us, ns, ps or fs.
  // 1 us by default, a byte rate of 1 MHz, near what the chip reaches at its
  // fastest; the time axis counts bytes, not measured time.
  std::string timescale = "1 us";
};

// Writes the four JTAG signals (tck, tms, tdi, tdo) as a value change dump,
// streaming: nothing is kept but the last levels.
class VcdWriter {
 public:
  // The header and the levels at time 0. An unknown timescale falls back to "1 us".
  VcdWriter(std::ostream& out, const VcdOptions& options, bool tck, bool tms, bool tdi, bool tdo);
  VcdWriter(const VcdWriter&) = delete;
  VcdWriter& operator=(const VcdWriter&) = delete;
  ~VcdWriter();

  // The levels at this time step; only changes are written. Steps must not go back.
  void Sample(std::uint64_t step, bool tck, bool tms, bool tdi, bool tdo) {
    const unsigned levels = Pack(tck, tms, tdi, tdo);
    if (levels != last_) Write(step, levels);
  }
  // Marks the end of the trace at this step (so viewers show the last levels
  // for a while) and flushes. Later samples are ignored.
  void Finish(std::uint64_t step);

  static bool ValidTimescale(const std::string& timescale);

 private:
  static unsigned Pack(bool tck, bool tms, bool tdi, bool tdo) {
    return static_cast<unsigned>(tck) | static_cast<unsigned>(tms) << 1 | static_cast<unsigned>(tdi) << 2 |
           static_cast<unsigned>(tdo) << 3;
  }
  void Write(std::uint64_t step, unsigned levels);

  std::ostream& out_;
  unsigned last_ = 0;
  std::uint64_t last_step_ = 0;
  bool finished_ = false;
};

}  // namespace tavrin::board
