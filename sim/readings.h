// The simulated arm's sensor readings: torques, currents, temperatures and
// the singularity measures, all derived from the motion state.
#pragma once

#include <array>

#include "arm_state.h"

namespace tarsel::sim {

// Holding torque per joint (N m), with each actuator's gain and torque zero.
std::array<double, 6> Torques(const ArmState& s);
// Torques minus the model's gravity torque.
std::array<double, 6> GravityFreeTorques(const ArmState& s);
// Actuator currents (A): a standing current, the holding torque and the
// speed; capped at 1.5 A under current limitation.
std::array<double, 6> Currents(const ArmState& s);
std::array<double, 6> MotorCurrents(const ArmState& s);
Motion::FingerValues FingerCurrents(const ArmState& s);
std::array<double, 6> ActuatorTemperatures(const ArmState& s);
Motion::FingerValues FingerTemperatures(const ArmState& s);
// The whole arm's current, the controller's own included.
double TotalCurrent(const ArmState& s);

// Measures that vanish at the three singularities of the model.
struct Singularities {
  double wrist;     // |sin q5|: axes 4 and 6 aligned
  double elbow;     // |sin q3|: arm stretched
  double shoulder;  // distance (m) of the wrist centre from the base axis
  std::array<double, 3> wristCentre;
};

Singularities SingularityMeasures(const ArmState& s);
// How many of the three singularities the arm is near.
int NearSingularities(const Singularities& m);

}  // namespace tarsel::sim
