#include <gtest/gtest.h>

#include "elf_tools.h"
#include "table_exports.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::HasSymbolStartingWith;
using tarsel::testing::ModuleExports;

TEST(MotionExports, PlainNames) {
  // Demangled, a C++ function shows its parameter list; a plain name stays bare.
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  for (const std::string& name : ModuleExports("motion", {"MoveHome"})) {
    if (name == "ValidateCartesianTransition") continue;  // a C++ symbol, as the next test shows
    EXPECT_TRUE(names.count(name)) << name;
    EXPECT_FALSE(HasSymbolStartingWith(names, name + "(")) << name;
  }
}

TEST(MotionExports, TransitionCheckOnlyAsCppSymbol) {
  const auto demangled = DynamicSymbols(TARSEL_API_LIB, true);
  EXPECT_TRUE(demangled.count("ValidateCartesianTransition(unsigned int&)"));
  EXPECT_FALSE(demangled.count("ValidateCartesianTransition"));
  const auto raw = DynamicSymbols(TARSEL_API_LIB);
  EXPECT_TRUE(raw.count("_Z27ValidateCartesianTransitionRj"));
}

TEST(MotionExports, CodecsAndDefaultsAsCppSymbols) {
  ExpectSymbolsStartingWith(
      DynamicSymbols(TARSEL_API_LIB, true),
      {"DeserializeAngularPosition(", "DeserializeCartesianPosition(",
       "DeserializeActuatorAcceleration(", "DeserializeUserPosition(",
       "DeserializeGlobalTrajectory(", "DeserializeSingularityVector(",
       "DeserializeCartesianValidation(", "SerializeCartesianInfo(", "SerializeAngularInfo(",
       "SerializeTrajectoryPoint(", "SerializeBasicTrajectoryPoint(", "SerializeJoystickCommand(",
       "AngularInfo::InitStruct()", "CartesianInfo::InitStruct()", "FingersPosition::InitStruct()",
       "UserPosition::InitStruct()", "Limitation::InitStruct()", "TrajectoryPoint::InitStruct()"});
}

}  // namespace
