// The motion records' defaults and payload codecs. Every codec is its record's
// form (motion_codec.h) read or written; the reader and writer take care of
// byte order and of payloads that end early.
#include "motion/motion_codec.h"

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

// --- Decoders -------------------------------------------------------------------

int DeserializeAngularPosition(int& offset, const Payload& payload, AngularPosition& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeCartesianPosition(int& offset, const Payload& payload, CartesianPosition& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeActuatorAcceleration(int& offset, const Payload& payload, AngularAcceleration& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeUserPosition(int& offset, const Payload& payload, UserPosition& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeGlobalTrajectory(int& offset, const Payload& payload, TrajectoryFIFO& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeSingularityVector(int& offset, const Payload& payload, SingularityVector& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeCartesianValidation(int& offset, const Payload& payload, unsigned int& out) {
  tarsel::PayloadReader(offset, payload).Field(out);
  return 1;
}

// --- Encoders -------------------------------------------------------------------

int SerializeCartesianInfo(int& offset, Payload& payload, CartesianInfo info) {
  tarsel::Encode(payload, info);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<CartesianInfo>>());
  return 1;
}

int SerializeAngularInfo(int& offset, Payload& payload, AngularInfo info) {
  tarsel::Encode(payload, info);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<AngularInfo>>());
  return 1;
}

int SerializeTrajectoryPoint(int& /*offset*/, Payload& payload, TrajectoryPoint point) {
  return tarsel::Encode(payload, point);
}

int SerializeBasicTrajectoryPoint(int& offset, Payload& payload, TrajectoryPoint point) {
  return tarsel::WithBasicForm(point.Position.Type, [&]<class F>(F) {
    tarsel::Encode<TrajectoryPoint, F>(payload, point);
    // The offset reports the bytes that carry data; the form is always 48.
    offset = tarsel::FormSize<typename F::PositionForm>();
    return 1;
  });
}

int SerializeJoystickCommand(int& /*offset*/, Payload& payload, JoystickCommand command) {
  return tarsel::Encode(payload, command);
}
