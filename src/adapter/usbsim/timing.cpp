// SPDX-License-Identifier: Apache-2.0

#include "adapter/usbsim/timing.h"

namespace tavrin::adapter::usbsim {

namespace {

// What both profiles share: the computer, not its USB controller.
HostProfile Computer(std::string name, Ticks grid, Ticks control) {
  HostProfile p;
  p.name = std::move(name);
  p.grid = grid;
  p.control = control;
  // libusb's completion wakes the waiting thread, which hands the result up
  // through libftdi and the backend and makes its next call.
  p.turnaround = Us(25);
  // sleep_for(200 us) under Linux' default 50 us timer slack, and the wake-up.
  p.sleep_brief = Us(250);
  p.sleep_overshoot = Us(60);
  p.list = Us(2000);
  p.open = Us(10000);
  return p;
}

}  // namespace

// A control request (set-up, status and at most a few data bytes) is done
// early in its frame; the next request waits for the frame after.
HostProfile FrameProfile() { return Computer("frame", Us(1000), Us(200)); }

// Set-up and status stages in two micro-frames: with the turnaround, one
// control request after another takes 0.25 ms each.
HostProfile FastProfile() { return Computer("fast", Us(125), Us(225)); }

std::optional<HostProfile> ProfileByName(std::string_view name) {
  if (name == "frame") return FrameProfile();
  if (name == "fast") return FastProfile();
  return std::nullopt;
}

}  // namespace tavrin::adapter::usbsim
