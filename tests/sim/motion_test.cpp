// Motion of the simulated arm: the trajectory queue, velocity commands,
// finger initialisation, control flags and the kinematic model.
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>

#include "arm_state.h"
#include "kinematics.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using tarsel::sim::ArmSnapshot;
using tarsel::sim::HandType;
namespace kin = tarsel::sim::kinematics;

constexpr float kNoFingers[3] = {0, 0, 0};

std::int32_t QueueCount(SimulatedArm& arm) {
  const ReadResult r = Read(arm, 304);
  EXPECT_TRUE(Accepted(r.verdict));
  return I32At(r.payload, 0);
}

std::array<float, 9> Floats9(SimulatedArm& arm, int command) {
  const ReadResult r = Read(arm, command);
  EXPECT_TRUE(Accepted(r.verdict));
  std::array<float, 9> v{};
  for (int i = 0; i < 9; ++i) v[i] = F32At(r.payload, 4 * static_cast<std::size_t>(i));
  return v;
}

TEST_F(SimTest, QueueDrainsAsPointsAreReached) {
  const float a[6] = {10, 0, 140, 0, 40, 0};    // 10 degrees on joint 1: 0.4 s
  const float b[6] = {10, 10, 140, 0, 40, 0};   // 10 more on joint 2: 0.4 s
  const float c[6] = {10, 10, 140, 0, 40, 35};  // 35 on joint 6: 1 s
  for (const auto* p : {&a, &b, &c})
    ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, *p, kNoFingers))));
  EXPECT_EQ(QueueCount(arm), 3);
  Advance(0.3);
  EXPECT_EQ(QueueCount(arm), 3);
  Advance(0.2);
  EXPECT_EQ(QueueCount(arm), 2);
  Advance(0.4);
  EXPECT_EQ(QueueCount(arm), 1);
  Advance(0.8);
  EXPECT_EQ(QueueCount(arm), 1);
  Advance(0.2);
  EXPECT_EQ(QueueCount(arm), 0);
  const auto position = Floats9(arm, 105);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(position[i], c[i], 1e-4) << "joint " << i + 1;
}

TEST_F(SimTest, JointsMoveAtBoundedSpeedAllArrivingTogether) {
  const float far[6] = {100, 0, 140, 0, 40, 0};  // joint 1 needs 4 s at 25 deg/s
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, far, kNoFingers))));
  Advance(1.0);
  EXPECT_NEAR(arm.Snapshot().joints[0], 25.0f, 1e-3);
  const auto velocity = Floats9(arm, 114);
  EXPECT_NEAR(velocity[0], 25.0f, 1e-3);
  EXPECT_EQ(velocity[1], 0.0f);
  // The commanded position is the point's target.
  EXPECT_NEAR(Floats9(arm, 107)[0], 100.0f, 1e-4);

  const float both[6] = {100, 50, 140, 0, 40, 0};  // joint 1: 75 more; joint 2: 50
  ASSERT_TRUE(Accepted(Bare(arm, 301)));
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, both, kNoFingers))));
  Advance(1.5);  // half of the 3 s the longer joint needs
  EXPECT_NEAR(arm.Snapshot().joints[0], 62.5f, 1e-3);
  EXPECT_NEAR(arm.Snapshot().joints[1], 25.0f, 1e-3);
}

TEST_F(SimTest, HomeMoveQueuesTheHomePositionAndTakesTime) {
  ASSERT_TRUE(Accepted(Bare(arm, 311)));
  EXPECT_EQ(QueueCount(arm), 1);
  Advance(1.0);
  EXPECT_EQ(QueueCount(arm), 1);  // 40 degrees on joint 3 take 1.6 s
  Advance(0.7);
  EXPECT_EQ(QueueCount(arm), 0);
  const auto position = Floats9(arm, 105);
  for (int i = 0; i < 6; ++i) {
    EXPECT_NEAR(position[i], tarsel::sim::kHomePose[i], 1e-4) << "joint " << i + 1;
  }
}

TEST_F(SimTest, EraseStopsTheArmWhereItIs) {
  const float far[6] = {100, 0, 140, 0, 40, 0};
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, far, kNoFingers))));
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, far, kNoFingers))));
  Advance(0.4);
  ASSERT_TRUE(Accepted(Bare(arm, 301)));
  EXPECT_EQ(QueueCount(arm), 0);
  const float stopped = arm.Snapshot().joints[0];
  Advance(5.0);
  EXPECT_FLOAT_EQ(arm.Snapshot().joints[0], stopped);
  EXPECT_NEAR(stopped, 10.0f, 1e-3);
}

