// The Python classes of the records: each one's docstring here, its fields
// from its form (the API records' beside their codecs; the C++ interface's
// records' below).
#include "records.h"

#include "config/config_codec.h"
#include "motion/motion_codec.h"
#include "record_binding.h"
#include "record_sequence.h"
#include "status/status_codec.h"
#include "tarsel/arm.hpp"

namespace tarsel {

TARSEL_FORM(SpasmFilter) {
  TARSEL_FIELDS(values, setting);
}

TARSEL_FORM(ArmInfo) {
  TARSEL_FIELDS(path, vendor_id, product_id, bus, address, serial, product, simulated);
}

}  // namespace tarsel

namespace tarsel::python {

// --- Motion ------------------------------------------------------------------------

RecordInfo Describe(Tag<AngularInfo>) {
  return {"One value per actuator of the six-axis arm, actuator 1 first: joint angles in degrees, "
          "joint velocities in degrees per second, torques in newton metres or currents in "
          "amperes, as the read-out or point says. A sequence of its six values: "
          "list(info), info[-1], info[0] = 10.0.",
          false};
}

RecordInfo Describe(Tag<CartesianInfo>) {
  return {"Three translational components (x, y, z), then three rotational ones. A pose is in "
          "metres and radians (the simulated arm composes the rotation as Rz(rotation_z) "
          "Ry(rotation_y) Rx(rotation_x)), a velocity in metres and radians per second. A "
          "sequence of its six values: list(info), info[-1], info[0] = 0.2.",
          false};
}

RecordInfo Describe(Tag<FingersPosition>) {
  return {"One value per finger of the hand: a position from 0 (open) to 6800 (closed), as the "
          "simulated arm models it, or a velocity in the same units per second. A sequence of "
          "its three values: list(fingers), fingers[-1], fingers[0] = 3400.0.",
          false};
}

RecordInfo Describe(Tag<AngularPosition>) {
  return {"Joint values and finger values: positions, commands, torques, currents or velocities.",
          false};
}

RecordInfo Describe(Tag<CartesianPosition>) {
  return {"The hand's pose (or a Cartesian force) and the finger values.", false};
}

RecordInfo Describe(Tag<AngularAcceleration>) {
  return {"The eighteen values of the actuator-acceleration read-out, in the order the arm sends "
          "them.",
          false};
}

RecordInfo Describe(Tag<UserPosition>) {
  return {"One point as the arm stores, executes and reports it. type is CARTESIAN_POSITION (1), "
          "ANGULAR_POSITION (2), CARTESIAN_VELOCITY (7) or ANGULAR_VELOCITY (8): the Cartesian "
          "kinds use coordinates, the angular kinds actuators; fingers are positions, or "
          "velocities in a velocity point.",
          false};
}

RecordInfo Describe(Tag<Limitation>) {
  return {"Nine limit values sent with a full trajectory point.", false};
}

RecordInfo Describe(Tag<TrajectoryPoint>) {
  return {"One trajectory point with its limits. Call init_struct() for the defaults (a "
          "CARTESIAN_POSITION point, fingers mode 1).",
          false};
}

RecordInfo Describe(Tag<JoystickCommand>) {
  return {"One joystick sample: sixteen buttons and six axes.", false};
}

RecordInfo Describe(Tag<TrajectoryFIFO>) {
  return {"State of the arm's trajectory queue: the points queued (0 when it is empty), its "
          "progress and its free places.",
          false};
}

RecordInfo Describe(Tag<SingularityVector>) {
  return {"The singularity indicators, measures and vector.", false};
}

// --- Configuration -------------------------------------------------------------------

RecordInfo Describe(Tag<ClientConfigurations>) {
  return {"The arm's block of client settings: five 20-byte texts, numeric settings and up to "
          "20 stored positions (only as many as the count says travel).",
          true};
}

RecordInfo Describe(Tag<ControlMappingEntry>) {
  return {"One entry of a control-mapping chart.", false};
}

RecordInfo Describe(Tag<ControlMapping>) {
  return {"One control-mapping chart.", false};
}

RecordInfo Describe(Tag<ControlMappingCharts>) {
  return {"The arm's six control-mapping charts. Some values are sent but never reported "
          "back (their docstrings say which): a read leaves them as they were.",
          true};
}

RecordInfo Describe(Tag<Zone>) {
  return {"One protection zone: eight points and nine parameters.", false};
}

RecordInfo Describe(Tag<ZoneList>) {
  return {"The arm's ten protection zones (all ten always travel).", true};
}

// --- Status --------------------------------------------------------------------------

RecordInfo Describe(Tag<GeneralInformations>) {
  return {"The arm's large status block: scalar values, four stored positions, and per-actuator "
          "and per-finger arrays.",
          false};
}

RecordInfo Describe(Tag<Finger>) {
  return {"One finger's status block.", false};
}

RecordInfo Describe(Tag<Gripper>) {
  return {"The gripper's status: a text and one block per finger, finger 1 first.", false};
}

RecordInfo Describe(Tag<QuickStatus>) {
  return {"Fourteen status bytes: the finger flags (nonzero once a finger is initialised) and "
          "the hand type (HAND_THREE_FINGERS, 0, for three fingers; anything else, such as "
          "HAND_TWO_FINGERS, 2, for two).",
          false};
}

RecordInfo Describe(Tag<ForcesInfo>) {
  return {"Twelve force values, copied bit for bit.", false};
}

RecordInfo Describe(Tag<SensorsInfo>) {
  return {"Fourteen sensor values.", false};
}

RecordInfo Describe(Tag<SystemError>) {
  return {"One entry of the arm's error log.", false};
}

RecordInfo Describe(Tag<PeripheralInfo>) {
  return {"One entry of the peripheral inventory.", false};
}

// --- Records of the C++ interface ----------------------------------------------------

RecordInfo Describe(Tag<SpasmFilter>) {
  return {"The spasm filter: its four values and its setting.", false};
}

RecordInfo Describe(Tag<ArmInfo>) {
  return {"One arm the library can reach (from list_arms()). path is its stable identity: "
          "\"usb:<bus>-<ports>\" or \"sim:<n>\".",
          false};
}

void BindRecords(py::module_& m) {
  // Nested records first, so that signatures name them.
  BindSequence(BindRecord<AngularInfo>(m));
  BindSequence(BindRecord<CartesianInfo>(m));
  BindSequence(BindRecord<FingersPosition>(m));
  BindRecord<AngularPosition>(m);
  BindRecord<CartesianPosition>(m);
  BindRecord<AngularAcceleration>(m);
  BindRecord<UserPosition>(m);
  BindRecord<Limitation>(m);
  BindRecord<TrajectoryPoint>(m);
  BindRecord<JoystickCommand>(m);
  BindRecord<TrajectoryFIFO>(m);
  BindRecord<SingularityVector>(m);
  BindRecord<ClientConfigurations>(m);
  BindRecord<ControlMappingEntry>(m);
  BindRecord<ControlMapping>(m);
  BindRecord<ControlMappingCharts>(m);
  BindRecord<Zone>(m);
  BindRecord<ZoneList>(m);
  BindRecord<GeneralInformations>(m);
  BindRecord<Finger>(m);
  BindRecord<Gripper>(m);
  BindRecord<QuickStatus>(m);
  BindRecord<ForcesInfo>(m);
  BindRecord<SensorsInfo>(m);
  BindRecord<SystemError>(m);
  BindRecord<PeripheralInfo>(m);
  BindRecord<SpasmFilter>(m);
  BindRecord<ArmInfo>(m);
}

}  // namespace tarsel::python
