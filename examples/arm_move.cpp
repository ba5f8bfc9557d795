// The C++ interface: open the first arm, read it, move one joint, come home,
// and handle an error. Against the simulator: TARSEL_SIM=1 example_arm_move
#include <tarsel/arm.hpp>

#include <chrono>
#include <cstdio>
#include <thread>

int main() {
  try {
    tarsel::Arm arm;  // the first arm found; closed when arm goes out of scope
    std::printf("arm %s\n", arm.Info().path.c_str());

    const AngularPosition start = arm.GetAngularPosition();
    std::printf("joint 1 at %.1f deg\n", start.Actuators.Actuator1);

    arm.StartControlAPI();
    arm.SetAngularControl();
    TrajectoryPoint point;
    point.InitStruct();
    point.Position.Type = TARSEL_ANGULAR_POSITION;  // joint angles (degrees) in Actuators
    point.Position.Actuators = start.Actuators;
    point.Position.Actuators.Actuator1 += 15;
    point.Position.Fingers = start.Fingers;
    arm.SendBasicTrajectory(point);
    while (arm.GetGlobalTrajectoryInfo().PointCount != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("joint 1 now at %.1f deg\n", arm.GetAngularPosition().Actuators.Actuator1);

    arm.MoveHome(std::chrono::seconds(60));
    arm.StopControlAPI();
    std::printf("home\n");
    return 0;
  } catch (const tarsel::Error& e) {
    std::fprintf(stderr, "%s failed: %d (%s)\n", e.where().c_str(), e.code(), e.what());
    return 1;
  }
}
