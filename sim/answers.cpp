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
#include "record_fill.h"
#include "status/status_codec.h"
#include "status_answers.h"

namespace tarsel::sim {

namespace {

using tarsel::PayloadWriter;

float F(double v) {
  return static_cast<float>(v);
}

template <class Record>
void Write(PayloadWriter& w, const Record& record) {
  tarsel::WriteForm<tarsel::Form<Record>>(w, record);
}

// The record holding values, given in its form's order (record_fill.h).
template <class Record, class... Values>
Record Filled(const Values&... values) {
  Record r{};
  InOrder(r)(values...);
  return r;
}

CartesianPosition Cartesian(const kinematics::Pose& p, const Motion::FingerValues& f) {
  return Filled<CartesianPosition>(p.x, p.y, p.z, p.rx, p.ry, p.rz, f);
}

// The point being executed; while none is, a point of where the arm stands.
TrajectoryPoint ActualTrajectory(const Motion& m) {
  if (const TrajectoryPoint* active = m.ActiveRecord()) return *active;
  TrajectoryPoint point{};
  point.Position = m.PositionOf(m.Position(), m.Fingers());
  return point;
}

// Whether the arm is near a singularity, near how many, the manipulability,
// the smallest measure; the wrist centre, then the three measures.
SingularityVector Singularity(const ArmState& s) {
  const Singularities m = SingularityMeasures(s);
  const int near = NearSingularities(m);
  return Filled<SingularityVector>(
      near > 0, near, kinematics::Manipulability(s.motion.Physical(s.motion.Position())),
      std::min({m.wrist, m.elbow, m.shoulder}), m.wristCentre, m.wrist, m.elbow, m.shoulder);
}

// Gravity's direction in the frame of each of the six links, three values each.
AngularAcceleration Accelerations(const Motion& m) {
  AngularAcceleration r{};
  auto fill = InOrder(r);
  for (int link = 1; link <= 6; ++link)
    fill(kinematics::GravityInFrame(m.Physical(m.Position()), link));
  return r;
}

// Appends the answer of the read command id, or nothing for a read the
// simulated arm does not model; false (outcome set) when the arm refuses it.
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
      Write(w, s.errors[argument]);
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
      SensorsAnswer(w, s);
      return true;
    case command::GetForcesInfo:
      ForcesAnswer(w, s);
      return true;
    case command::GetCartesianPosition:
      Write(w, Cartesian(m.PoseOf(m.Position()), m.Fingers()));
      return true;
    case command::GetAngularPosition:
      Write(w, Filled<AngularPosition>(m.Position(), m.Fingers()));
      return true;
    case command::GetCartesianCommand:
      Write(w, Cartesian(m.PoseOf(m.TargetJoints()), m.TargetFingers()));
      return true;
    case command::GetAngularCommand:
      Write(w, Filled<AngularPosition>(m.TargetJoints(), m.TargetFingers()));
      return true;
    case command::GetCartesianForce:
      Write(w, CartesianPosition{});  // no contact: no external force on the hand
      return true;
    case command::GetAngularForce:
      Write(w, Filled<AngularPosition>(Torques(s)));
      return true;
    case command::GetAngularCurrent:
      Write(w, Filled<AngularPosition>(Currents(s), FingerCurrents(s)));
      return true;
    case command::GetAngularCurrentMotor:
      Write(w, Filled<AngularPosition>(MotorCurrents(s), FingerCurrents(s)));
      return true;
    case command::GetAngularVelocity:
      Write(w, Filled<AngularPosition>(m.JointVelocity(), m.FingerVelocity()));
      return true;
    case command::GetAngularForceGravityFree:
      Write(w, Filled<AngularPosition>(GravityFreeTorques(s)));
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
    case command::GetGlobalTrajectoryInfo:
      // Points queued, the active point's progress, places free.
      Write(w, Filled<TrajectoryFIFO>(m.QueueSize(), m.Progress(),
                                      Motion::kQueueCapacity - m.QueueSize()));
      return true;
    case command::GetActualTrajectoryInfo:
      tarsel::WriteForm<tarsel::ActualTrajectoryForm>(w, ActualTrajectory(m));
      return true;
    case command::GetSingularityVector:
      Write(w, Singularity(s));
      return true;
    default:
      return true;
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
    // A read-out the arm does not model answers its record with every
    // field zero, so a new catalogue read works before the model knows it.
    if (b.empty()) b.assign(size, 0);
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
