// The clock of a full-speed USB bus, as the simulated arms keep it when told
// to (tarsel-sim-usb --bus-clock, tarsel-sim --bus-clock, DeviceOptions):
// time runs in frames of 1 ms, and an interrupt endpoint has a transaction
// only at the start of a frame whose number is a multiple of its polling
// interval (bInterval, in frames). Frames are counted from the epoch of the
// monotonic clock (std::chrono::steady_clock, CLOCK_MONOTONIC), so every
// process on the machine counts the same frames. sim/README.md ("Time on
// the bus") describes the model and what it leaves out.
//
// Header only: the standing simulator uses it without the virtual bus.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarsel::vusb {

using BusClock = std::chrono::steady_clock;

// The length of a full-speed frame.
inline constexpr std::chrono::nanoseconds kFrame = std::chrono::milliseconds(1);

// The polling interval (bInterval, frames) the arm's endpoints announce
// unless told otherwise: every frame.
inline constexpr int kDefaultInterval = 1;

// The number of the frame t falls in.
inline std::int64_t FrameOf(BusClock::time_point t) {
  const std::int64_t ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  const std::int64_t frame = kFrame.count();
  // Rounded down for times before the epoch too.
  return ns >= 0 ? ns / frame : -((-ns + frame - 1) / frame);
}

// When frame starts.
inline BusClock::time_point FrameStart(std::int64_t frame) {
  return BusClock::time_point(
      std::chrono::duration_cast<BusClock::duration>(kFrame * frame));
}

// The first frame start strictly after t whose frame number is a multiple of
// interval (taken as 1 when below 1): when an endpoint polled every interval
// frames next has a transaction.
inline BusClock::time_point NextPoll(BusClock::time_point t, int interval) {
  const std::int64_t every = interval < 1 ? 1 : interval;
  const std::int64_t next = FrameOf(t) + 1;
  const std::int64_t rest = ((next % every) + every) % every;
  return FrameStart(rest == 0 ? next : next + every - rest);
}

}  // namespace tarsel::vusb
