// The read-outs of the arm's present state. They form one family: each is a
// read of one command whose answer is decoded through its record's form; only
// the command number and the record differ.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "motion/motion_codec.h"

namespace {

template <int Command, typename Record>
int ReadOut(Record& out) {
  return tarsel::ReadRecord<Record>(Command, tarsel::Decode<Record>, out);
}

}  // namespace

int GetCartesianPosition(CartesianPosition& position) {
  return ReadOut<tarsel::command::GetCartesianPosition>(position);
}
int GetAngularPosition(AngularPosition& position) {
  return ReadOut<tarsel::command::GetAngularPosition>(position);
}
int GetCartesianCommand(CartesianPosition& command) {
  return ReadOut<tarsel::command::GetCartesianCommand>(command);
}
int GetAngularCommand(AngularPosition& command) {
  return ReadOut<tarsel::command::GetAngularCommand>(command);
}
int GetCartesianForce(CartesianPosition& force) {
  return ReadOut<tarsel::command::GetCartesianForce>(force);
}
int GetAngularForce(AngularPosition& force) {
  return ReadOut<tarsel::command::GetAngularForce>(force);
}
int GetAngularCurrent(AngularPosition& current) {
  return ReadOut<tarsel::command::GetAngularCurrent>(current);
}
int GetAngularCurrentMotor(AngularPosition& current) {
  return ReadOut<tarsel::command::GetAngularCurrentMotor>(current);
}
int GetAngularVelocity(AngularPosition& velocity) {
  return ReadOut<tarsel::command::GetAngularVelocity>(velocity);
}
int GetAngularForceGravityFree(AngularPosition& force) {
  return ReadOut<tarsel::command::GetAngularForceGravityFree>(force);
}
int GetActuatorAcceleration(AngularAcceleration& acceleration) {
  return ReadOut<tarsel::command::GetActuatorAcceleration>(acceleration);
}
