// Values the arm's state and its public face (simulated_arm.h) share: the
// hand, the control types, and the bytes of a payload. The error log holds the
// public SystemError records.
#pragma once

#include <vector>

#include "tarsel/status.h"

namespace tarsel::sim {

using Bytes = std::vector<unsigned char>;

enum class HandType {
  kThreeFingers,  // quick-status hand type 0
  kTwoFingers,    // quick-status hand type 2
};

// Control types reported by command 10.
enum ControlType : int {
  kCartesianControl = 0,
  kAngularControl = 1,
};

}  // namespace tarsel::sim
