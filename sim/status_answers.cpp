// Answers of the status read-outs.
#include "status_answers.h"

#include <algorithm>
#include <cmath>

#include "blocks.h"
#include "readings.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;
using Joints = kinematics::Joints;

constexpr double kRadToDeg = 180.0 / 3.14159265358979323846;

float F(double v) {
  return static_cast<float>(v);
}

// A version word: byte 2 major, byte 1 minor, byte 0 release.
std::uint32_t Version(int major, int minor, int release) {
  return static_cast<std::uint32_t>((major << 16) | (minor << 8) | release);
}

constexpr std::uint32_t kControllerVersion = (6u << 16) | (1u << 8) | 2u;  // 6.1.2
constexpr std::uint32_t kActuatorVersion = (3u << 16) | (4u << 8) | 0u;    // 3.4.0
constexpr std::uint32_t kFingerVersion = (2u << 16) | (0u << 8) | 7u;      // 2.0.7

std::uint32_t FingerAddress(int finger) {
  return static_cast<std::uint32_t>(0x30 + finger);
}

void FingerBlock(PayloadWriter& w, const ArmState& s, int f) {
  if (f >= s.FingerCount()) {
    char text[20] = "absent";
    w.Text(text).Zeros(112);
    return;
  }
  char text[20] = "Finger 1";
  text[7] = static_cast<char>('1' + f);
  const auto target = s.motion.TargetFingers();
  w.Text(text);
  w.Field(F(s.motion.Fingers()[f]))
      .Field(F(s.motion.FingerVelocity()[f]))
      .Field(F(FingerCurrents(s)[f]))
      .Field(F(FingerTemperatures(s)[f]))
      .Field(F(s.motion.limits.fingerMax))
      .Field(F(s.motion.limits.fingerMin))
      .Field(F(s.motion.limits.fingerSpeed))
      .Field(0.0f);                               // grip force: no contact
  w.Field(s.FingerInitialized(f) ? 1.0f : 0.0f);  // initialised, as a float
  w.Field(static_cast<std::int32_t>(s.fingerPoints[f]));
  w.Field(F(target[f]));
  w.Zeros(10 * 4);  // FloatValue10..19
  w.Zeros(12);      // not used
  w.Field(FingerAddress(f)).Field(kFingerVersion);
  w.Zeros(8);  // ShortValue1..4
}

}  // namespace

void QuickStatusAnswer(PayloadWriter& w, const ArmState& s) {
  for (int f = 0; f < 3; ++f) w.Field(static_cast<std::uint8_t>(s.FingerInitialized(f) ? 1 : 0));
  w.Field(std::uint8_t{0});  // unused
  w.Field(static_cast<std::uint8_t>(s.apiControl));
  w.Field(static_cast<std::uint8_t>(s.forceControl));
  w.Field(static_cast<std::uint8_t>(s.currentLimitation));
  w.Field(static_cast<std::uint8_t>(s.controlType));
  w.Field(static_cast<std::uint8_t>(s.motion.Moving()));
  w.Field(static_cast<std::uint8_t>(std::min(s.motion.QueueSize(), 255)));
  w.Field(static_cast<std::uint8_t>(std::min<std::size_t>(s.errors.size(), 255)));
  w.Field(static_cast<std::uint8_t>(s.programming));
  w.Field(static_cast<std::uint8_t>(s.hand == HandType::kThreeFingers ? 0 : 2));
  w.Field(std::uint8_t{1});  // powered
  w.Field(std::uint8_t{0});
}

void GripperAnswer(PayloadWriter& w, const ArmState& s) {
  char text[20] = "Tarsel hand 3F";
  if (s.hand == HandType::kTwoFingers) text[12] = '2';
  w.Text(text);
  for (int f = 0; f < 3; ++f) FingerBlock(w, s, f);
}

