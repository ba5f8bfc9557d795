#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;

TEST(StatusExports, PlainNames) {
  ExpectSymbols(DynamicSymbols(TARSEL_API_LIB),
                {"GetGeneralInformations", "GetGripperStatus", "GetQuickStatus", "GetForcesInfo",
                 "GetSensorsInfo", "GetSystemErrorCount", "GetSystemError", "ClearErrorLog",
                 "GetPeripheralInventory", "InitFingers"});
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
