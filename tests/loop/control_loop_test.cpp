// The control loop's cycle, set-points, watchdog and stop, over the real link
// library on the virtual bus with the simulated arm behind it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "loop_fixture.h"

namespace tarsel::testing {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A loop at 100 Hz for 10 s, joint 1 turning at 3 deg/s, while another thread
// runs other reads on the same arm: every state the loop hands out is the
// arm's own (joints 2-6 as the arm holds them, joint 1 between where it was
// at the cycle before and where it is after, velocities of this motion), and
// the figures agree with the timestamps the loop handed out.
TEST_F(LoopOnTheBus, StatesAreTheArmsOwnAmidOtherCommandsAndFiguresAgreeWithThem) {
  LoopOptions options;
  options.rate = 100;
  options.readouts = kReadVelocities | kReadQuickStatus;
  options.watchdog = 60s;
  ControlLoop& loop = Start(options);

  struct Seen {
    std::optional<LoopState> anchor;  // the cycle the figures were reset in
    std::vector<LoopState> states;    // every cycle after it
    std::vector<std::string> wrong;
    float joint1 = 0;  // as the arm held it at the cycle before
  } seen;
  seen.states.reserve(2000);
  loop.OnCycle([&](const LoopState& s) {
    const sim::ArmSnapshot arm = sim_.Snapshot();
    if (!seen.anchor) {
      loop.ResetStatistics();
      seen.anchor = s;
      seen.joint1 = arm.joints[0];
      return;
    }
    seen.states.push_back(s);
    const auto wrong = [&](const char* what, double value) {
      if (seen.wrong.size() < 5) {
        seen.wrong.push_back("cycle " + std::to_string(s.sequence) + ": " + what + " " +
                             std::to_string(value));
      }
    };
    if ((s.readouts & kReadJoints) != 0) {
      const float j[6] = {s.joints.Actuators.Actuator1, s.joints.Actuators.Actuator2,
                          s.joints.Actuators.Actuator3, s.joints.Actuators.Actuator4,
                          s.joints.Actuators.Actuator5, s.joints.Actuators.Actuator6};
      if (j[0] < seen.joint1 - 1e-3f || j[0] > arm.joints[0] + 1e-3f) wrong("joint 1", j[0]);
      for (int i = 1; i < 6; ++i) {
        if (std::fabs(j[i] - arm.joints[i]) > 1e-3f) wrong("joint", j[i]);
      }
    }
    if ((s.readouts & kReadVelocities) != 0) {
      // Turning at 3 deg/s, or at rest once a stall outlasted the arm's hold.
      const float v1 = s.velocities.Actuators.Actuator1;
      if (v1 != 0 && std::fabs(v1 - 3) > 1e-2f) wrong("velocity 1", v1);
      if (s.velocities.Actuators.Actuator4 != 0) wrong("velocity 4", s.velocities.Actuators.Actuator4);
    }
    seen.joint1 = arm.joints[0];
  });
  loop.SetJointVelocity(Joints(3));

  std::atomic<bool> done{false};
  int others = 0;
  std::thread other([&] {
    while (!done) {
      try {
        arm_->GetAngularForce();
        arm_->GetCartesianPosition();
        arm_->GetGeneralInformations();
        arm_->GetQuickStatus();
        ++others;
      } catch (const Error&) {
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  std::this_thread::sleep_for(10s);
  done = true;
  other.join();
  loop.Stop();

  EXPECT_GT(others, 0);
  EXPECT_EQ(seen.wrong, std::vector<std::string>{});
  const std::vector<LoopState>& states = seen.states;
  ASSERT_TRUE(seen.anchor.has_value());
  ASSERT_GT(states.size(), 10u);

  const LoopStatistics stats = loop.Statistics();
  const std::int64_t period = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::duration<double>(1.0 / options.rate))
                                  .count();
  std::vector<std::int64_t> periods;
  std::int64_t jitter = 0, sum = 0, exchangeMax = 0;
  // Each start lies within a period after its deadline, so a gap of p holds
  // between floor(p / T) - 1 and ceil(p / T) - 1 skipped starts.
  std::uint64_t missedLow = 0, missedHigh = 0;
  LoopState previous = *seen.anchor;
  for (const LoopState& s : states) {
    EXPECT_EQ(s.sequence, previous.sequence + 1);
    const std::int64_t p = (s.time - previous.time).count();
    missedLow += static_cast<std::uint64_t>(std::max<std::int64_t>(p / period - 1, 0));
    missedHigh += static_cast<std::uint64_t>((p + period - 1) / period - 1);
    if (&s != &states.front()) {
      periods.push_back(p);
      sum += p;
      jitter += std::abs(p - period);
    }
    exchangeMax = std::max<std::int64_t>(exchangeMax, s.exchange.count());
    previous = s;
  }
  std::sort(periods.begin(), periods.end());
  const auto rank = [&](double q) {
    return periods[static_cast<std::size_t>(std::ceil(q * static_cast<double>(periods.size()))) - 1];
  };
  const double n = static_cast<double>(periods.size());
  EXPECT_EQ(stats.cycles, states.size());
  EXPECT_NEAR(stats.rate, n / (static_cast<double>(sum) * 1e-9), 1e-9 * stats.rate);
  EXPECT_NEAR(stats.jitter, static_cast<double>(jitter) * 1e-9 / n, 1e-12);
  EXPECT_NEAR(stats.periodMax, static_cast<double>(periods.back()) * 1e-9, 1e-12);
  EXPECT_NEAR(stats.periodP50, static_cast<double>(rank(0.50)) * 1e-9, rank(0.50) * 1e-9 / 100);
  EXPECT_NEAR(stats.periodP99, static_cast<double>(rank(0.99)) * 1e-9, rank(0.99) * 1e-9 / 100);
  EXPECT_NEAR(stats.exchangeMax, static_cast<double>(exchangeMax) * 1e-9, 1e-12);
  EXPECT_GE(stats.missed, missedLow);
  EXPECT_LE(stats.missed, missedHigh);
  std::printf("100 Hz for 10 s beside %d rounds of other reads: %llu cycles, %llu missed, "
              "rate %.2f/s, jitter %.3f ms, period p50 %.3f p99 %.3f max %.3f ms, "
              "exchanges p50 %.3f p99 %.3f max %.3f ms\n",
              others, static_cast<unsigned long long>(stats.cycles),
              static_cast<unsigned long long>(stats.missed), stats.rate, stats.jitter * 1e3,
              stats.periodP50 * 1e3, stats.periodP99 * 1e3, stats.periodMax * 1e3,
              stats.exchangeP50 * 1e3, stats.exchangeP99 * 1e3, stats.exchangeMax * 1e3);
}

// A velocity set-point not renewed: zero velocity goes out at the first cycle
// past the deadline (three periods), the arm is at rest from then on, and the
// event comes once per lapse.
TEST_F(LoopOnTheBus, WatchdogStopsAVelocityNotRenewedOncePerLapse) {
  LoopOptions options;
  options.rate = 100;
  ControlLoop& loop = Start(options);
  const auto deadline = 3 * std::chrono::duration<double>(1.0 / options.rate);
  Cycles(1);

  const Clock::time_point before = Clock::now();
  loop.SetJointVelocity(Joints(5));
  const Clock::time_point after = Clock::now();
  const std::optional<LoopEvent> lapse = recorder_.WaitEvent(LoopEventKind::kWatchdog);
  ASSERT_TRUE(lapse.has_value());
  const sim::ArmSnapshot stopped = sim_.Snapshot();
  EXPECT_FALSE(stopped.moving);
  const std::optional<LoopState> at = recorder_.StateOf(lapse->sequence);
  const std::optional<LoopState> prior = recorder_.StateOf(lapse->sequence - 1);
  ASSERT_TRUE(at && prior);
  EXPECT_GT(at->time - before, deadline);
  EXPECT_LE(prior->time - after, deadline);

  // Beyond the arm's own hold time (0.1 s) it stays where it stopped.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(sim_.Snapshot().joints, stopped.joints);
  EXPECT_EQ(recorder_.Count(LoopEventKind::kWatchdog), 1);

  loop.SetJointVelocity(Joints(5));
  ASSERT_TRUE(recorder_.WaitEvent(LoopEventKind::kWatchdog, 2).has_value());
  EXPECT_GT(sim_.Snapshot().joints[0], stopped.joints[0]);
  EXPECT_EQ(loop.Statistics().watchdog, 2u);
}

// A set-point that is not finite or beyond the limits is refused, naming the
// value, and the one before it stays in force.
TEST_F(LoopOnTheBus, SetPointsOutOfRangeAreRefusedNamingTheValue) {
  LoopOptions options;
  options.readouts = kReadVelocities;
  options.watchdog = 60s;
  ControlLoop& loop = Start(options);
  loop.SetJointVelocity(Joints(1));
  struct Case {
    std::function<void(ControlLoop&)> set;
    const char* message;
  };
  const Case cases[] = {
      {[](ControlLoop& l) { l.SetJointVelocity(Joints(0, kNaN)); }, "joint 2 velocity is NaN"},
      {[](ControlLoop& l) { l.SetJointVelocity(Joints(0, 0, -30)); },
       "joint 3 velocity -30 deg/s is beyond the limit of 25 deg/s"},
      {[](ControlLoop& l) { l.SetCartesianVelocity(CartesianInfo{0.1f, 0.1f, 0.1f, 0, 0, 0}); },
       "linear speed 0.173205 m/s"},
      {[](ControlLoop& l) { l.SetCartesianVelocity(CartesianInfo{0, 0, 0, 0, 0, kInf}); },
       "RotationZ velocity is infinite"},
      {[](ControlLoop& l) { l.SetCartesianVelocity(CartesianInfo{0, 0, 0, 0.7f, 0, 0}); },
       "angular speed 0.7 rad/s"},
      {[](ControlLoop& l) { l.SetJointPosition(Joints(kInf)); }, "joint 1 angle is infinite"},
      {[](ControlLoop& l) { l.SetCartesianPosition(CartesianInfo{0, 0, 0, 0, kNaN, 0}); },
       "RotationY coordinate is NaN"},
  };
  for (const Case& c : cases) {
    try {
      c.set(loop);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_ARGUMENT);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  Cycles(3);
  const LoopState s = loop.Latest();
  EXPECT_NEAR(s.velocities.Actuators.Actuator1, 1, 1e-3);
  EXPECT_EQ(recorder_.Events().size(), 0u);
}

TEST_F(LoopOnTheBus, OptionsOutOfRangeAreRefusedNamingThem) {
  struct Case {
    std::function<void(LoopOptions&)> change;
    const char* message;
  };
  const Case cases[] = {
      {[](LoopOptions& o) { o.rate = 0; }, "rate 0"},
      {[](LoopOptions& o) { o.rate = 1000.5; }, "rate 1000.5"},
      {[](LoopOptions& o) { o.rate = std::nan(""); }, "rate nan"},
      {[](LoopOptions& o) { o.watchdog = -1ms; }, "watchdog -1000000 ns"},
      {[](LoopOptions& o) { o.readouts = 1u << 7; }, "readouts 128"},
      {[](LoopOptions& o) { o.maxJointSpeed = 0; }, "maxJointSpeed 0"},
      {[](LoopOptions& o) { o.maxLinearSpeed = kInf; }, "maxLinearSpeed inf"},
  };
  for (const Case& c : cases) {
    LoopOptions options;
    c.change(options);
    try {
      ControlLoop loop(*arm_, options);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_ARGUMENT);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  arm_->Close();
  try {
    ControlLoop loop(*arm_);
    ADD_FAILURE() << "started on a closed arm";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), TARSEL_ERROR_NOT_INITIALIZED);
  }
}

// Stop() leaves the arm at rest whatever the loop had it do: a velocity is
// zeroed (the arm would otherwise go on for its hold time) and a queued move
// erased. A loop that was never given a set-point only read: a move queued
// by someone else goes on.
TEST_F(LoopOnTheBus, StopBringsTheArmToRestOnlyWhenTheLoopCommandedIt) {
  struct Case {
    const char* name;
    std::function<void(ControlLoop&, Arm&)> set;
    bool rests;
  };
  const Case cases[] = {
      {"velocity", [](ControlLoop& l, Arm&) { l.SetJointVelocity(Joints(10)); }, true},
      {"position",
       [](ControlLoop& l, Arm&) { l.SetJointPosition(Joints(90, 0, 140, 0, 40, 0)); }, true},
      {"another's move",
       [](ControlLoop&, Arm& a) {
         TrajectoryPoint point;
         point.InitStruct();
         point.Position.Type = TARSEL_ANGULAR_POSITION;
         point.Position.Actuators = Joints(90, 0, 140, 0, 40, 0);
         a.SendBasicTrajectory(point);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopOptions options;
    options.watchdog = 60s;
    ControlLoop& loop = Start(options);
    c.set(loop, *arm_);
    for (int i = 0; i < 100 && !sim_.Snapshot().moving; ++i) Cycles(1);
    ASSERT_TRUE(sim_.Snapshot().moving);
    loop.Stop();
    EXPECT_FALSE(loop.Running());
    const sim::ArmSnapshot after = sim_.Snapshot();
    EXPECT_EQ(after.moving, !c.rests);
    EXPECT_EQ(after.queueSize == 0, c.rests);
    EXPECT_THROW(loop.WaitNext(loop.Latest().sequence), Error);
    if (!c.rests) arm_->EraseAllTrajectories();
  }
}

}  // namespace
}  // namespace tarsel::testing
