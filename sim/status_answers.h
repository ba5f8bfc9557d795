// Answers of the status read-outs: quick status, gripper, general
// information, peripheral inventory, code versions, forces and sensors (an
// error log entry is the stored record itself). Each appends its record, in
// the form the host reads, to the end of w's payload; none fails, and none
// keeps a reference to what it is given.
#pragma once

#include "arm_state.h"
#include "core/payload.h"

namespace tarsel::sim {

// The QuickStatus: finger flags, modes, queue and error counts, the hand type.
void QuickStatusAnswer(tarsel::PayloadWriter& w, const ArmState& s);
// The Gripper: the hand's text and a Finger block per finger ("absent" and
// zeros for a finger the hand lacks).
void GripperAnswer(tarsel::PayloadWriter& w, const ArmState& s);
// The GeneralInformations: power, limits, modes, counters, four stored
// positions (present, target, home, retracted), temperatures and currents.
void GeneralInformationAnswer(tarsel::PayloadWriter& w, ArmState& s);
// The fifteen PeripheralInfo entries: the controller, the six actuators, the
// hand's fingers, zeros for the rest.
void InventoryAnswer(tarsel::PayloadWriter& w, const ArmState& s);
// The code versions: controller, actuators, fingers (zero for a finger the
// hand lacks), hardware revision, boot loader, USB interface.
void CodeVersionsAnswer(tarsel::PayloadWriter& w, const ArmState& s);
// The ForcesInfo: no external force on the hand (six zeros), then the joint
// torques.
void ForcesAnswer(tarsel::PayloadWriter& w, const ArmState& s);
// The SensorsInfo: voltage, total current, gravity's direction, actuator and
// finger temperatures.
void SensorsAnswer(tarsel::PayloadWriter& w, const ArmState& s);

}  // namespace tarsel::sim
