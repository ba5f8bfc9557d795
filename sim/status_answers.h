// Answers of the status read-outs: quick status, gripper, general
// information, error log entries, peripheral inventory and code versions.
#pragma once

#include "arm_state.h"
#include "core/payload.h"

namespace tarsel::sim {

void QuickStatusAnswer(tarsel::PayloadWriter& w, const ArmState& s);
void GripperAnswer(tarsel::PayloadWriter& w, const ArmState& s);
void GeneralInformationAnswer(tarsel::PayloadWriter& w, ArmState& s);
void ErrorEntryAnswer(tarsel::PayloadWriter& w, const ErrorEntry& e);
void InventoryAnswer(tarsel::PayloadWriter& w, const ArmState& s);
void CodeVersionsAnswer(tarsel::PayloadWriter& w, const ArmState& s);

}  // namespace tarsel::sim
