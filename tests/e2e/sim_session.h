// Fixture for end-to-end tests: the API bound to the simulated arm's drop-in
// link library, with the arm's clock driven by the test. The library's waits
// (usleep) advance that clock instead of sleeping, so a home move or a finger
// initialisation runs its real loop in simulated time, instantly.
#pragma once

#include <gtest/gtest.h>

#include "sim_control.h"
#include "tarsel/tarsel.h"

namespace tarsel::e2e {

// The simulated time every usleep of the library moves forward.
sim::ManualClock& Clock();

class SimSession : public ::testing::Test {
 protected:
  void SetUp() override {
    arm().SetClock(Clock().Source());
    arm().PowerCycle();
    arm().ClearFaults();
    arm().UnplugAfter(-1);
    arm().SetHandType(sim::HandType::kThreeFingers);
    ASSERT_EQ(InitAPI(), TARSEL_OK);
  }
  void TearDown() override { CloseAPI(); }

  static sim::SimulatedArm& arm() { return sim::Instance(); }
  // Lets simulated time pass, as an application waiting would.
  static void Wait(double seconds) { Clock().Advance(seconds); }
};

}  // namespace tarsel::e2e
