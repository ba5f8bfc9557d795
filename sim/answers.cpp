// Answers of the read commands, filled from the simulated state: the
// positions and trajectory read-outs here, the status read-outs in
// status_answers.cpp, the stored blocks in blocks.cpp, the sensor model in
// readings.cpp. Each answer is a public record written through its form, the
// field list the host decodes it with.
#include <algorithm>
#include <cassert>

#include "arm_state.h"
#include "blocks.h"
#include "commands.h"
#include "motion/motion_codec.h"
#include "readings.h"
#include "status/status_codec.h"
#include "status_answers.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;
using Joints = kinematics::Joints;

float F(double v) {
  return static_cast<float>(v);
}

template <class Record>
void Write(PayloadWriter& w, const Record& record) {
  tarsel::WriteForm<tarsel::Form<Record>>(w, record);
}

AngularInfo ActuatorsOf(const Joints& q) {
  return {F(q[0]), F(q[1]), F(q[2]), F(q[3]), F(q[4]), F(q[5])};
}

FingersPosition FingersOf(const Motion::FingerValues& f) {
  return {F(f[0]), F(f[1]), F(f[2])};
}

CartesianPosition Cartesian(const kinematics::Pose& p, const Motion::FingerValues& f) {
  return {{F(p.x), F(p.y), F(p.z), F(p.rx), F(p.ry), F(p.rz)}, FingersOf(f)};
}

AngularPosition Angular(const Joints& q, const Motion::FingerValues& f) {
  return {ActuatorsOf(q), FingersOf(f)};
}

// The point being executed; while none is, a point of where the arm stands.
TrajectoryPoint ActualTrajectory(const Motion& m) {
  if (const TrajectoryPoint* active = m.ActiveRecord()) return *active;
  TrajectoryPoint point{};
  point.Position = m.PositionOf(m.Position(), m.Fingers());
  return point;
}

SingularityVector Singularity(const ArmState& s) {
  const Singularities m = SingularityMeasures(s);
  const int near = NearSingularities(m);
  SingularityVector r{};
  r.Indicator1 = near > 0;
  r.Indicator2 = near;
  r.Measure1 = F(kinematics::Manipulability(s.motion.Physical(s.motion.Position())));
  r.Measure2 = F(std::min({m.wrist, m.elbow, m.shoulder}));
  r.Vector = {F(m.wristCentre[0]), F(m.wristCentre[1]), F(m.wristCentre[2]),
              F(m.wrist),          F(m.elbow),          F(m.shoulder)};
  return r;
}

// Gravity's direction in the frame of each of the six links, three values each.
AngularAcceleration Accelerations(const Motion& m) {
  AngularAcceleration r{};
  for (int link = 1; link <= 6; ++link) {
    const auto g = kinematics::GravityInFrame(m.Physical(m.Position()), link);
    for (int k = 0; k < 3; ++k) r.Values[3 * (link - 1) + k] = F(g[k]);
  }
  return r;
}

// Force1..6: no external force on the hand; Force7..12: the joint torques.
ForcesInfo Forces(const ArmState& s) {
  const auto t = Torques(s);
  ForcesInfo r{};
  r.Force7 = F(t[0]);
  r.Force8 = F(t[1]);
  r.Force9 = F(t[2]);
  r.Force10 = F(t[3]);
  r.Force11 = F(t[4]);
  r.Force12 = F(t[5]);
  return r;
}

// The supply voltage, the total current, gravity's direction, the actuator
// and finger temperatures.
SensorsInfo Sensors(const ArmState& s) {
  const auto up = kinematics::GravityInFrame(s.motion.Physical(s.motion.Position()), 0);
  const auto a = ActuatorTemperatures(s);
  const auto f = FingerTemperatures(s);
  return {24.0f,   F(TotalCurrent(s)), F(up[0]), F(up[1]), F(up[2]), F(a[0]), F(a[1]),
          F(a[2]), F(a[3]),            F(a[4]),  F(a[5]),  F(f[0]),  F(f[1]), F(f[2])};
}

