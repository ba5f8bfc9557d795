// Two arms in one program: one thread moves the first arm while another
// reads both. Against the simulator: TARSEL_SIM=2 example_two_arms
#include <tarsel/arm.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main() {
  try {
    const std::vector<tarsel::ArmInfo> found = tarsel::ListArms();
    if (found.size() < 2) {
      std::fprintf(stderr, "two arms needed, %zu found\n", found.size());
      return 1;
    }
    tarsel::Arm mover(found[0]);
    tarsel::Arm watched(found[1]);
    std::printf("moving %s, watching %s\n", found[0].path.c_str(), found[1].path.c_str());

    std::atomic<bool> done{false};
    std::thread monitor([&] {
      while (!done) {
        const float a = mover.GetAngularPosition().Actuators.Actuator1;
        const float b = watched.GetAngularPosition().Actuators.Actuator1;
        std::printf("joint 1: %7.2f  %7.2f\n", a, b);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });

    const AngularPosition start = mover.GetAngularPosition();
    mover.StartControlAPI();
    mover.SetAngularControl();
    TrajectoryPoint point;
    point.InitStruct();
    point.Position.Type = TARSEL_ANGULAR_POSITION;
    point.Position.Actuators = start.Actuators;
    point.Position.Actuators.Actuator1 += 30;
    point.Position.Fingers = start.Fingers;
    mover.SendBasicTrajectory(point);
    while (mover.GetGlobalTrajectoryInfo().PointCount != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    done = true;
    monitor.join();
    mover.StopControlAPI();
    return 0;
  } catch (const tarsel::Error& e) {
    std::fprintf(stderr, "%s failed: %d (%s)\n", e.where().c_str(), e.code(), e.what());
    return 1;
  }
}
