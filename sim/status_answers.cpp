// Answers of the status read-outs: each fills the public record from the
// simulated state and writes it through the record's form, the field list the
// host decodes it with.
#include "status_answers.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "maintenance/maintenance_codec.h"
#include "readings.h"
#include "record_fill.h"
#include "status/status_codec.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;
using Joints = kinematics::Joints;

constexpr double kRadToDeg = 180.0 / 3.14159265358979323846;

constexpr VersionWord kControllerVersion{2, 1, 6};  // 6.1.2
constexpr VersionWord kActuatorVersion{0, 4, 3};    // 3.4.0
constexpr VersionWord kFingerVersion{7, 0, 2};      // 2.0.7

// A version word as one number (the inventory's form): major, minor and
// release in bytes 2, 1 and 0.
std::uint32_t Packed(const VersionWord& v) {
  return static_cast<std::uint32_t>((v.Major << 16) | (v.Minor << 8) | v.Release);
}

// The hand type as the arm reports it.
int Hand(const ArmState& s) {
  return s.hand == HandType::kThreeFingers ? TARSEL_HAND_THREE_FINGERS : TARSEL_HAND_TWO_FINGERS;
}

std::uint32_t FingerAddress(int finger) {
  return static_cast<std::uint32_t>(0x30 + finger);
}

template <class Record>
void Write(PayloadWriter& w, const Record& record) {
  tarsel::WriteForm<tarsel::Form<Record>>(w, record);
}

// Holds one PeripheralInfo and ends its life without calling its destructor:
// the destructor (which does nothing) is defined in the API library, which
// the simulator does not link.
union InventorySlot {
  InventorySlot() : entry{} {}
  ~InventorySlot() {}
  PeripheralInfo entry;
};

// Finger f's block; a finger the hand lacks is "absent" and zeros.
Finger FingerOf(const ArmState& s, int f) {
  Finger r{};
  if (f >= s.FingerCount()) {
    InOrder(r)("absent");
    return r;
  }
  char text[20] = "Finger 1";
  text[7] = static_cast<char>('1' + f);
  const Motion& m = s.motion;
  InOrder(r)(text, m.Fingers()[f], m.FingerVelocity()[f], FingerCurrents(s)[f],
             FingerTemperatures(s)[f], m.limits.fingerMax, m.limits.fingerMin,
             m.limits.fingerSpeed)
      (0.0)                                  // grip force: no contact
      (s.FingerInitialized(f) ? 1 : 0)       // initialised
      (s.fingerPoints[f], m.TargetFingers()[f])
      .Skip(10)(FingerAddress(f), Packed(kFingerVersion));
  return r;
}

// The hand's speed (m/s), from the Jacobian and the joint speeds.
double HandSpeed(const Motion& m) {
  const auto j = kinematics::Jacobian(m.Physical(m.Position()));
  double v[3] = {};
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 6; ++k) v[r] += j[r][k] * m.JointVelocity()[k] / kRadToDeg;
  }
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

void QuickStatusAnswer(PayloadWriter& w, const ArmState& s) {
  QuickStatus r{};
  InOrder(r)(s.FingerInitialized(0), s.FingerInitialized(1), s.FingerInitialized(2))
      (s.apiControl, s.forceControl, s.currentLimitation, s.controlType, s.motion.Moving())
      (std::min(s.motion.QueueSize(), 255), std::min<std::size_t>(s.errors.size(), 255))
      (s.programming, Hand(s))
      (1);  // powered
  Write(w, r);
}

void GripperAnswer(PayloadWriter& w, const ArmState& s) {
  Gripper r{};
  char text[20] = "Tarsel hand 3F";
  if (s.hand == HandType::kTwoFingers) text[12] = '2';
  InOrder(r)(text, FingerOf(s, 0), FingerOf(s, 1), FingerOf(s, 2));
  Write(w, r);
}