void GeneralInformationAnswer(PayloadWriter& w, ArmState& s) {
  Motion& m = s.motion;
  const auto currents = Currents(s);
  const auto fingerCurrents = FingerCurrents(s);
  const double total = TotalCurrent(s);
  const kinematics::Pose pose = m.PoseOf(m.Position());
  const Joints physical = m.Physical(m.Position());

  w.Field(s.simTime).Field(static_cast<double>(s.pointsAccepted));
  w.Field(static_cast<std::uint32_t>(s.controlType)).Field(static_cast<std::uint32_t>(s.frameType));
  // FloatValue1..12
  w.Field(24.0f).Field(F(total)).Field(F(24.0 * total)).Field(35.0f);
  w.Field(F(m.limits.jointSpeed[0])).Field(F(m.limits.jointSpeed[3]));
  w.Field(F(m.limits.fingerSpeed)).Field(F(m.limits.linearSpeed)).Field(F(m.limits.angularSpeed));
  w.Field(F(s.timeScale)).Field(F(m.Progress())).Field(0.0f);
  w.Field(static_cast<std::uint32_t>(m.QueueSize()))
      .Field(static_cast<std::uint32_t>(Motion::kQueueCapacity));
  // UShortValue1..12
  std::uint16_t fingerMask = 0;
  for (int f = 0; f < 3; ++f) fingerMask |= s.FingerInitialized(f) ? (1u << f) : 0u;
  w.Field(static_cast<std::uint16_t>(s.apiControl))
      .Field(static_cast<std::uint16_t>(s.forceControl))
      .Field(static_cast<std::uint16_t>(s.currentLimitation))
      .Field(fingerMask)
      .Field(static_cast<std::uint16_t>(s.hand == HandType::kThreeFingers ? 0 : 2))
      .Field(static_cast<std::uint16_t>(m.Moving()))
      .Field(static_cast<std::uint16_t>(s.programming))
      .Field(static_cast<std::uint16_t>(std::min(s.pagesReceived, 65535)))
      .Field(static_cast<std::uint16_t>(std::min<std::size_t>(s.errors.size(), 65535)))
      .Zeros(3 * 2);
  // UIntValue5..15
  for (const ActuatorSettings& a : s.actuators) w.Field(a.address);
  for (int f = 0; f < 3; ++f) w.Field(static_cast<std::uint32_t>(s.fingerPoints[f]));
  w.Field(s.homeMoves).Field(s.pointsAccepted);
  w.Zeros(4);
  WriteUserPosition(w, RecordOfPose(m, m.Position(), m.Fingers()));
  WriteUserPosition(w, RecordOfPose(m, m.TargetJoints(), m.TargetFingers()));
  WriteUserPosition(w, RecordOfPose(m, kHomePose, {0, 0, 0}));
  WriteUserPosition(w, RecordOfPose(m, kRetractedPose, {0, 0, 0}));
  // FloatValue13..21
  w.Field(F(pose.x)).Field(F(pose.y)).Field(F(pose.z));
  w.Field(F(pose.rx)).Field(F(pose.ry)).Field(F(pose.rz));
  w.Field(F(kinematics::Manipulability(physical))).Field(F(s.HandMass())).Field(0.0f);
  WriteFloats(w, ActuatorTemperatures(s));
  WriteFloats(w, FingerTemperatures(s));
  for (std::int16_t b : s.buttons) w.Field(b);
  for (float a : s.axes) w.Field(a);
  for (std::uint32_t c : s.exchangeCounts) w.Field(c);
  // A page at the last offset ends the flash at 4 GiB, one past what the
  // field holds.
  w.Field(static_cast<std::uint32_t>(std::min<std::uint64_t>(s.firmware.Size(), 0xFFFFFFFFu)))
      .Field(static_cast<std::uint32_t>(s.pagesReceived))
      .Zeros(8);
  WriteFloats(w, currents);
  WriteFloats(w, fingerCurrents);
  WriteFloats(w, m.Fingers());
  w.Zeros(6 * 4);  // actuator faults: none
  for (int f = 0; f < 3; ++f) w.Field(static_cast<std::int32_t>(s.FingerInitialized(f)));
  w.Field(static_cast<std::int32_t>(s.errors.size()));
  // Hand speed (m/s) from the Jacobian and the joint speeds.
  const auto j = kinematics::Jacobian(physical);
  double v[3] = {};
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 6; ++k) v[r] += j[r][k] * m.JointVelocity()[k] / kRadToDeg;
  }
  w.Field(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])).Field(s.timeScale);
}

void ErrorEntryAnswer(PayloadWriter& w, const ErrorEntry& e) {
  w.Field(e.code).Field(e.device).Field(e.severity).Field(e.occurrences).Field(e.timeSeconds);
  for (bool f : e.flags) w.Field(static_cast<std::uint8_t>(f));
  w.Field(e.value1).Field(e.value2);
  for (std::uint32_t d : e.data) w.Field(d);
}

void InventoryAnswer(PayloadWriter& w, const ArmState& s) {
  // Entry: kind (1 controller, 2 actuator, 3 finger), bus address, firmware
  // version word, serial number, state (1: running).
  w.Field(1u).Field(0u).Field(kControllerVersion).Field(1000u).Field(1u);
  for (int i = 0; i < 6; ++i) {
    w.Field(2u).Field(s.actuators[i].address).Field(kActuatorVersion);
    w.Field(static_cast<std::uint32_t>(2001 + i)).Field(1u);
  }
  for (int f = 0; f < s.FingerCount(); ++f) {
    w.Field(3u).Field(FingerAddress(f)).Field(kFingerVersion);
    w.Field(static_cast<std::uint32_t>(3001 + f)).Field(s.FingerInitialized(f) ? 1u : 0u);
  }
}

void CodeVersionsAnswer(PayloadWriter& w, const ArmState& s) {
  w.Field(kControllerVersion);
  for (int i = 0; i < 6; ++i) w.Field(kActuatorVersion);
  for (int f = 0; f < 3; ++f) w.Field(f < s.FingerCount() ? kFingerVersion : 0u);
  w.Field(std::uint8_t{3}).Zeros(3);  // hardware revision
  w.Field(Version(1, 2, 0));          // boot loader
  w.Field(Version(1, 0, 4));          // USB interface
}

}  // namespace tarsel::sim
