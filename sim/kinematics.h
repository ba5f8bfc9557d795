// Kinematic model of the simulated six-axis arm.
//
// The arm is a serial chain of six revolute joints described by classic
// Denavit-Hartenberg parameters. Joint i turns about the z axis of frame i-1;
// frame i follows from frame i-1 by Rz(theta_i) Tz(d_i) Tx(a_i) Rx(alpha_i),
// where theta_i = q_i + offset_i and q_i is the joint angle the arm reports.
//
//   joint |  a (m) | alpha (deg) |  d (m) | offset (deg) | role
//   ------+--------+-------------+--------+--------------+----------------------
//     1   |  0     |     +90     |  0.28  |     180      | base rotation
//     2   |  0.40  |       0     |  0     |      90      | shoulder (upper arm)
//     3   |  0     |     +90     |  0     |      90      | elbow
//     4   |  0     |     -90     |  0.32  |       0      | forearm rotation
//     5   |  0     |     +90     |  0     |       0      | wrist bend
//     6   |  0     |       0     |  0.16  |       0      | hand rotation (tool)
//
// Base frame: z up, x forward. With every joint at 0 the arm stands straight
// up and the hand tip is at (0, 0, 1.16). Joints 4, 5 and 6 meet in one point
// (a spherical wrist), so the wrist is singular when joint 5 is at 0.
//
// Cartesian poses are X, Y, Z in metres and three rotations in radians with
// R = Rz(RotationZ) * Ry(RotationY) * Rx(RotationX) (rotations about the fixed
// base axes X, then Y, then Z). Joint angles are in degrees.
#pragma once

#include <array>

namespace tarsel::sim::kinematics {

constexpr int kJoints = 6;

using Joints = std::array<double, kJoints>;  // degrees

struct Pose {
  double x = 0, y = 0, z = 0;     // metres
  double rx = 0, ry = 0, rz = 0;  // radians
};

struct Frame {
  double r[3][3];  // orientation, columns are the frame's axes in base coordinates
  double p[3];     // origin in base coordinates
};

struct DhRow {
  double a, alphaDeg, d, offsetDeg;
};

// The table above.
extern const std::array<DhRow, kJoints> kDhTable;

// Frames 0 (the base) to 6 (the hand tip) for the given joint angles.
std::array<Frame, kJoints + 1> Frames(const Joints& q);

// Pose of the hand tip.
Pose ForwardKinematics(const Joints& q);

// Joint angles that put the hand tip at target, found by damped least
// squares starting from start (so the solution nearest to start is found).
// An unreachable target yields the closest pose found; converged tells
// whether the target was reached within 0.1 mm and 0.001 rad.
Joints InverseKinematics(const Pose& target, const Joints& start, bool* converged = nullptr);

// Geometric Jacobian (rows: vx, vy, vz, wx, wy, wz; columns: joints, per
// radian) of the hand tip.
std::array<std::array<double, kJoints>, kJoints> Jacobian(const Joints& q);

// |det J|: zero at a singular pose, larger the better conditioned.
double Manipulability(const Joints& q);

// Holding torque (N m) each joint needs against gravity, with the link masses
// of the model (upper arm 1.2 kg, forearm 0.9 kg, wrist 0.5 kg) and a hand of
// handMass kg at the tip.
std::array<double, kJoints> GravityTorques(const Joints& q, double handMass);

// Gravity (in g) as an accelerometer fixed to link i (frame i) measures it at
// rest: the base's up axis expressed in that frame.
std::array<double, 3> GravityInFrame(const Joints& q, int link);

// R = Rz(rz) Ry(ry) Rx(rx) and back.
void RotationFromAngles(double rx, double ry, double rz, double r[3][3]);
void AnglesFromRotation(const double r[3][3], double& rx, double& ry, double& rz);

}  // namespace tarsel::sim::kinematics
