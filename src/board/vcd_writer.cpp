// SPDX-License-Identifier: Apache-2.0

#include "board/vcd_writer.h"

#include <charconv>

namespace tavrin::board {

namespace {
// Identifier codes of tck, tms, tdi and tdo: printable, and none of them
// '#' or '$', which readers might take for a time or a keyword.
constexpr char kIds[4] = {'!', '"', '%', '&'};
constexpr const char* kNames[4] = {"tck", "tms", "tdi", "tdo"};
}  // namespace

bool VcdWriter::ValidTimescale(const std::string& timescale) {
  for (const char* number : {"1", "10", "100"}) {
    for (const char* unit : {"s", "ms", "us", "ns", "ps", "fs"}) {
      if (timescale == std::string(number) + " " + unit) return true;
    }
  }
  return false;
}

VcdWriter::VcdWriter(std::ostream& out, const VcdOptions& options, bool tck, bool tms, bool tdi, bool tdo)
    : out_(out), last_(Pack(tck, tms, tdi, tdo)) {
  if (!options.date.empty()) out_ << "$date\n\t" << options.date << "\n$end\n";
  out_ << "$version\n\ttavrin virtual board\n$end\n";
  out_ << "$comment\n\tone time step per byte driven onto the chip's pins\n$end\n";
  out_ << "$timescale " << (ValidTimescale(options.timescale) ? options.timescale : std::string("1 us"))
       << " $end\n";
  out_ << "$scope module jtag $end\n";
  for (std::size_t i = 0; i < 4; ++i) out_ << "$var wire 1 " << kIds[i] << ' ' << kNames[i] << " $end\n";
  out_ << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
  for (std::size_t i = 0; i < 4; ++i) out_ << (((last_ >> i) & 1U) != 0 ? '1' : '0') << kIds[i] << '\n';
  out_ << "$end\n";
}

VcdWriter::~VcdWriter() {
  try {
    if (!finished_) out_.flush();
  } catch (...) {  // a stream set to throw must not end the program here
  }
}

void VcdWriter::Write(std::uint64_t step, unsigned levels) {
  if (finished_ || step < last_step_) return;
  // "#<step>\n" and up to four "<level><id>\n" in one write.
  char buf[40];
  char* p = buf;
  *p++ = '#';
  p = std::to_chars(p, buf + 24, step).ptr;
  *p++ = '\n';
  const unsigned changed = levels ^ last_;
  for (unsigned i = 0; i < 4; ++i) {
    if (((changed >> i) & 1U) == 0) continue;
    *p++ = ((levels >> i) & 1U) != 0 ? '1' : '0';
    *p++ = kIds[i];
    *p++ = '\n';
  }
  out_.write(buf, p - buf);
  last_ = levels;
  last_step_ = step;
}

void VcdWriter::Finish(std::uint64_t step) {
  if (finished_) return;
  if (step > last_step_) out_ << '#' << step << '\n';
  out_.flush();
  finished_ = true;
}

}  // namespace tavrin::board
