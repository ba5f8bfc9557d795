// What trajectory points and joystick samples do to the simulated arm.
#pragma once

#include "arm_state.h"

namespace tarsel::sim {

// A trajectory point in the full form (300; its limits apply) or the basic
// form (308): queued, or a velocity command, by its Type.
Outcome SendFullPoint(const Bytes& payload, ArmState& s);
Outcome SendBasicPoint(const Bytes& payload, ArmState& s);

// A joystick sample (305): buttons and axes, as a velocity command.
Outcome JoystickSample(const Bytes& payload, ArmState& s);

}  // namespace tarsel::sim