TEST(SimTimeScale, SpeedsUpEveryMotion) {
  tarsel::sim::ManualClock clock;
  tarsel::sim::Options o;
  o.clock = clock.Source();
  o.timeScale = 10;
  SimulatedArm arm(o);
  ASSERT_TRUE(Accepted(Bare(arm, 311)));
  clock.Advance(0.17);  // 1.7 simulated seconds
  EXPECT_EQ(arm.Snapshot().queueSize, 0);
  arm.SetTimeScale(0.5);
  const float far[6] = {10, 20, 100, 0, 60, 0};
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, far, kNoFingers))));
  clock.Advance(0.4);  // 0.2 s: 5 degrees
  arm.Update();
  EXPECT_NEAR(arm.Snapshot().joints[0], 5.0f, 1e-3);
  arm.SetTimeScale(-1);  // refused
  EXPECT_EQ(arm.Snapshot().timeScale, 0.5);
}

TEST_F(SimTest, CartesianPointIsReachedAndReportedByForwardKinematics) {
  const kin::Joints goal = {30, 30, 90, 10, 50, -20};
  const kin::Pose pose = kin::ForwardKinematics(goal);
  const float coords[6] = {static_cast<float>(pose.x),  static_cast<float>(pose.y),
                           static_cast<float>(pose.z),  static_cast<float>(pose.rx),
                           static_cast<float>(pose.ry), static_cast<float>(pose.rz)};
  const float joints[6] = {};
  const float fingers[3] = {1000, 2000, 3000};
  ASSERT_TRUE(Accepted(Write(arm, 300, FullPoint(1, coords, joints, fingers))));
  Advance(10);
  EXPECT_EQ(arm.Snapshot().queueSize, 0);
  const auto cartesian = Floats9(arm, 104);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(cartesian[i], coords[i], 1e-3) << "component " << i;
  for (int f = 0; f < 3; ++f) EXPECT_FLOAT_EQ(cartesian[6 + f], fingers[f]);
  // 104 is the forward kinematics of 105.
  const auto angular = Floats9(arm, 105);
  const kin::Pose reported = kin::ForwardKinematics(
      {angular[0], angular[1], angular[2], angular[3], angular[4], angular[5]});
  EXPECT_NEAR(reported.x, cartesian[0], 1e-4);
  EXPECT_NEAR(reported.z, cartesian[2], 1e-4);
}

TEST_F(SimTest, ActualTrajectoryEchoesTheExecutingPoint) {
  const float coords[6] = {};
  const float joints[6] = {50, 0, 140, 0, 40, 0};
  const float fingers[3] = {0, 0, 0};
  const float limits[9] = {5, 0, 0, 0, 0, 0, 0, 0, 9};  // 5 deg/s
  ASSERT_TRUE(Accepted(Write(arm, 300, FullPoint(2, coords, joints, fingers, 1, limits))));
  Advance(1.0);
  EXPECT_NEAR(arm.Snapshot().joints[0], 5.0f, 1e-3);  // the limit caps the speed
  const ReadResult r = Read(arm, 307);
  ASSERT_EQ(r.announced, 148);
  EXPECT_EQ(I32At(r.payload, 0), 2);
  EXPECT_FLOAT_EQ(F32At(r.payload, 64), 50.0f);
  EXPECT_FLOAT_EQ(F32At(r.payload, 104), 1.0f);  // the flag, as a float
  EXPECT_FLOAT_EQ(F32At(r.payload, 144), 9.0f);
  EXPECT_DOUBLE_EQ(F64At(r.payload, 8), 3.0);
  ASSERT_TRUE(Accepted(Bare(arm, 301)));
  // Idle: the present position as a Type 2 point.
  const ReadResult idle = Read(arm, 307);
  EXPECT_EQ(I32At(idle.payload, 0), 2);
  EXPECT_NEAR(F32At(idle.payload, 64), 5.0f, 1e-3);
  EXPECT_FLOAT_EQ(F32At(idle.payload, 104), 0.0f);
}

