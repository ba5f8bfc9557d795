#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::HasSymbolStartingWith;

TEST(StatusExports, PlainNames) {
  const auto names = DynamicSymbols(TARSEL_API_LIB);
  for (const char* name :
       {"GetGeneralInformations", "GetGripperStatus", "GetQuickStatus", "GetForcesInfo",
        "GetSensorsInfo", "GetSystemErrorCount", "GetSystemError", "ClearErrorLog",
        "GetPeripheralInventory", "InitFingers"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
}

TEST(StatusExports, CodecsAsCppSymbols) {
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  for (const char* fn : {"DeserializeGeneralInformations(", "DeserializeGripper(",
                         "DeserializeFinger(", "DeserializeQuickStatus(", "DeserializeForcesInfo(",
                         "DeserializeSensorsInfo(", "DeserializeSystemError(",
                         "DeserializePeripheralInventory(", "PeripheralInfo::~PeripheralInfo("}) {
    EXPECT_TRUE(HasSymbolStartingWith(names, fn)) << fn;
  }
}

}  // namespace
