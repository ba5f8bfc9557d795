// The C++ interface against simulated arms. The same program runs twice
// under CTest: with TARSEL_SIM=2 (two arms in this process, through the
// simulator's link library) and under tarsel-sim-usb with two arms on the
// virtual USB bus (through the real link library and libusb).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "arm/exports.h"
#include "tarsel/arm.hpp"

namespace {

using namespace std::chrono_literals;
using tarsel::Arm;
using tarsel::Error;

TrajectoryPoint JointPoint(float a1) {
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = 2;
  AngularInfo& j = point.Position.Actuators;
  j.Actuator1 = a1;
  j.Actuator2 = 200;
  j.Actuator3 = 40;
  j.Actuator4 = 240;
  j.Actuator5 = 80;
  j.Actuator6 = 90;
  return point;
}

void WaitForEmptyQueue(Arm& arm) {
  for (int i = 0; i < 3000 && arm.GetGlobalTrajectoryInfo().PointCount != 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
}

// The code of the tarsel::Error that body throws, or 1 when it throws none.
int CodeOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Error& e) {
    EXPECT_STRNE(e.what(), "");  // the code's message, or one that says more
    return e.code();
  }
  return TARSEL_OK;
}

// Opening and closing arms all day: each one works, and none leaves a handle,
// a library or memory behind (the sanitizer and valgrind runs of this test
// see every cycle).
TEST(ArmLifecycle, HundredOpenCloseCyclesEachWork) {
  for (int cycle = 0; cycle < 100; ++cycle) {
    Arm arm;
    ASSERT_TRUE(arm.IsOpen()) << "cycle " << cycle;
    arm.GetQuickStatus();
    if (cycle % 2 == 0) {
      arm.Close();  // the other half close as they go out of scope
      EXPECT_EQ(CodeOf([&] { arm.GetQuickStatus(); }), TARSEL_ERROR_NOT_INITIALIZED);
    }
  }
  for (int cycle = 0; cycle < 20; ++cycle) {
    Arm arm = Arm::Simulated();
    arm.GetAngularPosition();
  }
}

// An arm closed on the flat link (path "default") stays closed when another
// arm opens the flat link again: its commands must not run on the other's
// link.
TEST(ArmLifecycle, ClosedFlatArmStaysClosedWhenTheFlatLinkReopens) {
  tarsel::ArmInfo flat;
  flat.path = "default";
  Arm first(flat);
  first.Close();
  Arm second(flat);
  second.GetQuickStatus();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_EQ(CodeOf([&] { first.GetQuickStatus(); }), TARSEL_ERROR_NOT_INITIALIZED);
}

TEST(ArmList, ListsTheArmsWithStablePaths) {
  const auto arms = tarsel::ListArms();
  ASSERT_EQ(arms.size(), 2u);
  EXPECT_NE(arms[0].path, arms[1].path);
  EXPECT_LT(arms[0].path, arms[1].path);
  for (const auto& info : arms) {
    EXPECT_EQ(info.vendor_id, 0xF055);
    EXPECT_TRUE(info.simulated || info.path.rfind("usb:", 0) == 0) << info.path;
  }
  EXPECT_EQ(tarsel::ListArms()[1].path, arms[1].path);
}

// Every read and bare command of the table api/arm/exports.txt, a new one
// included, runs over the arm, and throws Error(2001) once the arm is closed.
TEST(ArmTable, EveryReadAndBareCommandRunsOverTheArmUntilItCloses) {
  Arm arm;
  ASSERT_TRUE(arm.IsOpen());
#define TARSEL_CALL(Name, python, module, ...) {#Name, [](Arm& a) { a.Name(); }},
  const struct {
    const char* name;
    void (*call)(Arm&);
  } calls[] = {
      // clang-format off
      TARSEL_ARM_READS(TARSEL_CALL)
      TARSEL_ARM_POINTER_READS(TARSEL_CALL)
      TARSEL_ARM_BARE_COMMANDS(TARSEL_CALL)
      // clang-format on
  };
#undef TARSEL_CALL
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CodeOf([&] { c.call(arm); }), TARSEL_OK);
  }
  arm.Close();
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CodeOf([&] { c.call(arm); }), TARSEL_ERROR_NOT_INITIALIZED);
  }
}

