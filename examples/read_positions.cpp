// Reads the arm's joint angles and hand pose once and prints them.
#include <tarsel/tarsel.h>

#include <cstdio>

int main() {
  int code = InitAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "InitAPI failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }

  AngularPosition joints;
  code = GetAngularPosition(joints);
  if (code == TARSEL_OK) {
    std::printf("joints (deg): %.2f %.2f %.2f %.2f %.2f %.2f\n", joints.Actuators.Actuator1,
                joints.Actuators.Actuator2, joints.Actuators.Actuator3, joints.Actuators.Actuator4,
                joints.Actuators.Actuator5, joints.Actuators.Actuator6);
    std::printf("fingers: %.1f %.1f %.1f\n", joints.Fingers.Finger1, joints.Fingers.Finger2,
                joints.Fingers.Finger3);
  }

  CartesianPosition pose;
  if (code == TARSEL_OK) code = GetCartesianPosition(pose);
  if (code == TARSEL_OK) {
    std::printf("hand at x=%.3f y=%.3f z=%.3f m, rotation %.3f %.3f %.3f rad\n", pose.Coordinates.X,
                pose.Coordinates.Y, pose.Coordinates.Z, pose.Coordinates.RotationX,
                pose.Coordinates.RotationY, pose.Coordinates.RotationZ);
  }

  CloseAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "read failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  return 0;
}
