// Factory defaults, the identity of a new arm and its power-on state.
#include <algorithm>
#include <cstring>

#include "arm_state.h"
#include "blocks.h"
#include "record_fill.h"

namespace tarsel::sim {

namespace {

std::array<unsigned char, 20> TextField(const char* text) {
  std::array<unsigned char, 20> field{};
  const std::size_t n = std::min<std::size_t>(std::strlen(text), field.size());
  std::memcpy(field.data(), text, n);
  return field;
}

}  // namespace

// The arm's name, its speed limits leading the float settings, and one
// stored position: home (values in the form's order, record_fill.h).
ClientConfigurations DefaultClientConfigurations() {
  ClientConfigurations c{};
  const MotionLimits limits;
  InOrder(c)("Tarsel arm", "simulated", "", "", "", 0, limits.linearSpeed, limits.angularSpeed,
             limits.jointSpeed[0], limits.jointSpeed[3], limits.fingerSpeed, 0, 0, 0, 0, 1,
             Motion().PositionOf(kHomePose, {0, 0, 0}));
  return c;
}

// Each chart knows its own number, its first value; everything else is zero.
ControlMappingCharts DefaultControlMapping() {
  const auto chart = [](int number) { return ControlMapping{number, 0, 0, 0, 0, {}, {}}; };
  return {0, 0, {chart(0), chart(1), chart(2), chart(3), chart(4), chart(5)}};
}

// Setting 1, the four values 0.5.
config::SpasmFilterValues DefaultSpasmFilter() {
  return {1, {0.5f, 0.5f, 0.5f, 0.5f}};
}

SettingPair<CartesianInfo> DefaultCartesianForce() {
  return {{-10, -10, -10, -2, -2, -2}, {10, 10, 10, 2, 2, 2}};
}
SettingPair<CartesianInfo> DefaultCartesianInertia() {
  return {{1, 1, 1, 0.1f, 0.1f, 0.1f}, {5, 5, 5, 0.5f, 0.5f, 0.5f}};
}
SettingPair<AngularInfo> DefaultAngularTorque() {
  return {{-20, -20, -20, -8, -8, -8}, {20, 20, 20, 8, 8, 8}};
}
SettingPair<AngularInfo> DefaultAngularInertia() {
  return {{0.5f, 0.5f, 0.5f, 0.2f, 0.2f, 0.2f}, {2, 2, 2, 1, 1, 1}};
}

bool ArmState::FingerInitialized(int finger) const {
  if (finger < 0 || finger >= FingerCount()) return false;
  return fingerPoints[finger] >= fingerInitPoints;
}

float ArmState::TorqueReading(int joint) const {
  const auto gravity = kinematics::GravityTorques(motion.Physical(motion.Position()), HandMass());
  const ActuatorSettings& a = actuators[joint];
  return static_cast<float>(gravity[joint]) * a.torqueGain - a.torqueOffset;
}

void RestoreFactoryDefaults(ArmState& s) {
  RestoreStoredBlocks(s.blocks);
}

void ManufactureArm(ArmState& s) {
  s.serial = TextField("TSL-SIM-000001");
  s.model = TextField("TARSEL-S6");
  s.frameType = 0;
  for (int i = 0; i < 6; ++i) {
    ActuatorSettings& a = s.actuators[i];
    a.address = static_cast<std::uint32_t>(16 + i);
    a.pid = {2.0f, 0.1f, 0.05f};
    a.pidFilter = {0.5f, 0.5f, 0.5f};
    a.torqueGain = 1.0f;
    a.torqueOffset = 0.0f;
  }
  s.errors.clear();
  ErrorEntry hot;
  hot.code = 0x0102;
  hot.device = 3;
  hot.severity = 1;
  hot.occurrences = 2;
  hot.timeSeconds = 125;
  hot.flags = {true, false, false, false, false, false, false};
  hot.value1 = 61;  // degrees Celsius reached
  hot.value2 = 60;  // warning threshold
  hot.data[0] = 1;
  ErrorEntry restart;
  restart.code = 0x0201;
  restart.device = 0;
  restart.severity = 0;
  restart.occurrences = 1;
  restart.timeSeconds = 0;
  restart.data[0] = 2;
  ErrorEntry stall;
  stall.code = 0x0305;
  stall.device = 8;
  stall.severity = 2;
  stall.occurrences = 1;
  stall.timeSeconds = 342;
  stall.flags = {true, true, false, false, false, false, false};
  stall.value1 = 1500;  // finger position where it stalled
  stall.data[0] = 3;
  s.errors = {hot, restart, stall};
  s.firmware.pages.clear();
  s.pagesReceived = 0;
  RestoreFactoryDefaults(s);
}

void PowerOn(ArmState& s) {
  s.controlType = kCartesianControl;
  s.apiControl = false;
  s.forceControl = false;
  s.currentLimitation = false;
  s.programming = false;
  s.fingerPoints = {};
  s.motion.Reset(kRetractedPose, {0, 0, 0});
  s.buttons = {};
  s.axes = {};
  s.simTime = 0;
  s.homeMoves = 0;
  s.pointsAccepted = 0;
  s.exchangeCounts = {};
}

}  // namespace tarsel::sim
