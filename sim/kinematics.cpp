#include "kinematics.h"

#include <algorithm>
#include <cmath>

namespace tarsel::sim::kinematics {

const std::array<DhRow, kJoints> kDhTable = {{
    {0.0, 90.0, 0.28, 180.0},
    {0.40, 0.0, 0.0, 90.0},
    {0.0, 90.0, 0.0, 90.0},
    {0.0, -90.0, 0.32, 0.0},
    {0.0, 90.0, 0.0, 0.0},
    {0.0, 0.0, 0.16, 0.0},
}};

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kGravity = 9.81;

using Vec3 = std::array<double, 3>;
using Matrix6 = std::array<std::array<double, kJoints>, kJoints>;

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double Dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 Origin(const Frame& f) {
  return {f.p[0], f.p[1], f.p[2]};
}

Vec3 AxisZ(const Frame& f) {
  return {f.r[0][2], f.r[1][2], f.r[2][2]};
}

// Rotation vector (axis times angle) of r, the inverse of Rodrigues' formula.
Vec3 RotationVector(const double r[3][3]) {
  const double c = std::clamp((r[0][0] + r[1][1] + r[2][2] - 1.0) / 2.0, -1.0, 1.0);
  const double angle = std::acos(c);
  const Vec3 skew = {r[2][1] - r[1][2], r[0][2] - r[2][0], r[1][0] - r[0][1]};
  const double s = std::sin(angle);
  if (angle < 1e-9) return {skew[0] / 2, skew[1] / 2, skew[2] / 2};
  if (s > 1e-6) {
    const double k = angle / (2.0 * s);
    return {skew[0] * k, skew[1] * k, skew[2] * k};
  }
  // Half a turn: the axis comes from the largest diagonal element.
  int i = 0;
  if (r[1][1] > r[i][i]) i = 1;
  if (r[2][2] > r[i][i]) i = 2;
  Vec3 axis{};
  axis[i] = std::sqrt(std::max(0.0, (r[i][i] + 1.0) / 2.0));
  for (int j = 0; j < 3; ++j) {
    if (j != i && axis[i] > 0) axis[j] = (r[i][j] + r[j][i]) / (4.0 * axis[i]);
  }
  return {axis[0] * angle, axis[1] * angle, axis[2] * angle};
}

// Solves a x = b by Gaussian elimination with partial pivoting; false when
// the matrix is (numerically) singular.
bool Solve(Matrix6 a, std::array<double, kJoints> b, std::array<double, kJoints>& x) {
  for (int col = 0; col < kJoints; ++col) {
    int pivot = col;
    for (int row = col + 1; row < kJoints; ++row) {
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    }
    if (std::fabs(a[pivot][col]) < 1e-12) return false;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (int row = col + 1; row < kJoints; ++row) {
      const double f = a[row][col] / a[col][col];
      for (int k = col; k < kJoints; ++k) a[row][k] -= f * a[col][k];
      b[row] -= f * b[col];
    }
  }
  for (int row = kJoints - 1; row >= 0; --row) {
    double sum = b[row];
    for (int k = row + 1; k < kJoints; ++k) sum -= a[row][k] * x[k];
    x[row] = sum / a[row][row];
  }
  return true;
}

double Determinant(Matrix6 a) {
  double det = 1.0;
  for (int col = 0; col < kJoints; ++col) {
    int pivot = col;
    for (int row = col + 1; row < kJoints; ++row) {
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    }
    if (std::fabs(a[pivot][col]) < 1e-15) return 0.0;
    if (pivot != col) {
      std::swap(a[col], a[pivot]);
      det = -det;
    }
    det *= a[col][col];
    for (int row = col + 1; row < kJoints; ++row) {
      const double f = a[row][col] / a[col][col];
      for (int k = col; k < kJoints; ++k) a[row][k] -= f * a[col][k];
    }
  }
  return det;
}

// Position and orientation error from the current tip frame to the target.
std::array<double, kJoints> PoseError(const Pose& target, const Frame& tip) {
  double rt[3][3];
  RotationFromAngles(target.rx, target.ry, target.rz, rt);
  double re[3][3];  // rt * tip.r^T
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      re[i][j] = rt[i][0] * tip.r[j][0] + rt[i][1] * tip.r[j][1] + rt[i][2] * tip.r[j][2];
    }
  }
  const Vec3 w = RotationVector(re);
  return {target.x - tip.p[0], target.y - tip.p[1], target.z - tip.p[2], w[0], w[1], w[2]};
}

}  // namespace

