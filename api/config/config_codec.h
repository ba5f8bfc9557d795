// Payload forms of the configuration records. Decoders read from offset on,
// never past the payload's end, and leave offset just past the form; encoders
// append the whole form to the payload's end, whatever offset holds, and
// advance offset by the bytes appended. Every codec returns 1.
#pragma once

#include <vector>

#include "core/payload.h"
#include "tarsel/config.h"

// Payload sizes of the configuration commands.
namespace tarsel::config {
constexpr int kClientConfigurationSize = 3040;  // what the writer appends
constexpr int kClientConfigurationRead = 2248;  // what the reader consumes
constexpr int kStoredPositionSize = 104;
constexpr int kControlMappingChartsSize = 14816;
constexpr int kControlMappingSize = 2468;
constexpr int kControlMappingEntrySize = 204;
constexpr int kZoneListSize = 4408;
constexpr int kZoneSize = 440;
constexpr int kZonePointSize = 48;
constexpr int kDevValueCount = 14;
constexpr int kSpasmFilterValueCount = 4;
constexpr int kVectorPayloadSize = 56;  // dev values and spasm filter alike
constexpr int kSpasmFilterRead = 20;
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
