// Takes control, sends the arm to its home position and waits until it is
// there (MoveHome blocks until the arm's trajectory queue is empty).
#include <tarsel/tarsel.h>

#include <cstdio>

int main() {
  int code = InitAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "InitAPI failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  code = StartControlAPI();
  if (code == TARSEL_OK) {
    std::puts("moving home...");
    code = MoveHome();
  }
  TrajectoryFIFO fifo;
  if (code == TARSEL_OK) code = GetGlobalTrajectoryInfo(fifo);
  AngularPosition joints;
  if (code == TARSEL_OK) code = GetAngularPosition(joints);
  if (code == TARSEL_OK) {
    std::printf("home reached, %d points queued, joints %.1f %.1f %.1f %.1f %.1f %.1f\n",
                fifo.PointCount, joints.Actuators.Actuator1, joints.Actuators.Actuator2,
                joints.Actuators.Actuator3, joints.Actuators.Actuator4, joints.Actuators.Actuator5,
                joints.Actuators.Actuator6);
  }
  StopControlAPI();
  CloseAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "home move failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  return 0;
}
