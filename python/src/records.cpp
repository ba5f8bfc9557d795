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

void BindRecords(py::module_& m) {
  // Nested records first, so that signatures name them.
  BindSequence(BindRecord<AngularInfo>(
      m,
      "One value per actuator of the six-axis arm, actuator 1 first: joint angles in degrees, "
      "joint velocities in degrees per second, torques in newton metres or currents in amperes, as "
      "the read-out or point says. A sequence of its six values: list(info), info[-1], info[0] = "
      "10.0."));
  BindSequence(BindRecord<CartesianInfo>(
      m,
      "Three translational components (x, y, z), then three rotational ones. A pose is in metres "
      "and radians (the simulated arm composes the rotation as Rz(rotation_z) Ry(rotation_y) "
      "Rx(rotation_x)), a velocity in metres and radians per second. A sequence of its six values: "
      "list(info), info[-1], info[0] = 0.2."));
  BindSequence(BindRecord<FingersPosition>(
      m,
      "One value per finger of the hand: a position from 0 (open) to 6800 (closed), as the "
      "simulated arm models it, or a velocity in the same units per second. A sequence of its "
      "three values: list(fingers), fingers[-1], fingers[0] = 3400.0."));
  BindRecord<AngularPosition>(
      m, "Joint values and finger values: positions, commands, torques, currents or velocities.");
  BindRecord<CartesianPosition>(m, "The hand's pose (or a Cartesian force) and the finger values.");
  BindRecord<AngularAcceleration>(m,
                                  "The eighteen values of the actuator-acceleration read-out, in "
                                  "the order the arm sends them.");
  BindRecord<UserPosition>(
      m,
      "One point as the arm stores, executes and reports it. type is CARTESIAN_POSITION (1), "
      "ANGULAR_POSITION (2), CARTESIAN_VELOCITY (7) or ANGULAR_VELOCITY (8): the Cartesian kinds "
      "use coordinates, the angular kinds actuators; fingers are positions, or velocities in a "
      "velocity point.");
  BindRecord<Limitation>(m, "Nine limit values sent with a full trajectory point.");
  BindRecord<TrajectoryPoint>(m,
                              "One trajectory point with its limits. Call init_struct() for the "
                              "defaults (a CARTESIAN_POSITION point, fingers mode 1).");
  BindRecord<JoystickCommand>(m, "One joystick sample: sixteen buttons and six axes.");
  BindRecord<TrajectoryFIFO>(m,
                             "State of the arm's trajectory queue: the points queued (0 when it is "
                             "empty), its progress and its free places.");
  BindRecord<SingularityVector>(m, "The singularity indicators, measures and vector.");
  BindRecord<ClientConfigurations>(
      m,
      "The arm's block of client settings: five 20-byte texts, numeric settings and up to 20 "
      "stored positions (only as many as the count says travel).",
      kStoredBlock);
  BindRecord<ControlMappingEntry>(m, "One entry of a control-mapping chart.");
  BindRecord<ControlMapping>(m, "One control-mapping chart.");
  BindRecord<ControlMappingCharts>(
      m,
      "The arm's six control-mapping charts. Some values are sent but never reported back (their "
      "docstrings say which): a read leaves them as they were.",
      kStoredBlock);
  BindRecord<Zone>(m, "One protection zone: eight points and nine parameters.");
  BindRecord<ZoneList>(m, "The arm's ten protection zones (all ten always travel).", kStoredBlock);
  BindRecord<GeneralInformations>(m,
                                  "The arm's large status block: scalar values, four stored "
                                  "positions, and per-actuator and per-finger arrays.");
  BindRecord<Finger>(m, "One finger's status block.");
  BindRecord<Gripper>(m, "The gripper's status: a text and one block per finger, finger 1 first.");
  BindRecord<QuickStatus>(m,
                          "Fourteen status bytes: the finger flags (nonzero once a finger is "
                          "initialised) and the hand type (HAND_THREE_FINGERS, 0, for three "
                          "fingers; anything else, such as HAND_TWO_FINGERS, 2, for two).");
  BindRecord<ForcesInfo>(m, "Twelve force values, copied bit for bit.");
  BindRecord<SensorsInfo>(m, "Fourteen sensor values.");
  BindRecord<SystemError>(m, "One entry of the arm's error log.");
  BindRecord<PeripheralInfo>(m, "One entry of the peripheral inventory.");
  BindRecord<SpasmFilter>(m, "The spasm filter: its four values and its setting.");
  BindRecord<ArmInfo>(m,
                      "One arm the library can reach (from list_arms()). path is its stable "
                      "identity: \"usb:<bus>-<ports>\" or \"sim:<n>\".");
}

}  // namespace tarsel::python
