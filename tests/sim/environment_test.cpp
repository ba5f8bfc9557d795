// Configuration of the simulated arm from the TARSEL_SIM_* variables.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "environment.h"

namespace {

using tarsel::sim::Fault;
using tarsel::sim::FaultKind;
using tarsel::sim::HandType;
using tarsel::sim::ReadEnvironment;
using tarsel::sim::SimEnvironment;

SimEnvironment From(const std::map<std::string, std::string>& vars) {
  return ReadEnvironment([&vars](const char* name) -> const char* {
    const auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  });
}

TEST(SimEnvironment, UnsetVariablesGiveNothing) {
  const SimEnvironment env = From({});
  EXPECT_FALSE(env.hand);
  EXPECT_FALSE(env.timeScale);
  EXPECT_FALSE(env.fingerInitPoints);
  EXPECT_FALSE(env.faultsGiven);
  EXPECT_FALSE(env.trace);
  EXPECT_FALSE(env.absent);
  EXPECT_TRUE(env.problems.empty());
  const tarsel::sim::Options& o = env.options;
  EXPECT_EQ(o.hand, HandType::kThreeFingers);
  EXPECT_EQ(o.timeScale, 1.0);
  EXPECT_EQ(o.fingerInitPoints, 5);
}

TEST(SimEnvironment, ConfigureKeepsWhatNoVariableGives) {
  tarsel::sim::ManualClock clock;
  tarsel::sim::Options o;
  o.clock = clock.Source();
  tarsel::sim::SimulatedArm arm(o);
  arm.SetTimeScale(7);
  arm.SetHandType(HandType::kTwoFingers);
  arm.AddFault({FaultKind::kNoAnswer, 105, Fault::kAny, -1});
  tarsel::sim::Configure(arm, From({{"TARSEL_SIM_HAND", "3"}}));
  EXPECT_EQ(arm.Snapshot().timeScale, 7.0);
  EXPECT_EQ(arm.Snapshot().hand, HandType::kThreeFingers);
  Packet read{};
  read.PacketIndex = 1;
  read.PacketCount = 1;
  read.CommandId = 105;
  read.PayloadSize = 1;
  EXPECT_FALSE(arm.Handle(read));  // the fault is still there
  tarsel::sim::Configure(arm, From({{"TARSEL_SIM_FAULT", ""}}));
  EXPECT_TRUE(arm.Handle(read));  // an empty list clears it
}

TEST(SimEnvironment, ReadsEveryVariable) {
  const SimEnvironment env = From({{"TARSEL_SIM_HAND", "2"},
                                   {"TARSEL_SIM_TIME_SCALE", " 12.5 "},
                                   {"TARSEL_SIM_FINGER_POINTS", "0"},
                                   {"TARSEL_SIM_TRACE", "1"},
                                   {"TARSEL_SIM_ARMS", "32"},
                                   {"TARSEL_SIM_FAULT", "unplug:7, absent"}});
  EXPECT_EQ(env.hand, HandType::kTwoFingers);
  EXPECT_EQ(env.timeScale, 12.5);
  EXPECT_EQ(env.fingerInitPoints, 0);
  EXPECT_TRUE(env.trace);
  EXPECT_EQ(env.arms, 32);
  EXPECT_EQ(env.options.hand, HandType::kTwoFingers);
  EXPECT_EQ(env.options.timeScale, 12.5);
  EXPECT_TRUE(env.faultsGiven);
  EXPECT_EQ(env.unplugAfter, 7);
  EXPECT_TRUE(env.absent);
  EXPECT_TRUE(env.problems.empty());
}

struct FaultItem {
  const char* text;
  FaultKind kind;
  int command, index, times;
};

class FaultItems : public ::testing::TestWithParam<FaultItem> {};

TEST_P(FaultItems, Parse) {
  const FaultItem& c = GetParam();
  const SimEnvironment env = From({{"TARSEL_SIM_FAULT", c.text}});
  ASSERT_TRUE(env.problems.empty()) << env.problems.front();
  ASSERT_EQ(env.faults.size(), 1u);
  EXPECT_EQ(env.faults[0].kind, c.kind);
  EXPECT_EQ(env.faults[0].command, c.command);
  EXPECT_EQ(env.faults[0].packetIndex, c.index);
  EXPECT_EQ(env.faults[0].times, c.times);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FaultItems,
    ::testing::Values(FaultItem{"noanswer", FaultKind::kNoAnswer, Fault::kAny, Fault::kAny, -1},
                      FaultItem{"error:105", FaultKind::kErrorBit, 105, Fault::kAny, -1},
                      FaultItem{"negative:200:3", FaultKind::kNegativeVerdict, 200, 3, -1},
                      FaultItem{"noanswer:*:2:4", FaultKind::kNoAnswer, Fault::kAny, 2, 4},
                      FaultItem{" error:*:*:1 ", FaultKind::kErrorBit, Fault::kAny, Fault::kAny,
                                1}));

class BadSettings : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BadSettings, AreIgnoredAndReported) {
  const auto [name, value] = GetParam();
  const SimEnvironment env = From({{name, value}});
  EXPECT_EQ(env.problems.size(), 1u);
  EXPECT_FALSE(env.hand);
  EXPECT_FALSE(env.timeScale);
  EXPECT_FALSE(env.fingerInitPoints);
  EXPECT_FALSE(env.arms);
  EXPECT_TRUE(env.faults.empty());
  EXPECT_FALSE(env.absent);
  EXPECT_EQ(env.unplugAfter, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadSettings,
    ::testing::Values(
        std::pair{"TARSEL_SIM_HAND", "4"}, std::pair{"TARSEL_SIM_HAND", "two"},
        std::pair{"TARSEL_SIM_TIME_SCALE", "0"}, std::pair{"TARSEL_SIM_TIME_SCALE", "-2"},
        std::pair{"TARSEL_SIM_TIME_SCALE", "fast"}, std::pair{"TARSEL_SIM_TIME_SCALE", "nan"},
        std::pair{"TARSEL_SIM_TIME_SCALE", "1e400"}, std::pair{"TARSEL_SIM_FINGER_POINTS", "-1"},
        std::pair{"TARSEL_SIM_FINGER_POINTS", "3x"}, std::pair{"TARSEL_SIM_FAULT", "explode"},
        std::pair{"TARSEL_SIM_FAULT", "error:abc"}, std::pair{"TARSEL_SIM_FAULT", "error:1:2:0"},
        std::pair{"TARSEL_SIM_FAULT", "error:1:2:3:4"}, std::pair{"TARSEL_SIM_FAULT", "unplug"},
        std::pair{"TARSEL_SIM_FAULT", "unplug:-3"}, std::pair{"TARSEL_SIM_FAULT", "absent:1"},
        std::pair{"TARSEL_SIM_ARMS", "0"}, std::pair{"TARSEL_SIM_ARMS", "33"},
        std::pair{"TARSEL_SIM_ARMS", "2.5"}));

TEST(SimEnvironment, GoodFaultsSurviveABadNeighbour) {
  const SimEnvironment env = From({{"TARSEL_SIM_FAULT", "error:105;bogus,,noanswer:21"}});
  EXPECT_EQ(env.faults.size(), 2u);
  EXPECT_EQ(env.problems.size(), 1u);
}

// --- Option texts -------------------------------------------------------------

TEST(SimOptionText, EmptyGivesNothing) {
  for (const char* text : {"", " ", ",,"}) {
    const SimEnvironment env = tarsel::sim::ReadOptionText(text);
    EXPECT_TRUE(env.problems.empty()) << text;
    EXPECT_FALSE(env.hand || env.timeScale || env.fingerInitPoints || env.faultsGiven || env.trace)
        << text;
  }
}

TEST(SimOptionText, KeysStandForTheVariables) {
  const SimEnvironment env = tarsel::sim::ReadOptionText(
      "hand=2, time_scale = 2.5,finger_points=0,trace=1,fault=error:105");
  ASSERT_TRUE(env.problems.empty()) << env.problems.front();
  EXPECT_EQ(env.options.hand, HandType::kTwoFingers);
  EXPECT_EQ(env.options.timeScale, 2.5);
  EXPECT_EQ(env.options.fingerInitPoints, 0);
  EXPECT_TRUE(env.trace);
  ASSERT_EQ(env.faults.size(), 1u);
  EXPECT_EQ(env.faults[0].kind, FaultKind::kErrorBit);
  EXPECT_EQ(env.faults[0].command, 105);
}

// Items without "=" go on with the fault list, wherever it stands.
struct FaultListCase {
  const char* text;
  std::size_t faults;
  long unplugAfter;
};

class FaultLists : public ::testing::TestWithParam<FaultListCase> {};

TEST_P(FaultLists, TakeTheItemsThatFollowThem) {
  const SimEnvironment env = tarsel::sim::ReadOptionText(GetParam().text);
  ASSERT_TRUE(env.problems.empty()) << env.problems.front();
  EXPECT_TRUE(env.faultsGiven);
  EXPECT_EQ(env.faults.size(), GetParam().faults);
  EXPECT_EQ(env.unplugAfter, GetParam().unplugAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, FaultLists,
                         ::testing::Values(FaultListCase{"fault=", 0, -1},
                                           FaultListCase{"fault=error:105,noanswer:200:3:1", 2, -1},
                                           FaultListCase{"fault=noanswer,unplug:9,hand=3", 1, 9},
                                           FaultListCase{"hand=3,fault=error;negative:*:1,error:7",
                                                         3, -1}));

class BadOptionTexts : public ::testing::TestWithParam<const char*> {};

TEST_P(BadOptionTexts, AreReported) {
  const SimEnvironment env = tarsel::sim::ReadOptionText(GetParam());
  EXPECT_FALSE(env.problems.empty());
}

// A problem names the setting as the user gave it: the variable, the key of
// an option text, or what the program's options call it.
TEST(SimSettings, ProblemsNameWhatTheUserTyped) {
  const auto asOption = [](const std::string& key) { return "--" + key; };
  const struct {
    SimEnvironment env;
    const char* said;
  } cases[] = {
      {From({{"TARSEL_SIM_FAULT", "bogus"}}), "TARSEL_SIM_FAULT: \"bogus\" is not a fault"},
      {From({{"TARSEL_SIM_HAND", "4"}}), "TARSEL_SIM_HAND: expected 2 or 3, got \"4\""},
      {tarsel::sim::ReadOptionText("hand=4"), "hand: expected 2 or 3, got \"4\""},
      {tarsel::sim::ReadOptionText("fault=bogus", asOption), "--fault: \"bogus\" is not a fault"},
      {tarsel::sim::ReadOptionText("time_scale=0", asOption), "--time_scale: expected a number"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.env.problems.size(), 1u) << c.said;
    EXPECT_EQ(c.env.problems[0].rfind(c.said, 0), 0u) << c.env.problems[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Table, BadOptionTexts,
                         ::testing::Values("hand", "=2", "speed=3", "HAND=2", "hand=2,hand=3",
                                           "error:105,hand=2", "hand=2,noanswer",
                                           "hand=2,fault=error:x", "time_scale=0", "arms=2"));

}  // namespace
