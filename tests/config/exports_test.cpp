#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::HasSymbolStartingWith;

TEST(ConfigExports, PublicFunctionsUnderPlainNames) {
  const auto names = DynamicSymbols(TARSEL_API_LIB);
  for (const char* name :
       {"GetClientConfigurations", "SetClientConfigurations", "GetControlMapping",
        "SetControlMapping", "GetProtectionZone", "SetProtectionZone", "EraseAllProtectionZones",
        "SetSerialNumber", "SetModel", "SetFrameType", "RestoreFactoryDefault", "SetDevValue",
        "GetDevValue", "SetSpasmFilterValues", "GetSpasmFilterValues"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
}

TEST(ConfigExports, CodecsAsCppSymbols) {
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  for (const char* fn :
       {"SerializeClientConfiguration(", "DeserializeClientConfiguration(",
        "SerializeControlMappingCharts(", "SerializeControlMapping(",
        "DeserializeControlMappingCharts(", "DeserializeControlMapping(", "SerializeZoneList(",
        "SerializeZone(", "DeserializeZoneList(", "DeserializeZone(", "SerializeDevValue(",
        "DeserializeDevValue(", "SerializeSpasmFilterValue(", "DeserializeSpasmFilterValue("}) {
    EXPECT_TRUE(HasSymbolStartingWith(names, fn)) << fn;
  }
}

}  // namespace