TEST_F(SimTest, JoystickMovesTheArmWhileSamplesArrive) {
  ASSERT_TRUE(Accepted(Bare(arm, 47)));  // angular: axis k drives joint k
  Bytes sample(56, 0);
  PutF32(sample, 32, 1.0f);   // axis 1 full
  PutF32(sample, 40, -0.5f);  // axis 3 half back
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(Accepted(Write(arm, 305, sample)));
    Advance(0.05);
  }
  EXPECT_NEAR(arm.Snapshot().joints[0], 12.5f, 1e-3);  // 0.5 s at 25 deg/s
  EXPECT_NEAR(arm.Snapshot().joints[2], 140.0f - 6.25f, 1e-3);
  Advance(2.0);  // no more samples: the last one (at 0.45 s) holds 0.1 s
  EXPECT_NEAR(arm.Snapshot().joints[0], 13.75f, 1e-3);
  // A sample with every axis at rest stops the arm at once.
  ASSERT_TRUE(Accepted(Write(arm, 305, sample)));
  ASSERT_TRUE(Accepted(Write(arm, 305, Bytes(56, 0))));
  Advance(1.0);
  EXPECT_NEAR(arm.Snapshot().joints[0], 13.75f, 1e-3);
}

TEST_F(SimTest, CartesianJoystickMovesTheHandAlongTheBaseAxes) {
  ASSERT_TRUE(Accepted(Bare(arm, 311)));
  Advance(3);
  const auto before = arm.Snapshot().pose;
  Bytes sample(56, 0);
  PutF32(sample, 40, 1.0f);  // axis 3: up
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(Accepted(Write(arm, 305, sample)));
    Advance(0.1);
  }
  const auto after = arm.Snapshot().pose;
  EXPECT_NEAR(after.z - before.z, 0.075f, 2e-3);  // 0.5 s at 0.15 m/s
  EXPECT_NEAR(after.x, before.x, 2e-3);
  EXPECT_NEAR(after.ry, before.ry, 5e-3);
}

TEST_F(SimTest, JoystickIsIgnoredWhileATrajectoryRuns) {
  ASSERT_TRUE(Accepted(Bare(arm, 47)));
  ASSERT_TRUE(Accepted(Bare(arm, 311)));
  Bytes sample(56, 0);
  PutF32(sample, 32, 1.0f);
  ASSERT_TRUE(Accepted(Write(arm, 305, sample)));
  Advance(3);
  EXPECT_NEAR(arm.Snapshot().joints[0], 0.0f, 1e-4);
}

// A velocity point moves the arm at its velocity for the hold time
// (kVelocityHoldSeconds of clock time) after it arrives: a stream of them
// moves it steadily, and once they stop coming the arm comes to rest by
// itself. A point of zero velocity stops it at once.
struct HoldCase {
  const char* name;
  int command;  // 308: basic form, 300: full form
  int type;     // 8: angular velocity, 7: Cartesian velocity
  double timeScale;
};

void PrintTo(const HoldCase& c, std::ostream* os) {
  *os << c.name;
}

class VelocityHold : public ::testing::TestWithParam<HoldCase> {};

