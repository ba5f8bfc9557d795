// Force control and impedance settings: four bare switches and four settings
// that each send two records side by side in one packet.
#include "motion/motion_codec.h"
#include "motion/motion_exchange.h"

namespace {

constexpr int kStartForceControl = 57;
constexpr int kStopForceControl = 58;
constexpr int kStartCurrentLimitation = 59;
constexpr int kStopCurrentLimitation = 60;
constexpr int kSetCartesianForceMinMax = 500;
constexpr int kSetCartesianInertiaDamping = 501;
constexpr int kSetAngularTorqueMinMax = 502;
constexpr int kSetAngularInertiaDamping = 503;

// The first record at payload offset 0, the second at 24; neither is
// compared with the other.
template <typename Info>
int SendPair(int command, int (*encode)(int&, Payload&, Info), const Info& first,
             const Info& second) {
  Payload payload;
  int offset = 0;
  encode(offset, payload, first);
  encode(offset, payload, second);
  return tarsel::SendPayload(command, payload);
}

}  // namespace

int StartForceControl() {
  return tarsel::SendBare(kStartForceControl);
}
int StopForceControl() {
  return tarsel::SendBare(kStopForceControl);
}
int StartCurrentLimitation() {
  return tarsel::SendBare(kStartCurrentLimitation);
}
int StopCurrentLimitation() {
  return tarsel::SendBare(kStopCurrentLimitation);
}

int SetCartesianForceMinMax(CartesianInfo min, CartesianInfo max) {
  return SendPair(kSetCartesianForceMinMax, SerializeCartesianInfo, min, max);
}
int SetCartesianInertiaDamping(CartesianInfo inertia, CartesianInfo damping) {
  return SendPair(kSetCartesianInertiaDamping, SerializeCartesianInfo, inertia, damping);
}
int SetAngularTorqueMinMax(AngularInfo min, AngularInfo max) {
  return SendPair(kSetAngularTorqueMinMax, SerializeAngularInfo, min, max);
}
int SetAngularInertiaDamping(AngularInfo inertia, AngularInfo damping) {
  return SendPair(kSetAngularInertiaDamping, SerializeAngularInfo, inertia, damping);
}
