// Values the arm's state and its public face (simulated_arm.h) share: the
// hand, the control types and an error-log entry.
#pragma once

#include <array>
#include <cstdint>

namespace tarsel::sim {

enum class HandType {
  kThreeFingers,  // quick-status hand type 0
  kTwoFingers,    // quick-status hand type 2
};

// Control types reported by command 10.
enum ControlType : int {
  kCartesianControl = 0,
  kAngularControl = 1,
};

// One entry of the arm's error log, in the field order of its answer.
struct ErrorEntry {
  std::uint32_t code = 0;
  std::int32_t device = 0;    // 0: the controller, 1-6: actuators, 7-9: fingers
  std::int32_t severity = 0;  // 0: information, 1: warning, 2: error
  std::int32_t occurrences = 0;
  std::uint32_t timeSeconds = 0;  // arm time when it was logged
  std::array<bool, 7> flags{};
  std::int32_t value1 = 0;
  std::int32_t value2 = 0;
  std::array<std::uint32_t, 50> data{};
};

}  // namespace tarsel::sim
