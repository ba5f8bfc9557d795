// What trajectory points and joystick samples do to the simulated arm.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "arm_state.h"

namespace tarsel::sim {

// The arm refuses a command that carries a value which is no finite number.
inline bool Finite(float v) {
  return std::isfinite(v);
}

template <std::size_t N>
bool AllFinite(const std::array<float, N>& values) {
  return std::all_of(values.begin(), values.end(), Finite);
}

// A trajectory point in the full form (300; its limits apply) or the basic
// form (308): queued, or a velocity command, by its Type.
Outcome SendFullPoint(const Bytes& payload, ArmState& s);
Outcome SendBasicPoint(const Bytes& payload, ArmState& s);

// A joystick sample (305): buttons and axes, as a velocity command.
Outcome JoystickSample(const Bytes& payload, ArmState& s);

}  // namespace tarsel::sim
