// General information and gripper status: the two largest status blocks.
#include "core/catalogue.h"
#include "status/status_codec.h"

namespace {

constexpr int kGeneralInformationsCommand = tarsel::command::GetGeneralInformations;
constexpr int kGripperCommand = tarsel::command::GetGripperStatus;

}  // namespace

int DeserializeGeneralInformations(int& offset, const Payload& payload, GeneralInformations& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeFinger(int& offset, const Payload& payload, Finger& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeGripper(int& offset, const Payload& payload, Gripper& out) {
  return tarsel::Decode(offset, payload, out);
}

extern "C" {

int GetGeneralInformations(GeneralInformations& info) {
  return tarsel::ReadRecord(kGeneralInformationsCommand, DeserializeGeneralInformations, info);
}

int GetGripperStatus(Gripper& gripper) {
  return tarsel::ReadRecord(kGripperCommand, DeserializeGripper, gripper);
}

}  // extern "C"
