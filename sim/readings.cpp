#include "readings.h"

#include <algorithm>
#include <cmath>

namespace tarsel::sim {

namespace {

constexpr double kRadToDeg = 180.0 / 3.14159265358979323846;

}  // namespace

std::array<double, 6> Torques(const ArmState& s) {
  std::array<double, 6> t{};
  for (int i = 0; i < 6; ++i) t[i] = s.TorqueReading(i);
  return t;
}

std::array<double, 6> GravityFreeTorques(const ArmState& s) {
  const auto gravity =
      kinematics::GravityTorques(s.motion.Physical(s.motion.Position()), s.HandMass());
  std::array<double, 6> t = Torques(s);
  for (int i = 0; i < 6; ++i) t[i] -= gravity[i];
  return t;
}

std::array<double, 6> Currents(const ArmState& s) {
  const auto torques = Torques(s);
  const auto& v = s.motion.JointVelocity();
  std::array<double, 6> c{};
  for (int i = 0; i < 6; ++i) c[i] = 0.25 + 0.12 * std::fabs(torques[i]) + 0.004 * std::fabs(v[i]);
  if (s.currentLimitation) {
    for (double& x : c) x = std::min(x, 1.5);
  }
  return c;
}

std::array<double, 6> MotorCurrents(const ArmState& s) {
  const auto torques = Torques(s);
  const auto& v = s.motion.JointVelocity();
  std::array<double, 6> c{};
  for (int i = 0; i < 6; ++i) c[i] = 0.1 * std::fabs(torques[i]) + 0.003 * std::fabs(v[i]);
  return c;
}

Motion::FingerValues FingerCurrents(const ArmState& s) {
  Motion::FingerValues c{};
  for (int f = 0; f < s.FingerCount(); ++f) {
    c[f] = 0.05 + 0.0001 * std::fabs(s.motion.FingerVelocity()[f]);
  }
  return c;
}

std::array<double, 6> ActuatorTemperatures(const ArmState& s) {
  const auto currents = Currents(s);
  std::array<double, 6> t{};
  for (int i = 0; i < 6; ++i) t[i] = 30.0 + 2.0 * currents[i];
  return t;
}

Motion::FingerValues FingerTemperatures(const ArmState& s) {
  Motion::FingerValues t{};
  for (int f = 0; f < s.FingerCount(); ++f) t[f] = 28.0;
  return t;
}

double TotalCurrent(const ArmState& s) {
  double total = 0.4;  // the controller itself
  for (double c : Currents(s)) total += c;
  for (double c : FingerCurrents(s)) total += c;
  return total;
}

Singularities SingularityMeasures(const ArmState& s) {
  const kinematics::Joints physical = s.motion.Physical(s.motion.Position());
  const auto frames = kinematics::Frames(physical);
  const double deg = 1.0 / kRadToDeg;
  Singularities m;
  m.wrist = std::fabs(std::sin((physical[4] + kinematics::kDhTable[4].offsetDeg) * deg));
  m.elbow = std::fabs(std::sin(physical[2] * deg));
  const auto& c = frames[4].p;
  m.shoulder = std::sqrt(c[0] * c[0] + c[1] * c[1]);
  m.wristCentre = {c[0], c[1], c[2]};
  return m;
}

int NearSingularities(const Singularities& m) {
  return (m.wrist < 0.1 ? 1 : 0) + (m.elbow < 0.1 ? 1 : 0) + (m.shoulder < 0.05 ? 1 : 0);
}

}  // namespace tarsel::sim
