// Factory defaults, the identity of a new arm and its power-on state.
#include <algorithm>
#include <cstring>

#include "arm_state.h"
#include "blocks.h"

namespace tarsel::sim {

namespace {

std::array<unsigned char, 20> TextField(const char* text) {
  std::array<unsigned char, 20> field{};
  const std::size_t n = std::min<std::size_t>(std::strlen(text), field.size());
  std::memcpy(field.data(), text, n);
  return field;
}

void Text(tarsel::PayloadWriter& w, const char* text) {
  const auto field = TextField(text);
  w.Bytes(field.data(), field.size());
}

Bytes DefaultClientConfiguration() {
  Bytes b;
  tarsel::PayloadWriter w(b);
  Text(w, "Tarsel arm");
  Text(w, "simulated");
  Text(w, "");
  Text(w, "");
  Text(w, "");
  w.Field(std::int32_t{0});  // IntValue1
  // FloatValue1..7: the arm's speed limits, then zeros.
  w.Field(0.15f).Field(0.6f).Field(25.0f).Field(35.0f).Field(3400.0f).Field(0.0f).Field(0.0f);
  w.Field(std::int32_t{0});  // IntValue2
  w.Field(0.0f);             // FloatValue8
  w.Field(std::int32_t{1});  // one stored position: home
  Motion motion;
  PointRecord home = RecordOfPose(motion, kHomePose, {0, 0, 0});
  WriteUserPosition(w, home, 6.0);
  w.PadTo(144 + 20 * 104);
  w.Field(0.0f).Field(std::int32_t{0}).Field(0.0f);
  w.Field(std::int32_t{0}).Field(std::int32_t{0}).Field(std::int32_t{0});
  w.PadTo(kClientConfigSize);
  return b;
}

Bytes DefaultControlMapping() {
  Bytes b;
  tarsel::PayloadWriter w(b);
  w.Field(std::int32_t{0}).Field(std::int32_t{0});
  for (std::int32_t m = 0; m < 6; ++m) {
    // Each chart knows its own number; everything else is zero.
    Bytes block;
    tarsel::PayloadWriter bw(block);
    bw.Field(m).PadTo(2468);
    w.Bytes(block.data(), block.size());
  }
  return b;
}

Bytes TwoSettings(std::array<float, 6> first, std::array<float, 6> second) {
  Bytes b;
  tarsel::PayloadWriter w(b);
  for (float v : first) w.Field(v);
  for (float v : second) w.Field(v);
  return b;
}

}  // namespace

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
  s.clientConfig = DefaultClientConfiguration();
  s.controlMapping = DefaultControlMapping();
  s.zones.assign(kZonesSize, 0);
  s.devValues.assign(kDevValuesSize, 0);
  s.spasmFilter.clear();
  tarsel::PayloadWriter w(s.spasmFilter);
  w.Field(std::int32_t{1}).Field(0.5f).Field(0.5f).Field(0.5f).Field(0.5f).PadTo(kSpasmFilterSize);
  s.forceSettings[0] = TwoSettings({-10, -10, -10, -2, -2, -2}, {10, 10, 10, 2, 2, 2});
  s.forceSettings[1] = TwoSettings({1, 1, 1, 0.1f, 0.1f, 0.1f}, {5, 5, 5, 0.5f, 0.5f, 0.5f});
  s.forceSettings[2] = TwoSettings({-20, -20, -20, -8, -8, -8}, {20, 20, 20, 8, 8, 8});
  s.forceSettings[3] = TwoSettings({0.5f, 0.5f, 0.5f, 0.2f, 0.2f, 0.2f}, {2, 2, 2, 1, 1, 1});
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
