// Payload forms of the configuration records. Decoders read from offset on,
// never past the payload's end, and leave offset just past the form; encoders
// append the whole form to the payload's end, whatever offset holds, and
// advance offset by the bytes appended. Every codec returns 1.
#pragma once

#include <vector>

#include "core/form.h"
#include "core/payload.h"
#include "motion/motion_codec.h"
#include "tarsel/config.h"

namespace tarsel::config {

// The dev values and the spasm filter as records: the flat functions carry
// them in vectors, the forms in these.
struct DevValues {
  float Values[14];
};
struct SpasmFilterValues {
  int FilterSetting;
  float Values[4];
};

// The stored positions a configuration carries: its count, clamped to 0..20.
constexpr int CarriedPositions(const ClientConfigurations& config) {
  const int count = config.StoredPositionCount;
  if (count <= 0) return 0;
  return count < TARSEL_MAX_STORED_POSITIONS ? count : TARSEL_MAX_STORED_POSITIONS;
}

// A protection zone's point, 48 bytes: 8 zero bytes, X Y Z, 12 zero bytes,
// the three rotations, 4 zero bytes.
struct ZonePointForm {
  using Record = CartesianInfo;
  static constexpr const char* kName = "CartesianInfo";
  template <class Io>
  static constexpr void Fields(Io& io) {
    io.Gap(8);
    TARSEL_FIELDS(X, Y, Z);
    io.Gap(12);
    TARSEL_FIELDS(RotationX, RotationY, RotationZ);
    io.Gap(4);
  }
};

}  // namespace tarsel::config

namespace tarsel {

// 3040 bytes written, 2248 read: the stored positions below the count in the
// 104-byte position form whose last filler is 6.0 (zeros for the others),
// the reserved tail as zeros; Reserved itself never travels.
TARSEL_FORM(ClientConfigurations) {
  TARSEL_FIELDS(Text1, Text2, Text3, Text4, Text5, IntValue1, FloatValue1, FloatValue2, FloatValue3,
                FloatValue4, FloatValue5, FloatValue6, FloatValue7, IntValue2, FloatValue8,
                StoredPositionCount);
  io.Counted(TARSEL_NAMED(StoredPositions), config::CarriedPositions, UserPositionForm<6>{});
  TARSEL_FIELDS(FloatValue9, IntValue3, FloatValue10, IntValue4, IntValue5, IntValue6);
  io.PadTo(3040);
  io.Hidden(TARSEL_NAMED(Reserved));
}

// 204 bytes: the entry's data, then 2 zero bytes. EntryValue2 goes out but is
// not read back.
TARSEL_FORM(ControlMappingEntry) {
  TARSEL_FIELDS(EntryValue1);
  io.Sent(TARSEL_NAMED(EntryValue2));
  TARSEL_FIELDS(BytePairs, ByteGroups);
  io.Gap(2);
}

// 2468 bytes.
TARSEL_FORM(ControlMapping) {
  TARSEL_FIELDS(MappingValue1, MappingValue2, MappingValue3, MappingValue4, MappingValue5,
                FirstEntries, SecondEntries);
}

// 14816 bytes. ChartsValue1 goes out but is not read back.
TARSEL_FORM(ControlMappingCharts) {
  io.Sent(TARSEL_NAMED(ChartsValue1));
  TARSEL_FIELDS(ChartsValue2, Mappings);
}

// 440 bytes: the points in their 48-byte zone form.
TARSEL_FORM(Zone) {
  TARSEL_FIELDS(ZoneValue1, ZoneValue2, ZoneValue3, ZoneValue4);
  io.Field(TARSEL_NAMED(Points), config::ZonePointForm{});
  TARSEL_FIELDS(Parameters, ZoneValue5);
}

// 4408 bytes: all ten zones, whatever ListValue1 holds.
TARSEL_FORM(ZoneList) {
  TARSEL_FIELDS(ListValue1, ListValue2, Zones);
}

// 56 bytes: fourteen floats.
TARSEL_FORM_CALLED(config::DevValues, "DevValues", true) {
  TARSEL_FIELDS(Values);
}

// 56 bytes written (the setting, four floats, 36 zero bytes), 20 read.
TARSEL_FORM_CALLED(config::SpasmFilterValues, "SpasmFilterValues", false) {
  TARSEL_FIELDS(FilterSetting, Values);
  io.PadTo(56);
}

}  // namespace tarsel

// The blocks read and written whole, each by a pair of flat functions
// (stored_blocks.cpp): int Get(Record*), 2100 with nothing sent for a null
// record, and int Set(Record).
#define TARSEL_CONFIG_BLOCKS(X)                                             \
  X(ClientConfigurations, GetClientConfigurations, SetClientConfigurations) \
  X(ControlMappingCharts, GetControlMapping, SetControlMapping)             \
  X(ZoneList, GetProtectionZone, SetProtectionZone)

// Payload sizes of the configuration commands.
namespace tarsel::config {
constexpr int kClientConfigurationSize = FormSize<Form<ClientConfigurations>>();
constexpr int kControlMappingChartsSize = FormSize<Form<ControlMappingCharts>>();
constexpr int kZoneListSize = FormSize<Form<ZoneList>>();
}  // namespace tarsel::config

// Client configuration: reads 2248 bytes (stored positions at and beyond the
// count are skipped and left unchanged, Reserved is not touched); writes 3040
// bytes (unused slots and the reserved tail as zeros).
TARSEL_API int DeserializeClientConfiguration(int& offset, const Payload& payload,
                                              ClientConfigurations& out);
TARSEL_API int SerializeClientConfiguration(int& offset, Payload& payload,
                                            ClientConfigurations config);

// Control mapping: 14816 bytes for the charts, 2468 per mapping block. The
// reader skips ChartsValue1, every EntryValue2 and the last 2 bytes of each
// entry; the writer sends the first two and zeros for the last.
TARSEL_API int DeserializeControlMappingCharts(int& offset, const Payload& payload,
                                               ControlMappingCharts& out);
TARSEL_API int DeserializeControlMapping(int& offset, const Payload& payload, ControlMapping& out);
TARSEL_API int SerializeControlMappingCharts(int& offset, Payload& payload,
                                             ControlMappingCharts charts);
TARSEL_API int SerializeControlMapping(int& offset, Payload& payload, ControlMapping mapping);

// Protection zones: 4408 bytes for the list, 440 per zone; the point fillers
// are written as zeros and skipped by the reader.
TARSEL_API int DeserializeZoneList(int& offset, const Payload& payload, ZoneList& out);
TARSEL_API int DeserializeZone(int& offset, const Payload& payload, Zone& out);
TARSEL_API int SerializeZoneList(int& offset, Payload& payload, ZoneList list);
TARSEL_API int SerializeZone(int& offset, Payload& payload, Zone zone);

// Dev values: 56 bytes, fourteen floats. The writer sends zeros for values the
// vector lacks; the reader consumes all 56 bytes but stores only into elements
// the vector already has.
TARSEL_API int SerializeDevValue(int& offset, Payload& payload, std::vector<float> values);
TARSEL_API int DeserializeDevValue(int& offset, const Payload& payload, std::vector<float>& values);

// Spasm filter: the writer appends 56 bytes (the setting, four floats, 36
// zero bytes; zeros for values the vector lacks); the reader consumes 20
// bytes, storing only into elements the vector already has.
TARSEL_API int SerializeSpasmFilterValue(int& offset, Payload& payload, std::vector<float> values,
                                         int filterSetting);
TARSEL_API int DeserializeSpasmFilterValue(int& offset, const Payload& payload,
                                           std::vector<float>& values, int& filterSetting);
