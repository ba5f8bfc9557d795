// Motion of the simulated arm: a queue of position points executed one after
// the other at bounded speed, and velocity commands (joystick samples and
// velocity points) that move the arm while they keep arriving.
#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "kinematics.h"
#include "tarsel/motion.h"

namespace tarsel::sim {

struct MotionLimits {
  // Joint speeds in degrees per second: shoulder joints, then wrist joints.
  std::array<double, 6> jointSpeed = {25, 25, 25, 35, 35, 35};
  double fingerSpeed = 3400;               // finger units per second
  double linearSpeed = 0.15;               // m/s, Cartesian velocity commands
  double angularSpeed = 0.6;               // rad/s, Cartesian velocity commands
  double jointMin = -720, jointMax = 720;  // degrees
  double fingerMin = 0, fingerMax = 6800;  // 0: open, 6800: closed
};

class Motion {
 public:
  using Joints = kinematics::Joints;
  using FingerValues = std::array<double, 3>;

  static constexpr int kQueueCapacity = 128;

  struct Target {
    bool cartesian = false;
    kinematics::Pose pose;  // for Cartesian targets
    Joints joints{};        // for angular targets
    FingerValues fingers{};
    double jointSpeedCap = 0;   // deg/s, 0: the arm's own limits
    double fingerSpeedCap = 0;  // units/s, 0: the arm's own limit
    TrajectoryPoint record{};   // as the host sent it, for the actual-trajectory read-out
  };

  struct Velocity {
    bool cartesian = false;
    std::array<double, 6> values{};  // deg/s per joint, or m/s and rad/s
    FingerValues fingers{};          // units/s
    double duration = 0;             // simulated seconds it holds
  };

  Motion();

  // Puts the arm at rest at q with the fingers at f; empties the queue.
  void Reset(const Joints& q, const FingerValues& f);

  // Appends a point; false when the queue is full.
  bool Enqueue(const Target& target);
  // Empties the queue and cancels any velocity command: the arm stops where
  // it is.
  void Stop();
  // Replaces the velocity command; ignored while points are queued (the
  // trajectory has the arm), and cancelled by the next queued point. It
  // moves the arm for velocity.duration simulated seconds, then the arm
  // stands still; a command of zero velocity (or no duration) stops it at
  // once.
  void Command(const Velocity& velocity);

  // Runs dt simulated seconds of motion.
  void Advance(double dt);

  // The joint reading becomes 0 where the joint stands now (a new zero).
  void SetJointZero(int joint);

  int QueueSize() const { return static_cast<int>(queue_.size()); }
  const Joints& Position() const { return q_; }
  const FingerValues& Fingers() const { return fingers_; }
  const Joints& JointVelocity() const { return jointVelocity_; }
  const FingerValues& FingerVelocity() const { return fingerVelocity_; }
  // Where the arm is heading: the active point's target, or where it is.
  Joints TargetJoints();
  FingerValues TargetFingers() const;
  // Where the fingers will be once every queued point is reached.
  FingerValues TargetFingersAfterQueue() const;
  // The point being executed, as the host sent it; null when none is.
  const TrajectoryPoint* ActiveRecord() const;
  // A stored position (Type 2, FingersMode 1) of joints q and fingers f, with
  // the Cartesian coordinates of that pose filled in too.
  UserPosition PositionOf(const Joints& q, const FingerValues& f) const;
  // Fraction (0..1) of the active point's motion done.
  double Progress() const { return progress_; }
  bool Moving() const;

  // Kinematics in the arm's own calibration (joint readings plus zero offsets).
  kinematics::Pose PoseOf(const Joints& q) const;
  kinematics::Joints Physical(const Joints& q) const;

  MotionLimits limits;

 private:
  struct Queued {
    Target target;
    bool resolved = false;
    double distance = 0;  // time the whole move takes at full speed, for Progress
  };

  void Resolve(Queued& point);
  double TimeToReach(const Queued& point) const;
  void ApplyVelocity(double h);
  void ClampPosition();

  Joints q_{};
  FingerValues fingers_{};
  Joints jointVelocity_{};
  FingerValues fingerVelocity_{};
  Joints zero_{};  // calibration: physical angle = reading + zero
  std::deque<Queued> queue_;
  Velocity velocity_;
  double progress_ = 0;
};

}  // namespace tarsel::sim