// One call per export family, with arguments and answers the arm must give;
// a member bound to the wrong export shows as a failure or as a record of the
// wrong kind.
TEST(ArmFamilies, EveryFamilyRunsOverTheArm) {
  Arm arm;
  ASSERT_TRUE(arm.IsOpen());
  const struct {
    const char* name;
    std::function<void(Arm&)> call;
  } calls[] = {
      {"read-outs",
       [](Arm& a) {
         const AngularPosition joints = a.GetAngularPosition();
         EXPECT_NE(joints.Actuators.Actuator1 + joints.Actuators.Actuator3, 0.0f);
       }},
      {"trajectories",
       [](Arm& a) {
         a.SendBasicTrajectory(JointPoint(190));
         a.EraseAllTrajectories();
         EXPECT_EQ(a.GetGlobalTrajectoryInfo().PointCount, 0);
       }},
      {"force", [](Arm& a) { a.SetAngularTorqueMinMax(AngularInfo{}, AngularInfo{}); }},
      {"configuration",
       [](Arm& a) {
         ClientConfigurations config = a.GetClientConfigurations();
         config.FloatValue1 = 0.11f;
         a.SetClientConfigurations(config);
         EXPECT_EQ(a.GetClientConfigurations().FloatValue1, 0.11f);
         a.SetSerialNumber("TSL-CPP-1");
         EXPECT_EQ(a.GetDevValue().size(), 14u);
         EXPECT_EQ(a.GetSpasmFilterValues().values.size(), 4u);
       }},
      {"status",
       [](Arm& a) {
         a.ClearErrorLog();
         EXPECT_EQ(a.GetSystemErrorCount(), 0u);
         EXPECT_EQ(a.GetPeripheralInventory().size(), 15u);
       }},
      {"maintenance",
       [](Arm& a) {
         EXPECT_EQ(a.GetAPIVersion(), (std::vector<int>{5, 0, 6}));
         EXPECT_EQ(a.GetCodeVersion().size(), 37u);
         a.SetActuatorPID(16, 1, 2, 3);
       }},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CodeOf([&] { c.call(arm); }), TARSEL_OK);
  }
}

TEST(ArmErrors, CodesComeBackAsExceptions) {
  tarsel::SimOptions faulty;
  faulty.faults = "error:105;noanswer:104";
  Arm arm = Arm::Simulated(faulty);
  Arm moved = Arm::Simulated();
  Arm empty = std::move(moved);
  const struct {
    const char* name;
    std::function<void()> call;
    int code;
  } cases[] = {
      {"error bit", [&] { arm.GetAngularPosition(); }, TARSEL_ERROR_ANSWER_ERROR_BIT},
      {"silence", [&] { arm.GetCartesianPosition(); }, TARSEL_ERROR_NO_ANSWER},
      {"text too long", [&] { arm.SetSerialNumber(std::string(21, 'x')); }, TARSEL_ERROR_ARGUMENT},
      {"short vector",
       [&] {
         arm.SetDevValue({1, 2});
       },
       TARSEL_ERROR_ARGUMENT},
      {"moved-from arm", [&] { moved.GetQuickStatus(); }, TARSEL_ERROR_NOT_INITIALIZED},
      {"missing firmware", [&] { arm.ProgramFlash("/nonexistent/fw.bin"); },
       TARSEL_ERROR_FILE_OPEN},
      {"bad simulator option",
       [] {
         tarsel::SimOptions o;
         o.hand = 4;
         Arm::Simulated(o);
       },
       TARSEL_ERROR_ARGUMENT},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeOf(c.call), c.code) << c.name;
  EXPECT_EQ(CodeOf([&] { empty.GetQuickStatus(); }), TARSEL_OK);
}

