// Quick status, forces and sensors: compact one-packet snapshots.
#include "core/catalogue.h"
#include "status/status_codec.h"

namespace {

constexpr int kQuickStatusCommand = tarsel::command::GetQuickStatus;
constexpr int kForcesCommand = tarsel::command::GetForcesInfo;
constexpr int kSensorsCommand = tarsel::command::GetSensorsInfo;

}  // namespace

int DeserializeQuickStatus(int& /*offset*/, const Payload& payload, QuickStatus& out) {
  // The status bytes sit at fixed places from the payload's start, so the
  // caller's offset is neither used nor moved.
  int at = 0;
  return tarsel::Decode(at, payload, out);
}

int DeserializeForcesInfo(int& offset, const Payload& payload, ForcesInfo& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeSensorsInfo(int& offset, const Payload& payload, SensorsInfo& out) {
  return tarsel::Decode(offset, payload, out);
}

extern "C" {

int GetQuickStatus(QuickStatus& status) {
  return tarsel::ReadRecord(kQuickStatusCommand, DeserializeQuickStatus, status);
}

int GetForcesInfo(ForcesInfo& forces) {
  return tarsel::ReadRecord(kForcesCommand, DeserializeForcesInfo, forces);
}

int GetSensorsInfo(SensorsInfo& sensors) {
  return tarsel::ReadRecord(kSensorsCommand, DeserializeSensorsInfo, sensors);
}

}  // extern "C"
