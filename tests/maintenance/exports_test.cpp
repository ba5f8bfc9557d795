#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::HasSymbolStartingWith;

TEST(MaintenanceExports, FunctionsUnderPlainNames) {
  const auto names = DynamicSymbols(TARSEL_API_LIB);
  for (const char* name :
       {"SetJointZero", "SetActuatorAddress", "SetActuatorPID", "SetActuatorPIDFilter",
        "SetTorqueZero", "SetTorqueGain", "GetPositionCurrentActuators", "GetAPIVersion",
        "GetCodeVersion", "ProgramFlash", "ProgramFlashWithProgress"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
}

TEST(MaintenanceExports, CodecsAsCppSymbols) {
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  for (const char* fn :
       {"SerializeActuatorAddress(int&, std::vector<unsigned char", "SerializeTorqueGain(",
        "SerializeActuatorPID(", "SerializeActuatorPIDFilter(",
        "DeserializePositionCurrentActuators(", "SplitDataByPage("}) {
    EXPECT_TRUE(HasSymbolStartingWith(names, fn)) << fn;
  }
  // The page builder is the module's own helper.
  for (const auto& name : names) EXPECT_EQ(name.find("BuildFlashPage"), std::string::npos);
}

}  // namespace
