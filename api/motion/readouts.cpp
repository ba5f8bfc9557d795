// The read-outs of the arm's present state. They form one family: each is a
// read of one command whose answer is decoded into one of three records; only
// the command number and the record differ.
#include "core/exchange.h"
#include "motion/motion_codec.h"

namespace {

// The decoder that belongs to each read-out record.
int Decode(int& offset, const Payload& payload, CartesianPosition& out) {
  return DeserializeCartesianPosition(offset, payload, out);
}
int Decode(int& offset, const Payload& payload, AngularPosition& out) {
  return DeserializeAngularPosition(offset, payload, out);
}
int Decode(int& offset, const Payload& payload, AngularAcceleration& out) {
  return DeserializeActuatorAcceleration(offset, payload, out);
}

template <int Command, typename Record>
int ReadOut(Record& out) {
  return tarsel::ReadRecord<Record>(Command, Decode, out);
}

}  // namespace

int GetCartesianPosition(CartesianPosition& position) {
  return ReadOut<104>(position);
}
int GetAngularPosition(AngularPosition& position) {
  return ReadOut<105>(position);
}
int GetCartesianCommand(CartesianPosition& command) {
  return ReadOut<106>(command);
}
int GetAngularCommand(AngularPosition& command) {
  return ReadOut<107>(command);
}
int GetCartesianForce(CartesianPosition& force) {
  return ReadOut<108>(force);
}
int GetAngularForce(AngularPosition& force) {
  return ReadOut<109>(force);
}
int GetAngularCurrent(AngularPosition& current) {
  return ReadOut<110>(current);
}
int GetAngularCurrentMotor(AngularPosition& current) {
  return ReadOut<113>(current);
}
int GetAngularVelocity(AngularPosition& velocity) {
  return ReadOut<114>(velocity);
}
int GetAngularForceGravityFree(AngularPosition& force) {
  return ReadOut<116>(force);
}
int GetActuatorAcceleration(AngularAcceleration& acceleration) {
  return ReadOut<117>(acceleration);
}