// What an Error says goes beyond its code where more is known: the arm that
// could not be opened, that the arm was closed.
TEST(ArmErrors, MessagesSayWhatHappened) {
  Arm arm = Arm::Simulated();
  Arm closed = Arm::Simulated();
  closed.Close();
  tarsel::ArmInfo nowhere;
  nowhere.path = "usb:9-9";
  const struct {
    const char* name;
    std::function<void()> call;
    const char* said;
  } cases[] = {
      {"closed arm", [&] { closed.GetQuickStatus(); }, "this arm is closed"},
      {"no such arm", [&] { Arm{nowhere}; }, "(arm \"usb:9-9\")"},
      {"index past the end", [&] { arm.GetSystemError(arm.GetSystemErrorCount() + 3); },
       "is past the end of the error log"},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << ": nothing thrown";
    } catch (const tarsel::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

// The last event of a pcapng capture of usbmon events, as "<type> <endpoint>
// <status>" ("C 130 0": an answer that came), or "" when it ends with no
// packet.
std::string LastEvent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
  if (bytes.size() < 4) return "";
  std::uint32_t length = 0, type = 0;
  std::int32_t status = 0;
  std::memcpy(&length, bytes.data() + bytes.size() - 4, 4);
  if (length < 28 + 64 + 4 || length > bytes.size()) return "";
  const unsigned char* block = bytes.data() + bytes.size() - length;
  std::memcpy(&type, block, 4);
  std::memcpy(&status, block + 28 + 28, 4);
  if (type != 6) return "";
  return std::string(1, static_cast<char>(block[28 + 8])) + " " + std::to_string(block[28 + 10]) +
         " " + std::to_string(status);
}

// An arm's packets are saved after it closed too (through the simulator's
// link or the USB link, whichever this run uses): the capture ends with the
// answer to its last command. A path that cannot take it is named.
TEST(ArmRecentPackets, SavedAfterTheArmClosed) {
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("tarsel-arm-recent-" + std::to_string(getpid()) + ".pcapng"))
                               .string();
  Arm arm;
  arm.GetQuickStatus();
  arm.Close();
  arm.SaveRecentPackets(file);
  EXPECT_EQ(LastEvent(file), "C 130 0");
  std::filesystem::remove(file);

  const std::string nowhere = "/nonexistent-folder/recent.pcapng";
  try {
    arm.SaveRecentPackets(nowhere);
    ADD_FAILURE() << "nothing thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), TARSEL_ERROR_FILE_WRITE);
    EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
  }
  EXPECT_EQ(CodeOf([&] { arm.SaveRecentPackets(""); }), TARSEL_ERROR_ARGUMENT);
  const Arm taken = std::move(arm);
  EXPECT_EQ(CodeOf([&] { arm.SaveRecentPackets(file); }), TARSEL_ERROR_NOT_INITIALIZED);
}

