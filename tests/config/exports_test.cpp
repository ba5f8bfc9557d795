#include <gtest/gtest.h>

#include "elf_tools.h"
#include "table_exports.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::ModuleExports;

TEST(ConfigExports, PublicFunctionsUnderPlainNames) {
  const auto symbols = DynamicSymbols(TARSEL_API_LIB);
  for (const std::string& name :
       ModuleExports("config", {"SetSerialNumber", "SetModel", "SetDevValue", "GetDevValue",
                                "SetSpasmFilterValues", "GetSpasmFilterValues"})) {
    EXPECT_TRUE(symbols.count(name)) << name;
  }
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