TEST_P(VelocityHold, MovesWhilePointsArriveAndComesToRestAHoldAfterTheLast) {
  const HoldCase c = GetParam();
  tarsel::sim::ManualClock clock;
  tarsel::sim::Options o;
  o.clock = clock.Source();
  o.timeScale = c.timeScale;
  SimulatedArm arm(o);
  ASSERT_TRUE(Accepted(Bare(arm, 311)));  // home: well away from singular poses
  clock.Advance(3);
  const bool cartesian = c.type == TARSEL_CARTESIAN_VELOCITY;
  const float speed = cartesian ? 0.02f : 10.0f;  // m/s up, or deg/s on joint 1
  const float none[6] = {};
  float v[6] = {};
  v[cartesian ? 2 : 0] = speed;
  const Bytes point = c.command == 308 ? BasicPoint(c.type, v, kNoFingers)
                                       : FullPoint(c.type, cartesian ? v : none,
                                                   cartesian ? none : v, kNoFingers);
  const Bytes stop = c.command == 308 ? BasicPoint(c.type, none, kNoFingers)
                                      : FullPoint(c.type, none, none, kNoFingers);
  const auto where = [&] {
    const ArmSnapshot s = arm.Snapshot();
    return cartesian ? s.pose.z : s.joints[0];
  };
  // The distance speed covers in clock seconds, and how near to it the
  // Cartesian steps come.
  const auto distance = [&](double seconds) { return speed * seconds * c.timeScale; };
  const auto near = [&](double seconds) { return cartesian ? 0.03 * distance(seconds) : 1e-3; };

  const float start = where();
  for (int i = 0; i < 5; ++i) {  // one every 40 ms: the last at 0.16 s
    ASSERT_TRUE(Accepted(Write(arm, c.command, point)));
    clock.Advance(0.04);
  }
  EXPECT_TRUE(arm.Snapshot().moving);  // 0.2 s: within the last one's hold
  clock.Advance(1);
  const double moved = 0.16 + tarsel::sim::kVelocityHoldSeconds;
  EXPECT_FALSE(arm.Snapshot().moving);
  EXPECT_NEAR(where() - start, distance(moved), near(moved));
  const auto velocities = Floats9(arm, 114);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(velocities[i], 0.0f) << "joint " << i + 1;
  const float rest = where();
  clock.Advance(1);
  EXPECT_EQ(where(), rest);

  ASSERT_TRUE(Accepted(Write(arm, c.command, point)));
  clock.Advance(0.04);
  ASSERT_TRUE(Accepted(Write(arm, c.command, stop)));
  EXPECT_FALSE(arm.Snapshot().moving);
  clock.Advance(1);
  EXPECT_NEAR(where() - rest, distance(0.04), near(0.04));
}

INSTANTIATE_TEST_SUITE_P(
    Points, VelocityHold,
    ::testing::Values(HoldCase{"AngularBasic", 308, TARSEL_ANGULAR_VELOCITY, 1},
                      HoldCase{"AngularFull", 300, TARSEL_ANGULAR_VELOCITY, 1},
                      HoldCase{"CartesianBasic", 308, TARSEL_CARTESIAN_VELOCITY, 1},
                      HoldCase{"CartesianFull", 300, TARSEL_CARTESIAN_VELOCITY, 1},
                      HoldCase{"AngularBasicTenTimesFaster", 308, TARSEL_ANGULAR_VELOCITY, 10},
                      HoldCase{"CartesianFullTenTimesFaster", 300, TARSEL_CARTESIAN_VELOCITY, 10}),
    [](const auto& info) { return std::string(info.param.name); });

struct FingerCase {
  HandType hand;
  float value;  // finger value of the driving points
  int type;
  bool counts;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FingerCase& c, std::ostream* os) {
  *os << "type " << c.type << ", finger value " << c.value;
}

class FingerInitialisation : public ::testing::TestWithParam<FingerCase> {};

TEST_P(FingerInitialisation, FlagsRiseAfterEnoughDrivingPoints) {
  const FingerCase c = GetParam();
  tarsel::sim::ManualClock clock;
  tarsel::sim::Options o;
  o.clock = clock.Source();
  o.hand = c.hand;
  o.fingerInitPoints = 4;
  SimulatedArm arm(o);
  const float fingers[3] = {c.value, c.value, c.hand == HandType::kThreeFingers ? c.value : 0};
  const float joints[6] = {};
  for (int n = 1; n <= 6; ++n) {
    ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(c.type, joints, fingers))));
    clock.Advance(0.006);
    const Bytes q = Read(arm, 62).payload;
    const bool up = c.counts && n >= 4;
    EXPECT_EQ(q[0], up ? 1 : 0) << "after point " << n;
    EXPECT_EQ(q[1], up ? 1 : 0) << "after point " << n;
    EXPECT_EQ(q[2], up && c.hand == HandType::kThreeFingers ? 1 : 0) << "after point " << n;
  }
  EXPECT_EQ(arm.Snapshot().fingersInitialized, c.counts);
  EXPECT_EQ(arm.Snapshot().queueSize, c.type == 2 ? 6 : 0);
}

INSTANTIATE_TEST_SUITE_P(Hands, FingerInitialisation,
                         ::testing::Values(FingerCase{HandType::kThreeFingers, -300, 8, true},
                                           FingerCase{HandType::kTwoFingers, -3000, 8, true},
                                           FingerCase{HandType::kThreeFingers, 300, 8, false},
                                           FingerCase{HandType::kThreeFingers, -300, 2, false}));

