// Every export sends the command the catalogue gives it, in the catalogue's
// shape and size. The catalogue is the one list the API, the simulated arm
// and the tool share; this checks the API's side of it against the wire.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "link_fixture.h"

namespace {

using tarsel::Shape;
using tarsel::testing::LinkTest;

// One call of each export that sends exactly one catalogued command.
const std::map<std::string, std::function<int()>>& Calls() {
  static ClientConfigurations config{};
  static ControlMappingCharts charts{};
  static ZoneList zones{};
  static const std::map<std::string, std::function<int()>> calls = {
      {"SetClientConfigurations", [] { return SetClientConfigurations(config); }},
      {"GetClientConfigurations", [] { return GetClientConfigurations(&config); }},
      {"GetControlType", [] { int t; return GetControlType(t); }},
      {"SetJointZero", [] { return SetJointZero(16); }},
      {"GetSystemError", [] { SystemError e; return GetSystemError(0, e); }},
      {"GetSystemErrorCount", [] { unsigned n; return GetSystemErrorCount(n); }},
      {"ClearErrorLog", [] { return ClearErrorLog(); }},
      {"GetCodeVersion", [] { std::vector<int> v; return GetCodeVersion(v); }},
      {"EraseAllProtectionZones", [] { return EraseAllProtectionZones(); }},
      {"SetProtectionZone", [] { return SetProtectionZone(zones); }},
      {"GetProtectionZone", [] { return GetProtectionZone(&zones); }},
      {"SetControlMapping", [] { return SetControlMapping(charts); }},
      {"GetControlMapping", [] { return GetControlMapping(&charts); }},
      {"RestoreFactoryDefault", [] { return RestoreFactoryDefault(); }},
      {"SetAngularControl", [] { return SetAngularControl(); }},
      {"SetCartesianControl", [] { return SetCartesianControl(); }},
      {"SetActuatorAddress", [] { return SetActuatorAddress(16, 17); }},
      {"SetActuatorPID", [] { return SetActuatorPID(16, 1, 2, 3); }},
      {"SetActuatorPIDFilter", [] { return SetActuatorPIDFilter(16, 1, 2, 3); }},
      {"SetTorqueZero", [] { return SetTorqueZero(16); }},
      {"SetTorqueGain", [] { return SetTorqueGain(16, 2); }},
      {"StartForceControl", [] { return StartForceControl(); }},
      {"StopForceControl", [] { return StopForceControl(); }},
      {"StartCurrentLimitation", [] { return StartCurrentLimitation(); }},
      {"StopCurrentLimitation", [] { return StopCurrentLimitation(); }},
      {"SetSerialNumber", [] { char s[20] = "TSL-1"; return SetSerialNumber(s); }},
      {"GetQuickStatus", [] { QuickStatus q; return GetQuickStatus(q); }},
      {"SetFrameType", [] { return SetFrameType(1); }},
      {"GetGripperStatus", [] { Gripper g; return GetGripperStatus(g); }},
      {"GetCartesianPosition", [] { CartesianPosition p; return GetCartesianPosition(p); }},
      {"GetAngularPosition", [] { AngularPosition p; return GetAngularPosition(p); }},
      {"GetCartesianCommand", [] { CartesianPosition p; return GetCartesianCommand(p); }},
      {"GetAngularCommand", [] { AngularPosition p; return GetAngularCommand(p); }},
      {"GetCartesianForce", [] { CartesianPosition p; return GetCartesianForce(p); }},
      {"GetAngularForce", [] { AngularPosition p; return GetAngularForce(p); }},
      {"GetAngularCurrent", [] { AngularPosition p; return GetAngularCurrent(p); }},
      {"GetSensorsInfo", [] { SensorsInfo s; return GetSensorsInfo(s); }},
      {"GetPositionCurrentActuators", [] { std::vector<float> v; return GetPositionCurrentActuators(v); }},
      {"GetAngularCurrentMotor", [] { AngularPosition p; return GetAngularCurrentMotor(p); }},
      {"GetAngularVelocity", [] { AngularPosition p; return GetAngularVelocity(p); }},
      {"GetForcesInfo", [] { ForcesInfo f; return GetForcesInfo(f); }},
      {"GetAngularForceGravityFree", [] { AngularPosition p; return GetAngularForceGravityFree(p); }},
      {"GetActuatorAcceleration", [] { AngularAcceleration a; return GetActuatorAcceleration(a); }},
      {"ValidateCartesianTransition", [] { unsigned a; return ValidateCartesianTransition(a); }},
      {"GetGeneralInformations", [] { static GeneralInformations g; return GetGeneralInformations(g); }},
      {"SendAdvanceTrajectory", [] { TrajectoryPoint p; p.InitStruct(); return SendAdvanceTrajectory(p); }},
      {"EraseAllTrajectories", [] { return EraseAllTrajectories(); }},
      {"StartControlAPI", [] { return StartControlAPI(); }},
      {"StopControlAPI", [] { return StopControlAPI(); }},
      {"GetGlobalTrajectoryInfo", [] { TrajectoryFIFO f; return GetGlobalTrajectoryInfo(f); }},
      {"SendJoystickCommand", [] { return SendJoystickCommand(JoystickCommand{}); }},
      {"GetActualTrajectoryInfo", [] { TrajectoryPoint p; return GetActualTrajectoryInfo(p); }},
      {"SendBasicTrajectory", [] { TrajectoryPoint p; p.InitStruct(); return SendBasicTrajectory(p); }},
      {"GetSingularityVector", [] { SingularityVector v; return GetSingularityVector(v); }},
      {"GetPeripheralInventory", [] { std::vector<PeripheralInfo> l; return GetPeripheralInventory(l); }},
      {"SetCartesianForceMinMax", [] { return SetCartesianForceMinMax(CartesianInfo{}, CartesianInfo{}); }},
      {"SetCartesianInertiaDamping", [] { return SetCartesianInertiaDamping(CartesianInfo{}, CartesianInfo{}); }},
      {"SetAngularTorqueMinMax", [] { return SetAngularTorqueMinMax(AngularInfo{}, AngularInfo{}); }},
      {"SetAngularInertiaDamping", [] { return SetAngularInertiaDamping(AngularInfo{}, AngularInfo{}); }},
      {"SetSpasmFilterValues", [] { return SetSpasmFilterValues({1, 2, 3, 4}, 1); }},
      {"GetSpasmFilterValues", [] { std::vector<float> v(4); int s; return GetSpasmFilterValues(v, s); }},
      {"SetDevValue", [] { return SetDevValue(std::vector<float>(14, 1.0f)); }},
      {"GetDevValue", [] { std::vector<float> v(14); return GetDevValue(v); }},
  };
  return calls;
}

// Commands that only a composite or an access-coded call sends.
bool SentOnlyWithinAnotherCall(const std::string& name) {
  return name == "FlashPage" || name == "BeginFlash" || name == "MoveHome" || name == "SetModel";
}

class CatalogueOnTheWire : public LinkTest {};

TEST_F(CatalogueOnTheWire, EveryExportSendsItsCommandInItsShape) {
  for (const tarsel::CommandEntry& c : tarsel::kCommands) {
    SCOPED_TRACE(c.name);
    const auto call = Calls().find(c.name);
    if (call == Calls().end()) {
      EXPECT_TRUE(SentOnlyWithinAnotherCall(c.name)) << "no call listed for " << c.name;
      continue;
    }
    tarsel::recording::Reset();
    if (c.shape == Shape::kRead) {
      tarsel::recording::ServeRead(c.number, std::vector<unsigned char>(c.answerBytes, 0));
    }
    EXPECT_EQ(call->second(), TARSEL_OK);
    const auto& sent = Sent();
    ASSERT_FALSE(sent.empty());
    for (const Packet& p : sent) EXPECT_EQ(p.CommandId, c.number);
    switch (c.shape) {
      case Shape::kRead:
        EXPECT_EQ(static_cast<int>(sent.size()), (c.answerBytes + 55) / 56);
        EXPECT_EQ(sent[0].PayloadSize, 1);
        break;
      case Shape::kWrite:
        EXPECT_EQ(static_cast<int>(sent.size()), (c.requestBytes + 55) / 56);
        EXPECT_EQ(sent[0].PayloadSize, c.requestBytes);
        break;
      case Shape::kBare:
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].PayloadSize, 0);
        break;
      case Shape::kPage:
        break;
    }
  }
}

}  // namespace
