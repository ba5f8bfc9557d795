#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;

TEST(MaintenanceExports, FunctionsUnderPlainNames) {
  ExpectSymbols(DynamicSymbols(TARSEL_API_LIB),
                {"SetJointZero", "SetActuatorAddress", "SetActuatorPID", "SetActuatorPIDFilter",
                 "SetTorqueZero", "SetTorqueGain", "GetPositionCurrentActuators", "GetAPIVersion",
                 "GetCodeVersion", "ProgramFlash", "ProgramFlashWithProgress"});
}

TEST(MaintenanceExports, CodecsAsCppSymbols) {
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  ExpectSymbolsStartingWith(
      names, {"SerializeActuatorAddress(int&, std::vector<unsigned char", "SerializeTorqueGain(",
              "SerializeActuatorPID(", "SerializeActuatorPIDFilter(",
              "DeserializePositionCurrentActuators(", "SplitDataByPage("});
  // The page builder is the module's own helper.
  for (const auto& name : names) EXPECT_EQ(name.find("BuildFlashPage"), std::string::npos);
}

}  // namespace
