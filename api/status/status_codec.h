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
template <>
struct Form<GeneralInformations> {
  using Record = GeneralInformations;
  static constexpr const char* kName = "GeneralInformations";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(DoubleValue1));
    io.Field(TARSEL_NAMED(DoubleValue2));
    io.Field(TARSEL_NAMED(UIntValue1));
    io.Field(TARSEL_NAMED(UIntValue2));
    io.Field(TARSEL_NAMED(FloatValue1));
    io.Field(TARSEL_NAMED(FloatValue2));
    io.Field(TARSEL_NAMED(FloatValue3));
    io.Field(TARSEL_NAMED(FloatValue4));
    io.Field(TARSEL_NAMED(FloatValue5));
    io.Field(TARSEL_NAMED(FloatValue6));
    io.Field(TARSEL_NAMED(FloatValue7));
    io.Field(TARSEL_NAMED(FloatValue8));
    io.Field(TARSEL_NAMED(FloatValue9));
    io.Field(TARSEL_NAMED(FloatValue10));
    io.Field(TARSEL_NAMED(FloatValue11));
    io.Field(TARSEL_NAMED(FloatValue12));
    io.Field(TARSEL_NAMED(UIntValue3));
    io.Field(TARSEL_NAMED(UIntValue4));
    io.Field(TARSEL_NAMED(UShortValue1));
    io.Field(TARSEL_NAMED(UShortValue2));
    io.Field(TARSEL_NAMED(UShortValue3));
    io.Field(TARSEL_NAMED(UShortValue4));
    io.Field(TARSEL_NAMED(UShortValue5));
    io.Field(TARSEL_NAMED(UShortValue6));
    io.Field(TARSEL_NAMED(UShortValue7));
    io.Field(TARSEL_NAMED(UShortValue8));
    io.Field(TARSEL_NAMED(UShortValue9));
    io.Field(TARSEL_NAMED(UShortValue10));
    io.Field(TARSEL_NAMED(UShortValue11));
    io.Field(TARSEL_NAMED(UShortValue12));
    io.Field(TARSEL_NAMED(UIntValue5));
    io.Field(TARSEL_NAMED(UIntValue6));
    io.Field(TARSEL_NAMED(UIntValue7));
    io.Field(TARSEL_NAMED(UIntValue8));
    io.Field(TARSEL_NAMED(UIntValue9));
    io.Field(TARSEL_NAMED(UIntValue10));
    io.Field(TARSEL_NAMED(UIntValue11));
    io.Field(TARSEL_NAMED(UIntValue12));
    io.Field(TARSEL_NAMED(UIntValue13));
    io.Field(TARSEL_NAMED(UIntValue14));
    io.Field(TARSEL_NAMED(UIntValue15));
    io.Gap(4);  // reserved by the arm
    io.Field(TARSEL_NAMED(Position1));
    io.Field(TARSEL_NAMED(Position2));
    io.Field(TARSEL_NAMED(Position3));
    io.Field(TARSEL_NAMED(Position4));
    io.Field(TARSEL_NAMED(FloatValue13));
    io.Field(TARSEL_NAMED(FloatValue14));
    io.Field(TARSEL_NAMED(FloatValue15));
    io.Field(TARSEL_NAMED(FloatValue16));
    io.Field(TARSEL_NAMED(FloatValue17));
    io.Field(TARSEL_NAMED(FloatValue18));
    io.Field(TARSEL_NAMED(FloatValue19));
    io.Field(TARSEL_NAMED(FloatValue20));
    io.Field(TARSEL_NAMED(FloatValue21));
    io.Field(TARSEL_NAMED(FloatArray1));
    io.Field(TARSEL_NAMED(FloatArray2));
    io.Field(TARSEL_NAMED(ShortArray));
    io.Field(TARSEL_NAMED(FloatValue22));
    io.Field(TARSEL_NAMED(FloatValue23));
    io.Field(TARSEL_NAMED(FloatValue24));
    io.Field(TARSEL_NAMED(FloatValue25));
    io.Field(TARSEL_NAMED(FloatValue26));
    io.Field(TARSEL_NAMED(FloatValue27));
    io.Field(TARSEL_NAMED(UIntArray1));
    io.Field(TARSEL_NAMED(UIntArray2));
    io.Field(TARSEL_NAMED(FloatArray3));
    io.Field(TARSEL_NAMED(FloatArray4));
    io.Field(TARSEL_NAMED(FloatArray5));
    io.Field(TARSEL_NAMED(IntArray1));
    io.Field(TARSEL_NAMED(IntArray2));
    io.Field(TARSEL_NAMED(IntValue1));
    io.Field(TARSEL_NAMED(DoubleValue3));
    io.Field(TARSEL_NAMED(DoubleValue4));
  }
};

