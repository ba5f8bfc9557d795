// Answers of the read commands, filled from the simulated state.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "arm_state.h"
#include "blocks.h"
#include "commands.h"
#include "motion/motion_codec.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;
using Joints = kinematics::Joints;

constexpr double kRadToDeg = 180.0 / 3.14159265358979323846;

float F(double v) {
  return static_cast<float>(v);
}

FingersPosition Fingers(const Motion::FingerValues& f) {
  FingersPosition out{};
  out.Finger1 = F(f[0]);
  out.Finger2 = F(f[1]);
  out.Finger3 = F(f[2]);
  return out;
}

// The read-out records filled from the state, then written in the form the
// host decodes them with (one field list for both sides).
void WriteCartesian(PayloadWriter& w, const kinematics::Pose& p, const Motion::FingerValues& f) {
  CartesianPosition r{};
  r.Coordinates = CartesianInfo{F(p.x), F(p.y), F(p.z), F(p.rx), F(p.ry), F(p.rz)};
  r.Fingers = Fingers(f);
  tarsel::CartesianPositionForm(w, r);
}

void WriteAngular(PayloadWriter& w, const Joints& q, const Motion::FingerValues& f) {
  AngularPosition r{};
  r.Actuators = AngularInfo{F(q[0]), F(q[1]), F(q[2]), F(q[3]), F(q[4]), F(q[5])};
  r.Fingers = Fingers(f);
  tarsel::AngularPositionForm(w, r);
}

std::array<double, 6> Torques(const ArmState& s) {
  std::array<double, 6> t{};
  for (int i = 0; i < 6; ++i) t[i] = s.TorqueReading(i);
  return t;
}

std::array<double, 6> GravityFreeTorques(const ArmState& s) {
  const auto gravity =
      kinematics::GravityTorques(s.motion.Physical(s.motion.Position()), s.HandMass());
  std::array<double, 6> t = Torques(s);
  for (int i = 0; i < 6; ++i) t[i] -= gravity[i];
  return t;
}

// Actuator current (A): a standing current, the holding torque and the speed.
std::array<double, 6> Currents(const ArmState& s) {
  const auto torques = Torques(s);
  const auto& v = s.motion.JointVelocity();
  std::array<double, 6> c{};
  for (int i = 0; i < 6; ++i) c[i] = 0.25 + 0.12 * std::fabs(torques[i]) + 0.004 * std::fabs(v[i]);
  if (s.currentLimitation) {
    for (double& x : c) x = std::min(x, 1.5);
  }
  return c;
}

std::array<double, 6> MotorCurrents(const ArmState& s) {
  const auto torques = Torques(s);
  const auto& v = s.motion.JointVelocity();
  std::array<double, 6> c{};
  for (int i = 0; i < 6; ++i) c[i] = 0.1 * std::fabs(torques[i]) + 0.003 * std::fabs(v[i]);
  return c;
}

Motion::FingerValues FingerCurrents(const ArmState& s) {
  Motion::FingerValues c{};
  for (int f = 0; f < s.FingerCount(); ++f) {
    c[f] = 0.05 + 0.0001 * std::fabs(s.motion.FingerVelocity()[f]);
  }
  return c;
}

std::array<double, 6> ActuatorTemperatures(const ArmState& s) {
  const auto currents = Currents(s);
  std::array<double, 6> t{};
  for (int i = 0; i < 6; ++i) t[i] = 30.0 + 2.0 * currents[i];
  return t;
}

Motion::FingerValues FingerTemperatures(const ArmState& s) {
  Motion::FingerValues t{};
  for (int f = 0; f < s.FingerCount(); ++f) t[f] = 28.0;
  return t;
}

double TotalCurrent(const ArmState& s) {
  double total = 0.4;  // the controller itself
  for (double c : Currents(s)) total += c;
  for (double c : FingerCurrents(s)) total += c;
  return total;
}

// Measures that vanish at the three singularities of the model.
struct Singularities {
  double wrist;     // |sin q5|: axes 4 and 6 aligned
  double elbow;     // |sin q3|: arm stretched
  double shoulder;  // distance (m) of the wrist centre from the base axis
  std::array<double, 3> wristCentre;
};

