// The motion records' defaults and payload forms. Every codec is the list of
// its form's fields in wire order; the reader and writer take care of byte
// order and of payloads that end early.
#include "motion/motion_codec.h"

namespace {

using tarsel::PayloadReader;
using tarsel::PayloadWriter;

using tarsel::kPositionFiller;
// Size of the basic trajectory point form, whatever its Type.
constexpr std::size_t kBasicPointSize = 48;

void Put(PayloadWriter& w, const CartesianInfo& c) {
  w.Field(c.X).Field(c.Y).Field(c.Z).Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ);
}
void Put(PayloadWriter& w, const AngularInfo& a) {
  w.Field(a.Actuator1).Field(a.Actuator2).Field(a.Actuator3);
  w.Field(a.Actuator4).Field(a.Actuator5).Field(a.Actuator6);
}
void Put(PayloadWriter& w, const FingersPosition& f) {
  w.Field(f.Finger1).Field(f.Finger2).Field(f.Finger3);
}

void Take(PayloadReader& r, AngularInfo& a) {
  tarsel::AngularInfoForm(r, a);
}
void Take(PayloadReader& r, FingersPosition& f) {
  tarsel::FingersForm(r, f);
}

bool UsesCoordinates(int type) {
  return type == 1 || type == 7;
}
bool UsesActuators(int type) {
  return type == 2 || type == 8;
}

}  // namespace

// --- Defaults -----------------------------------------------------------------

void AngularInfo::InitStruct() {
  Actuator1 = Actuator2 = Actuator3 = Actuator4 = Actuator5 = Actuator6 = 0.0f;
}

void CartesianInfo::InitStruct() {
  X = Y = Z = 0.0f;
  RotationX = RotationY = RotationZ = 0.0f;
}

void FingersPosition::InitStruct() {
  Finger1 = Finger2 = Finger3 = 0.0f;
}

void UserPosition::InitStruct() {
  Type = 1;
  Parameter = 0.0f;
  Coordinates.InitStruct();
  Actuators.InitStruct();
  FingersMode = 1;
  Fingers.InitStruct();
}

void Limitation::InitStruct() {
  Limit1 = Limit2 = Limit3 = Limit4 = Limit5 = Limit6 = Limit7 = Limit8 = Limit9 = 0.0f;
}

void TrajectoryPoint::InitStruct() {
  Position.InitStruct();
  LimitationFlag = 0;
  Limits.InitStruct();
}

// --- Shared pieces ----------------------------------------------------------------

namespace tarsel {

void ReadLimits(PayloadReader& r, Limitation& l) {
  r.Field(l.Limit1).Field(l.Limit2).Field(l.Limit3).Field(l.Limit4).Field(l.Limit5);
  r.Field(l.Limit6).Field(l.Limit7).Field(l.Limit8).Field(l.Limit9);
}

}  // namespace tarsel

// --- Decoders -------------------------------------------------------------------

int DeserializeAngularPosition(int& offset, const Payload& payload, AngularPosition& out) {
  PayloadReader r(offset, payload);
  tarsel::AngularPositionForm(r, out);
  return 1;
}

int DeserializeCartesianPosition(int& offset, const Payload& payload, CartesianPosition& out) {
  PayloadReader r(offset, payload);
  tarsel::CartesianPositionForm(r, out);
  return 1;
}

int DeserializeActuatorAcceleration(int& offset, const Payload& payload, AngularAcceleration& out) {
  PayloadReader(offset, payload).Field(out.Values);
  return 1;
}

int DeserializeUserPosition(int& offset, const Payload& payload, UserPosition& out) {
  CartesianInfo& c = out.Coordinates;
  PayloadReader r(offset, payload);
  r.Field(out.Type).Field(out.Parameter).Skip(8);
  r.Field(c.X).Field(c.Y).Field(c.Z).Skip(12);
  r.Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ).Skip(12);
  Take(r, out.Actuators);
  r.Field(out.FingersMode);
  Take(r, out.Fingers);
  return 1;
}

int DeserializeGlobalTrajectory(int& offset, const Payload& payload, TrajectoryFIFO& out) {
  PayloadReader r(offset, payload);
  tarsel::TrajectoryFifoForm(r, out);
  return 1;
}

int DeserializeSingularityVector(int& offset, const Payload& payload, SingularityVector& out) {
  CartesianInfo& v = out.Vector;
  PayloadReader r(offset, payload);
  r.Field(out.Indicator1).Truncated(out.Indicator2).Field(out.Measure1).Field(out.Measure2);
  r.Skip(8).Field(v.X).Field(v.Y).Field(v.Z);
  r.Skip(8).Field(v.RotationX).Field(v.RotationY).Field(v.RotationZ);
  return 1;
}

int DeserializeCartesianValidation(int& offset, const Payload& payload, unsigned int& out) {
  PayloadReader(offset, payload).Field(out);
  return 1;
}

// --- Encoders -------------------------------------------------------------------

int SerializeCartesianInfo(int& offset, Payload& payload, CartesianInfo info) {
  PayloadWriter w(payload);
  Put(w, info);
  offset = tarsel::Advance(offset, static_cast<int>(w.Written()));
  return 1;
}

int SerializeAngularInfo(int& offset, Payload& payload, AngularInfo info) {
  PayloadWriter w(payload);
  Put(w, info);
  offset = tarsel::Advance(offset, static_cast<int>(w.Written()));
  return 1;
}

int SerializeTrajectoryPoint(int& /*offset*/, Payload& payload, TrajectoryPoint point) {
  tarsel::FormWriter w(payload, tarsel::kTrajectoryPointSize);
  tarsel::WriteTrajectoryPoint(w, point);
  return 1;
}

int SerializeBasicTrajectoryPoint(int& offset, Payload& payload, TrajectoryPoint point) {
  const UserPosition& p = point.Position;
  PayloadWriter w(payload);
  if (UsesCoordinates(p.Type)) {
    Put(w, p.Coordinates);
  } else if (UsesActuators(p.Type)) {
    Put(w, p.Actuators);
  }
  Put(w, p.Fingers);
  w.Field(p.Parameter).Field(p.FingersMode).Field(p.Type);
  // The offset reports the bytes that carry data; the form is always 48.
  offset = static_cast<int>(w.Written());
  w.PadTo(kBasicPointSize);
  return 1;
}

int SerializeJoystickCommand(int& /*offset*/, Payload& payload, JoystickCommand command) {
  PayloadWriter(payload)
      .Field(command.Buttons)
      .Field(command.Axis1)
      .Field(command.Axis2)
      .Field(command.Axis3)
      .Field(command.Axis4)
      .Field(command.Axis5)
      .Field(command.Axis6);
  return 1;
}
