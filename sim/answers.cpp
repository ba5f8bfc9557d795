// Answers of the read commands, filled from the simulated state: the
// positions and trajectory read-outs here, the status read-outs in
// status_answers.cpp, the sensor model in readings.cpp.
#include <algorithm>

#include "arm_state.h"
#include "blocks.h"
#include "commands.h"
#include "motion/motion_codec.h"
#include "readings.h"
#include "status_answers.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;
using Joints = kinematics::Joints;

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
  tarsel::WriteForm<tarsel::Form<CartesianPosition>>(w, r);
}

void WriteAngular(PayloadWriter& w, const Joints& q, const Motion::FingerValues& f) {
  AngularPosition r{};
  r.Actuators = AngularInfo{F(q[0]), F(q[1]), F(q[2]), F(q[3]), F(q[4]), F(q[5])};
  r.Fingers = Fingers(f);
  tarsel::WriteForm<tarsel::Form<AngularPosition>>(w, r);
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
    outcome = Refused(s, "no read command of this arm");
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
        outcome = Refused(s, "the error log has no entry at that index");
        return {};
      }
      ErrorEntryAnswer(w, s.errors[argument]);
      break;
    case command::GetSystemErrorCount:
      w.Field(static_cast<std::uint32_t>(s.errors.size()));
      break;
    case command::GetCodeVersion:
      CodeVersionsAnswer(w, s);
      break;
    case command::GetQuickStatus:
      QuickStatusAnswer(w, s);
      break;
    case command::GetGripperStatus:
      GripperAnswer(w, s);
      break;
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
      GeneralInformationAnswer(w, s);
      break;
    case command::GetGlobalTrajectoryInfo: {
      TrajectoryFIFO fifo{};
      fifo.PointCount = static_cast<int>(m.QueueSize());
      fifo.StatusFloat = F(m.Progress());
      fifo.StatusInt = static_cast<int>(Motion::kQueueCapacity - m.QueueSize());
      tarsel::WriteForm<tarsel::Form<TrajectoryFIFO>>(w, fifo);
      break;
    }
    case command::GetActualTrajectoryInfo:
      ActualTrajectory(w, s);
      break;
    case command::GetSingularityVector:
      Singularity(w, s);
      break;
    case command::GetPeripheralInventory:
      InventoryAnswer(w, s);
      break;
    default:
      break;
  }
  // Every answer has exactly the command's size.
  b.resize(static_cast<std::size_t>(info->size), 0);
  return b;
}

}  // namespace tarsel::sim
