#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;

TEST(ConfigExports, PublicFunctionsUnderPlainNames) {
  ExpectSymbols(
      DynamicSymbols(TARSEL_API_LIB),
      {"GetClientConfigurations", "SetClientConfigurations", "GetControlMapping",
       "SetControlMapping", "GetProtectionZone", "SetProtectionZone", "EraseAllProtectionZones",
       "SetSerialNumber", "SetModel", "SetFrameType", "RestoreFactoryDefault", "SetDevValue",
       "GetDevValue", "SetSpasmFilterValues", "GetSpasmFilterValues"});
}

TEST(ConfigExports, CodecsAsCppSymbols) {
  ExpectSymbolsStartingWith(
      DynamicSymbols(TARSEL_API_LIB, true),
      {"SerializeClientConfiguration(", "DeserializeClientConfiguration(",
       "SerializeControlMappingCharts(", "SerializeControlMapping(",
       "DeserializeControlMappingCharts(", "DeserializeControlMapping(", "SerializeZoneList(",
       "SerializeZone(", "DeserializeZoneList(", "DeserializeZone(", "SerializeDevValue(",
       "DeserializeDevValue(", "SerializeSpasmFilterValue(", "DeserializeSpasmFilterValue("});
}

}  // namespace
