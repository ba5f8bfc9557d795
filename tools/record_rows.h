// What `tarsel record` writes: a row per cycle of the control loop, as CSV
// under a header line or as JSON Lines (one object a line).
#pragma once

#include <string>

#include "tarsel/control_loop.hpp"

namespace tarsel::tool::record {

// The read-outs a recording can add to the joint angles, by the names
// --readouts takes, in the order their columns come.
struct ReadoutName {
  const char* name;
  unsigned bit;  // a LoopReadout
};
inline constexpr ReadoutName kReadoutNames[] = {{"velocities", kReadVelocities},
                                                {"forces", kReadForces},
                                                {"cartesian", kReadCartesian},
                                                {"status", kReadQuickStatus}};

// Reads a list of those names separated by commas ("velocities,status"; ""
// is none) into bits. Returns "" when every name is known, else the message
// that names the first unknown one and the closest name.
std::string ParseReadouts(const std::string& list, unsigned& bits);

enum class Format { kCsv, kJsonLines };

// The CSV header line (no newline): sequence, time, ok, A1-A6, F1-F3, then
// by read-out in kReadoutNames order V1-V6, VF1-VF3 (joint and finger
// velocities); T1-T6, TF1-TF3 (torques); X, Y, Z, RX, RY, RZ (the hand's
// pose); the quick status's fields under their names.
std::string CsvHeader(unsigned readouts);

// One cycle as a CSV line or a JSON object on one line (no newline). time is
// in seconds since the recording's first cycle. ok is the cycle's: 1 when
// every exchange succeeded. The joints, or a chosen read-out, that the
// cycle lacks (the read failed) leave their cells empty, their JSON value
// null. Numbers are the
// shortest text that reads back to the same float; a non-finite one is
// "nan", "inf" ... as the tool shows them everywhere (a string in JSON).
std::string CsvRow(const LoopState& s, double time, unsigned readouts);
std::string JsonRow(const LoopState& s, double time, unsigned readouts);

}  // namespace tarsel::tool::record
