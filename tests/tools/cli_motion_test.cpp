// tarsel positions, home, move and fingers against the simulated arm.
#include <signal.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"

namespace tarsel::tool::test {
namespace {

// --- positions ----------------------------------------------------------------

TEST_F(Tool, PositionsOnce) {
  const Result r = Sim({"positions"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(CountLines(r.out), 2) << r.out;
  EXPECT_THAT(r.out,
              ::testing::MatchesRegex(" +A1 +A2 +A3 +A4 +A5 +A6 +F1 +F2 +F3\n"
                                      "( +-?[0-9]+\\.[0-9]{3}){6}( +-?[0-9]+\\.[0-9]){3}\n"));
  const Result c = Sim({"positions", "--cartesian", "--json"});
  ASSERT_EQ(c.status, 0) << c.err;
  const auto j = nlohmann::json::parse(c.out);
  EXPECT_TRUE(j["Coordinates"]["Z"].is_number());
  EXPECT_TRUE(j["Fingers"]["Finger3"].is_number());
}

TEST_F(Tool, PositionsRepeatAtTheRate) {
  const Result r = Sim({"positions", "--count", "4", "--rate", "50"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountLines(r.out), 5) << r.out;  // header and four samples
  const Result j = Sim({"positions", "-n", "3", "-r", "100", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  std::istringstream lines(j.out);
  std::string line;
  double last = -1;
  int samples = 0;
  while (std::getline(lines, line)) {
    const auto sample = nlohmann::json::parse(line);
    const double t = sample["time"];
    EXPECT_GT(t, last);
    last = t;
    EXPECT_TRUE(sample["Actuators"]["Actuator6"].is_number());
    ++samples;
  }
  EXPECT_EQ(samples, 3);
  EXPECT_GE(last, 0.015);  // two periods of 10 ms passed
}

TEST_F(Tool, WatchStopsCleanlyOnCtrlC) {
  const pid_t tool = Start({"--sim", "positions", "--watch", "--rate", "100"});
  ASSERT_GT(tool, 0);
  // Interrupt once samples are coming (the handler is in place by then).
  for (int i = 0; i < 500 && CountLines(ReadFile(Path("stdout"))) < 3; ++i) ::usleep(10 * 1000);
  ::kill(tool, SIGINT);
  const Result r = Finish(tool);
  EXPECT_EQ(r.status, 0) << r.err;  // the loop ended and the arm was closed
  EXPECT_GE(CountLines(r.out), 3) << r.out;
}

// --- motion -------------------------------------------------------------------

TEST_F(Tool, HomeWaitsUntilThere) {
  const Result r = Sim({"home"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("The arm is home"));
}

TEST_F(Tool, MoveWithWaitEndsAtTheTarget) {
  const Result r = Sim({"move", "--joints", "10", "200", "100", "5", "90", "-20", "--wait"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Point reached"));
  EXPECT_THAT(r.out, HasSubstr("    10.000   200.000   100.000     5.000    90.000   -20.000"));
}

TEST_F(Tool, MoveWithFingersAndWithoutWait) {
  const Result r = Sim({"move", "--joints", "0", "180", "90", "0", "0", "0", "--fingers", "10",
                        "20", "30", "--take-control"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Point queued.\n");
}

TEST_F(Tool, CartesianMoveWithWait) {
  // Read where the hand is, then ask for the same pose 2 cm lower.
  const Result here = Sim({"positions", "--cartesian", "--json"});
  ASSERT_EQ(here.status, 0) << here.err;
  const auto c = nlohmann::json::parse(here.out)["Coordinates"];
  const float z = c["Z"].get<float>() - 0.02f;
  auto text = [](const nlohmann::json& v) { return std::to_string(v.get<double>()); };
  const Result r =
      Sim({"move", "--cartesian", text(c["X"]), text(c["Y"]), std::to_string(z),
           text(c["RotationX"]), text(c["RotationY"]), text(c["RotationZ"]), "--wait"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Point reached"));
  EXPECT_THAT(r.out, HasSubstr("RZ"));
}

TEST_F(Tool, MoveWaitGivesUpAfterTheTimeout) {
  // Real time: the long move cannot end within 50 ms.
  const Result r = Run({"--sim", "move", "--joints", "90", "90", "90", "90", "90", "90", "--wait",
                        "--timeout", "0.05"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, ::testing::MatchesRegex(
                         "tarsel: the trajectory queue still holds [0-9]+ points? after 0.05 s\n"));
}

// A move cut short by Ctrl-C: the queue is erased (command 301), the arm
// stops, and the tool says so and ends with 130. The slow simulated clock
// keeps every move going for minutes, and the cue is the first queue poll.
struct InterruptedMove {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const InterruptedMove& c, std::ostream* os) {
  *os << c.name;
}

class Interrupted : public Tool, public ::testing::WithParamInterface<InterruptedMove> {};

TEST_P(Interrupted, ErasesTheQueueAndSaysSo) {
  std::vector<std::string> args = {"--sim", "--sim-speed", "0.01", "--sim-trace"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const Result r = Interrupt(args, {}, " 304 ");
  EXPECT_EQ(r.status, 130);
  EXPECT_THAT(r.err, HasSubstr("sim:   301 "));
  EXPECT_THAT(r.err,
              ::testing::EndsWith(std::string("tarsel: interrupted: ") + GetParam().message));
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CtrlC, Interrupted,
    ::testing::Values(
        InterruptedMove{"move_wait",
                        {"move", "--joints", "90", "90", "90", "90", "90", "90", "--wait"},
                        "the trajectory queue was erased and the arm stopped\n"},
        InterruptedMove{"home",
                        {"home"},
                        "the trajectory queue was erased and the arm stopped short of home\n"}),
    [](const auto& info) { return info.param.name; });

// A point the arm cannot reach: the simulated arm keeps its joints within
// -720 .. 720 degrees and takes a Cartesian target out of reach to the
// closest pose it finds, so the queue empties with the arm short of it.
struct Unreachable {
  const char* name;
  std::vector<std::string> target;
  const char* message;  // regular expression of the last line
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const Unreachable& c, std::ostream* os) {
  *os << c.name;
}

class OutOfReach : public Tool, public ::testing::WithParamInterface<Unreachable> {};

TEST_P(OutOfReach, SaysHowFarOffTheArmStopped) {
  std::vector<std::string> args = {"move"};
  args.insert(args.end(), GetParam().target.begin(), GetParam().target.end());
  args.push_back("--wait");
  const Result r = Sim(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, ::testing::StartsWith("Point not reached ("));
  EXPECT_THAT(r.err, ::testing::MatchesRegex(
                         std::string("tarsel: the arm settled away from the point, which is out "
                                     "of reach: ") +
                         GetParam().message + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, OutOfReach,
    ::testing::Values(Unreachable{"joints_past_their_limits",
                                  {"--joints", "-1000", "20", "100", "0", "60", "1000"},
                                  "A1 is at -720\\.000 deg, 280\\.000 from -1000\\.000; "
                                  "A6 is at 720\\.000 deg, 280\\.000 from 1000\\.000"},
                      // Three metres ahead: more than a metre beyond the arm's reach.
                      Unreachable{"pose_too_far",
                                  {"--cartesian", "3", "0", "0.5", "0", "0", "0"},
                                  "the hand is [1-9][0-9]*\\.[0-9]{3} m from it"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, FingersInitOnBothHands) {
  for (const auto& [hand, text] :
       {std::pair{"3", "three fingers"}, std::pair{"2", "two fingers"}}) {
    const Result r = Run({"--sim", "--sim-hand", hand, "fingers", "init"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(std::string("Fingers initialised (") + text));
  }
}

TEST_F(Tool, FingersInitFailsWhenTheFlagsStayDown) {
  // The fingers want more points than the 1000 cycles of InitFingers give
  // (each cycle's 6 ms pause shortened by the preload).
  const Env env = {{"TARSEL_SIM_FINGER_POINTS", "5000"}, {"LD_PRELOAD", TARSEL_QUICK_SLEEP}};
  Result r = Run({"--sim", "fingers", "init"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tarsel: InitFingers gave up: fingers 1, 2, 3 did not report themselves initialised\n");
  r = Run({"--sim", "--sim-hand", "2", "fingers", "init"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tarsel: InitFingers gave up: fingers 1, 2 did not report themselves initialised\n");
}

}  // namespace
}  // namespace tarsel::tool::test
