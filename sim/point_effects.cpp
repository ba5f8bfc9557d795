// What trajectory points and joystick samples do to the simulated arm.
#include "point_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "motion/motion_codec.h"

namespace tarsel::sim {

namespace {

// The values of a record that is a run of floats (CartesianInfo, AngularInfo,
// FingersPosition), in its form's order.
template <class Record>
std::array<float, sizeof(Record) / 4> Values(const Record& record) {
  static_assert(tarsel::Form<Record>::kFloatRun, "a record of floats and nothing else");
  std::array<float, sizeof(Record) / 4> v;
  std::memcpy(v.data(), &record, sizeof record);
  return v;
}

// The basic form puts its Type last, after a coordinate block for the
// Types 1, 2, 7 and 8 only; so the Type is read where such a point has it,
// and the point read in the form that Type names. A point of any other Type
// tells the arm nowhere to go: false.
bool ReadBasicPoint(const Bytes& payload, TrajectoryPoint& p) {
  using tarsel::BasicPointForm;
  using tarsel::PointBlock;
  p = Read<TrajectoryPoint, BasicPointForm<PointBlock::kCoordinates>>(payload);
  switch (tarsel::BlockOf(p.Position.Type)) {
    case PointBlock::kCoordinates:
      return true;
    case PointBlock::kActuators:
      p = Read<TrajectoryPoint, BasicPointForm<PointBlock::kActuators>>(payload);
      return true;
    case PointBlock::kNone:
      break;
  }
  return false;
}

double Clamp(double v, double limit) {
  return std::clamp(v, -limit, limit);
}

Motion::FingerValues FingerSpeeds(const std::array<float, 3>& fingers, const ArmState& s) {
  Motion::FingerValues v{};
  for (int f = 0; f < s.FingerCount(); ++f) v[f] = Clamp(fingers[f], s.motion.limits.fingerSpeed);
  return v;
}

Outcome ExecutePoint(const TrajectoryPoint& point, bool withLimits, ArmState& s) {
  const UserPosition& p = point.Position;
  const auto coordinates = Values(p.Coordinates);
  const auto actuators = Values(p.Actuators);
  const auto fingers = Values(p.Fingers);
  if (!Finite(p.Parameter)) return Refused(s, "the point's Parameter is NaN or infinite");
  if (!AllFinite(fingers)) return Refused(s, "a finger value of the point is NaN or infinite");
  const MotionLimits& limits = s.motion.limits;
  const double hold = kVelocityHoldSeconds * s.timeScale;
  switch (p.Type) {
    case TARSEL_CARTESIAN_POSITION:
    case TARSEL_ANGULAR_POSITION: {
      const bool cartesian = p.Type == TARSEL_CARTESIAN_POSITION;
      if (!AllFinite(cartesian ? coordinates : actuators)) {
        return Refused(s, "a coordinate of the point is NaN or infinite");
      }
      Motion::Target t;
      t.cartesian = cartesian;
      const auto& c = coordinates;
      t.pose = {c[0], c[1], c[2], c[3], c[4], c[5]};
      for (int i = 0; i < 6; ++i) t.joints[i] = actuators[i];
      for (int f = 0; f < 3; ++f) t.fingers[f] = f < s.FingerCount() ? fingers[f] : 0.0;
      const Limitation& l = point.Limits;
      if (withLimits && point.LimitationFlag != 0) {
        if (Finite(l.Limit1) && l.Limit1 > 0) t.jointSpeedCap = l.Limit1;
        if (Finite(l.Limit2) && l.Limit2 > 0) t.fingerSpeedCap = l.Limit2;
      }
      t.record = point;
      if (!s.motion.Enqueue(t)) return Refused(s, "the trajectory queue is full");
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    case TARSEL_CARTESIAN_VELOCITY: {
      if (!AllFinite(coordinates)) return Refused(s, "a velocity of the point is NaN or infinite");
      Motion::Velocity v;
      v.cartesian = true;
      for (int i = 0; i < 3; ++i) v.values[i] = Clamp(coordinates[i], limits.linearSpeed);
      for (int i = 3; i < 6; ++i) v.values[i] = Clamp(coordinates[i], limits.angularSpeed);
      v.fingers = FingerSpeeds(fingers, s);
      v.duration = hold;
      s.motion.Command(v);
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    case TARSEL_ANGULAR_VELOCITY: {
      if (!AllFinite(actuators)) return Refused(s, "a velocity of the point is NaN or infinite");
      Motion::Velocity v;
      for (int i = 0; i < 6; ++i) v.values[i] = Clamp(actuators[i], limits.jointSpeed[i]);
      v.fingers = FingerSpeeds(fingers, s);
      v.duration = hold;
      s.motion.Command(v);
      // Opening a finger against its stop is how the hand finds its zero.
      for (int f = 0; f < s.FingerCount(); ++f) {
        if (fingers[f] < 0 && s.fingerPoints[f] < std::numeric_limits<int>::max()) {
          ++s.fingerPoints[f];
        }
      }
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    default:
      return Refused(s, "the point's type is none of 1, 2, 7 and 8");
  }
}

}  // namespace

Outcome SendFullPoint(const Bytes& payload, ArmState& s) {
  return ExecutePoint(Read<TrajectoryPoint>(payload), true, s);
}

Outcome SendBasicPoint(const Bytes& payload, ArmState& s) {
  TrajectoryPoint p;
  if (!ReadBasicPoint(payload, p)) return Refused(s, "the point's type is none of 1, 2, 7 and 8");
  return ExecutePoint(p, false, s);
}

Outcome JoystickSample(const Bytes& payload, ArmState& s) {
  const JoystickCommand sample = Read<JoystickCommand>(payload);
  std::copy(std::begin(sample.Buttons), std::end(sample.Buttons), s.buttons.begin());
  const float axes[] = {sample.Axis1, sample.Axis2, sample.Axis3,
                        sample.Axis4, sample.Axis5, sample.Axis6};
  for (int i = 0; i < 6; ++i) s.axes[i] = Finite(axes[i]) ? std::clamp(axes[i], -1.0f, 1.0f) : 0.0f;
  const MotionLimits& limits = s.motion.limits;
  Motion::Velocity v;
  v.cartesian = s.controlType == kCartesianControl;
  for (int i = 0; i < 6; ++i) {
    const double scale =
        v.cartesian ? (i < 3 ? limits.linearSpeed : limits.angularSpeed) : limits.jointSpeed[i];
    v.values[i] = s.axes[i] * scale;
  }
  // Button 1 closes the hand, button 2 opens it.
  const double finger = s.buttons[0] != 0   ? limits.fingerSpeed
                        : s.buttons[1] != 0 ? -limits.fingerSpeed
                                            : 0.0;
  for (int f = 0; f < s.FingerCount(); ++f) v.fingers[f] = finger;
  const bool idle =
      std::all_of(v.values.begin(), v.values.end(), [](double x) { return x == 0; }) && finger == 0;
  v.duration = idle ? 0.0 : kVelocityHoldSeconds * s.timeScale;
  s.motion.Command(v);
  return Outcome::kDone;
}

}  // namespace tarsel::sim
