// Payload forms of the status records. Each decoder reads its form from
// offset on, leaves offset just past it (the quick status excepted) and
// returns 1. Fields lying past the payload's end read as zero; nothing outside
// the payload is touched.
#pragma once

#include <vector>

#include "core/exchange.h"
#include "core/form.h"
#include "core/payload.h"
#include "motion/motion_codec.h"
#include "tarsel/status.h"

// 832 bytes: 4 reserved bytes at 148, then the four positions in their
// 104-byte form from 152 on.
TARSEL_API int DeserializeGeneralInformations(int& offset, const Payload& payload,
                                              GeneralInformations& out);
// 416 bytes: the 20-byte text, then three 132-byte finger blocks.
TARSEL_API int DeserializeGripper(int& offset, const Payload& payload, Gripper& out);
// 132 bytes: IntValue1 arrives as a float and is truncated toward zero;
// bytes 104 to 115 of the block are reserved.
TARSEL_API int DeserializeFinger(int& offset, const Payload& payload, Finger& out);

// Reads payload bytes 0 to 14 (byte 3 is reserved) whatever offset holds, and
// leaves offset unchanged.
TARSEL_API int DeserializeQuickStatus(int& offset, const Payload& payload, QuickStatus& out);
// 48 bytes, each force copied bit for bit.
TARSEL_API int DeserializeForcesInfo(int& offset, const Payload& payload, ForcesInfo& out);
// 56 bytes.
TARSEL_API int DeserializeSensorsInfo(int& offset, const Payload& payload, SensorsInfo& out);

// 235 bytes: five 32-bit values, seven flag bytes, then the rest at odd
// offsets.
TARSEL_API int DeserializeSystemError(int& offset, const Payload& payload, SystemError& out);

// 300 bytes: fifteen 20-byte entries, appended to the end of list.
TARSEL_API int DeserializePeripheralInventory(int& offset, const Payload& payload,
                                              std::vector<PeripheralInfo>& list);

namespace tarsel {

// 832 bytes: 4 reserved bytes after UIntValue15, then the four positions in
// their 104-byte form.
TARSEL_FORM(GeneralInformations) {
  TARSEL_FIELDS(DoubleValue1, DoubleValue2, UIntValue1, UIntValue2, FloatValue1, FloatValue2,
                FloatValue3, FloatValue4, FloatValue5, FloatValue6, FloatValue7, FloatValue8,
                FloatValue9, FloatValue10, FloatValue11, FloatValue12, UIntValue3, UIntValue4,
                UShortValue1, UShortValue2, UShortValue3, UShortValue4, UShortValue5, UShortValue6,
                UShortValue7, UShortValue8, UShortValue9, UShortValue10, UShortValue11,
                UShortValue12, UIntValue5, UIntValue6, UIntValue7, UIntValue8, UIntValue9,
                UIntValue10, UIntValue11, UIntValue12, UIntValue13, UIntValue14, UIntValue15);
  io.Gap(4);  // reserved by the arm
  TARSEL_FIELDS(Position1, Position2, Position3, Position4, FloatValue13, FloatValue14,
                FloatValue15, FloatValue16, FloatValue17, FloatValue18, FloatValue19, FloatValue20,
                FloatValue21, FloatArray1, FloatArray2, ShortArray, FloatValue22, FloatValue23,
                FloatValue24, FloatValue25, FloatValue26, FloatValue27, UIntArray1, UIntArray2,
                FloatArray3, FloatArray4, FloatArray5, IntArray1, IntArray2, IntValue1,
                DoubleValue3, DoubleValue4);
}

// 132 bytes: IntValue1 travels as a float; 12 bytes before UIntValue1 are
// reserved by the arm.
TARSEL_FORM(Finger) {
  TARSEL_FIELDS(Text, FloatValue1, FloatValue2, FloatValue3, FloatValue4, FloatValue5, FloatValue6,
                FloatValue7, FloatValue8);
  io.AsFloat(TARSEL_NAMED(IntValue1));
  TARSEL_FIELDS(IntValue2, FloatValue9, FloatValue10, FloatValue11, FloatValue12, FloatValue13,
                FloatValue14, FloatValue15, FloatValue16, FloatValue17, FloatValue18, FloatValue19);
  io.Gap(12);  // reserved by the arm
  TARSEL_FIELDS(UIntValue1, UIntValue2, ShortValue1, ShortValue2, ShortValue3, ShortValue4);
}

// 416 bytes: the text, then the three finger blocks.
TARSEL_FORM(Gripper) {
  TARSEL_FIELDS(Text, Fingers);
}

// 15 bytes: byte 3 is reserved by the arm and has no member.
TARSEL_FORM(QuickStatus) {
  TARSEL_FIELDS(Finger1Initialized, Finger2Initialized, Finger3Initialized);
  io.Gap(1);
  TARSEL_FIELDS(StatusByte3, StatusByte4, StatusByte5, StatusByte6, StatusByte7, StatusByte8,
                StatusByte9, StatusByte10, HandType, StatusByte12, StatusByte13);
}

// 48 bytes: twelve floats, each copied bit for bit.
TARSEL_FLOAT_RUN_FORM(ForcesInfo) {
  TARSEL_FIELDS(Force1, Force2, Force3, Force4, Force5, Force6, Force7, Force8, Force9, Force10,
                Force11, Force12);
}

// 56 bytes: fourteen floats.
TARSEL_FLOAT_RUN_FORM(SensorsInfo) {
  TARSEL_FIELDS(Sensor1, Sensor2, Sensor3, Sensor4, Sensor5, Sensor6, Sensor7, Sensor8, Sensor9,
                Sensor10, Sensor11, Sensor12, Sensor13, Sensor14);
}

// 235 bytes: the seven flags are one byte each and packed, so every field
// after them sits at an odd offset.
TARSEL_FORM(SystemError) {
  TARSEL_FIELDS(UIntValue1, IntValue1, IntValue2, IntValue3, UIntValue2, Flags, IntValue4,
                IntValue5, UIntArray);
}

// 20 bytes, one entry of the inventory's fifteen.
TARSEL_FORM(PeripheralInfo) {
  TARSEL_FIELDS(UIntValue1, UIntValue2, UIntValue3, UIntValue4, UIntValue5);
}

// The entries of the peripheral inventory's answer.
constexpr int kPeripheralCount = 15;

static_assert(FormSize<Form<GeneralInformations>>() == 832 && FormSize<Form<Gripper>>() == 416 &&
              FormSize<Form<QuickStatus>>() == 15 && FormSize<Form<ForcesInfo>>() == 48 &&
              FormSize<Form<SensorsInfo>>() == 56 && FormSize<Form<SystemError>>() == 235 &&
              FormSize<Form<PeripheralInfo>>() == 20);

}  // namespace tarsel
