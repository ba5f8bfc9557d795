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
  tarsel::PayloadReader in(at, payload);
  in.Field(out.Finger1Initialized).Field(out.Finger2Initialized).Field(out.Finger3Initialized);
  in.Skip(1);  // reserved by the arm
  in.Field(out.StatusByte3).Field(out.StatusByte4).Field(out.StatusByte5);
  in.Field(out.StatusByte6).Field(out.StatusByte7).Field(out.StatusByte8);
  in.Field(out.StatusByte9).Field(out.StatusByte10).Field(out.HandType);
  in.Field(out.StatusByte12).Field(out.StatusByte13);
  return 1;
}

int DeserializeForcesInfo(int& offset, const Payload& payload, ForcesInfo& out) {
  tarsel::PayloadReader in(offset, payload);
  in.RawFloat(out.Force1).RawFloat(out.Force2).RawFloat(out.Force3).RawFloat(out.Force4);
  in.RawFloat(out.Force5).RawFloat(out.Force6).RawFloat(out.Force7).RawFloat(out.Force8);
  in.RawFloat(out.Force9).RawFloat(out.Force10).RawFloat(out.Force11).RawFloat(out.Force12);
  return 1;
}

int DeserializeSensorsInfo(int& offset, const Payload& payload, SensorsInfo& out) {
  tarsel::PayloadReader in(offset, payload);
  in.Field(out.Sensor1).Field(out.Sensor2).Field(out.Sensor3).Field(out.Sensor4);
  in.Field(out.Sensor5).Field(out.Sensor6).Field(out.Sensor7).Field(out.Sensor8);
  in.Field(out.Sensor9).Field(out.Sensor10).Field(out.Sensor11).Field(out.Sensor12);
  in.Field(out.Sensor13).Field(out.Sensor14);
  return 1;
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
