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
    FieldRun(io, TARSEL_NAMED(DoubleValue1), TARSEL_NAMED(DoubleValue2), TARSEL_NAMED(UIntValue1),
                 TARSEL_NAMED(UIntValue2), TARSEL_NAMED(FloatValue1), TARSEL_NAMED(FloatValue2),
                 TARSEL_NAMED(FloatValue3), TARSEL_NAMED(FloatValue4), TARSEL_NAMED(FloatValue5),
                 TARSEL_NAMED(FloatValue6), TARSEL_NAMED(FloatValue7), TARSEL_NAMED(FloatValue8),
                 TARSEL_NAMED(FloatValue9), TARSEL_NAMED(FloatValue10), TARSEL_NAMED(FloatValue11),
                 TARSEL_NAMED(FloatValue12), TARSEL_NAMED(UIntValue3), TARSEL_NAMED(UIntValue4),
                 TARSEL_NAMED(UShortValue1), TARSEL_NAMED(UShortValue2), TARSEL_NAMED(UShortValue3),
                 TARSEL_NAMED(UShortValue4), TARSEL_NAMED(UShortValue5), TARSEL_NAMED(UShortValue6),
                 TARSEL_NAMED(UShortValue7), TARSEL_NAMED(UShortValue8), TARSEL_NAMED(UShortValue9),
                 TARSEL_NAMED(UShortValue10), TARSEL_NAMED(UShortValue11),
                 TARSEL_NAMED(UShortValue12), TARSEL_NAMED(UIntValue5), TARSEL_NAMED(UIntValue6),
                 TARSEL_NAMED(UIntValue7), TARSEL_NAMED(UIntValue8), TARSEL_NAMED(UIntValue9),
                 TARSEL_NAMED(UIntValue10), TARSEL_NAMED(UIntValue11), TARSEL_NAMED(UIntValue12),
                 TARSEL_NAMED(UIntValue13), TARSEL_NAMED(UIntValue14), TARSEL_NAMED(UIntValue15));
    io.Gap(4);  // reserved by the arm
    FieldRun(io, TARSEL_NAMED(Position1), TARSEL_NAMED(Position2), TARSEL_NAMED(Position3),
                 TARSEL_NAMED(Position4), TARSEL_NAMED(FloatValue13), TARSEL_NAMED(FloatValue14),
                 TARSEL_NAMED(FloatValue15), TARSEL_NAMED(FloatValue16), TARSEL_NAMED(FloatValue17),
                 TARSEL_NAMED(FloatValue18), TARSEL_NAMED(FloatValue19), TARSEL_NAMED(FloatValue20),
                 TARSEL_NAMED(FloatValue21), TARSEL_NAMED(FloatArray1), TARSEL_NAMED(FloatArray2),
                 TARSEL_NAMED(ShortArray), TARSEL_NAMED(FloatValue22), TARSEL_NAMED(FloatValue23),
                 TARSEL_NAMED(FloatValue24), TARSEL_NAMED(FloatValue25), TARSEL_NAMED(FloatValue26),
                 TARSEL_NAMED(FloatValue27), TARSEL_NAMED(UIntArray1), TARSEL_NAMED(UIntArray2),
                 TARSEL_NAMED(FloatArray3), TARSEL_NAMED(FloatArray4), TARSEL_NAMED(FloatArray5),
                 TARSEL_NAMED(IntArray1), TARSEL_NAMED(IntArray2), TARSEL_NAMED(IntValue1),
                 TARSEL_NAMED(DoubleValue3), TARSEL_NAMED(DoubleValue4));
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
    FieldRun(io, TARSEL_NAMED(Text), TARSEL_NAMED(FloatValue1), TARSEL_NAMED(FloatValue2),
                 TARSEL_NAMED(FloatValue3), TARSEL_NAMED(FloatValue4), TARSEL_NAMED(FloatValue5),
                 TARSEL_NAMED(FloatValue6), TARSEL_NAMED(FloatValue7), TARSEL_NAMED(FloatValue8));
    io.AsFloat(TARSEL_NAMED(IntValue1));
    FieldRun(io, TARSEL_NAMED(IntValue2), TARSEL_NAMED(FloatValue9), TARSEL_NAMED(FloatValue10),
                 TARSEL_NAMED(FloatValue11), TARSEL_NAMED(FloatValue12), TARSEL_NAMED(FloatValue13),
                 TARSEL_NAMED(FloatValue14), TARSEL_NAMED(FloatValue15), TARSEL_NAMED(FloatValue16),
                 TARSEL_NAMED(FloatValue17), TARSEL_NAMED(FloatValue18),
                 TARSEL_NAMED(FloatValue19));
    io.Gap(12);  // reserved by the arm
    FieldRun(io, TARSEL_NAMED(UIntValue1), TARSEL_NAMED(UIntValue2), TARSEL_NAMED(ShortValue1),
                 TARSEL_NAMED(ShortValue2), TARSEL_NAMED(ShortValue3), TARSEL_NAMED(ShortValue4));
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
    FieldRun(io, TARSEL_NAMED(Text), TARSEL_NAMED(Fingers));
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
    FieldRun(io, TARSEL_NAMED(Finger1Initialized), TARSEL_NAMED(Finger2Initialized),
                 TARSEL_NAMED(Finger3Initialized));
    io.Gap(1);
    FieldRun(io, TARSEL_NAMED(StatusByte3), TARSEL_NAMED(StatusByte4), TARSEL_NAMED(StatusByte5),
                 TARSEL_NAMED(StatusByte6), TARSEL_NAMED(StatusByte7), TARSEL_NAMED(StatusByte8),
                 TARSEL_NAMED(StatusByte9), TARSEL_NAMED(StatusByte10), TARSEL_NAMED(HandType),
                 TARSEL_NAMED(StatusByte12), TARSEL_NAMED(StatusByte13));
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
    FieldRun(io, TARSEL_NAMED(Force1), TARSEL_NAMED(Force2), TARSEL_NAMED(Force3),
                 TARSEL_NAMED(Force4), TARSEL_NAMED(Force5), TARSEL_NAMED(Force6),
                 TARSEL_NAMED(Force7), TARSEL_NAMED(Force8), TARSEL_NAMED(Force9),
                 TARSEL_NAMED(Force10), TARSEL_NAMED(Force11), TARSEL_NAMED(Force12));
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
    FieldRun(io, TARSEL_NAMED(Sensor1), TARSEL_NAMED(Sensor2), TARSEL_NAMED(Sensor3),
                 TARSEL_NAMED(Sensor4), TARSEL_NAMED(Sensor5), TARSEL_NAMED(Sensor6),
                 TARSEL_NAMED(Sensor7), TARSEL_NAMED(Sensor8), TARSEL_NAMED(Sensor9),
                 TARSEL_NAMED(Sensor10), TARSEL_NAMED(Sensor11), TARSEL_NAMED(Sensor12),
                 TARSEL_NAMED(Sensor13), TARSEL_NAMED(Sensor14));
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
    FieldRun(io, TARSEL_NAMED(UIntValue1), TARSEL_NAMED(IntValue1), TARSEL_NAMED(IntValue2),
                 TARSEL_NAMED(IntValue3), TARSEL_NAMED(UIntValue2), TARSEL_NAMED(Flags),
                 TARSEL_NAMED(IntValue4), TARSEL_NAMED(IntValue5), TARSEL_NAMED(UIntArray));
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
    FieldRun(io, TARSEL_NAMED(UIntValue1), TARSEL_NAMED(UIntValue2), TARSEL_NAMED(UIntValue3),
                 TARSEL_NAMED(UIntValue4), TARSEL_NAMED(UIntValue5));
  }
};

// The entries of the peripheral inventory's answer.
constexpr int kPeripheralCount = 15;

static_assert(FormSize<Form<GeneralInformations>>() == 832 && FormSize<Form<Gripper>>() == 416 &&
              FormSize<Form<QuickStatus>>() == 15 && FormSize<Form<ForcesInfo>>() == 48 &&
              FormSize<Form<SensorsInfo>>() == 56 && FormSize<Form<SystemError>>() == 235 &&
              FormSize<Form<PeripheralInfo>>() == 20);

}  // namespace tarsel
