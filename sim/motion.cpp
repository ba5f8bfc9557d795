#include "motion.h"

#include <algorithm>
#include <cmath>

namespace tarsel::sim {

namespace {

// Longest step of a Cartesian velocity command between two solutions of the
// inverse kinematics, and the most steps one command may take.
constexpr double kCartesianStep = 0.01;
constexpr int kMaxCartesianSteps = 50;

double Speed(double limit, double cap) {
  return cap > 0 ? std::min(limit, cap) : limit;
}

}  // namespace

Motion::Motion() = default;

void Motion::Reset(const Joints& q, const FingerValues& f) {
  q_ = q;
  fingers_ = f;
  jointVelocity_ = {};
  fingerVelocity_ = {};
  queue_.clear();
  velocity_ = {};
  progress_ = 0;
  ClampPosition();
}

bool Motion::Enqueue(const Target& target) {
  if (queue_.size() >= static_cast<std::size_t>(kQueueCapacity)) return false;
  queue_.push_back(Queued{target});
  velocity_ = {};  // a position point takes over from any velocity command
  return true;
}

void Motion::Stop() {
  queue_.clear();
  velocity_ = {};
  jointVelocity_ = {};
  fingerVelocity_ = {};
  progress_ = 0;
}

void Motion::Command(const Velocity& velocity) {
  if (!queue_.empty()) return;
  velocity_ = velocity;
  // A command to stand still stops the arm the moment it arrives, before
  // any time passes: the speeds read back are zero from then on.
  const auto zero = [](double v) { return v == 0; };
  const bool still = !(velocity.duration > 0) ||
                     (std::all_of(velocity.values.begin(), velocity.values.end(), zero) &&
                      std::all_of(velocity.fingers.begin(), velocity.fingers.end(), zero));
  if (still) {
    jointVelocity_ = {};
    fingerVelocity_ = {};
  }
}

kinematics::Joints Motion::Physical(const Joints& q) const {
  Joints p;
  for (int i = 0; i < 6; ++i) p[i] = q[i] + zero_[i];
  return p;
}

kinematics::Pose Motion::PoseOf(const Joints& q) const {
  return kinematics::ForwardKinematics(Physical(q));
}

void Motion::SetJointZero(int joint) {
  if (joint < 0 || joint >= 6) return;
  zero_[joint] += q_[joint];
  q_[joint] = 0;
}

void Motion::Resolve(Queued& point) {
  if (point.resolved) return;
  Target& t = point.target;
  if (t.cartesian) {
    const Joints solution = kinematics::InverseKinematics(t.pose, Physical(q_));
    for (int i = 0; i < 6; ++i) t.joints[i] = solution[i] - zero_[i];
  }
  for (int i = 0; i < 6; ++i)
    t.joints[i] = std::clamp(t.joints[i], limits.jointMin, limits.jointMax);
  for (double& f : t.fingers) f = std::clamp(f, limits.fingerMin, limits.fingerMax);
  point.resolved = true;
  point.distance = TimeToReach(point);
}

double Motion::TimeToReach(const Queued& point) const {
  const Target& t = point.target;
  double time = 0;
  for (int i = 0; i < 6; ++i) {
    time = std::max(time,
                    std::fabs(t.joints[i] - q_[i]) / Speed(limits.jointSpeed[i], t.jointSpeedCap));
  }
  for (int f = 0; f < 3; ++f) {
    time = std::max(
        time, std::fabs(t.fingers[f] - fingers_[f]) / Speed(limits.fingerSpeed, t.fingerSpeedCap));
  }
  return time;
}

void Motion::Advance(double dt) {
  if (!(dt > 0)) return;
  while (dt > 0) {
    if (!queue_.empty()) {
      Queued& point = queue_.front();
      Resolve(point);
      const double remaining = TimeToReach(point);
      const Target& t = point.target;
      if (remaining <= dt) {
        if (remaining > 0) {
          for (int i = 0; i < 6; ++i) jointVelocity_[i] = (t.joints[i] - q_[i]) / remaining;
          for (int f = 0; f < 3; ++f) fingerVelocity_[f] = (t.fingers[f] - fingers_[f]) / remaining;
        }
        q_ = t.joints;
        fingers_ = t.fingers;
        dt -= remaining;
        queue_.pop_front();
        progress_ = 0;
        continue;
      }
      // Straight line in joint space: every joint arrives at the same time.
      const double share = dt / remaining;
      for (int i = 0; i < 6; ++i) {
        jointVelocity_[i] = (t.joints[i] - q_[i]) / remaining;
        q_[i] += (t.joints[i] - q_[i]) * share;
      }
      for (int f = 0; f < 3; ++f) {
        fingerVelocity_[f] = (t.fingers[f] - fingers_[f]) / remaining;
        fingers_[f] += (t.fingers[f] - fingers_[f]) * share;
      }
      progress_ =
          point.distance > 0 ? std::clamp(1.0 - (remaining - dt) / point.distance, 0.0, 1.0) : 1.0;
      return;
    }
    if (velocity_.duration > 0) {
      const double h = std::min(dt, velocity_.duration);
      ApplyVelocity(h);
      velocity_.duration -= h;
      dt -= h;
      continue;
    }
    break;
  }
  // At rest: nothing queued and no velocity command holding.
  if (queue_.empty() && velocity_.duration <= 0) {
    jointVelocity_ = {};
    fingerVelocity_ = {};
  }
}

void Motion::ApplyVelocity(double h) {
  const Joints before = q_;
  const FingerValues fingersBefore = fingers_;
  const bool turning = std::any_of(velocity_.values.begin(), velocity_.values.end(),
                                   [](double v) { return v != 0; });
  if (velocity_.cartesian && turning) {
    const int steps =
        std::clamp(static_cast<int>(std::ceil(h / kCartesianStep)), 1, kMaxCartesianSteps);
    const double step = h / steps;
    for (int s = 0; s < steps; ++s) {
      const Joints physical = Physical(q_);
      const auto tip = kinematics::Frames(physical)[6];
      kinematics::Pose target;
      target.x = tip.p[0] + velocity_.values[0] * step;
      target.y = tip.p[1] + velocity_.values[1] * step;
      target.z = tip.p[2] + velocity_.values[2] * step;
      // Turn the hand about the base axes by omega * step (Rodrigues).
      const double w[3] = {velocity_.values[3] * step, velocity_.values[4] * step,
                           velocity_.values[5] * step};
      const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
      double turn[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
      if (angle > 1e-12) {
        const double k[3] = {w[0] / angle, w[1] / angle, w[2] / angle};
        const double c = std::cos(angle), sn = std::sin(angle), v = 1 - c;
        turn[0][0] = c + k[0] * k[0] * v;
        turn[0][1] = k[0] * k[1] * v - k[2] * sn;
        turn[0][2] = k[0] * k[2] * v + k[1] * sn;
        turn[1][0] = k[1] * k[0] * v + k[2] * sn;
        turn[1][1] = c + k[1] * k[1] * v;
        turn[1][2] = k[1] * k[2] * v - k[0] * sn;
        turn[2][0] = k[2] * k[0] * v - k[1] * sn;
        turn[2][1] = k[2] * k[1] * v + k[0] * sn;
        turn[2][2] = c + k[2] * k[2] * v;
      }
      double r[3][3];
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          r[i][j] = turn[i][0] * tip.r[0][j] + turn[i][1] * tip.r[1][j] + turn[i][2] * tip.r[2][j];
        }
      }
      kinematics::AnglesFromRotation(r, target.rx, target.ry, target.rz);
      const Joints solution = kinematics::InverseKinematics(target, physical);
      for (int i = 0; i < 6; ++i) {
        if (std::isfinite(solution[i])) q_[i] = solution[i] - zero_[i];
      }
      ClampPosition();
    }
  } else if (!velocity_.cartesian) {
    for (int i = 0; i < 6; ++i) q_[i] += velocity_.values[i] * h;
  }
  for (int f = 0; f < 3; ++f) fingers_[f] += velocity_.fingers[f] * h;
  ClampPosition();
  if (h > 0) {
    for (int i = 0; i < 6; ++i) jointVelocity_[i] = (q_[i] - before[i]) / h;
    for (int f = 0; f < 3; ++f) fingerVelocity_[f] = (fingers_[f] - fingersBefore[f]) / h;
  }
}

