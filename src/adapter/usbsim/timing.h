// SPDX-License-Identifier: Apache-2.0

#pragma once
// Simulated time and what things cost on it, for the simulated USB FT232R.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::adapter::usbsim {

// Simulated time, in the finest step of the chip's baud generator: one
// eighth of a period of its 48 MHz clock (1/384 us). A bit-bang byte at the
// chip's fastest, 3 MHz, is 128 ticks.
using Ticks = std::uint64_t;
inline constexpr Ticks kTicksPerUs = 384;
inline constexpr Ticks kTicksPerMs = 1000 * kTicksPerUs;
constexpr Ticks Us(std::uint64_t us) { return us * kTicksPerUs; }
constexpr double Seconds(Ticks t) { return static_cast<double>(t) / (1e6 * kTicksPerUs); }

// How strict the chip is about its FIFOs, and whether IN packets get lost.
// The defaults are the chip as the estimate has always modelled it.
struct ChipRules {
  // An OUT packet goes only into a whole free 64-byte slot of the 128-byte
  // transmit FIFO: it is refused (NAK) unless 64 bytes are free, however
  // short it is.
  bool whole_out_slots = false;
  // The two status bytes of every IN packet wait in the 256-byte receive
  // buffer with its answers: 4 packets of 62 answers fill it, 248 in all.
  bool status_in_rx = false;
  // Every n-th IN packet that carries answers is lost on its way to the
  // host (some clone chips on some hosts); 0: none is.
  std::uint32_t drop_every_nth_in = 0;
};

// How the computer and its USB host controller spend time around the chip.
//
// A request (a control request, or one bulk transfer in either direction)
// starts on the host controller's grid: at the first grid point at or after
// the moment it is issued. Once started, its packets follow one another at
// bus speed; an IN or OUT packet the chip refuses (NAK) is tried again until
// it goes through. When a request is complete, the calling thread needs
// `turnaround` to see that and issue its next call.
struct HostProfile {
  std::string name;
  Ticks grid = 0;        // requests start on this grid (> 0)
  Ticks control = 0;     // a control request, from its start to its completion
  Ticks turnaround = 0;  // from a request's completion to the caller's next call
  // The computer's sleeps: Clock::SleepBriefly (the player asks for 200 us;
  // the timer slack and the wake-up come on top), and what every
  // Clock::SleepMs sleeps beyond the milliseconds asked.
  Ticks sleep_brief = 0;
  Ticks sleep_overshoot = 0;
  // Host-side work outside USB requests: scanning the bus, and opening a
  // device (the kernel's serial driver is detached, the interface claimed).
  Ticks list = 0;
  Ticks open = 0;
  // The chip on this host.
  ChipRules chip;
};

// Every request waits for the next 1 ms frame (a full-speed port on an
// OHCI or UHCI controller, or any host that polls once a frame).
HostProfile FrameProfile();
// Requests on the 125 us micro-frame grid; a control request costs 0.25 ms
// (a full-speed port on an EHCI or xHCI controller at its best).
HostProfile FastProfile();
// "frame" or "fast"; nothing for another name.
std::optional<HostProfile> ProfileByName(std::string_view name);

}  // namespace tavrin::adapter::usbsim
