// Control modes, joystick samples, the home move and the two control queries.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "core/connection.h"
#include "core/pause.h"
#include "motion/motion_codec.h"
#include "tarsel/result.h"

namespace {

constexpr int kGetControlType = tarsel::command::GetControlType;
constexpr int kSetAngularControl = tarsel::command::SetAngularControl;
constexpr int kSetCartesianControl = tarsel::command::SetCartesianControl;
constexpr int kValidateCartesianTransition = tarsel::command::ValidateCartesianTransition;
constexpr int kStartControlAPI = tarsel::command::StartControlAPI;
constexpr int kStopControlAPI = tarsel::command::StopControlAPI;
constexpr int kSendJoystickCommand = tarsel::command::SendJoystickCommand;
constexpr int kGetSingularityVector = tarsel::command::GetSingularityVector;
constexpr int kMoveHome = tarsel::command::MoveHome;

// Waits of the home move, in microseconds.
constexpr unsigned kHomeSettle = 40000;     // after the home command and between mode switches
constexpr unsigned kQueuePollGap = 100000;  // after each queue poll while points remain

int DeserializeControlType(int& offset, const Payload& payload, int& out) {
  tarsel::PayloadReader(offset, payload).Field(out);
  return 1;
}

}  // namespace

int StartControlAPI() {
  return tarsel::SendBare(kStartControlAPI);
}
int StopControlAPI() {
  return tarsel::SendBare(kStopControlAPI);
}
int SetAngularControl() {
  return tarsel::SendBare(kSetAngularControl);
}
int SetCartesianControl() {
  return tarsel::SendBare(kSetCartesianControl);
}

int GetControlType(int& type) {
  return tarsel::ReadRecord(kGetControlType, DeserializeControlType, type);
}

int GetSingularityVector(SingularityVector& vector) {
  return tarsel::ReadRecord(kGetSingularityVector, DeserializeSingularityVector, vector);
}

int ValidateCartesianTransition(unsigned int& answer) {
  return tarsel::ReadRecord(kValidateCartesianTransition, DeserializeCartesianValidation, answer);
}

int SendJoystickCommand(JoystickCommand command) {
  return tarsel::WriteRecord(kSendJoystickCommand, SerializeJoystickCommand, command);
}

// Sends the arm home, waits for its trajectory queue to drain, then switches
// to angular and back to Cartesian control so the arm is left in Cartesian
// control. A queue query that fails ends the wait at once (a link that has
// gone away would otherwise be polled for ever); the two mode commands are
// still sent so that a link that recovers leaves the arm in Cartesian control.
// The result is the home command's code, or the failed query's code when the
// home command itself succeeded. A stop asked for by the caller (a time limit,
// an interrupt; none in the flat API) erases the queue, which halts the arm,
// and ends the wait with the stop's code.
int MoveHome() {
  int result = tarsel::SendBare(kMoveHome);
  tarsel::Pause(kHomeSettle);

  TrajectoryFIFO fifo{};
  int query = GetGlobalTrajectoryInfo(fifo);
  while (query == TARSEL_OK && fifo.PointCount != 0) {
    if (const int stop = tarsel::PendingStop(); stop != 0) {
      EraseAllTrajectories();
      return stop;
    }
    query = GetGlobalTrajectoryInfo(fifo);
    if (query != TARSEL_OK) break;
    tarsel::Pause(kQueuePollGap);
  }
  if (result == TARSEL_OK && query != TARSEL_OK) result = query;

  SetAngularControl();
  tarsel::Pause(kHomeSettle);
  SetCartesianControl();
  return result;
}