void RotationFromAngles(double rx, double ry, double rz, double r[3][3]) {
  const double cx = std::cos(rx), sx = std::sin(rx);
  const double cy = std::cos(ry), sy = std::sin(ry);
  const double cz = std::cos(rz), sz = std::sin(rz);
  r[0][0] = cz * cy;
  r[0][1] = cz * sy * sx - sz * cx;
  r[0][2] = cz * sy * cx + sz * sx;
  r[1][0] = sz * cy;
  r[1][1] = sz * sy * sx + cz * cx;
  r[1][2] = sz * sy * cx - cz * sx;
  r[2][0] = -sy;
  r[2][1] = cy * sx;
  r[2][2] = cy * cx;
}

void AnglesFromRotation(const double r[3][3], double& rx, double& ry, double& rz) {
  ry = std::asin(std::clamp(-r[2][0], -1.0, 1.0));
  if (std::fabs(r[2][0]) < 1.0 - 1e-9) {
    rx = std::atan2(r[2][1], r[2][2]);
    rz = std::atan2(r[1][0], r[0][0]);
  } else {
    // Gimbal lock: only rx - rz (or rx + rz) is defined; put it all in rx.
    rz = 0.0;
    rx = std::atan2(-r[1][2], r[1][1]);
  }
}

std::array<Frame, kJoints + 1> Frames(const Joints& q) {
  std::array<Frame, kJoints + 1> frames{};
  Frame& base = frames[0];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) base.r[i][j] = i == j ? 1.0 : 0.0;
    base.p[i] = 0.0;
  }
  for (int k = 0; k < kJoints; ++k) {
    const DhRow& row = kDhTable[static_cast<std::size_t>(k)];
    const double theta = (q[static_cast<std::size_t>(k)] + row.offsetDeg) * kDeg;
    const double alpha = row.alphaDeg * kDeg;
    const double ct = std::cos(theta), st = std::sin(theta);
    const double ca = std::cos(alpha), sa = std::sin(alpha);
    const double local[3][4] = {{ct, -st * ca, st * sa, row.a * ct},
                                {st, ct * ca, -ct * sa, row.a * st},
                                {0.0, sa, ca, row.d}};
    const Frame& prev = frames[static_cast<std::size_t>(k)];
    Frame& next = frames[static_cast<std::size_t>(k + 1)];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        next.r[i][j] =
            prev.r[i][0] * local[0][j] + prev.r[i][1] * local[1][j] + prev.r[i][2] * local[2][j];
      }
      next.p[i] = prev.p[i] + prev.r[i][0] * local[0][3] + prev.r[i][1] * local[1][3] +
                  prev.r[i][2] * local[2][3];
    }
  }
  return frames;
}

Pose ForwardKinematics(const Joints& q) {
  const Frame tip = Frames(q)[kJoints];
  Pose pose;
  pose.x = tip.p[0];
  pose.y = tip.p[1];
  pose.z = tip.p[2];
  AnglesFromRotation(tip.r, pose.rx, pose.ry, pose.rz);
  return pose;
}

