// The motion records' defaults and payload codecs. Every codec is its record's
// form (motion_codec.h) read or written; the reader and writer take care of
// byte order and of payloads that end early.
#include "motion/motion_codec.h"

// --- Defaults -----------------------------------------------------------------

void AngularInfo::InitStruct() {
  *this = AngularInfo{};
}

void CartesianInfo::InitStruct() {
  *this = CartesianInfo{};
}

void FingersPosition::InitStruct() {
  *this = FingersPosition{};
}

void UserPosition::InitStruct() {
  // Type 1, FingersMode 1, everything else zero.
  *this = UserPosition{TARSEL_CARTESIAN_POSITION, 0.0f, {}, {}, 1, {}};
}

void Limitation::InitStruct() {
  *this = Limitation{};
}

void TrajectoryPoint::InitStruct() {
  *this = TrajectoryPoint{};
  Position.InitStruct();
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
