// What the live view shows of an arm, and its JSON form. Filled by
// tarsel-sim from the simulated arms' snapshots and by `tarsel view` from the
// public API's read-outs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarsel::view {

struct ErrorView {
  std::uint32_t code = 0;
  int device = 0;    // 0: the controller, 1-6: actuators, 7-9: fingers
  int severity = 0;  // 0: information, 1: warning, 2: error
  int occurrences = 0;
  std::uint32_t timeSeconds = 0;
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
  int controlType = 0;              // 0 Cartesian, 1 angular
  bool apiControl = false;
  std::vector<ErrorView> errors;
};

// The state the page receives:
//   {"time": seconds, "arms": [{"path", "label", "fingerCount", "online",
//    "problem", "joints", "fingers", "pose", "queue", "control"
//    ("cartesian" or "angular"), "apiControl", "errors": [{"code",
//    "device", "severity", "occurrences", "time"}], "frames"}]}
// frames are the kinematic model's frames 0 (base) to 6 (hand tip) for the
// joints, each as 12 numbers: the rotation's rows, then the origin (m).
std::string StateJson(double time, const std::vector<ArmView>& arms);

}  // namespace tarsel::view
