// Queues three joint-space points and follows the arm's queue until it has
// worked through them.
#include <tarsel/tarsel.h>

#include <unistd.h>
#include <cstdio>

static int Fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %d (%s)\n", what, code, GetResultMessage(code));
  CloseAPI();
  return 1;
}

int main() {
  int code = InitAPI();
  if (code != TARSEL_OK) return Fail("InitAPI", code);
  if ((code = StartControlAPI()) != TARSEL_OK) return Fail("StartControlAPI", code);
  if ((code = SetAngularControl()) != TARSEL_OK) return Fail("SetAngularControl", code);

  const float targets[3][6] = {
      {180, 200, 40, 240, 80, 90}, {200, 180, 60, 220, 90, 100}, {180, 180, 30, 240, 80, 90}};
  for (const auto& target : targets) {
    TrajectoryPoint point;
    point.InitStruct();
    point.Position.Type = TARSEL_ANGULAR_POSITION;  // joint angles (degrees) in Actuators
    point.Position.Actuators.Actuator1 = target[0];
    point.Position.Actuators.Actuator2 = target[1];
    point.Position.Actuators.Actuator3 = target[2];
    point.Position.Actuators.Actuator4 = target[3];
    point.Position.Actuators.Actuator5 = target[4];
    point.Position.Actuators.Actuator6 = target[5];
    if ((code = SendBasicTrajectory(point)) != TARSEL_OK) return Fail("SendBasicTrajectory", code);
  }

  TrajectoryFIFO fifo;
  int last = -1;
  for (int polls = 0; polls < 6000; ++polls) {
    if ((code = GetGlobalTrajectoryInfo(fifo)) != TARSEL_OK) return Fail("queue query", code);
    if (fifo.PointCount != last) {
      std::printf("points queued: %d\n", fifo.PointCount);
      last = fifo.PointCount;
    }
    if (fifo.PointCount == 0) break;
    usleep(10000);
  }

  AngularPosition joints;
  if ((code = GetAngularPosition(joints)) != TARSEL_OK) return Fail("GetAngularPosition", code);
  std::printf("arrived at joints %.1f %.1f %.1f %.1f %.1f %.1f\n", joints.Actuators.Actuator1,
              joints.Actuators.Actuator2, joints.Actuators.Actuator3, joints.Actuators.Actuator4,
              joints.Actuators.Actuator5, joints.Actuators.Actuator6);
  StopControlAPI();
  CloseAPI();
  return fifo.PointCount == 0 ? 0 : 1;
}
