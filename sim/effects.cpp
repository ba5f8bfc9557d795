// What the write and bare commands do to the simulated arm; trajectory
// points and joystick samples are in point_effects.cpp.
#include <algorithm>
#include <cmath>

#include "arm_state.h"
#include "blocks.h"
#include "commands.h"
#include "maintenance/maintenance_codec.h"
#include "point_effects.h"

namespace tarsel::sim {

namespace {

int ActuatorAt(const ArmState& s, std::uint32_t address) {
  for (int i = 0; i < 6; ++i) {
    if (s.actuators[i].address == address) return i;
  }
  return -1;
}

Outcome ActuatorCommand(int id, const Bytes& payload, ArmState& s) {
  // Each starts with the actuator's address.
  const int i = ActuatorAt(s, ReadNumber<std::uint32_t>(payload));
  if (i < 0) return Refused(s, "no actuator has that address");
  ActuatorSettings& a = s.actuators[i];
  switch (id) {
    case command::SetJointZero:
      s.motion.SetJointZero(i);
      return Outcome::kDone;
    case command::SetActuatorAddress: {
      const auto next = ReadNumber<std::uint32_t>(payload, 4);
      if (next == 0 || next > 255) return Refused(s, "an actuator address is 1 to 255");
      const int other = ActuatorAt(s, next);
      if (other >= 0 && other != i) return Refused(s, "another actuator has that address");
      a.address = next;
      return Outcome::kDone;
    }
    case command::SetActuatorPID:
    case command::SetActuatorPIDFilter: {
      const auto gains = Read<ActuatorGains>(payload);
      const std::array<float, 3> values{gains.P, gains.I, gains.D};
      if (!AllFinite(values)) return Refused(s, "a PID value is NaN or infinite");
      (id == command::SetActuatorPID ? a.pid : a.pidFilter) = values;
      return Outcome::kDone;
    }
    case command::SetTorqueZero: {
      // The torque reading becomes 0 in the present pose.
      a.torqueOffset += s.TorqueReading(i);
      return Outcome::kDone;
    }
    case command::SetTorqueGain: {
      const float gain = Read<ActuatorTorqueGain>(payload).Gain;
      if (!Finite(gain)) return Refused(s, "the torque gain is NaN or infinite");
      a.torqueGain = gain;
      return Outcome::kDone;
    }
    default:
      return Refused(s, "not an actuator command");
  }
}

void CopyText(const Bytes& payload, std::array<unsigned char, 20>& field) {
  std::copy_n(payload.begin(), std::min(payload.size(), field.size()), field.begin());
}

}  // namespace

Outcome ApplyWrite(int id, const Bytes& payload, ArmState& s) {
  if (const StoredBlockLine* block = StoredBlockWrite(id)) {
    block->take(payload, s.blocks);
    return Outcome::kDone;
  }
  switch (id) {
    case command::SetSerialNumber:
      CopyText(payload, s.serial);
      return Outcome::kDone;
    case command::SetModel:
      CopyText(payload, s.model);
      return Outcome::kDone;
    case command::SetFrameType:
      s.frameType = ReadNumber<std::int32_t>(payload);
      return Outcome::kDone;
    case command::SetJointZero:
    case command::SetActuatorAddress:
    case command::SetActuatorPID:
    case command::SetActuatorPIDFilter:
    case command::SetTorqueZero:
    case command::SetTorqueGain:
      return ActuatorCommand(id, payload, s);
    case command::SendAdvanceTrajectory:
      return SendFullPoint(payload, s);
    case command::SendBasicTrajectory:
      return SendBasicPoint(payload, s);
    case command::SendJoystickCommand:
      return JoystickSample(payload, s);
    default:
      return Refused(s, "no write command of this arm");
  }
}

Outcome ApplyBare(int id, ArmState& s) {
  if (const StoredBlockLine* block = StoredBlockErase(id)) {
    block->erased(s.blocks);
    return Outcome::kDone;
  }
  switch (id) {
    case command::BeginFlash:
      // Programming starts over: the flash is erased.
      s.programming = true;
      s.firmware.pages.clear();
      s.pagesReceived = 0;
      return Outcome::kDone;
    case command::ClearErrorLog:
      s.errors.clear();
      return Outcome::kDone;
    case command::RestoreFactoryDefault:
      RestoreFactoryDefaults(s);
      return Outcome::kDone;
    case command::SetAngularControl:
      s.controlType = kAngularControl;
      return Outcome::kDone;
    case command::SetCartesianControl:
      s.controlType = kCartesianControl;
      return Outcome::kDone;
    case command::StartForceControl:
      s.forceControl = true;
      return Outcome::kDone;
    case command::StopForceControl:
      s.forceControl = false;
      return Outcome::kDone;
    case command::StartCurrentLimitation:
      s.currentLimitation = true;
      return Outcome::kDone;
    case command::StopCurrentLimitation:
      s.currentLimitation = false;
      return Outcome::kDone;
    case command::EraseAllTrajectories:
      s.motion.Stop();
      return Outcome::kDone;
    case command::StartControlAPI:
      s.apiControl = true;
      return Outcome::kDone;
    case command::StopControlAPI:
      s.apiControl = false;
      return Outcome::kDone;
    case command::MoveHome: {
      Motion::Target home;
      home.joints = kHomePose;
      home.fingers = s.motion.TargetFingersAfterQueue();
      home.record.Position = s.motion.PositionOf(kHomePose, home.fingers);
      if (!s.motion.Enqueue(home)) return Refused(s, "the trajectory queue is full");
      ++s.homeMoves;
      return Outcome::kDone;
    }
    default:
      return Refused(s, "no bare command of this arm");
  }
}

}  // namespace tarsel::sim