// Appends the answer of the read command id; false (outcome set) when the
// arm refuses it.
bool WriteAnswer(int id, ArmState& s, std::uint32_t argument, PayloadWriter& w, Outcome& outcome) {
  Motion& m = s.motion;
  switch (id) {
    case command::GetControlType:
      w.Field(static_cast<std::int32_t>(s.controlType));
      return true;
    case command::GetSystemError:
      if (argument >= s.errors.size()) {
        outcome = Refused(s, "the error log has no entry at that index");
        return false;
      }
      ErrorEntryAnswer(w, s.errors[argument]);
      return true;
    case command::GetSystemErrorCount:
      w.Field(static_cast<std::uint32_t>(s.errors.size()));
      return true;
    case command::GetCodeVersion:
      CodeVersionsAnswer(w, s);
      return true;
    case command::GetQuickStatus:
      QuickStatusAnswer(w, s);
      return true;
    case command::GetGripperStatus:
      GripperAnswer(w, s);
      return true;
    case command::GetGeneralInformations:
      GeneralInformationAnswer(w, s);
      return true;
    case command::GetPeripheralInventory:
      InventoryAnswer(w, s);
      return true;
    case command::GetSensorsInfo:
      Write(w, Sensors(s));
      return true;
    case command::GetForcesInfo:
      Write(w, Forces(s));
      return true;
    case command::GetCartesianPosition:
      Write(w, Cartesian(m.PoseOf(m.Position()), m.Fingers()));
      return true;
    case command::GetAngularPosition:
      Write(w, Angular(m.Position(), m.Fingers()));
      return true;
    case command::GetCartesianCommand:
      Write(w, Cartesian(m.PoseOf(m.TargetJoints()), m.TargetFingers()));
      return true;
    case command::GetAngularCommand:
      Write(w, Angular(m.TargetJoints(), m.TargetFingers()));
      return true;
    case command::GetCartesianForce:
      Write(w, CartesianPosition{});  // no contact: no external force on the hand
      return true;
    case command::GetAngularForce:
      Write(w, Angular(Torques(s), {}));
      return true;
    case command::GetAngularCurrent:
      Write(w, Angular(Currents(s), FingerCurrents(s)));
      return true;
    case command::GetAngularCurrentMotor:
      Write(w, Angular(MotorCurrents(s), FingerCurrents(s)));
      return true;
    case command::GetAngularVelocity:
      Write(w, Angular(m.JointVelocity(), m.FingerVelocity()));
      return true;
    case command::GetAngularForceGravityFree:
      Write(w, Angular(GravityFreeTorques(s), {}));
      return true;
    case command::GetActuatorAcceleration:
      Write(w, Accelerations(m));
      return true;
    case command::GetPositionCurrentActuators: {
      // No record: each joint's position and current, in turn.
      const auto currents = Currents(s);
      for (int i = 0; i < 6; ++i) w.Field(F(m.Position()[i])).Field(F(currents[i]));
      return true;
    }
    case command::ValidateCartesianTransition:
      w.Field(static_cast<std::uint32_t>(NearSingularities(SingularityMeasures(s)) == 0));
      return true;
    case command::GetGlobalTrajectoryInfo: {
      TrajectoryFIFO fifo{};
      fifo.PointCount = m.QueueSize();
      fifo.StatusFloat = F(m.Progress());
      fifo.StatusInt = Motion::kQueueCapacity - m.QueueSize();
      Write(w, fifo);
      return true;
    }
    case command::GetActualTrajectoryInfo:
      tarsel::WriteForm<tarsel::ActualTrajectoryForm>(w, ActualTrajectory(m));
      return true;
    case command::GetSingularityVector:
      Write(w, Singularity(s));
      return true;
    default:
      outcome = Refused(s, "the arm has no answer to this read");
      return false;
  }
}

}  // namespace

Bytes BuildReadAnswer(const CommandInfo& command, ArmState& s, std::uint32_t argument,
                      Outcome& outcome) {
  outcome = Outcome::kDone;
  if (command.shape != Shape::kRead) {
    outcome = Refused(s, "no read command of this arm");
    return {};
  }
  const auto size = static_cast<std::size_t>(command.size);
  Bytes b;
  if (const StoredBlockLine* block = StoredBlockRead(command.id)) {
    b = block->answer(s.blocks);
  } else {
    b.reserve(size);
    PayloadWriter w(b);
    if (!WriteAnswer(command.id, s, argument, w, outcome)) return {};
  }
  // An answer of another size than the catalogue's is the arm's own fault:
  // it is refused rather than cut or padded into shape.
  if (b.size() != size) {
    assert(!"a read answer's size differs from the catalogue's");
    outcome = Refused(s, "the arm built an answer of another size than the command's");
    return {};
  }
  return b;
}

}  // namespace tarsel::sim