// What the arm could only refuse with a bare 2004 is refused before sending,
// saying why; the arm's queue stays empty.
TEST(ArmErrors, PlainlyInvalidValuesAreRefusedBeforeSending) {
  Arm arm = Arm::Simulated();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  TrajectoryPoint unknownType = JointPoint(10);
  unknownType.Position.Type = 5;
  TrajectoryPoint nanJoint = JointPoint(nan);
  TrajectoryPoint infLimit = JointPoint(10);
  infLimit.Limits.Limit4 = inf;
  TrajectoryPoint nanCartesian = JointPoint(10);
  nanCartesian.Position.Type = TARSEL_CARTESIAN_VELOCITY;
  nanCartesian.Position.Coordinates.Z = nan;
  JoystickCommand stick{};
  stick.Axis3 = inf;
  const struct {
    const char* name;
    std::function<void()> call;
    const char* said;
  } cases[] = {
      {"unknown point type", [&] { arm.SendBasicTrajectory(unknownType); }, "point type 5 is none"},
      {"NaN joint", [&] { arm.SendBasicTrajectory(nanJoint); }, "Actuators value 1 is NaN"},
      {"NaN coordinate", [&] { arm.SendAdvanceTrajectory(nanCartesian); },
       "Coordinates value 3 is NaN"},
      {"infinite limit", [&] { arm.SendAdvanceTrajectory(infLimit); },
       "Limits value 4 is infinite"},
      {"infinite axis", [&] { arm.SendJoystickCommand(stick); }, "axis value 3 is infinite"},
      {"NaN torque",
       [&] {
         arm.SetAngularTorqueMinMax(AngularInfo{nan, 0, 0, 0, 0, 0}, {});
       },
       "min value 1 is NaN"},
      {"NaN gain", [&] { arm.SetActuatorPID(16, 1, nan, 0); }, "gain value 2 is NaN"},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << ": nothing thrown";
    } catch (const tarsel::Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_ARGUMENT) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_EQ(arm.GetGlobalTrajectoryInfo().PointCount, 0);
  // A velocity point without NaN in the block its type sends goes out as before.
  TrajectoryPoint velocity = JointPoint(nan);
  velocity.Position.Type = TARSEL_CARTESIAN_VELOCITY;
  EXPECT_EQ(CodeOf([&] { arm.SendBasicTrajectory(velocity); }), TARSEL_OK);
}

TEST(ArmLongOperations, TimeLimitStopsTheArm) {
  tarsel::SimOptions slow;
  slow.time_scale = 0.05;  // a home move takes minutes
  Arm arm = Arm::Simulated(slow);
  arm.SendBasicTrajectory(JointPoint(100));
  EXPECT_EQ(CodeOf([&] { arm.MoveHome(200ms); }), TARSEL_ERROR_TIME_LIMIT);
  EXPECT_EQ(arm.GetGlobalTrajectoryInfo().PointCount, 0);  // erased: the arm stopped
  const AngularPosition a = arm.GetAngularPosition();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(arm.GetAngularPosition().Actuators.Actuator1, a.Actuators.Actuator1);
}

// MoveTo's arrivals, judged here from the records themselves.
TEST(ArmMoveTo, ReachesJointAndCartesianPointsWithinTolerance) {
  tarsel::SimOptions fast;
  fast.time_scale = 10;
  Arm arm = Arm::Simulated(fast);
  // A Cartesian pose the arm can reach: where these joints put the hand.
  const TrajectoryPoint there = JointPoint(30);
  arm.MoveTo(there);
  const CartesianInfo pose = arm.GetCartesianPosition().Coordinates;
  UserPosition cartesian{};
  cartesian.Type = TARSEL_CARTESIAN_POSITION;
  cartesian.Coordinates = pose;
  const tarsel::MoveTolerance loose{2.0, 20.0, 0.1};
  const struct {
    const char* name;
    std::function<tarsel::MoveResult()> move;
    double joints;  // allowed joint gap, or < 0 for a Cartesian point
    double metres, radians;
  } cases[] = {
      {"joint point", [&] { return arm.MoveTo(JointPoint(-20)); }, 0.5, 0, 0},
      {"joint point, loose", [&] { return arm.MoveTo(JointPoint(10), loose); }, 2.0, 0, 0},
      {"Cartesian position", [&] { return arm.MoveTo(cartesian); }, -1, 0.005, 0.02},
  };
  for (const auto& c : cases) {
    const tarsel::MoveResult reached = c.move();
    EXPECT_EQ(arm.GetGlobalTrajectoryInfo().PointCount, 0) << c.name;
    if (c.joints >= 0) {
      ASSERT_TRUE(std::holds_alternative<AngularPosition>(reached)) << c.name;
      const AngularInfo& a = std::get<AngularPosition>(reached).Actuators;
      const AngularInfo& read = arm.GetAngularPosition().Actuators;
      EXPECT_NEAR(a.Actuator1, read.Actuator1, 0.01) << c.name << ": not the last reading";
      const float target = c.joints > 1 ? 10.f : -20.f;
      EXPECT_NEAR(a.Actuator1, target, c.joints) << c.name;
      EXPECT_NEAR(a.Actuator3, 40, c.joints) << c.name;
      EXPECT_NEAR(a.Actuator6, 90, c.joints) << c.name;
    } else {
      // From JointPoint(10) back to where JointPoint(30) put the hand.
      ASSERT_TRUE(std::holds_alternative<CartesianPosition>(reached)) << c.name;
      const CartesianInfo& p = std::get<CartesianPosition>(reached).Coordinates;
      EXPECT_LE(std::hypot(p.X - pose.X, p.Y - pose.Y, p.Z - pose.Z), c.metres) << c.name;
      EXPECT_NEAR(p.RotationZ, pose.RotationZ, c.radians) << c.name;
      EXPECT_GT(std::fabs(arm.GetAngularPosition().Actuators.Actuator1 - 10), 10) << c.name;
    }
  }
}

