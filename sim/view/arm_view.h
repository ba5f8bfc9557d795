// What the live view shows of an arm, and its JSON form. Filled by
// tarsel-sim from the simulated arms' snapshots and by `tarsel view` from the
// public API's read-outs.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "status/error_entry.h"
#include "tarsel/config.h"

namespace tarsel::view {

using status::ErrorView;

// Where the arm is heading: the trajectory point it is executing.
struct TargetView {
  bool angular = true;  // values are joints (deg); else X, Y, Z (m), rotations (rad)
  std::array<double, 6> values{};
};

// A protection zone as the page draws it: the box, in the arm's base frame
// (m), that its eight points span.
struct ZoneView {
  int index = 0;  // 0 to 9, its place in the arm's list
  std::array<double, 3> low{};
  std::array<double, 3> high{};
};

struct ArmView {
  std::string path;   // "sim:1", "usb:1-2"
  std::string label;  // serial number or product, shown beside the path
  int fingerCount = 3;
  // false when the last reading failed; problem says why, and the values
  // are the last ones read.
  bool online = true;
  std::string problem;
  std::array<double, 6> joints{};   // degrees
  std::array<double, 3> fingers{};  // 0 (open) .. 6800 (closed)
  std::array<double, 6> pose{};     // X, Y, Z (m), RotationX, Y, Z (rad)
  int queue = 0;                    // trajectory points not yet reached
  std::optional<TargetView> target;  // none while no point is executing
  int controlType = 0;              // 0 Cartesian, 1 angular
  bool apiControl = false;
  std::vector<ErrorView> errors;
  std::vector<ZoneView> zones;
};

// The zones of list that the page draws: each zone whose eight points are
// finite and not all one point, as the box from their smallest to their
// largest X, Y and Z. A zone of zeros (an unused one) is left out, and so
// is one with a non-finite value (an arm's answer is untrusted). ListValue1
// and the zones' other values are not consulted.
std::vector<ZoneView> ZonesOf(const ZoneList& list);

// Reads a zone list from the 4408 bytes the arm stores and sends it as
// (command 39's answer, little-endian); false, with out untouched, when
// bytes is not that long.
bool ZoneListFromBytes(const std::vector<unsigned char>& bytes, ZoneList& out);

// One sample of the joints plot: the state's time (s) and the joints (deg).
struct JointSample {
  double time = 0;
  std::array<double, 6> joints{};
};
// The samples kept of each arm, oldest first, by path.
using JointHistory = std::map<std::string, std::deque<JointSample>>;

// The state the page receives:
//   {"time": seconds, "arms": [{"path", "label", "fingerCount", "online",
//    "problem", "joints", "fingers", "pose", "queue", "target", "control"
//    ("cartesian" or "angular"), "apiControl", "errors", "zones",
//    "frames"}]}
// - target: null, or {"kind": "angular" or "cartesian", "values",
//   "position": [X, Y, Z] (m) of the hand tip there, the kinematic model's
//   for joints}.
// - errors: [{"code", "codeText" ("0x0102"), "device", "deviceName",
//   "severity", "severityName", "occurrences", "time"}] (the names of
//   status/error_entry.h).
// - zones: [{"index", "low": [X, Y, Z], "high": [X, Y, Z]}] (m).
// - frames: the kinematic model's frames 0 (base) to 6 (hand tip) for the
//   joints, each as 12 numbers: the rotation's rows, then the origin (m).
// Non-finite numbers are null; texts are UTF-8 (invalid bytes replaced).
std::string StateJson(double time, const std::vector<ArmView>& arms);

// The plot's past as the page receives it when it connects:
//   {"time": seconds, "historySeconds": the plot's window,
//    "arms": {path: [[time, joint 1, ..., joint 6], ...], ...}}
// each arm's samples oldest first, the times (on the state's clock)
// rounded to milliseconds and the joints to hundredths of a degree.
std::string HistoryJson(double time, double historySeconds, const JointHistory& history);

}  // namespace tarsel::view