TEST_F(SimTest, FingerDrivingPointsOpenTheHand) {
  const float joints[6] = {};
  const float close[3] = {4000, 4000, 4000};
  const float retracted[6] = {0, 0, 140, 0, 40, 0};
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, retracted, close))));
  Advance(2);
  ASSERT_NEAR(arm.Snapshot().fingers[0], 4000.0f, 1e-2);
  const float open[3] = {-3400, -3400, -3400};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(8, joints, open))));
    Advance(0.1);
  }
  EXPECT_FLOAT_EQ(arm.Snapshot().fingers[0], 0.0f);  // against the open stop
  for (float j : arm.Snapshot().joints) EXPECT_TRUE(std::isfinite(j));
  EXPECT_NEAR(arm.Snapshot().joints[2], 140.0f, 1e-4);  // zero joint speeds: the arm stays
}

struct FlagCase {
  int on;
  int off;
  bool ArmSnapshot::*flag;
};

// By command: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FlagCase& c, std::ostream* os) {
  *os << "commands " << c.on << "/" << c.off;
}

class ControlFlags : public SimTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(ControlFlags, AreKept) {
  const FlagCase c = GetParam();
  EXPECT_FALSE(arm.Snapshot().*c.flag);
  ASSERT_TRUE(Accepted(Bare(arm, c.on)));
  EXPECT_TRUE(arm.Snapshot().*c.flag);
  ASSERT_TRUE(Accepted(Bare(arm, c.off)));
  EXPECT_FALSE(arm.Snapshot().*c.flag);
}

INSTANTIATE_TEST_SUITE_P(Switches, ControlFlags,
                         ::testing::Values(FlagCase{302, 303, &ArmSnapshot::apiControl},
                                           FlagCase{57, 58, &ArmSnapshot::forceControl},
                                           FlagCase{59, 60, &ArmSnapshot::currentLimitation}));

TEST_F(SimTest, ControlTypeFollowsTheModeCommands) {
  EXPECT_EQ(I32At(Read(arm, 10).payload, 0), 0);  // Cartesian at power-on
  ASSERT_TRUE(Accepted(Bare(arm, 47)));
  EXPECT_EQ(I32At(Read(arm, 10).payload, 0), 1);
  ASSERT_TRUE(Accepted(Bare(arm, 49)));
  EXPECT_EQ(I32At(Read(arm, 10).payload, 0), 0);
}

struct RefusedPoint {
  const char* name;
  int command;
  Bytes payload;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const RefusedPoint& c, std::ostream* os) {
  *os << c.name;
}

class RefusedPoints : public SimTest, public ::testing::WithParamInterface<RefusedPoint> {};

TEST_P(RefusedPoints, GetTheErrorBitAndQueueNothing) {
  EXPECT_TRUE(ErrorBit(Write(arm, GetParam().command, GetParam().payload)));
  EXPECT_EQ(arm.Snapshot().queueSize, 0);
  EXPECT_FALSE(arm.Snapshot().fingersInitialized);
}

Bytes WithFloat(Bytes b, std::size_t at, float v) {
  PutF32(b, at, v);
  return b;
}

const float kJoints[6] = {1, 2, 3, 4, 5, 6};

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedPoints,
    ::testing::Values(
        RefusedPoint{"nan_joint", 308, WithFloat(BasicPoint(2, kJoints, kNoFingers), 8, NAN)},
        RefusedPoint{"inf_finger", 308,
                     WithFloat(BasicPoint(8, kJoints, {-300, -300, -300}), 24, INFINITY)},
        RefusedPoint{"nan_parameter", 308, WithFloat(BasicPoint(2, kJoints, kNoFingers), 36, NAN)},
        RefusedPoint{"type_3", 308, BasicPoint(3, kJoints, kNoFingers)},
        RefusedPoint{"type_0_full", 300, FullPoint(0, kJoints, kJoints, kNoFingers)},
        RefusedPoint{"nan_cartesian_full", 300,
                     WithFloat(FullPoint(1, kJoints, kJoints, kNoFingers), 20, NAN)}),
    [](const ::testing::TestParamInfo<RefusedPoint>& info) {
      return std::string(info.param.name);
    });

TEST_F(SimTest, FullQueueRefusesTheNextPoint) {
  for (int i = 0; i < 128; ++i) {
    const float p[6] = {static_cast<float>(i % 2), 0, 140, 0, 40, 0};
    ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, p, kNoFingers)))) << i;
  }
  EXPECT_TRUE(ErrorBit(Write(arm, 308, BasicPoint(2, kJoints, kNoFingers))));
  EXPECT_TRUE(ErrorBit(Bare(arm, 311)));
  EXPECT_EQ(QueueCount(arm), 128);
  EXPECT_EQ(I32At(Read(arm, 304).payload, 8), 0);
}

