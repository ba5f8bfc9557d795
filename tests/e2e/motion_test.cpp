// Motion through the whole stack: the simulated arm really moves, its queue
// really drains, and the composite commands wait for it.
#include <cmath>
#include <cstring>

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

// A point with a value of its own in every field.
TrajectoryPoint EveryFieldSet(int type) {
  TrajectoryPoint p{};
  p.Position = {type,
                0.25f,
                {0.31f, -0.12f, 0.45f, 1.5f, -0.5f, 0.75f},
                {11, 22, 133, 44, 55, 66},
                3,
                {1000, 2000, 3000}};
  p.LimitationFlag = 1;
  p.Limits = {21, 22, 23, 24, 25, 26, 27, 28, 29};
  return p;
}

bool Same(const void* a, const void* b, std::size_t size) {
  return std::memcmp(a, b, size) == 0;
}

// A queued point is read back as the arm took it: the host writes it through
// its form, the arm reads it through the same form and answers through the
// actual-trajectory form. The basic form carries the block its Type names,
// the fingers, Parameter, FingersMode and Type, nothing else.
TEST_F(Motion, QueuedPointsReadBackAsSent) {
  const struct {
    int type;
    bool full;
  } cases[] = {{TARSEL_CARTESIAN_POSITION, true},
               {TARSEL_ANGULAR_POSITION, true},
               {TARSEL_CARTESIAN_POSITION, false},
               {TARSEL_ANGULAR_POSITION, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "Type " << c.type << (c.full ? " full" : " basic"));
    ASSERT_EQ(EraseAllTrajectories(), TARSEL_OK);
    const TrajectoryPoint sent = EveryFieldSet(c.type);
    TrajectoryPoint expected = sent;
    if (!c.full) {
      expected.LimitationFlag = 0;
      expected.Limits = {};
      if (c.type == TARSEL_CARTESIAN_POSITION) expected.Position.Actuators = {};
      if (c.type == TARSEL_ANGULAR_POSITION) expected.Position.Coordinates = {};
    }
    ASSERT_EQ(c.full ? SendAdvanceTrajectory(sent) : SendBasicTrajectory(sent), TARSEL_OK);
    TrajectoryPoint got;
    ASSERT_EQ(GetActualTrajectoryInfo(got), TARSEL_OK);
    const UserPosition& g = got.Position;
    const UserPosition& e = expected.Position;
    EXPECT_EQ(g.Type, e.Type);
    EXPECT_EQ(g.Parameter, e.Parameter);
    EXPECT_TRUE(Same(&g.Coordinates, &e.Coordinates, sizeof e.Coordinates));
    EXPECT_TRUE(Same(&g.Actuators, &e.Actuators, sizeof e.Actuators));
    EXPECT_EQ(g.FingersMode, e.FingersMode);
    EXPECT_TRUE(Same(&g.Fingers, &e.Fingers, sizeof e.Fingers));
    EXPECT_EQ(got.LimitationFlag, expected.LimitationFlag);
    EXPECT_TRUE(Same(&got.Limits, &expected.Limits, sizeof expected.Limits));
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