TEST(ArmMoveTo, TimeLimitStopsTheArmAndSaysHowFarItStayed) {
  tarsel::SimOptions slow;
  slow.time_scale = 0.05;  // any move takes minutes
  Arm arm = Arm::Simulated(slow);
  UserPosition joints{};
  joints.Type = TARSEL_ANGULAR_POSITION;
  joints.Actuators = arm.GetAngularPosition().Actuators;
  joints.Actuators.Actuator2 += 100;
  UserPosition cartesian{};
  cartesian.Type = TARSEL_CARTESIAN_POSITION;
  cartesian.Coordinates = arm.GetCartesianPosition().Coordinates;
  cartesian.Coordinates.X += 0.2f;
  // The arm gets a little way before the limit: each gap is matched with a
  // range of values.
  const struct {
    const char* name;
    UserPosition point;
    const char* said;  // the gap's number is the first group
    double least, most;
  } cases[] = {
      {"joint point", joints,
       R"(the arm stayed ([0-9.]+) deg from the point \(joint 2\); the trajectory queue was erased)",
       95, 100},
      {"Cartesian point", cartesian, R"(the arm stayed ([0-9.]+) mm and 0\.0[0-9]{2} rad from)", 150,
       200.1},
  };
  for (const auto& c : cases) {
    try {
      arm.MoveTo(c.point, {}, 200ms);
      ADD_FAILURE() << c.name << ": nothing thrown";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_TIME_LIMIT) << c.name;
      std::smatch m;
      const std::string what = e.what();
      ASSERT_TRUE(std::regex_search(what, m, std::regex(c.said))) << c.name << ": " << what;
      EXPECT_GE(std::stod(m[1]), c.least) << c.name << ": " << what;
      EXPECT_LE(std::stod(m[1]), c.most) << c.name << ": " << what;
    }
    EXPECT_EQ(arm.GetGlobalTrajectoryInfo().PointCount, 0) << c.name;  // erased: stopped
    const AngularPosition a = arm.GetAngularPosition();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(arm.GetAngularPosition().Actuators.Actuator2, a.Actuators.Actuator2) << c.name;
  }
}

