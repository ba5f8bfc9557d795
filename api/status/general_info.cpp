// General information and gripper status: the two largest status blocks.
#include "core/catalogue.h"
#include "motion/motion_codec.h"
#include "status/status_codec.h"

namespace {

constexpr int kGeneralInformationsCommand = tarsel::command::GetGeneralInformations;
constexpr int kGripperCommand = tarsel::command::GetGripperStatus;

}  // namespace

int DeserializeGeneralInformations(int& offset, const Payload& payload, GeneralInformations& out) {
  tarsel::PayloadReader in(offset, payload);
  in.Field(out.DoubleValue1).Field(out.DoubleValue2);
  in.Field(out.UIntValue1).Field(out.UIntValue2);
  in.Field(out.FloatValue1).Field(out.FloatValue2).Field(out.FloatValue3).Field(out.FloatValue4);
  in.Field(out.FloatValue5).Field(out.FloatValue6).Field(out.FloatValue7).Field(out.FloatValue8);
  in.Field(out.FloatValue9).Field(out.FloatValue10).Field(out.FloatValue11);
  in.Field(out.FloatValue12);
  in.Field(out.UIntValue3).Field(out.UIntValue4);
  in.Field(out.UShortValue1).Field(out.UShortValue2).Field(out.UShortValue3);
  in.Field(out.UShortValue4).Field(out.UShortValue5).Field(out.UShortValue6);
  in.Field(out.UShortValue7).Field(out.UShortValue8).Field(out.UShortValue9);
  in.Field(out.UShortValue10).Field(out.UShortValue11).Field(out.UShortValue12);
  in.Field(out.UIntValue5).Field(out.UIntValue6).Field(out.UIntValue7).Field(out.UIntValue8);
  in.Field(out.UIntValue9).Field(out.UIntValue10).Field(out.UIntValue11);
  in.Field(out.UIntValue12).Field(out.UIntValue13).Field(out.UIntValue14);
  in.Field(out.UIntValue15);
  in.Skip(4);  // reserved by the arm
  in.Nested(DeserializeUserPosition, out.Position1);
  in.Nested(DeserializeUserPosition, out.Position2);
  in.Nested(DeserializeUserPosition, out.Position3);
  in.Nested(DeserializeUserPosition, out.Position4);
  in.Field(out.FloatValue13).Field(out.FloatValue14).Field(out.FloatValue15);
  in.Field(out.FloatValue16).Field(out.FloatValue17).Field(out.FloatValue18);
  in.Field(out.FloatValue19).Field(out.FloatValue20).Field(out.FloatValue21);
  in.Field(out.FloatArray1).Field(out.FloatArray2).Field(out.ShortArray);
  in.Field(out.FloatValue22).Field(out.FloatValue23).Field(out.FloatValue24);
  in.Field(out.FloatValue25).Field(out.FloatValue26).Field(out.FloatValue27);
  in.Field(out.UIntArray1).Field(out.UIntArray2);
  in.Field(out.FloatArray3).Field(out.FloatArray4).Field(out.FloatArray5);
  in.Field(out.IntArray1).Field(out.IntArray2).Field(out.IntValue1);
  in.Field(out.DoubleValue3).Field(out.DoubleValue4);
  return 1;
}

int DeserializeFinger(int& offset, const Payload& payload, Finger& out) {
  tarsel::PayloadReader in(offset, payload);
  in.Text(out.Text);
  in.Field(out.FloatValue1).Field(out.FloatValue2).Field(out.FloatValue3).Field(out.FloatValue4);
  in.Field(out.FloatValue5).Field(out.FloatValue6).Field(out.FloatValue7).Field(out.FloatValue8);
  in.Truncated(out.IntValue1).Field(out.IntValue2);
  in.Field(out.FloatValue9).Field(out.FloatValue10).Field(out.FloatValue11);
  in.Field(out.FloatValue12).Field(out.FloatValue13).Field(out.FloatValue14);
  in.Field(out.FloatValue15).Field(out.FloatValue16).Field(out.FloatValue17);
  in.Field(out.FloatValue18).Field(out.FloatValue19);
  in.Skip(12);  // reserved by the arm
  in.Field(out.UIntValue1).Field(out.UIntValue2);
  in.Field(out.ShortValue1).Field(out.ShortValue2).Field(out.ShortValue3).Field(out.ShortValue4);
  return 1;
}

int DeserializeGripper(int& offset, const Payload& payload, Gripper& out) {
  tarsel::PayloadReader in(offset, payload);
  in.Text(out.Text);
  for (Finger& finger : out.Fingers) in.Nested(DeserializeFinger, finger);
  return 1;
}

extern "C" {

int GetGeneralInformations(GeneralInformations& info) {
  return tarsel::ReadRecord(kGeneralInformationsCommand, DeserializeGeneralInformations, info);
}

int GetGripperStatus(Gripper& gripper) {
  return tarsel::ReadRecord(kGripperCommand, DeserializeGripper, gripper);
}

}  // extern "C"
