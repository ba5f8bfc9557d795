// What trajectory points and joystick samples do to the simulated arm, and
// how a written payload is read.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "arm_state.h"
#include "core/form.h"

namespace tarsel::sim {

// The record payload carries in form F; what is missing reads as zero.
template <class Record, class F = tarsel::Form<Record>>
Record Read(const Bytes& payload) {
  Record record{};
  int offset = 0;
  tarsel::Decode<Record, F>(offset, payload, record);
  return record;
}

// The number payload carries at byte at; zero when it is missing.
template <class T>
T ReadNumber(const Bytes& payload, int at = 0) {
  T value{};
  tarsel::PayloadReader(at, payload).Field(value);
  return value;
}

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
