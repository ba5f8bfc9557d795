// Factory defaults, the identity of a new arm and its power-on state.
#include <algorithm>
#include <cstring>

#include "arm_state.h"
#include "blocks.h"
#include "record_fill.h"
#include "status/status_codec.h"

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
  // The log's entries, each in its form's order: code, device, severity,
  // occurrences, time logged (s), seven flags, two values, data.
  constexpr std::array<bool, 7> kFirstFlag{true}, kFirstTwoFlags{true, true}, kNoFlags{};
  SystemError hot{};  // actuator 3 ran hot: 61 degrees Celsius, its warning threshold 60
  InOrder(hot)(0x0102, 3, 1, 2, 125, kFirstFlag, 61, 60, 1);
  SystemError restart{};  // the controller started over
  InOrder(restart)(0x0201, 0, 0, 1, 0, kNoFlags, 0, 0, 2);
  SystemError stall{};  // finger 2 stalled at position 1500
  InOrder(stall)(0x0305, 8, 2, 1, 342, kFirstTwoFlags, 1500, 0, 3);
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
