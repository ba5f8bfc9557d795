// Feeds arbitrary payloads at arbitrary offsets to every record decoder: none
// may read outside the payload or run into undefined behaviour.
// Input: byte 0 picks the decoder, bytes 1-4 the starting offset (int32 LE),
// the rest is the payload.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/config_codec.h"
#include "fuzz_input.h"
#include "maintenance/maintenance_codec.h"
#include "motion/motion_codec.h"
#include "status/status_codec.h"

namespace {

template <typename Record>
void Decode(int (*decode)(int&, const Payload&, Record&), int offset, const Payload& payload) {
  static Record record;
  decode(offset, payload, record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  tarsel::fuzzing::Input input(data, size);
  const unsigned selector = input.Byte();
  const auto rawOffset = input.Take<std::uint32_t>();
  // Mostly small offsets (where the data is), sometimes anything at all.
  const int offset =
      (rawOffset & 0x80000000u) ? static_cast<int>(rawOffset) : static_cast<int>(rawOffset % 64);
  // The payload is a vector of exactly the remaining size.
  const Payload payload(input.rest(), input.rest() + input.left());

  switch (selector % 26) {
    case 0:
      Decode(DeserializeAngularPosition, offset, payload);
      break;
    case 1:
      Decode(DeserializeCartesianPosition, offset, payload);
      break;
    case 2:
      Decode(DeserializeActuatorAcceleration, offset, payload);
      break;
    case 3:
      Decode(DeserializeUserPosition, offset, payload);
      break;
    case 4:
      Decode(DeserializeGlobalTrajectory, offset, payload);
      break;
    case 5:
      Decode(DeserializeSingularityVector, offset, payload);
      break;
    case 6:
      Decode(DeserializeCartesianValidation, offset, payload);
      break;
    case 7:
      Decode(DeserializeClientConfiguration, offset, payload);
      break;
    case 8:
      Decode(DeserializeControlMappingCharts, offset, payload);
      break;
    case 9:
      Decode(DeserializeControlMapping, offset, payload);
      break;
    case 10:
      Decode(DeserializeZoneList, offset, payload);
      break;
    case 11:
      Decode(DeserializeZone, offset, payload);
      break;
    case 12:
      Decode(DeserializeGeneralInformations, offset, payload);
      break;
    case 13:
      Decode(DeserializeGripper, offset, payload);
      break;
    case 14:
      Decode(DeserializeFinger, offset, payload);
      break;
    case 15:
      Decode(DeserializeQuickStatus, offset, payload);
      break;
    case 16:
      Decode(DeserializeForcesInfo, offset, payload);
      break;
    case 17:
      Decode(DeserializeSensorsInfo, offset, payload);
      break;
    case 18:
      Decode(DeserializeSystemError, offset, payload);
      break;
    case 19: {
      std::vector<PeripheralInfo> list;
      int at = offset;
      DeserializePeripheralInventory(at, payload, list);
      break;
    }
    case 20: {
      std::vector<float> values(14);
      int at = offset;
      DeserializeDevValue(at, payload, values);
      break;
    }
    case 21: {
      std::vector<float> values(4);
      int setting = 0;
      int at = offset;
      DeserializeSpasmFilterValue(at, payload, values, setting);
      break;
    }
    case 22: {
      std::vector<float> values;
      int at = offset;
      DeserializePositionCurrentActuators(at, payload, values);
      break;
    }
    case 23: {
      int at = offset;
      GetIntFromVector(at, payload);
      GetDoubleFromVector(at, payload);
      GetShortFromVector(at, payload);
      break;
    }
    case 24:
      SplitDataByPage(
          Payload(payload.begin(),
                  payload.begin() + static_cast<long>(std::min<std::size_t>(payload.size(), 9000))),
          12);
      break;
    default: {
      int at = offset;
      GetUShortFromVector(at, payload);
      GetUIntFromVector(at, payload);
      GetFloatFromVector(at, payload);
      break;
    }
  }
  return 0;
}
