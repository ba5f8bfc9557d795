// What the control loop sends: the program's set-point, the checks it passes
// before it replaces the one in force, and the points it becomes.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "tarsel/control_loop.hpp"

namespace tarsel::loop {

enum class SetPointKind : std::uint32_t {
  kNone,               // never set: nothing is sent
  kHold,               // Hold(): zero velocity
  kJointVelocity,      // point type 8, every cycle
  kCartesianVelocity,  // point type 7, every cycle
  kJointPosition,      // point type 2, once
  kCartesianPosition,  // point type 1, once
};

// One set-point as the program gave it.
struct SetPoint {
  SetPointKind kind = SetPointKind::kNone;
  std::uint64_t generation = 0;                  // 1 for the first Set* or Hold, then counting
  std::chrono::steady_clock::time_point time{};  // when it was given
  std::array<float, 6> values{};                 // joints 1-6, or X, Y, Z, RotationX, Y, Z
};

inline bool IsVelocity(SetPointKind kind) {
  return kind == SetPointKind::kJointVelocity || kind == SetPointKind::kCartesianVelocity;
}

// Throws Error(2100) from where, naming the option out of range: rate not in
// (0, 1000], a negative watchdog, a speed limit not finite and above 0, or
// readouts with bits beyond the LoopReadout values.
void CheckOptions(const LoopOptions& options, const char* where);

// Each throws Error(2100) from where, naming the first value that is not
// finite or, for a velocity, beyond options' limit (the joint's, or the
// length of the linear or the angular part of a Cartesian velocity).
void CheckJointVelocity(const AngularInfo& v, const LoopOptions& options, const char* where);
void CheckCartesianVelocity(const CartesianInfo& v, const LoopOptions& options, const char* where);
void CheckJointPosition(const AngularInfo& degrees, const char* where);
void CheckCartesianPosition(const CartesianInfo& pose, const char* where);

// The set-point of kind with values a or c, given now.
SetPoint MakeSetPoint(SetPointKind kind, const AngularInfo& a);
SetPoint MakeSetPoint(SetPointKind kind, const CartesianInfo& c);

// The basic trajectory point that sends set (which is not kNone; kHold gives
// ZeroVelocity()); a position point takes fingers as its finger positions,
// so that it leaves the hand as it is.
TrajectoryPoint PointOf(const SetPoint& set, const FingersPosition& fingers);
// A joint velocity point of zero on every joint and finger.
TrajectoryPoint ZeroVelocity();

}  // namespace tarsel::loop
