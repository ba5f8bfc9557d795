// Motion through the whole stack: the simulated arm really moves, its queue
// really drains, and the composite commands wait for it.
#include <cmath>

#include "sim_session.h"

namespace {

using tarsel::e2e::SimSession;

class Motion : public SimSession {};

TrajectoryPoint JointPoint(const std::array<float, 6>& joints) {
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = 2;
  point.Position.Actuators = {joints[0], joints[1], joints[2], joints[3], joints[4], joints[5]};
  return point;
}

TEST_F(Motion, TrajectoryQueueDrainsAsTheArmMoves) {
  ASSERT_EQ(StartControlAPI(), TARSEL_OK);
  ASSERT_EQ(SetAngularControl(), TARSEL_OK);
  ASSERT_EQ(SendBasicTrajectory(JointPoint({10, 30, 120, 10, 50, 10})), TARSEL_OK);
  ASSERT_EQ(SendBasicTrajectory(JointPoint({-10, 40, 110, -10, 60, -10})), TARSEL_OK);

  TrajectoryFIFO fifo;
  ASSERT_EQ(GetGlobalTrajectoryInfo(fifo), TARSEL_OK);
  EXPECT_EQ(fifo.PointCount, 2);
  int last = fifo.PointCount;
  for (int step = 0; step < 2000 && fifo.PointCount > 0; ++step) {
    Wait(0.05);
    ASSERT_EQ(GetGlobalTrajectoryInfo(fifo), TARSEL_OK);
    EXPECT_LE(fifo.PointCount, last);  // counts down, never up
    last = fifo.PointCount;
  }
  EXPECT_EQ(fifo.PointCount, 0);

  AngularPosition joints;
  ASSERT_EQ(GetAngularPosition(joints), TARSEL_OK);
  EXPECT_NEAR(joints.Actuators.Actuator1, -10.0f, 0.01f);
  EXPECT_NEAR(joints.Actuators.Actuator3, 110.0f, 0.01f);

  // The Cartesian read-out follows from the joints.
  CartesianPosition pose;
  ASSERT_EQ(GetCartesianPosition(pose), TARSEL_OK);
  EXPECT_FLOAT_EQ(pose.Coordinates.X, arm().Snapshot().pose.x);
  EXPECT_FLOAT_EQ(pose.Coordinates.Z, arm().Snapshot().pose.z);
}

TEST_F(Motion, MoveHomeReturnsOnlyWhenTheQueueHasDrained) {
  ASSERT_EQ(StartControlAPI(), TARSEL_OK);
  ASSERT_EQ(SendBasicTrajectory(JointPoint({90, 90, 90, 90, 90, 90})), TARSEL_OK);
  const double before = tarsel::e2e::Clock().Now();
  ASSERT_EQ(MoveHome(), TARSEL_OK);
  EXPECT_GT(tarsel::e2e::Clock().Now() - before, 0.5);  // it really waited
  EXPECT_EQ(arm().Snapshot().queueSize, 0);
  int type = -1;
  ASSERT_EQ(GetControlType(type), TARSEL_OK);
  EXPECT_EQ(type, tarsel::sim::kCartesianControl);  // its last switch
  const auto joints = arm().Snapshot().joints;
  const auto targets = arm().Snapshot().jointTargets;
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(joints[i], targets[i], 0.01f);
}

TEST_F(Motion, FingerInitialisationSucceedsOnBothHands) {
  for (auto hand : {tarsel::sim::HandType::kThreeFingers, tarsel::sim::HandType::kTwoFingers}) {
    arm().PowerCycle();
    arm().SetHandType(hand);
    ASSERT_FALSE(arm().Snapshot().fingersInitialized);
    ASSERT_EQ(InitFingers(), TARSEL_OK);
    QuickStatus status;
    ASSERT_EQ(GetQuickStatus(status), TARSEL_OK);
    EXPECT_TRUE(status.Finger1Initialized && status.Finger2Initialized);
    EXPECT_EQ(status.HandType != 0, hand == tarsel::sim::HandType::kTwoFingers);
    EXPECT_TRUE(arm().Snapshot().fingersInitialized);
    EXPECT_EQ(arm().Snapshot().queueSize, 0);  // the initialisation leaves the queue empty
  }
}

TEST_F(Motion, ControlAndForceFlagsAreKept) {
  ASSERT_EQ(StartForceControl(), TARSEL_OK);
  EXPECT_TRUE(arm().Snapshot().forceControl);
  ASSERT_EQ(StopForceControl(), TARSEL_OK);
  EXPECT_FALSE(arm().Snapshot().forceControl);
  ASSERT_EQ(StartCurrentLimitation(), TARSEL_OK);
  EXPECT_TRUE(arm().Snapshot().currentLimitation);
  ASSERT_EQ(SetAngularControl(), TARSEL_OK);
  int type = -1;
  ASSERT_EQ(GetControlType(type), TARSEL_OK);
  EXPECT_EQ(type, tarsel::sim::kAngularControl);
}

}  // namespace
