// What a real-time thread may call: the loop's latest state and its
// set-points allocate nothing (allocation_count.cpp counts every operator new
// of the thread that calls them).
#include "loop_fixture.h"

namespace tarsel::testing {

long AllocationsOnThisThread();

namespace {

TEST_F(LoopOnTheBus, LatestAndSetPointsAllocateNothing) {
  ControlLoop& loop = Start();
  Cycles(1);
  const CartesianInfo still{0.2f, 0, 0.3f, 0, 0, 0};
  const long before = AllocationsOnThisThread();
  for (int i = 0; i < 100; ++i) {
    loop.SetJointVelocity(Joints(1, 2, 3, 4, 5, 6));
    loop.SetCartesianVelocity(CartesianInfo{0.01f, 0, 0, 0, 0, 0.1f});
    loop.SetJointPosition(Joints(0, 0, 140, 0, 40, 0));
    loop.SetCartesianPosition(still);
    loop.Hold();
    EXPECT_GT(loop.Latest().sequence, 0u);
    EXPECT_TRUE(loop.Running());
  }
  EXPECT_EQ(AllocationsOnThisThread() - before, 0);
}

}  // namespace
}  // namespace tarsel::testing