TEST_F(SimTest, ActuatorSettingsAddressTheActuatorByItsBusAddress) {
  Bytes pid;
  PutU32(pid, 0, 18);
  PutF32(pid, 4, 1.5f);
  PutF32(pid, 8, 0.25f);
  PutF32(pid, 12, 0.125f);
  ASSERT_TRUE(Accepted(Write(arm, 53, pid)));
  EXPECT_EQ(arm.Snapshot().actuators[2].pid, (std::array<float, 3>{1.5f, 0.25f, 0.125f}));

  Bytes readdress;
  PutU32(readdress, 0, 16);
  PutU32(readdress, 4, 17);  // taken by actuator 2
  EXPECT_TRUE(ErrorBit(Write(arm, 52, readdress)));
  PutU32(readdress, 4, 40);
  ASSERT_TRUE(Accepted(Write(arm, 52, readdress)));
  EXPECT_EQ(arm.Snapshot().actuators[0].address, 40u);
  Bytes zero;
  PutU32(zero, 0, 16);  // no longer anyone's address
  EXPECT_TRUE(ErrorBit(Write(arm, 14, zero)));

  // Joint zero: the reading of joint 3 becomes 0 and the hand stays put.
  const auto pose = arm.Snapshot().pose;
  PutU32(zero, 0, 18);
  ASSERT_TRUE(Accepted(Write(arm, 14, zero)));
  EXPECT_FLOAT_EQ(arm.Snapshot().joints[2], 0.0f);
  EXPECT_NEAR(arm.Snapshot().pose.z, pose.z, 1e-5);

  // Torque zero: the torque reading of joint 2 becomes 0 in this pose.
  ASSERT_GT(std::fabs(Floats9(arm, 109)[1]), 0.1f);
  Bytes torque;
  PutU32(torque, 0, 17);
  ASSERT_TRUE(Accepted(Write(arm, 55, torque)));
  EXPECT_NEAR(Floats9(arm, 109)[1], 0.0f, 1e-4);
}

// An actuator write's payload: the actuator's address, then words (floats,
// or one more address).
Bytes ToActuator(std::uint32_t address, std::initializer_list<float> values) {
  Bytes b;
  PutU32(b, 0, address);
  for (float v : values) PutF32(b, b.size(), v);
  return b;
}
Bytes Readdress(std::uint32_t address, std::uint32_t next) {
  Bytes b;
  PutU32(b, 0, address);
  PutU32(b, 4, next);
  return b;
}

// The arm refuses an actuator write it cannot take, says why, and keeps its
// settings; a write it takes says nothing.
TEST_F(SimTest, ActuatorWritesRefuseAddressesAndValuesNoActuatorTakes) {
  std::string why;
  arm.SetObserver([&](const Packet&, const std::optional<Packet>&, const char* reason) {
    why = reason != nullptr ? reason : "";
  });
  const struct {
    int command;
    Bytes payload;
    const char* why;
  } cases[] = {
      {53, ToActuator(99, {1, 1, 1}), "no actuator has that address"},
      {53, ToActuator(16, {1, NAN, 1}), "a PID value is NaN or infinite"},
      {54, ToActuator(21, {1, 1, -INFINITY}), "a PID value is NaN or infinite"},
      {56, ToActuator(17, {NAN}), "the torque gain is NaN or infinite"},
      {56, ToActuator(0, {2}), "no actuator has that address"},
      {52, Readdress(16, 0), "an actuator address is 1 to 255"},
      {52, Readdress(16, 256), "an actuator address is 1 to 255"},
      {52, Readdress(16, 21), "another actuator has that address"},
      {14, ToActuator(99, {}), "no actuator has that address"},
  };
  for (const auto& c : cases) {
    const auto before = arm.Snapshot().actuators;
    EXPECT_TRUE(ErrorBit(Write(arm, c.command, c.payload))) << c.why;
    EXPECT_EQ(why, c.why);
    for (std::size_t k = 0; k < before.size(); ++k) {
      EXPECT_EQ(arm.Snapshot().actuators[k].address, before[k].address) << c.why;
      EXPECT_EQ(arm.Snapshot().actuators[k].pid, before[k].pid) << c.why;
      EXPECT_EQ(arm.Snapshot().actuators[k].pidFilter, before[k].pidFilter) << c.why;
      EXPECT_EQ(arm.Snapshot().actuators[k].torqueGain, before[k].torqueGain) << c.why;
    }
  }
  ASSERT_TRUE(Accepted(Write(arm, 56, ToActuator(17, {-2.5f}))));
  EXPECT_EQ(why, "");
  EXPECT_EQ(arm.Snapshot().actuators[1].torqueGain, -2.5f);
  ASSERT_TRUE(Accepted(Write(arm, 54, ToActuator(21, {0.25f, 4, -1}))));
  EXPECT_EQ(arm.Snapshot().actuators[5].pidFilter, (std::array<float, 3>{0.25f, 4, -1}));
  ASSERT_TRUE(Accepted(Write(arm, 52, Readdress(16, 16))));  // its own address again
  EXPECT_EQ(arm.Snapshot().actuators[0].address, 16u);
}

