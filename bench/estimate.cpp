// SPDX-License-Identifier: Apache-2.0
// estimate: how long an SVF file would take on a real USB FT232R. Plays it
// through the real-adapter backend on the simulated chip, once for each
// host profile, and prints
//
//   estimated on a real FT232R (frame): 12.3 s
//   estimated on a real FT232R (fast): 4.1 s
//
// With --detail, a breakdown of each profile's time and USB traffic follows
// on standard error.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "player/estimate.h"
#include "board/board_spec.h"

namespace {

using tavrin::player::EstimateOptions;
using tavrin::player::EstimateResult;

int Usage(std::FILE* to) {
  std::fputs(
      "usage: estimate [--board FILE.json] [--standard] [--rate N] [--keep-going] [--strict] [--drop-in N]\n"
      "                [--detail] FILE.svf\n"
      "Plays the file on a simulated USB FT232R (the virtual board's chain on its pins)\n"
      "through the real-adapter backend, in simulated time, for the two host profiles:\n"
      "frame (every request waits for the next 1 ms frame) and fast (125 us grid).\n"
      "--strict: the chip takes OUT packets only into a whole free 64-byte slot and keeps\n"
      "its status bytes in its receive buffer; --drop-in N: every Nth IN packet is lost.\n",
      to);
  return 2;
}

void Detail(const EstimateResult& r, const char* profile) {
  const auto& u = r.usb;
  std::fprintf(stderr,
               "[%s] %.3f s, %llu statements; set-up %.3f s; control %.3f s, bulk out %.3f s, bulk in %.3f s "
               "(latency timer %.3f s), host %.3f s, sleeps %.3f s (%llu), polls %.3f s (%llu)\n",
               profile, r.seconds, static_cast<unsigned long long>(r.statements), r.setup_seconds, r.control_seconds,
               r.out_seconds, r.in_seconds, r.latency_seconds, r.host_seconds, r.sleep_seconds,
               static_cast<unsigned long long>(r.sleeps), r.poll_seconds, static_cast<unsigned long long>(r.polls));
  std::fprintf(stderr,
               "[%s] control requests %llu, bulk out %llu (%llu packets, %llu refused), bulk in %llu "
               "(%llu full, %llu short, %llu empty packets; %llu waited for the latency timer)\n",
               profile, static_cast<unsigned long long>(u.control_requests),
               static_cast<unsigned long long>(u.bulk_out), static_cast<unsigned long long>(u.out_packets),
               static_cast<unsigned long long>(u.out_refused), static_cast<unsigned long long>(u.bulk_in),
               static_cast<unsigned long long>(u.in_full_packets), static_cast<unsigned long long>(u.in_short_packets),
               static_cast<unsigned long long>(u.in_empty_packets), static_cast<unsigned long long>(u.latency_waits));
}

int Main(int argc, char** argv) {
  EstimateOptions options;
  tavrin::adapter::usbsim::ChipRules rules;
  bool detail = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--board" || arg == "--rate") {
      if (i + 1 >= argc) return Usage(stderr);
      const std::string value = argv[++i];
      if (arg == "--rate") {
        options.rate = value;
        continue;
      }
      auto loaded = tavrin::board::LoadBoardFile(value);
      if (!loaded.board) {
        std::fprintf(stderr, "estimate: %s\n", loaded.error.c_str());
        return 2;
      }
      options.board = *loaded.board;
    } else if (arg == "--standard") {
      options.standard_reading = true;
    } else if (arg == "--keep-going") {
      options.stop_on_failed_check = false;
    } else if (arg == "--strict") {
      rules.whole_out_slots = true;
      rules.status_in_rx = true;
    } else if (arg == "--drop-in" && i + 1 < argc) {
      rules.drop_every_nth_in = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--detail") {
      detail = true;
    } else if (arg.rfind('-', 0) == 0 || !options.svf_path.empty()) {
      return Usage(stderr);
    } else {
      options.svf_path = arg;
    }
  }
  if (options.svf_path.empty()) return Usage(stderr);

  bool completed = true;
  for (const char* name : {"frame", "fast"}) {
    options.profile = *tavrin::adapter::usbsim::ProfileByName(name);
    options.profile.chip = rules;
    const EstimateResult r = tavrin::player::Estimate(options);
    std::printf("%s\n", tavrin::player::EstimateLine(r, name).c_str());
    std::fflush(stdout);
    if (detail) Detail(r, name);
    if (r.outcome != tavrin::svf::RunOutcome::Completed) {
      completed = false;
      for (const std::string& m : r.messages) std::fprintf(stderr, "estimate: [%s] message: %s\n", name, m.c_str());
      std::fprintf(stderr, "estimate: [%s] the run did not complete; its log ends: %s\n", name,
                   r.last_log_line.c_str());
    }
  }
  return completed ? 0 : 1;
}

}  // namespace

// Exit status: 0 when the file played to its end in both profiles, 1 when a
// run ended early (the time is up to where it stopped), 2 for an unusable
// command line or board file.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "estimate: %s\n", e.what());
  } catch (...) {
    std::fputs("estimate: unexpected failure\n", stderr);
  }
  return 2;
}
