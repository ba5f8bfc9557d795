// Control modes, joystick samples, the home move and the two control queries.
#include "core/exchange.h"
#include "core/connection.h"
#include "core/pause.h"
#include "motion/motion_codec.h"
#include "tarsel/result.h"

namespace {

constexpr int kGetControlType = 10;
constexpr int kSetAngularControl = 47;
constexpr int kSetCartesianControl = 49;
constexpr int kValidateCartesianTransition = 118;
constexpr int kStartControlAPI = 302;
constexpr int kStopControlAPI = 303;
constexpr int kSendJoystickCommand = 305;
constexpr int kGetSingularityVector = 310;
constexpr int kMoveHome = 311;

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