// --- The kinematic model ----------------------------------------------------

TEST(Kinematics, ZeroPoseStandsStraightUp) {
  const kin::Pose p = kin::ForwardKinematics({0, 0, 0, 0, 0, 0});
  EXPECT_NEAR(p.x, 0.0, 1e-9);
  EXPECT_NEAR(p.y, 0.0, 1e-9);
  EXPECT_NEAR(p.z, 0.28 + 0.40 + 0.32 + 0.16, 1e-9);
  // Home: hand in front of the base, pointing down.
  const auto frames = kin::Frames(tarsel::sim::kHomePose);
  EXPECT_GT(frames[6].p[0], 0.3);
  EXPECT_NEAR(frames[6].r[2][2], -1.0, 1e-9);
}

class InverseKinematics : public ::testing::TestWithParam<kin::Joints> {};

TEST_P(InverseKinematics, FindsThePoseOfAnyReachableJoints) {
  const kin::Pose goal = kin::ForwardKinematics(GetParam());
  bool converged = false;
  const kin::Joints q = kin::InverseKinematics(goal, tarsel::sim::kHomePose, &converged);
  ASSERT_TRUE(converged);
  const kin::Pose got = kin::ForwardKinematics(q);
  EXPECT_NEAR(got.x, goal.x, 1e-4);
  EXPECT_NEAR(got.y, goal.y, 1e-4);
  EXPECT_NEAR(got.z, goal.z, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Poses, InverseKinematics,
                         ::testing::Values(kin::Joints{0, 20, 100, 0, 60, 0},
                                           kin::Joints{45, 30, 80, 20, 40, 10},
                                           kin::Joints{-60, -10, 120, -30, 70, 90},
                                           kin::Joints{10, 40, 60, 5, -50, 0}));

TEST(Kinematics, UnreachableTargetGivesTheClosestPose) {
  kin::Pose far;
  far.x = 5.0;
  bool converged = true;
  const kin::Joints q = kin::InverseKinematics(far, tarsel::sim::kHomePose, &converged);
  EXPECT_FALSE(converged);
  const kin::Pose got = kin::ForwardKinematics(q);
  // Much closer than where it started (home, 0.41 m out).
  EXPECT_GT(got.x, 0.6);
  for (double v : q) EXPECT_TRUE(std::isfinite(v));
}

TEST(Kinematics, JacobianMatchesFiniteDifferences) {
  const kin::Joints q = {20, 30, 90, 10, 45, -15};
  const auto j = kin::Jacobian(q);
  const double h = 1e-6;  // degrees
  for (int k = 0; k < 6; ++k) {
    kin::Joints a = q;
    a[k] += h;
    const auto f0 = kin::Frames(q);
    const auto f1 = kin::Frames(a);
    for (int r = 0; r < 3; ++r) {
      const double numeric = (f1[6].p[r] - f0[6].p[r]) / (h * 3.14159265358979323846 / 180.0);
      EXPECT_NEAR(j[r][k], numeric, 1e-4) << "row " << r << " joint " << k + 1;
    }
  }
  EXPECT_NEAR(kin::Manipulability({0, 0, 0, 0, 0, 0}), 0.0, 1e-9);  // singular
  EXPECT_GT(kin::Manipulability(q), 1e-3);
}

}  // namespace
}  // namespace simtest
