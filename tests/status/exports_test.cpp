#include <gtest/gtest.h>

#include "elf_tools.h"
#include "table_exports.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::ModuleExports;

TEST(StatusExports, PlainNames) {
  const auto symbols = DynamicSymbols(TARSEL_API_LIB);
  for (const std::string& name : ModuleExports("status", {"GetSystemError", "InitFingers"})) {
    EXPECT_TRUE(symbols.count(name)) << name;
  }
}

TEST(StatusExports, CodecsAsCppSymbols) {
  ExpectSymbolsStartingWith(
      DynamicSymbols(TARSEL_API_LIB, true),
      {"DeserializeGeneralInformations(", "DeserializeGripper(", "DeserializeFinger(",
       "DeserializeQuickStatus(", "DeserializeForcesInfo(", "DeserializeSensorsInfo(",
       "DeserializeSystemError(", "DeserializePeripheralInventory(",
       "PeripheralInfo::~PeripheralInfo("});
}

}  // namespace