TEST(ArmMoveTo, InvalidPointsAndTolerancesAreRefusedBeforeSending) {
  Arm arm = Arm::Simulated();
  TrajectoryPoint velocity = JointPoint(10);
  velocity.Position.Type = TARSEL_ANGULAR_VELOCITY;
  TrajectoryPoint unknown = JointPoint(10);
  unknown.Position.Type = 5;
  const struct {
    const char* name;
    TrajectoryPoint point;
    tarsel::MoveTolerance tolerance;
    const char* said;
  } cases[] = {
      {"velocity point", velocity, {}, "point type 8 is a velocity"},
      {"unknown type", unknown, {}, "point type 5 is none"},
      {"NaN joint", JointPoint(std::numeric_limits<float>::quiet_NaN()), {}, "value 1 is NaN"},
      {"negative tolerance", JointPoint(10), {-1, 5, 0.02}, "a tolerance must be"},
      {"NaN tolerance", JointPoint(10), {0.5, 5, std::nan("")}, "a tolerance must be"},
  };
  const float before = arm.GetAngularPosition().Actuators.Actuator1;
  for (const auto& c : cases) {
    try {
      arm.MoveTo(c.point, c.tolerance, 10s);
      ADD_FAILURE() << c.name << ": nothing thrown";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_ARGUMENT) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_EQ(arm.GetGlobalTrajectoryInfo().PointCount, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(arm.GetAngularPosition().Actuators.Actuator1, before);
}

TEST(ArmLongOperations, ProgressCanStopAFlash) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tarsel-arm-fw-" + std::to_string(getpid()) + ".bin");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<unsigned char> image(3 * 2048, 0x11);
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
  }
  Arm arm = Arm::Simulated();
  std::vector<int> seen;
  EXPECT_EQ(CodeOf([&] {
              arm.ProgramFlash(path, [&](int sent, int) {
                seen.push_back(sent);
                return sent < 1;
              });
            }),
            TARSEL_ERROR_CANCELLED);
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  // An exception from the callback stops the transfer and comes back as is.
  EXPECT_THROW(arm.ProgramFlash(path, [](int, int) -> bool { throw std::logic_error("stop"); }),
               std::logic_error);
  std::filesystem::remove(path);
}

// Two arms in one process: one moves while a second thread reads both.
TEST(TwoArms, OneMovesWhileBothAreRead) {
  const auto arms = tarsel::ListArms();
  ASSERT_EQ(arms.size(), 2u);
  Arm first(arms[0]);
  Arm second(arms[1]);
  const AngularPosition secondBefore = second.GetAngularPosition();
  const AngularPosition firstBefore = first.GetAngularPosition();

  std::atomic<bool> moving{true};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (moving) {
      first.GetAngularPosition();
      const AngularPosition still = second.GetAngularPosition();
      EXPECT_EQ(still.Actuators.Actuator1, secondBefore.Actuators.Actuator1);
      ++reads;
    }
  });
  first.StartControlAPI();
  first.SetAngularControl();
  first.SendBasicTrajectory(JointPoint(firstBefore.Actuators.Actuator1 + 20));
  WaitForEmptyQueue(first);
  moving = false;
  reader.join();

  EXPECT_GT(reads.load(), 0);
  EXPECT_NEAR(first.GetAngularPosition().Actuators.Actuator1, firstBefore.Actuators.Actuator1 + 20,
              0.5);
  EXPECT_EQ(second.GetAngularPosition().Actuators.Actuator1, secondBefore.Actuators.Actuator1);

  // The flat functions reach whichever arm they are routed to.
  for (Arm* target : {&second, &first}) {
    tarsel::FlatCallsTo route(*target);
    EXPECT_EQ(CodeOf([&] { tarsel::FlatCallsTo twice(first); }), TARSEL_ERROR_ARGUMENT);
    AngularPosition flat{};
    ASSERT_EQ(::GetAngularPosition(flat), TARSEL_OK);
    EXPECT_EQ(flat.Actuators.Actuator1, target->GetAngularPosition().Actuators.Actuator1);
  }
}

// Closing an arm another thread is using: that thread's calls end cleanly,
// and every call after the close throws 2001.
TEST(ArmClose, CloseWhileAnotherThreadCalls) {
  Arm arm;
  std::atomic<bool> closed{false};
  std::atomic<int> okAfterClose{0};
  std::atomic<int> okBefore{0};
  std::thread user([&] {
    for (;;) {
      const bool after = closed;
      const int code = CodeOf([&] { arm.GetQuickStatus(); });
      if (code == TARSEL_OK) (after ? okAfterClose : okBefore)++;
      if (after && code == TARSEL_ERROR_NOT_INITIALIZED) break;
    }
  });
  while (okBefore < 3) std::this_thread::sleep_for(1ms);
  arm.Close();
  closed = true;
  user.join();
  EXPECT_EQ(okAfterClose.load(), 0);
  EXPECT_FALSE(arm.IsOpen());
  EXPECT_EQ(CodeOf([&] { arm.GetAngularPosition(); }), TARSEL_ERROR_NOT_INITIALIZED);
  arm.Close();  // twice is harmless
  Arm again;    // the arm can be opened anew
  EXPECT_EQ(CodeOf([&] { again.GetAngularPosition(); }), TARSEL_OK);
}