Singularities SingularityMeasures(const ArmState& s) {
  const Joints physical = s.motion.Physical(s.motion.Position());
  const auto frames = kinematics::Frames(physical);
  const double deg = 1.0 / kRadToDeg;
  Singularities m;
  m.wrist = std::fabs(std::sin((physical[4] + kinematics::kDhTable[4].offsetDeg) * deg));
  m.elbow = std::fabs(std::sin(physical[2] * deg));
  const auto& c = frames[4].p;
  m.shoulder = std::sqrt(c[0] * c[0] + c[1] * c[1]);
  m.wristCentre = {c[0], c[1], c[2]};
  return m;
}

int NearSingularities(const Singularities& m) {
  return (m.wrist < 0.1 ? 1 : 0) + (m.elbow < 0.1 ? 1 : 0) + (m.shoulder < 0.05 ? 1 : 0);
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

void QuickStatus(PayloadWriter& w, const ArmState& s) {
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

void GeneralInformation(PayloadWriter& w, ArmState& s, const CommandInfo&) {
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
  w.Field(static_cast<std::uint32_t>(s.firmware.size()))
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

void Inventory(PayloadWriter& w, const ArmState& s) {
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

void CodeVersions(PayloadWriter& w, const ArmState& s) {
  w.Field(kControllerVersion);
  for (int i = 0; i < 6; ++i) w.Field(kActuatorVersion);
  for (int f = 0; f < 3; ++f) w.Field(f < s.FingerCount() ? kFingerVersion : 0u);
  w.Field(std::uint8_t{3}).Zeros(3);  // hardware revision
  w.Field(Version(1, 2, 0));          // boot loader
  w.Field(Version(1, 0, 4));          // USB interface
}

void ActualTrajectory(PayloadWriter& w, ArmState& s) {
  Motion& m = s.motion;
  const PointRecord* active = m.ActiveRecord();
  const PointRecord point =
      active != nullptr ? *active : RecordOfPose(m, m.Position(), m.Fingers());
  WriteUserPosition(w, point);
  // The limitation flag travels as a float in this answer.
  w.Field(static_cast<float>(point.limitationFlag)).Zeros(4);
  for (float l : point.limits) w.Field(l);
}

void Singularity(PayloadWriter& w, const ArmState& s) {
  const Singularities m = SingularityMeasures(s);
  const int near = NearSingularities(m);
  const double manip = kinematics::Manipulability(s.motion.Physical(s.motion.Position()));
  w.Field(static_cast<std::int32_t>(near > 0)).Field(static_cast<float>(near));
  w.Field(F(manip)).Field(F(std::min({m.wrist, m.elbow, m.shoulder}))).Zeros(8);
  w.Field(F(m.wristCentre[0])).Field(F(m.wristCentre[1])).Field(F(m.wristCentre[2])).Zeros(8);
  w.Field(F(m.wrist)).Field(F(m.elbow)).Field(F(m.shoulder));
}

}  // namespace

Bytes BuildReadAnswer(int id, ArmState& s, std::uint32_t argument, Outcome& outcome) {
  outcome = Outcome::kDone;
  const CommandInfo* info = FindCommand(id);
  if (info == nullptr || info->shape != Shape::kRead) {
    outcome = Outcome::kRefused;
    return {};
  }
  Bytes b;
  b.reserve(static_cast<std::size_t>(info->size));
  PayloadWriter w(b);
  Motion& m = s.motion;
  switch (id) {
    case command::GetClientConfigurations:
      b = s.clientConfig;
      break;
    case command::GetControlMapping:
      b = s.controlMapping;
      break;
    case command::GetProtectionZone:
      b = s.zones;
      break;
    case command::GetDevValue:
      b = s.devValues;
      break;
    case command::GetSpasmFilterValues:
      b = s.spasmFilter;
      break;
    case command::GetControlType:
      w.Field(static_cast<std::int32_t>(s.controlType));
      break;
    case command::GetSystemError:
      if (argument >= s.errors.size()) {
        outcome = Outcome::kRefused;
        return {};
      }
      ErrorEntryAnswer(w, s.errors[argument]);
      break;
    case command::GetSystemErrorCount:
      w.Field(static_cast<std::uint32_t>(s.errors.size()));
      break;
    case command::GetCodeVersion:
      CodeVersions(w, s);
      break;
    case command::GetQuickStatus:
      QuickStatus(w, s);
      break;
    case command::GetGripperStatus: {
      char text[20] = "Tarsel hand 3F";
      if (s.hand == HandType::kTwoFingers) text[12] = '2';
      w.Text(text);
      for (int f = 0; f < 3; ++f) FingerBlock(w, s, f);
      break;
    }
    case command::GetCartesianPosition:
      WriteCartesian(w, m.PoseOf(m.Position()), m.Fingers());
      break;
    case command::GetAngularPosition:
      WriteAngular(w, m.Position(), m.Fingers());
      break;
    case command::GetCartesianCommand:
      WriteCartesian(w, m.PoseOf(m.TargetJoints()), m.TargetFingers());
      break;
    case command::GetAngularCommand:
      WriteAngular(w, m.TargetJoints(), m.TargetFingers());
      break;
    case command::GetCartesianForce:
      w.Zeros(36);
      break;  // no contact: no external force on the hand
    case command::GetAngularForce:
      WriteFloats(w, Torques(s));
      w.Zeros(12);
      break;
    case command::GetAngularCurrent:
      WriteFloats(w, Currents(s));
      WriteFloats(w, FingerCurrents(s));
      break;
    case command::GetSensorsInfo: {
      w.Field(24.0f).Field(F(TotalCurrent(s)));
      const auto up = kinematics::GravityInFrame(m.Physical(m.Position()), 0);
      WriteFloats(w, up);
      WriteFloats(w, ActuatorTemperatures(s));
      WriteFloats(w, FingerTemperatures(s));
      break;
    }
    case command::GetPositionCurrentActuators: {
      const auto currents = Currents(s);
      for (int i = 0; i < 6; ++i) w.Field(F(m.Position()[i])).Field(F(currents[i]));
      break;
    }
    case command::GetAngularCurrentMotor:
      WriteFloats(w, MotorCurrents(s));
      WriteFloats(w, FingerCurrents(s));
      break;
    case command::GetAngularVelocity:
      WriteAngular(w, m.JointVelocity(), m.FingerVelocity());
      break;
    case command::GetForcesInfo:
      w.Zeros(24);
      WriteFloats(w, Torques(s));
      break;
    case command::GetAngularForceGravityFree:
      WriteFloats(w, GravityFreeTorques(s));
      w.Zeros(12);
      break;
    case command::GetActuatorAcceleration:
      for (int link = 1; link <= 6; ++link) {
        WriteFloats(w, kinematics::GravityInFrame(m.Physical(m.Position()), link));
      }
      break;
    case command::ValidateCartesianTransition:
      w.Field(static_cast<std::uint32_t>(NearSingularities(SingularityMeasures(s)) == 0));
      break;
    case command::GetGeneralInformations:
      GeneralInformation(w, s, *info);
      break;
    case command::GetGlobalTrajectoryInfo: {
      TrajectoryFIFO fifo{};
      fifo.PointCount = static_cast<int>(m.QueueSize());
      fifo.StatusFloat = F(m.Progress());
      fifo.StatusInt = static_cast<int>(Motion::kQueueCapacity - m.QueueSize());
      tarsel::TrajectoryFifoForm(w, fifo);
      break;
    }
    case command::GetActualTrajectoryInfo:
      ActualTrajectory(w, s);
      break;
    case command::GetSingularityVector:
      Singularity(w, s);
      break;
    case command::GetPeripheralInventory:
      Inventory(w, s);
      break;
    default:
      break;
  }
  // Every answer has exactly the command's size.
  b.resize(static_cast<std::size_t>(info->size), 0);
  return b;
}

}  // namespace tarsel::sim
