// Force control and impedance settings: four bare switches and four settings
// that each send two records side by side in one packet.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "motion/motion_codec.h"

namespace {

constexpr int kStartForceControl = tarsel::command::StartForceControl;
constexpr int kStopForceControl = tarsel::command::StopForceControl;
constexpr int kStartCurrentLimitation = tarsel::command::StartCurrentLimitation;
constexpr int kStopCurrentLimitation = tarsel::command::StopCurrentLimitation;
constexpr int kSetCartesianForceMinMax = tarsel::command::SetCartesianForceMinMax;
constexpr int kSetCartesianInertiaDamping = tarsel::command::SetCartesianInertiaDamping;
constexpr int kSetAngularTorqueMinMax = tarsel::command::SetAngularTorqueMinMax;
constexpr int kSetAngularInertiaDamping = tarsel::command::SetAngularInertiaDamping;

// Two records side by side in one payload, the first at offset 0, the second
// at 24; neither is compared with the other.
template <typename Info, int (*Encode)(int&, Payload&, Info)>
int EncodePair(int& offset, Payload& payload, Info first, Info second) {
  Encode(offset, payload, first);
  return Encode(offset, payload, second);
}
constexpr auto kCartesianPair = EncodePair<CartesianInfo, SerializeCartesianInfo>;
constexpr auto kAngularPair = EncodePair<AngularInfo, SerializeAngularInfo>;

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
  return tarsel::WriteRecord(kSetCartesianForceMinMax, kCartesianPair, min, max);
}
int SetCartesianInertiaDamping(CartesianInfo inertia, CartesianInfo damping) {
  return tarsel::WriteRecord(kSetCartesianInertiaDamping, kCartesianPair, inertia, damping);
}
int SetAngularTorqueMinMax(AngularInfo min, AngularInfo max) {
  return tarsel::WriteRecord(kSetAngularTorqueMinMax, kAngularPair, min, max);
}
int SetAngularInertiaDamping(AngularInfo inertia, AngularInfo damping) {
  return tarsel::WriteRecord(kSetAngularInertiaDamping, kAngularPair, inertia, damping);
}