// Ends the process with a failure when the test has not finished within
// limit: a thread stuck in a command would otherwise hold the whole run until
// CTest's time-out, and a stuck thread cannot be joined.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, const char* what)
      : thread_([this, limit, what] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "%s: still running after %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// Move-assigning an arm another thread is using: that thread's command
// finishes with an answer of one of the two arms, or throws 2001, and never
// hangs. Each arm holds its own tag in its client configuration, so a read
// shows which arm answered it whole.
TEST(ArmMove, MoveAssignmentWhileAnotherThreadCalls) {
  Watchdog watchdog(60s, "ArmMove.MoveAssignmentWhileAnotherThreadCalls");
  const auto arms = tarsel::ListArms();
  ASSERT_EQ(arms.size(), 2u);
  // The first stays open throughout: simulated arms keep their stored
  // blocks while their link library stays loaded.
  Arm shared(arms[0]);
  for (int i = 0; i < 2; ++i) {
    Arm other(arms[1]);
    Arm& arm = i == 0 ? shared : other;
    ClientConfigurations config = arm.GetClientConfigurations();
    config.IntValue1 = 1000 + i;
    arm.SetClientConfigurations(config);
  }
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> refused{0};
  std::thread user([&] {
    while (!done) {
      int tag = 0;
      const int code = CodeOf([&] { tag = shared.GetClientConfigurations().IntValue1; });
      if (code == TARSEL_OK) {
        EXPECT_TRUE(tag == 1000 || tag == 1001) << tag;
        ++reads;
      } else {
        EXPECT_EQ(code, TARSEL_ERROR_NOT_INITIALIZED);
        ++refused;
      }
      // A breath between commands: under valgrind, whose threads take turns,
      // a thread that retakes the arm's lock at once can keep the moving
      // thread from ever getting it.
      std::this_thread::sleep_for(50us);
    }
  });
  constexpr int kMoves = 40;
  for (int move = 1; move <= kMoves; ++move) {
    const int before = reads;
    while (reads < before + 2) std::this_thread::sleep_for(1ms);
    Arm next(arms[move % 2]);
    // While the reader may be inside a command on the arm this replaces.
    shared = std::move(next);
    EXPECT_FALSE(next.IsOpen());
  }
  const int before = reads;
  while (reads < before + 2) std::this_thread::sleep_for(1ms);
  done = true;
  user.join();
  EXPECT_EQ(shared.GetClientConfigurations().IntValue1, 1000 + kMoves % 2);
  std::printf("%d reads, %d refused with 2001 across %d moves\n", reads.load(), refused.load(),
              kMoves);
}

}  // namespace

namespace {

// A simulated arm opened first must not make the bus seem to hold simulated
// arms: the simulator's link library has the USB link's file name.
TEST(ArmSimulatedFirst, BusArmsStayReal) {
  if (std::getenv("TARSEL_SIM") != nullptr) GTEST_SKIP() << "simulated arms asked for";
  Arm simulated = Arm::Simulated();
  const auto arms = tarsel::ListArms();
  ASSERT_FALSE(arms.empty());
  for (const auto& info : arms) EXPECT_FALSE(info.simulated) << info.path;
  Arm first;
  EXPECT_FALSE(first.Info().simulated) << first.Info().path;
  EXPECT_EQ(CodeOf([&] { simulated.GetAngularPosition(); }), TARSEL_OK);
}

}  // namespace
