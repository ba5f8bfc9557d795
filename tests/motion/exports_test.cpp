#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::HasSymbolStartingWith;

const char* const kPlainExports[] = {"GetCartesianPosition",
                                     "GetAngularPosition",
                                     "GetCartesianCommand",
                                     "GetAngularCommand",
                                     "GetCartesianForce",
                                     "GetAngularForce",
                                     "GetAngularCurrent",
                                     "GetAngularCurrentMotor",
                                     "GetAngularVelocity",
                                     "GetAngularForceGravityFree",
                                     "GetActuatorAcceleration",
                                     "StartControlAPI",
                                     "StopControlAPI",
                                     "SetAngularControl",
                                     "SetCartesianControl",
                                     "GetControlType",
                                     "GetSingularityVector",
                                     "SendJoystickCommand",
                                     "MoveHome",
                                     "SendAdvanceTrajectory",
                                     "SendBasicTrajectory",
                                     "EraseAllTrajectories",
                                     "GetGlobalTrajectoryInfo",
                                     "GetActualTrajectoryInfo",
                                     "StartForceControl",
                                     "StopForceControl",
                                     "StartCurrentLimitation",
                                     "StopCurrentLimitation",
                                     "SetCartesianForceMinMax",
                                     "SetCartesianInertiaDamping",
                                     "SetAngularTorqueMinMax",
                                     "SetAngularInertiaDamping"};

TEST(MotionExports, PlainNames) {
  // Demangled, a C++ function shows its parameter list; a plain name stays bare.
  const auto names = DynamicSymbols(TARSEL_API_LIB, true);
  for (const char* name : kPlainExports) {
    EXPECT_TRUE(names.count(name)) << name;
    EXPECT_FALSE(HasSymbolStartingWith(names, std::string(name) + "(")) << name;
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