std::array<std::array<double, kJoints>, kJoints> Jacobian(const Joints& q) {
  const auto frames = Frames(q);
  const Vec3 tip = Origin(frames[kJoints]);
  Matrix6 j{};
  for (int k = 0; k < kJoints; ++k) {
    const Frame& f = frames[static_cast<std::size_t>(k)];
    const Vec3 z = AxisZ(f);
    const Vec3 o = Origin(f);
    const Vec3 v = Cross(z, {tip[0] - o[0], tip[1] - o[1], tip[2] - o[2]});
    for (int i = 0; i < 3; ++i) {
      j[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = v[static_cast<std::size_t>(i)];
      j[static_cast<std::size_t>(i + 3)][static_cast<std::size_t>(k)] =
          z[static_cast<std::size_t>(i)];
    }
  }
  return j;
}

double Manipulability(const Joints& q) {
  return std::fabs(Determinant(Jacobian(q)));
}

Joints InverseKinematics(const Pose& target, const Joints& start, bool* converged) {
  Joints q = start;
  Joints best = start;
  double bestPos = 1e300, bestRot = 1e300;
  constexpr double kMaxStep = 0.25;  // radians per iteration
  for (int iteration = 0; iteration < 400; ++iteration) {
    const auto frames = Frames(q);
    const auto e = PoseError(target, frames[kJoints]);
    const double posErr = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
    const double rotErr = std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]);
    if (posErr + 0.1 * rotErr < bestPos + 0.1 * bestRot) {
      bestPos = posErr;
      bestRot = rotErr;
      best = q;
    }
    // Well below what the arm can tell apart: no drift when solved step by step.
    if (posErr < 1e-8 && rotErr < 1e-7) break;
    // dq = J^T (J J^T + lambda^2 I)^-1 e
    const auto j = Jacobian(q);
    Matrix6 jjt{};
    for (int r = 0; r < kJoints; ++r) {
      for (int c = 0; c < kJoints; ++c) {
        double sum = 0;
        for (int k = 0; k < kJoints; ++k) sum += j[r][k] * j[c][k];
        jjt[r][c] = sum + (r == c ? 1e-4 : 0.0);
      }
    }
    std::array<double, kJoints> y{};
    if (!Solve(jjt, e, y)) break;
    std::array<double, kJoints> dq{};
    double largest = 0;
    for (int k = 0; k < kJoints; ++k) {
      for (int r = 0; r < kJoints; ++r) dq[k] += j[r][k] * y[r];
      largest = std::max(largest, std::fabs(dq[k]));
    }
    if (!std::isfinite(largest)) break;
    const double scale = largest > kMaxStep ? kMaxStep / largest : 1.0;
    for (int k = 0; k < kJoints; ++k) q[k] += dq[k] * scale / kDeg;
  }
  if (converged != nullptr) *converged = bestPos < 1e-4 && bestRot < 1e-3;
  return best;
}

std::array<double, kJoints> GravityTorques(const Joints& q, double handMass) {
  const auto frames = Frames(q);
  struct Mass {
    Vec3 at;
    double kg;
    int lastJoint;  // the mass moves with joints 1 .. lastJoint
  };
  auto mid = [](const Frame& a, const Frame& b) {
    return Vec3{(a.p[0] + b.p[0]) / 2, (a.p[1] + b.p[1]) / 2, (a.p[2] + b.p[2]) / 2};
  };
  const Mass masses[] = {
      {mid(frames[1], frames[2]), 1.2, 2},
      {mid(frames[3], frames[4]), 0.9, 4},
      {Origin(frames[5]), 0.5, 5},
      {Origin(frames[6]), handMass, 6},
  };
  std::array<double, kJoints> torques{};
  for (int k = 0; k < kJoints; ++k) {
    const Frame& f = frames[static_cast<std::size_t>(k)];
    const Vec3 z = AxisZ(f);
    const Vec3 o = Origin(f);
    double tau = 0;
    for (const Mass& m : masses) {
      if (k + 1 > m.lastJoint) continue;
      const Vec3 arm = {m.at[0] - o[0], m.at[1] - o[1], m.at[2] - o[2]};
      tau += Dot(Cross(arm, {0.0, 0.0, -m.kg * kGravity}), z);
    }
    torques[static_cast<std::size_t>(k)] = -tau;  // what the motor must hold
  }
  return torques;
}

std::array<double, 3> GravityInFrame(const Joints& q, int link) {
  const auto frames = Frames(q);
  const Frame& f = frames[static_cast<std::size_t>(std::clamp(link, 0, kJoints))];
  // R^T * (0, 0, 1): the third row of R.
  return {f.r[2][0], f.r[2][1], f.r[2][2]};
}

}  // namespace tarsel::sim::kinematics