void GeneralInformationAnswer(PayloadWriter& w, ArmState& s) {
  Motion& m = s.motion;  // TargetJoints() settles the target first
  const double total = TotalCurrent(s);
  const kinematics::Pose pose = m.PoseOf(m.Position());
  unsigned fingerMask = 0;
  for (int f = 0; f < 3; ++f) fingerMask |= s.FingerInitialized(f) ? (1u << f) : 0u;
  std::array<std::uint32_t, 6> addresses{};
  for (int i = 0; i < 6; ++i) addresses[i] = s.actuators[i].address;
  GeneralInformations r{};
  InOrder(r)(s.simTime, s.pointsAccepted, s.controlType, s.frameType)
      // voltage, current, power, controller temperature
      (24.0, total, 24.0 * total, 35.0)
      (m.limits.jointSpeed[0], m.limits.jointSpeed[3], m.limits.fingerSpeed)
      (m.limits.linearSpeed, m.limits.angularSpeed, s.timeScale, m.Progress(), 0.0)
      (m.QueueSize(), Motion::kQueueCapacity)
      (s.apiControl, s.forceControl, s.currentLimitation, fingerMask, Hand(s), m.Moving())
      (s.programming, std::min(s.pagesReceived, 65535))
      (std::min<std::size_t>(s.errors.size(), 65535))
      .Skip(3)(addresses, s.fingerPoints, s.homeMoves, s.pointsAccepted)
      // present, target, home and power-on positions
      (m.PositionOf(m.Position(), m.Fingers()), m.PositionOf(m.TargetJoints(), m.TargetFingers()))
      (m.PositionOf(kHomePose, {0, 0, 0}), m.PositionOf(kRetractedPose, {0, 0, 0}))
      (pose.x, pose.y, pose.z, pose.rx, pose.ry, pose.rz)
      (kinematics::Manipulability(m.Physical(m.Position())), s.HandMass(), 0.0)
      (ActuatorTemperatures(s), FingerTemperatures(s), s.buttons, s.axes, s.exchangeCounts)
      // A page at the last offset ends the flash at 4 GiB, one past what the
      // field holds.
      (std::min<std::uint64_t>(s.firmware.Size(), 0xFFFFFFFFu), s.pagesReceived)
      .Skip(2)(Currents(s), FingerCurrents(s), m.Fingers())
      .Skip(6)  // actuator faults: none
      (s.FingerInitialized(0), s.FingerInitialized(1), s.FingerInitialized(2))
      (s.errors.size(), HandSpeed(m), s.timeScale);
  Write(w, r);
}

void InventoryAnswer(PayloadWriter& w, const ArmState& s) {
  // Entry: kind (1 controller, 2 actuator, 3 finger), bus address, firmware
  // version word, serial number, state (1: running); unused entries zero.
  int written = 0;
  auto entry = [&](unsigned kind, unsigned address, const VersionWord& version, unsigned serial,
                   unsigned state) {
    InventorySlot slot;
    InOrder(slot.entry)(kind, address, Packed(version), serial, state);
    Write(w, slot.entry);
    ++written;
  };
  entry(1, 0, kControllerVersion, 1000, 1);
  for (int i = 0; i < 6; ++i) {
    entry(2, s.actuators[i].address, kActuatorVersion, static_cast<unsigned>(2001 + i), 1);
  }
  for (int f = 0; f < s.FingerCount(); ++f) {
    entry(3, FingerAddress(f), kFingerVersion, static_cast<unsigned>(3001 + f),
          s.FingerInitialized(f) ? 1u : 0u);
  }
  while (written < kPeripheralCount) entry(0, 0, {}, 0, 0);
}

void CodeVersionsAnswer(PayloadWriter& w, const ArmState& s) {
  CodeVersions r{};
  auto versions = InOrder(r);
  versions(kControllerVersion);
  for (int i = 0; i < 6; ++i) versions(kActuatorVersion);
  for (int f = 0; f < 3; ++f) versions(f < s.FingerCount() ? kFingerVersion : VersionWord{});
  versions(3)                                       // hardware revision
      (VersionWord{0, 2, 1}, VersionWord{4, 0, 1});  // boot loader 1.2.0, USB interface 1.0.4
  Write(w, r);
}

void ForcesAnswer(PayloadWriter& w, const ArmState& s) {
  ForcesInfo r{};
  InOrder(r).Skip(6)(Torques(s));  // no external force on the hand; the joint torques
  Write(w, r);
}

void SensorsAnswer(PayloadWriter& w, const ArmState& s) {
  SensorsInfo r{};
  // voltage, current, gravity's direction, temperatures
  InOrder(r)(24.0, TotalCurrent(s))
      (kinematics::GravityInFrame(s.motion.Physical(s.motion.Position()), 0))
      (ActuatorTemperatures(s), FingerTemperatures(s));
  Write(w, r);
}

}  // namespace tarsel::sim
