#include "loop/set_point.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "motion/motion_codec.h"

namespace tarsel::loop {

namespace {

constexpr const char* kUnchanged = ": the set-point is unchanged";

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

[[noreturn]] void Refuse(const char* where, const std::string& why) {
  throw Error(TARSEL_ERROR_ARGUMENT, where, why);
}

constexpr const char* kJointNames[6] = {"joint 1", "joint 2", "joint 3",
                                        "joint 4", "joint 5", "joint 6"};
constexpr const char* kAxisNames[6] = {"X", "Y", "Z", "RotationX", "RotationY", "RotationZ"};

// Builds its message only for a value it refuses: the checks of a set-point
// that passes allocate nothing.
void RequireAllFinite(const std::array<float, 6>& v, const char* const names[6], const char* what,
                      const char* where) {
  for (int i = 0; i < 6; ++i) {
    if (!std::isfinite(v[i])) {
      Refuse(where, std::string(names[i]) + " " + what + " is " +
                        (std::isnan(v[i]) ? "NaN" : "infinite") + kUnchanged);
    }
  }
}

// The length of the vector (x, y, z) must not exceed limit.
void RequireSpeed(const float* xyz, float limit, const char* what, const char* unit,
                  const char* where) {
  const double speed = std::sqrt(double{xyz[0]} * xyz[0] + double{xyz[1]} * xyz[1] +
                                 double{xyz[2]} * xyz[2]);
  if (speed > limit) {
    Refuse(where, std::string(what) + " " + Number(speed) + " " + unit + " (" + Number(xyz[0]) +
                      ", " + Number(xyz[1]) + ", " + Number(xyz[2]) +
                      ") is beyond the limit of " + Number(limit) + " " + unit + kUnchanged);
  }
}

void RequirePositive(float value, const char* name, const char* where) {
  if (!(std::isfinite(value) && value > 0)) {
    Refuse(where, std::string(name) + " " + Number(value) + " is out of range (finite, above 0)");
  }
}

// A set-point of kind with the values of info, given now.
template <class Info>
SetPoint Made(SetPointKind kind, const Info& info) {
  return SetPoint{kind, 0, std::chrono::steady_clock::now(), FloatsOf(info)};
}

}  // namespace

void CheckOptions(const LoopOptions& o, const char* where) {
  if (!(std::isfinite(o.rate) && o.rate > 0 && o.rate <= 1000)) {
    Refuse(where, "rate " + Number(o.rate) + " is out of range (above 0, at most 1000 per second)");
  }
  if (o.watchdog.count() < 0) {
    Refuse(where, "watchdog " + std::to_string(o.watchdog.count()) + " ns is negative");
  }
  constexpr unsigned kKnown = kReadVelocities | kReadForces | kReadCartesian | kReadQuickStatus;
  if ((o.readouts & ~kKnown) != 0) {
    Refuse(where, "readouts " + std::to_string(o.readouts) + " has bits of no LoopReadout");
  }
  RequirePositive(o.maxJointSpeed, "maxJointSpeed", where);
  RequirePositive(o.maxLinearSpeed, "maxLinearSpeed", where);
  RequirePositive(o.maxAngularSpeed, "maxAngularSpeed", where);
}

void CheckJointVelocity(const AngularInfo& a, const LoopOptions& o, const char* where) {
  const std::array<float, 6> v = FloatsOf(a);
  RequireAllFinite(v, kJointNames, "velocity", where);
  for (int i = 0; i < 6; ++i) {
    if (std::fabs(v[i]) > o.maxJointSpeed) {
      Refuse(where, std::string(kJointNames[i]) + " velocity " + Number(v[i]) +
                        " deg/s is beyond the limit of " + Number(o.maxJointSpeed) + " deg/s" +
                        kUnchanged);
    }
  }
}

void CheckCartesianVelocity(const CartesianInfo& c, const LoopOptions& o, const char* where) {
  const std::array<float, 6> v = FloatsOf(c);
  RequireAllFinite(v, kAxisNames, "velocity", where);
  RequireSpeed(v.data(), o.maxLinearSpeed, "linear speed", "m/s", where);
  RequireSpeed(v.data() + 3, o.maxAngularSpeed, "angular speed", "rad/s", where);
}

void CheckJointPosition(const AngularInfo& a, const char* where) {
  const std::array<float, 6> v = FloatsOf(a);
  RequireAllFinite(v, kJointNames, "angle", where);
}

void CheckCartesianPosition(const CartesianInfo& c, const char* where) {
  const std::array<float, 6> v = FloatsOf(c);
  RequireAllFinite(v, kAxisNames, "coordinate", where);
}

SetPoint MakeSetPoint(SetPointKind kind, const AngularInfo& a) {
  return Made(kind, a);
}

SetPoint MakeSetPoint(SetPointKind kind, const CartesianInfo& c) {
  return Made(kind, c);
}

TrajectoryPoint ZeroVelocity() {
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = TARSEL_ANGULAR_VELOCITY;
  return point;
}

TrajectoryPoint PointOf(const SetPoint& set, const FingersPosition& fingers) {
  TrajectoryPoint point = ZeroVelocity();
  switch (set.kind) {
    case SetPointKind::kNone:
    case SetPointKind::kHold:
      break;
    case SetPointKind::kJointVelocity:
    case SetPointKind::kJointPosition:
      point.Position.Type = set.kind == SetPointKind::kJointVelocity ? TARSEL_ANGULAR_VELOCITY
                                                                      : TARSEL_ANGULAR_POSITION;
      point.Position.Actuators = FromFloats<AngularInfo>(set.values);
      break;
    case SetPointKind::kCartesianVelocity:
    case SetPointKind::kCartesianPosition:
      point.Position.Type = set.kind == SetPointKind::kCartesianVelocity
                                ? TARSEL_CARTESIAN_VELOCITY
                                : TARSEL_CARTESIAN_POSITION;
      point.Position.Coordinates = FromFloats<CartesianInfo>(set.values);
      break;
  }
  // A position point moves the fingers too: to where they are.
  if (!IsVelocity(set.kind) && set.kind != SetPointKind::kHold) point.Position.Fingers = fingers;
  return point;
}

}  // namespace tarsel::loop
