#include <gtest/gtest.h>

#include "elf_tools.h"
#include "table_exports.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::ModuleExports;

TEST(MaintenanceExports, FunctionsUnderPlainNames) {
  const auto symbols = DynamicSymbols(TARSEL_API_LIB);
  for (const std::string& name :
       ModuleExports("maintenance", {"SetActuatorPID", "SetActuatorPIDFilter", "ProgramFlash",
                                     "ProgramFlashWithProgress"})) {
    EXPECT_TRUE(symbols.count(name)) << name;
  }
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
