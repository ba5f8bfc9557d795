// What the write and bare commands do to the simulated arm.
#include <algorithm>
#include <cmath>
#include <limits>

#include "arm_state.h"
#include "blocks.h"

namespace tarsel::sim {

namespace {

bool Finite(float v) {
  return std::isfinite(v);
}

template <std::size_t N>
bool AllFinite(const std::array<float, N>& values) {
  return std::all_of(values.begin(), values.end(), Finite);
}

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
  if (!Finite(p.parameter) || !AllFinite(p.fingers)) return Outcome::kRefused;
  const MotionLimits& limits = s.motion.limits;
  const double hold = kVelocityHoldSeconds * s.timeScale;
  switch (p.type) {
    case 1:
    case 2: {
      if (!AllFinite(p.type == 1 ? p.coordinates : p.actuators)) return Outcome::kRefused;
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
      if (!s.motion.Enqueue(t)) return Outcome::kRefused;
      ++s.pointsAccepted;
      return Outcome::kDone;
    }
    case 7: {
      if (!AllFinite(p.coordinates)) return Outcome::kRefused;
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
      if (!AllFinite(p.actuators)) return Outcome::kRefused;
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
      return Outcome::kRefused;
  }
}

Outcome Joystick(const Bytes& payload, ArmState& s) {
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

int ActuatorAt(const ArmState& s, std::uint32_t address) {
  for (int i = 0; i < 6; ++i) {
    if (s.actuators[i].address == address) return i;
  }
  return -1;
}

Outcome ActuatorCommand(int command, const Bytes& payload, ArmState& s) {
  WireReader r(payload);
  const int i = ActuatorAt(s, r.U32());
  if (i < 0) return Outcome::kRefused;
  ActuatorSettings& a = s.actuators[i];
  switch (command) {
    case 14:
      s.motion.SetJointZero(i);
      return Outcome::kDone;
    case 52: {
      const std::uint32_t next = r.U32();
      if (next == 0 || next > 255) return Outcome::kRefused;
      const int other = ActuatorAt(s, next);
      if (other >= 0 && other != i) return Outcome::kRefused;
      a.address = next;
      return Outcome::kDone;
    }
    case 53:
    case 54: {
      std::array<float, 3> values{};
      for (float& v : values) v = r.F32();
      if (!AllFinite(values)) return Outcome::kRefused;
      (command == 53 ? a.pid : a.pidFilter) = values;
      return Outcome::kDone;
    }
    case 55: {
      // The torque reading becomes 0 in the present pose.
      a.torqueOffset += s.TorqueReading(i);
      return Outcome::kDone;
    }
    case 56: {
      const float gain = r.F32();
      if (!Finite(gain)) return Outcome::kRefused;
      a.torqueGain = gain;
      return Outcome::kDone;
    }
    default:
      return Outcome::kRefused;
  }
}

void CopyText(const Bytes& payload, std::array<unsigned char, 20>& field) {
  std::copy_n(payload.begin(), std::min(payload.size(), field.size()), field.begin());
}

}  // namespace

Outcome ApplyWrite(int command, const Bytes& payload, ArmState& s) {
  switch (command) {
    case 0:
      s.clientConfig = payload;
      return Outcome::kDone;
    case 38:
      s.zones = payload;
      return Outcome::kDone;
    case 40:
      s.controlMapping = payload;
      return Outcome::kDone;
    case 504:
      s.spasmFilter = payload;
      return Outcome::kDone;
    case 5000:
      s.devValues = payload;
      return Outcome::kDone;
    case 500:
    case 501:
    case 502:
    case 503:
      s.forceSettings[command - 500] = payload;
      return Outcome::kDone;
    case 61:
      CopyText(payload, s.serial);
      return Outcome::kDone;
    case 65:
      CopyText(payload, s.model);
      return Outcome::kDone;
    case 64:
      s.frameType = WireReader(payload).I32();
      return Outcome::kDone;
    case 14:
    case 52:
    case 53:
    case 54:
    case 55:
    case 56:
      return ActuatorCommand(command, payload, s);
    case 300:
      return ExecutePoint(ReadFullPoint(payload), true, s);
    case 308: {
      PointRecord p;
      if (!ReadBasicPoint(payload, p)) return Outcome::kRefused;
      return ExecutePoint(p, false, s);
    }
    case 305:
      return Joystick(payload, s);
    default:
      return Outcome::kRefused;
  }
}

Outcome ApplyBare(int command, ArmState& s) {
  switch (command) {
    case 13:
      // Programming starts over: the flash is erased.
      s.programming = true;
      s.firmware.clear();
      s.pagesReceived = 0;
      return Outcome::kDone;
    case 25:
      s.errors.clear();
      return Outcome::kDone;
    case 37:
      s.zones.assign(kZonesSize, 0);
      return Outcome::kDone;
    case 45:
      RestoreFactoryDefaults(s);
      return Outcome::kDone;
    case 47:
      s.controlType = kAngularControl;
      return Outcome::kDone;
    case 49:
      s.controlType = kCartesianControl;
      return Outcome::kDone;
    case 57:
      s.forceControl = true;
      return Outcome::kDone;
    case 58:
      s.forceControl = false;
      return Outcome::kDone;
    case 59:
      s.currentLimitation = true;
      return Outcome::kDone;
    case 60:
      s.currentLimitation = false;
      return Outcome::kDone;
    case 301:
      s.motion.Stop();
      return Outcome::kDone;
    case 302:
      s.apiControl = true;
      return Outcome::kDone;
    case 303:
      s.apiControl = false;
      return Outcome::kDone;
    case 311: {
      Motion::Target home;
      home.joints = kHomePose;
      home.fingers = s.motion.TargetFingersAfterQueue();
      home.record = RecordOfPose(s.motion, kHomePose, home.fingers);
      if (!s.motion.Enqueue(home)) return Outcome::kRefused;
      ++s.homeMoves;
      return Outcome::kDone;
    }
    default:
      return Outcome::kRefused;
  }
}

}  // namespace tarsel::sim
