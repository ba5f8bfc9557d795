// Compiled on its own with -std=c++11 and later: every public header must be
// usable by applications on older toolchains.
#include "tarsel/comm_layer.h"
#include "tarsel/tarsel.h"

// The named constants keep the numbers applications have always written.
static_assert(TARSEL_CARTESIAN_POSITION == 1, "point type");
static_assert(TARSEL_ANGULAR_POSITION == 2, "point type");
static_assert(TARSEL_CARTESIAN_VELOCITY == 7, "point type");
static_assert(TARSEL_ANGULAR_VELOCITY == 8, "point type");
static_assert(TARSEL_CARTESIAN_CONTROL == 0, "control type");
static_assert(TARSEL_ANGULAR_CONTROL == 1, "control type");
static_assert(TARSEL_HAND_THREE_FINGERS == 0, "hand type");
static_assert(TARSEL_HAND_TWO_FINGERS == 2, "hand type");

// ...and stand wherever those numbers did, warning-free.
static bool NamedConstantsStandForNumbers() {
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = TARSEL_ANGULAR_POSITION;
  int type = TARSEL_CARTESIAN_CONTROL;
  GetControlType(type);
  QuickStatus status = QuickStatus();
  switch (type) {
    case TARSEL_CARTESIAN_CONTROL:
    case TARSEL_ANGULAR_CONTROL:
      break;
    default:
      return false;
  }
  return status.HandType != TARSEL_HAND_THREE_FINGERS &&
         point.Position.Type == TARSEL_ANGULAR_POSITION;
}

int main() {
  return GetResultMessage(TARSEL_OK) != nullptr && NamedConstantsStandForNumbers() ? 0 : 1;
}
