// How far a position the arm reached stands from the target it was sent:
// the judge both Arm::MoveTo and the tool's `move --wait` use. Header only,
// on the public records alone, so the tool can include it without linking
// anything internal.
#ifndef TARSEL_API_ARM_ARRIVAL_H
#define TARSEL_API_ARM_ARRIVAL_H

#include <algorithm>
#include <array>
#include <cmath>

#include "tarsel/tarsel.h"

namespace tarsel::arrival {

// The six joint values of a, in order.
inline std::array<double, 6> Joints(const AngularInfo& a) {
  return {a.Actuator1, a.Actuator2, a.Actuator3, a.Actuator4, a.Actuator5, a.Actuator6};
}

// How far each joint of reached is from target, in degrees (0 or more; NaN
// when the arm sent a NaN). Joint angles count turns, so 360 is not 0.
inline std::array<double, 6> JointGaps(const AngularInfo& reached, const AngularInfo& target) {
  const std::array<double, 6> r = Joints(reached);
  const std::array<double, 6> t = Joints(target);
  std::array<double, 6> gaps{};
  for (std::size_t i = 0; i < 6; ++i) gaps[i] = std::fabs(r[i] - t[i]);
  return gaps;
}

// The joint furthest from its target: its index (0 for joint 1) and gap in
// degrees; a NaN gap counts as the furthest.
struct JointGap {
  int joint = 0;
  double degrees = 0;
};

inline JointGap LargestJointGap(const AngularInfo& reached, const AngularInfo& target) {
  const std::array<double, 6> gaps = JointGaps(reached, target);
  JointGap largest{0, gaps[0]};
  for (int i = 1; i < 6; ++i) {
    if (std::isnan(largest.degrees)) break;
    if (std::isnan(gaps[i]) || gaps[i] > largest.degrees) largest = {i, gaps[i]};
  }
  return largest;
}

// How far the hand stands from a Cartesian target: the distance between the
// positions in millimetres, and the angle of the rotation that takes one
// orientation to the other in radians (0 to pi). The angle is taken between
// the orientations themselves, not their three angles, so two sets of angles
// naming one orientation (R = Rz(RotationZ) Ry(RotationY) Rx(RotationX)) are
// 0 apart.
struct PoseGap {
  double millimetres = 0;
  double radians = 0;
};

// The rotation matrix of c's three angles.
inline std::array<std::array<double, 3>, 3> RotationOf(const CartesianInfo& c) {
  const double cx = std::cos(c.RotationX), sx = std::sin(c.RotationX);
  const double cy = std::cos(c.RotationY), sy = std::sin(c.RotationY);
  const double cz = std::cos(c.RotationZ), sz = std::sin(c.RotationZ);
  return {{{cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx},
           {sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx},
           {-sy, cy * sx, cy * cx}}};
}

inline PoseGap PoseGapOf(const CartesianInfo& reached, const CartesianInfo& target) {
  const double dx = double(reached.X) - target.X;
  const double dy = double(reached.Y) - target.Y;
  const double dz = double(reached.Z) - target.Z;
  const auto a = RotationOf(reached);
  const auto b = RotationOf(target);
  // trace(a^T b) = 1 + 2 cos(angle)
  double trace = 0;
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) trace += a[k][i] * b[k][i];
  }
  const double cosine = (trace - 1.0) / 2.0;
  // NaN stays NaN (clamp would hide it); rounding may step past +-1.
  const double angle = std::isnan(cosine) ? cosine : std::acos(std::clamp(cosine, -1.0, 1.0));
  return {std::sqrt(dx * dx + dy * dy + dz * dz) * 1000.0, angle};
}

// Whether a gap is within its tolerance; a NaN gap never is.
inline bool Within(double gap, double tolerance) {
  return gap <= tolerance;
}

}  // namespace tarsel::arrival

#endif  // TARSEL_API_ARM_ARRIVAL_H
