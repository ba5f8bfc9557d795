// What trajectory points and joystick samples do to the simulated arm.
#include "point_effects.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "blocks.h"

namespace tarsel::sim {

namespace {

// The full point form: position, limitation flag, filler, nine limits.
PointRecord ReadFullPoint(const Bytes& payload) {
  WireReader r(payload);
  PointRecord p;
  p.type = r.I32();
  p.parameter = r.F32();
  r.Skip(8);
  for (int i = 0; i < 3; ++i) p.coordinates[i] = r.F32();
  r.Skip(12);
  for (int i = 3; i < 6; ++i) p.coordinates[i] = r.F32();
  r.Skip(12);
  for (float& a : p.actuators) a = r.F32();
  p.fingersMode = r.I32();
  for (float& f : p.fingers) f = r.F32();
  p.limitationFlag = r.I32();
  r.Skip(4);
  for (float& l : p.limits) l = r.F32();
  return p;
}

bool HasCoordinateBlock(std::int32_t type) {
  return type == 1 || type == 2 || type == 7 || type == 8;
}

// The basic point form: six values, fingers, Parameter, FingersMode, Type.
// Only the types with a coordinate block can be executed; the others come in
// a shorter form that tells the arm nowhere to go.
bool ReadBasicPoint(const Bytes& payload, PointRecord& p) {
  WireReader r(payload);
  std::array<float, 6> block{};
  for (float& v : block) v = r.F32();
  for (float& f : p.fingers) f = r.F32();
  p.parameter = r.F32();
  p.fingersMode = r.I32();
  p.type = r.I32();
  if (!HasCoordinateBlock(p.type)) return false;
  if (p.type == 1 || p.type == 7) {
    p.coordinates = block;
  } else {
    p.actuators = block;
  }
  return true;
}

double Clamp(double v, double limit) {
  return std::clamp(v, -limit, limit);
}

Motion::FingerValues FingerSpeeds(const PointRecord& p, const ArmState& s) {
  Motion::FingerValues v{};
  for (int f = 0; f < s.FingerCount(); ++f) v[f] = Clamp(p.fingers[f], s.motion.limits.fingerSpeed);
  return v;
}

Outcome ExecutePoint(const PointRecord& p, bool withLimits, ArmState& s) {
  if (!Finite(p.parameter)) return Refused(s, "the point's Parameter is NaN or infinite");
  if (!AllFinite(p.fingers)) return Refused(s, "a finger value of the point is NaN or infinite");
  const MotionLimits& limits = s.motion.limits;
  const double hold = kVelocityHoldSeconds * s.timeScale;
  switch (p.type) {
    case 1:
    case 2: {
      if (!AllFinite(p.type == 1 ? p.coordinates : p.actuators)) {
        return Refused(s, "a coordinate of the point is NaN or infinite");
      }
      Motion::Target t;
      t.cartesian = p.type == 1;
      const auto& c = p.coordinates;
      t.pose = {c[0], c[1], c[2], c[3], c[4], c[5]};
      for (int i = 0; i < 6; ++i) t.joints[i] = p.actuators[i];
      for (int f = 0; f < 3; ++f) t.fingers[f] = f < s.FingerCount() ? p.fingers[f] : 0.0;
      if (withLimits && p.limitationFlag != 0) {
        if (Finite(p.limits[0]) && p.limits[0] > 0) t.jointSpeedCap = p.limits[0];
        if (Finite(p.limits[1]) && p.limits[1] > 0) t.fingerSpeedCap = p.limits[1];
      }
      t.record = p;
      if (!s.motion.Enqueue(t)) return Refused(s, "the trajectory queue is full");
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    case 7: {
      if (!AllFinite(p.coordinates)) return Refused(s, "a velocity of the point is NaN or infinite");
      Motion::Velocity v;
      v.cartesian = true;
      for (int i = 0; i < 3; ++i) v.values[i] = Clamp(p.coordinates[i], limits.linearSpeed);
      for (int i = 3; i < 6; ++i) v.values[i] = Clamp(p.coordinates[i], limits.angularSpeed);
      v.fingers = FingerSpeeds(p, s);
      v.duration = hold;
      s.motion.Command(v);
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    case 8: {
      if (!AllFinite(p.actuators)) return Refused(s, "a velocity of the point is NaN or infinite");
      Motion::Velocity v;
      for (int i = 0; i < 6; ++i) v.values[i] = Clamp(p.actuators[i], limits.jointSpeed[i]);
      v.fingers = FingerSpeeds(p, s);
      v.duration = hold;
      s.motion.Command(v);
      // Opening a finger against its stop is how the hand finds its zero.
      for (int f = 0; f < s.FingerCount(); ++f) {
        if (p.fingers[f] < 0 && s.fingerPoints[f] < std::numeric_limits<int>::max()) {
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
  return ExecutePoint(ReadFullPoint(payload), true, s);
}

Outcome SendBasicPoint(const Bytes& payload, ArmState& s) {
  PointRecord p;
  if (!ReadBasicPoint(payload, p)) return Refused(s, "the point's type is none of 1, 2, 7 and 8");
  return ExecutePoint(p, false, s);
}

Outcome JoystickSample(const Bytes& payload, ArmState& s) {
  WireReader r(payload);
  for (std::int16_t& b : s.buttons) b = r.I16();
  for (float& a : s.axes) {
    const float v = r.F32();
    a = Finite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
  }
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