// 132 bytes: IntValue1 travels as a float; 12 bytes before UIntValue1 are
// reserved by the arm.
template <>
struct Form<Finger> {
  using Record = Finger;
  static constexpr const char* kName = "Finger";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Text));
    io.Field(TARSEL_NAMED(FloatValue1));
    io.Field(TARSEL_NAMED(FloatValue2));
    io.Field(TARSEL_NAMED(FloatValue3));
    io.Field(TARSEL_NAMED(FloatValue4));
    io.Field(TARSEL_NAMED(FloatValue5));
    io.Field(TARSEL_NAMED(FloatValue6));
    io.Field(TARSEL_NAMED(FloatValue7));
    io.Field(TARSEL_NAMED(FloatValue8));
    io.AsFloat(TARSEL_NAMED(IntValue1));
    io.Field(TARSEL_NAMED(IntValue2));
    io.Field(TARSEL_NAMED(FloatValue9));
    io.Field(TARSEL_NAMED(FloatValue10));
    io.Field(TARSEL_NAMED(FloatValue11));
    io.Field(TARSEL_NAMED(FloatValue12));
    io.Field(TARSEL_NAMED(FloatValue13));
    io.Field(TARSEL_NAMED(FloatValue14));
    io.Field(TARSEL_NAMED(FloatValue15));
    io.Field(TARSEL_NAMED(FloatValue16));
    io.Field(TARSEL_NAMED(FloatValue17));
    io.Field(TARSEL_NAMED(FloatValue18));
    io.Field(TARSEL_NAMED(FloatValue19));
    io.Gap(12);  // reserved by the arm
    io.Field(TARSEL_NAMED(UIntValue1));
    io.Field(TARSEL_NAMED(UIntValue2));
    io.Field(TARSEL_NAMED(ShortValue1));
    io.Field(TARSEL_NAMED(ShortValue2));
    io.Field(TARSEL_NAMED(ShortValue3));
    io.Field(TARSEL_NAMED(ShortValue4));
  }
};

// 416 bytes: the text, then the three finger blocks.
template <>
struct Form<Gripper> {
  using Record = Gripper;
  static constexpr const char* kName = "Gripper";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Text));
    io.Field(TARSEL_NAMED(Fingers));
  }
};

// 15 bytes: byte 3 is reserved by the arm and has no member.
template <>
struct Form<QuickStatus> {
  using Record = QuickStatus;
  static constexpr const char* kName = "QuickStatus";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Finger1Initialized));
    io.Field(TARSEL_NAMED(Finger2Initialized));
    io.Field(TARSEL_NAMED(Finger3Initialized));
    io.Gap(1);
    io.Field(TARSEL_NAMED(StatusByte3));
    io.Field(TARSEL_NAMED(StatusByte4));
    io.Field(TARSEL_NAMED(StatusByte5));
    io.Field(TARSEL_NAMED(StatusByte6));
    io.Field(TARSEL_NAMED(StatusByte7));
    io.Field(TARSEL_NAMED(StatusByte8));
    io.Field(TARSEL_NAMED(StatusByte9));
    io.Field(TARSEL_NAMED(StatusByte10));
    io.Field(TARSEL_NAMED(HandType));
    io.Field(TARSEL_NAMED(StatusByte12));
    io.Field(TARSEL_NAMED(StatusByte13));
  }
};