void Motion::ClampPosition() {
  for (double& v : q_) v = std::clamp(v, limits.jointMin, limits.jointMax);
  for (double& f : fingers_) f = std::clamp(f, limits.fingerMin, limits.fingerMax);
}

Motion::Joints Motion::TargetJoints() {
  if (queue_.empty()) return q_;
  Resolve(queue_.front());
  return queue_.front().target.joints;
}

Motion::FingerValues Motion::TargetFingers() const {
  if (queue_.empty()) return fingers_;
  FingerValues f = queue_.front().target.fingers;
  for (double& v : f) v = std::clamp(v, limits.fingerMin, limits.fingerMax);
  return f;
}

Motion::FingerValues Motion::TargetFingersAfterQueue() const {
  if (queue_.empty()) return fingers_;
  FingerValues f = queue_.back().target.fingers;
  for (double& v : f) v = std::clamp(v, limits.fingerMin, limits.fingerMax);
  return f;
}

const TrajectoryPoint* Motion::ActiveRecord() const {
  return queue_.empty() ? nullptr : &queue_.front().target.record;
}

UserPosition Motion::PositionOf(const Joints& q, const FingerValues& f) const {
  const auto F = [](double v) { return static_cast<float>(v); };
  const kinematics::Pose p = PoseOf(q);
  return {TARSEL_ANGULAR_POSITION,
          0.0f,
          {F(p.x), F(p.y), F(p.z), F(p.rx), F(p.ry), F(p.rz)},
          {F(q[0]), F(q[1]), F(q[2]), F(q[3]), F(q[4]), F(q[5])},
          1,
          {F(f[0]), F(f[1]), F(f[2])}};
}

bool Motion::Moving() const {
  for (double v : jointVelocity_) {
    if (v != 0) return true;
  }
  for (double v : fingerVelocity_) {
    if (v != 0) return true;
  }
  return false;
}

}  // namespace tarsel::sim