// 48 bytes: twelve floats, each copied bit for bit.
template <>
struct Form<ForcesInfo> {
  using Record = ForcesInfo;
  static constexpr const char* kName = "ForcesInfo";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Force1));
    io.Field(TARSEL_NAMED(Force2));
    io.Field(TARSEL_NAMED(Force3));
    io.Field(TARSEL_NAMED(Force4));
    io.Field(TARSEL_NAMED(Force5));
    io.Field(TARSEL_NAMED(Force6));
    io.Field(TARSEL_NAMED(Force7));
    io.Field(TARSEL_NAMED(Force8));
    io.Field(TARSEL_NAMED(Force9));
    io.Field(TARSEL_NAMED(Force10));
    io.Field(TARSEL_NAMED(Force11));
    io.Field(TARSEL_NAMED(Force12));
  }
};

// 56 bytes: fourteen floats.
template <>
struct Form<SensorsInfo> {
  using Record = SensorsInfo;
  static constexpr const char* kName = "SensorsInfo";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Sensor1));
    io.Field(TARSEL_NAMED(Sensor2));
    io.Field(TARSEL_NAMED(Sensor3));
    io.Field(TARSEL_NAMED(Sensor4));
    io.Field(TARSEL_NAMED(Sensor5));
    io.Field(TARSEL_NAMED(Sensor6));
    io.Field(TARSEL_NAMED(Sensor7));
    io.Field(TARSEL_NAMED(Sensor8));
    io.Field(TARSEL_NAMED(Sensor9));
    io.Field(TARSEL_NAMED(Sensor10));
    io.Field(TARSEL_NAMED(Sensor11));
    io.Field(TARSEL_NAMED(Sensor12));
    io.Field(TARSEL_NAMED(Sensor13));
    io.Field(TARSEL_NAMED(Sensor14));
  }
};

// 235 bytes: the seven flags are one byte each and packed, so every field
// after them sits at an odd offset.
template <>
struct Form<SystemError> {
  using Record = SystemError;
  static constexpr const char* kName = "SystemError";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(UIntValue1));
    io.Field(TARSEL_NAMED(IntValue1));
    io.Field(TARSEL_NAMED(IntValue2));
    io.Field(TARSEL_NAMED(IntValue3));
    io.Field(TARSEL_NAMED(UIntValue2));
    io.Field(TARSEL_NAMED(Flags));
    io.Field(TARSEL_NAMED(IntValue4));
    io.Field(TARSEL_NAMED(IntValue5));
    io.Field(TARSEL_NAMED(UIntArray));
  }
};

// 20 bytes, one entry of the inventory's fifteen.
template <>
struct Form<PeripheralInfo> {
  using Record = PeripheralInfo;
  static constexpr const char* kName = "PeripheralInfo";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(UIntValue1));
    io.Field(TARSEL_NAMED(UIntValue2));
    io.Field(TARSEL_NAMED(UIntValue3));
    io.Field(TARSEL_NAMED(UIntValue4));
    io.Field(TARSEL_NAMED(UIntValue5));
  }
};

// The entries of the peripheral inventory's answer.
constexpr int kPeripheralCount = 15;

static_assert(FormSize<Form<GeneralInformations>>() == 832 && FormSize<Form<Gripper>>() == 416 &&
              FormSize<Form<QuickStatus>>() == 15 && FormSize<Form<ForcesInfo>>() == 48 &&
              FormSize<Form<SensorsInfo>>() == 56 && FormSize<Form<SystemError>>() == 235 &&
              FormSize<Form<PeripheralInfo>>() == 20);

}  // namespace tarsel
