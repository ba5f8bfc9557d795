// The built tarsel tool run against the simulated arm: output and exit status
// of every command, bad arguments and a failing arm.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tarsel/result.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Env = std::vector<std::pair<std::string, std::string>>;

struct Result {
  int status = -1;  // exit status, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarsel-tool-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool with args; env is added to (and overrides) this process's
  // environment, with every simulator variable cleared first.
  Result Run(const std::vector<std::string>& args, const Env& env = {}) {
    return Finish(Start(args, env));
  }

  // Starts the tool and returns its process id; Finish waits for it. Its
  // standard error goes to errPipe when one is given.
  pid_t Start(const std::vector<std::string>& args, const Env& env = {}, int errPipe = -1) {
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t child = ::fork();
    if (child == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e =
          errPipe >= 0 ? errPipe : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0) ::_exit(126);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::dup2(in, 0);
      for (const char* name :
           {"TARSEL_SIM_HAND", "TARSEL_SIM_TIME_SCALE", "TARSEL_SIM_FINGER_POINTS",
            "TARSEL_SIM_FAULT", "TARSEL_SIM_TRACE", "TARSEL_SIM_LINK", "LD_PRELOAD"}) {
        ::unsetenv(name);
      }
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(TARSEL_TOOL));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(TARSEL_TOOL, argv.data());
      ::_exit(127);
    }
    return child;
  }

  Result Finish(pid_t child) {
    Result r;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
      r.status = WEXITSTATUS(status);
    }
    r.out = ReadFile(dir_ / "stdout");
    r.err = ReadFile(dir_ / "stderr");
    return r;
  }

  // Runs the tool with its standard error on a pipe, reads that until cue
  // appears, sends Ctrl-C (SIGINT) and reads the rest. Tools that trace the
  // simulator's exchanges there cannot run on past the cue for long: once
  // the pipe is full they wait for the reader, so the signal lands while the
  // work is still going on, however slow the machine.
  Result Interrupt(const std::vector<std::string>& args, const Env& env, const std::string& cue) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t child = Start(args, env, fds[1]);
    ::close(fds[1]);
    std::string err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    EXPECT_TRUE(ReadUntil(fds[0], err, cue, deadline)) << "no \"" << cue << "\" within a minute:\n"
                                                       << err;
    ::kill(child, SIGINT);
    if (!ReadUntil(fds[0], err, "", deadline + std::chrono::seconds(60))) {
      ADD_FAILURE() << "the tool did not end after Ctrl-C";
      ::kill(child, SIGKILL);
    }
    ::close(fds[0]);
    Result r = Finish(child);
    r.err = err;
    return r;
  }

  // Appends what fd delivers to text until text holds cue, or with an empty
  // cue until the pipe is closed. False when the deadline passes first, or
  // the pipe closes before cue came.
  static bool ReadUntil(int fd, std::string& text, const std::string& cue,
                        std::chrono::steady_clock::time_point deadline) {
    char buffer[4096];
    while (cue.empty() || text.find(cue) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return cue.empty();
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // The tool against the simulated arm, motion a hundred times faster.
  Result Sim(std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), {"--sim", "--sim-speed", "100"});
    return Run(args, env);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }

  fs::path dir_;
};

// The tool's message for a failed export.
std::string Failed(const std::string& what, int code) {
  return "tarsel: " + what + " failed: " + std::to_string(code) + " (" + GetResultMessage(code) +
         ")\n";
}

// --- several arms -----------------------------------------------------------

struct ArmChoice {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // a part of standard output
  std::string err;  // a part of standard error
  Env env = {};
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const ArmChoice& c, std::ostream* os) {
  *os << c.name;
}

class ArmChoices : public Tool, public ::testing::WithParamInterface<ArmChoice> {};

TEST_P(ArmChoices, ListAndChoose) {
  const ArmChoice& c = GetParam();
  const Result r = Sim(c.args, c.env);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_THAT(r.out, HasSubstr(c.out));
  EXPECT_THAT(r.err, HasSubstr(c.err));
}

INSTANTIATE_TEST_SUITE_P(
    Arms, ArmChoices,
    ::testing::Values(
        ArmChoice{"listed", {"--sim-arms", "2", "arms"}, 0, "sim:2 ", ""},
        ArmChoice{"listed_json", {"--sim-arms", "2", "arms", "--json"}, 0, "\"path\": \"sim:2\"", ""},
        ArmChoice{"chosen", {"--sim-arms", "2", "--arm", "sim:2", "status"}, 0, "", ""},
        ArmChoice{"missing",
                  {"--sim-arms", "2", "--arm", "sim:3", "positions"},
                  1,
                  "",
                  Failed("opening arm sim:3", TARSEL_ERROR_NO_ARM)},
        ArmChoice{"no_service",
                  {"arms"},
                  0,
                  "no tarsel-sim answers on /nonexistent/sim.sock (TARSEL_SIM_SOCKET)",
                  "",
                  {{"TARSEL_SIM_SOCKET", "/nonexistent/sim.sock"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- status and version -----------------------------------------------------

TEST_F(Tool, StatusShowsTheArm) {
  const Result r = Sim({"status"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(r.out, HasSubstr("Arm (simulated)"));
  EXPECT_THAT(r.out, HasSubstr("Control type"));
  EXPECT_THAT(r.out, HasSubstr("three fingers (hand type 0)"));
  EXPECT_THAT(r.out, HasSubstr("1 not initialised, 2 not initialised, 3 not initialised"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("\n  Error log +3 entries\n"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("\n  API library +5\\.0\\.6\n"));
  EXPECT_THAT(r.out, HasSubstr("General information"));
}

TEST_F(Tool, StatusJsonFollowsTheHand) {
  for (const auto& [hand, type, name] :
       {std::tuple{"3", 0, "three fingers"}, std::tuple{"2", 2, "two fingers"}}) {
    const Result r = Run({"--sim", "--sim-hand", hand, "status", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["simulated"], true);
    EXPECT_EQ(j["hand"], name);
    EXPECT_EQ(j["quick_status"]["HandType"], type);
    EXPECT_EQ(j["api_version"], "5.0.6");
    EXPECT_EQ(j["code_version"].size(), 37u);
    EXPECT_EQ(j["error_count"], 3);
    EXPECT_TRUE(j["general_information"].contains("Position4"));
  }
}

TEST_F(Tool, VersionNamesLibraryAndArmCode) {
  const Result r = Sim({"version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("tarsel 5.0.6\nAPI library 5.0.6\nArm code "));
  const Result j = Sim({"version", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(nlohmann::json::parse(j.out)["code_version"].size(), 37u);
  // The tool's own version needs no arm at all.
  const Result local = Run({"--version"});
  EXPECT_EQ(local.status, 0);
  EXPECT_EQ(local.out, "tarsel 5.0.6\n");
}

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

// --- error log ----------------------------------------------------------------

// The factory log's three entries in one form of `errors list`: by
// meaning (the decoding the live view uses too), or raw by field name.
struct ErrorListing {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> lines;  // text: a pattern for the header and each entry
  nlohmann::json lastEntry;        // JSON: fields of the third entry
};

void PrintTo(const ErrorListing& c, std::ostream* os) {
  *os << c.name;
}

// The 50 data values of an entry whose first is first.
nlohmann::json Data(unsigned first) {
  nlohmann::json data = nlohmann::json::array({first});
  for (int i = 1; i < 50; ++i) data.push_back(0);
  return data;
}

class ErrorLogForms : public Tool, public ::testing::WithParamInterface<ErrorListing> {};

TEST_P(ErrorLogForms, ShowTheFactoryLog) {
  const ErrorListing& c = GetParam();
  const Result r = Sim(c.args);
  ASSERT_EQ(r.status, 0) << r.err;
  if (!c.lastEntry.is_null()) {
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["count"], 3);
    ASSERT_EQ(j["entries"].size(), 3u);
    EXPECT_EQ(j["entries"][2].size(), c.lastEntry.size());
    for (const auto& [key, value] : c.lastEntry.items()) EXPECT_EQ(j["entries"][2][key], value) << key;
    return;
  }
  std::istringstream out(r.out);
  std::string line;
  std::getline(out, line);
  EXPECT_EQ(line, "3 entries in the error log");
  for (const std::string& pattern : c.lines) {
    std::getline(out, line);
    EXPECT_TRUE(std::regex_match(line, std::regex(pattern))) << line << "\nis not\n" << pattern;
  }
  EXPECT_EQ(CountLines(r.out), 1 + static_cast<int>(c.lines.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ErrorLogForms,
    ::testing::Values(
        ErrorListing{"decoded",
                     {"errors", "list"},
                     {R"( +# +code +device +severity +count +time \(s\) +values +flags +data)",
                      R"( +0 +0x0102 +actuator 3 +warning +2 +125 +61 60 +1000000 +\[0\]=1)",
                      R"( +1 +0x0201 +controller +information +1 +0 +0 0 +0000000 +\[0\]=2)",
                      R"( +2 +0x0305 +finger 2 +error +1 +342 +1500 0 +1100000 +\[0\]=3)"},
                     nullptr},
        ErrorListing{"raw",
                     {"errors", "list", "--raw"},
                     {R"( +# +UIntValue1 +IntValue1 +IntValue2 +IntValue3 +UIntValue2 +Flags +IntValue4 )"
                      R"(+IntValue5 +UIntArray)",
                      R"( +0 +258 +3 +1 +2 +125 +1000000 +61 +60 +\[0\]=1)",
                      R"( +1 +513 +0 +0 +1 +0 +0000000 +0 +0 +\[0\]=2)",
                      R"( +2 +773 +8 +2 +1 +342 +1100000 +1500 +0 +\[0\]=3)"},
                     nullptr},
        ErrorListing{"decoded_json",
                     {"errors", "list", "--json"},
                     {},
                     {{"index", 2},
                      {"code", 773},
                      {"codeText", "0x0305"},
                      {"device", 8},
                      {"deviceName", "finger 2"},
                      {"severity", 2},
                      {"severityName", "error"},
                      {"occurrences", 1},
                      {"time", 342},
                      {"values", {1500, 0}},
                      {"flags", {true, true, false, false, false, false, false}},
                      {"data", Data(3)}}},
        ErrorListing{"raw_json",
                     {"errors", "list", "--raw", "--json"},
                     {},
                     {{"UIntValue1", 773},
                      {"IntValue1", 8},
                      {"IntValue2", 2},
                      {"IntValue3", 1},
                      {"UIntValue2", 342},
                      {"Flags", {true, true, false, false, false, false, false}},
                      {"IntValue4", 1500},
                      {"IntValue5", 0},
                      {"UIntArray", Data(3)}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, ErrorsClear) {
  const Result clear = Sim({"errors", "clear"});
  ASSERT_EQ(clear.status, 0) << clear.err;
  EXPECT_EQ(clear.out, "Cleared the error log (3 entries removed).\n");
}

// --- stored blocks --------------------------------------------------------------

// Changes a dumped document into one full of awkward values.
using Edit = std::function<void(nlohmann::ordered_json&)>;

struct BlockCase {
  const char* command;
  Edit edit;
};

class Blocks : public Tool, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(Blocks, DumpLoadDumpIsExact) {
  const std::string command = GetParam().command;
  const fs::path first = Path("first.json");
  const Result dump = Sim({command, "dump", first.string()});
  ASSERT_EQ(dump.status, 0) << dump.err;

  // The plain dump loads back and reads back byte for byte.
  const fs::path back = Path("back.json");
  Result load = Sim({command, "load", first.string(), "--read-back", back.string()});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_THAT(load.out, HasSubstr("the arm reads it back identical"));
  EXPECT_EQ(ReadFile(back), ReadFile(first));

  // So does one full of NaN payloads, infinities, negative zeros, subnormals
  // and binary texts, which the arm stores unchanged.
  auto document = nlohmann::ordered_json::parse(ReadFile(first));
  GetParam().edit(document);
  const fs::path edited = Path("edited.json");
  WriteFile(edited, document.dump(2) + "\n");
  load = Sim({command, "load", edited.string(), "--read-back", back.string()});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(ReadFile(back), ReadFile(edited));
  EXPECT_NE(ReadFile(back), ReadFile(first));

  // To stdout, a dump is the bare document.
  const Result out = Sim({command, "dump"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out, ReadFile(first));
}

void EditZones(nlohmann::ordered_json& d) {
  d["ListValue1"] = -2147483647 - 1;
  auto& zone = d["Zones"][9];
  zone["ZoneValue5"] = 2147483647;
  zone["Points"][7]["X"] = "0x7fa00001";
  zone["Points"][7]["Y"] = "-inf";
  zone["Points"][0]["RotationZ"] = -0.0;
  zone["Parameters"][8] = 1e-45;
  zone["Parameters"][0] = "-nan";
}

void EditConfig(nlohmann::ordered_json& d) {
  d["Text1"] = "ABCDEFGHIJKLMNOPQRST";
  d["Text5"] = {{"hex", "00ff00ff00ff00ff00ff00ff00ff00ff00ff0001"}};
  d["FloatValue3"] = "nan";
  d["FloatValue10"] = 3.4028235e38;
  nlohmann::ordered_json position = d["StoredPositions"][0];
  position["Parameter"] = "0xffc00001";
  position["Fingers"]["Finger2"] = 6800.5;
  d["StoredPositions"].push_back(position);
  d["StoredPositionCount"] = 2;
}

void EditMapping(nlohmann::ordered_json& d) {
  d["ChartsValue2"] = -1;
  auto& entry = d["Mappings"][5]["SecondEntries"][5];
  entry["EntryValue1"] = 123456;
  entry["BytePairs"][5] = "ff01";
  entry["ByteGroups"][25] = "0102030405a6f7";
  d["Mappings"][0]["MappingValue3"] = 7;
}

INSTANTIATE_TEST_SUITE_P(AllThree, Blocks,
                         ::testing::Values(BlockCase{"zones", EditZones},
                                           BlockCase{"config", EditConfig},
                                           BlockCase{"mapping", EditMapping}),
                         [](const auto& info) { return std::string(info.param.command); });

TEST_F(Tool, LoadRefusesABadFileBeforeSendingAnything) {
  const fs::path file = Path("zones.json");
  ASSERT_EQ(Sim({"zones", "dump", file.string()}).status, 0);
  // A zones file is no client configuration.
  Result r = Sim({"config", "load", file.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("/block: this file holds \"ZoneList\", not ClientConfigurations"));
  // A misspelt key is named.
  auto document = nlohmann::ordered_json::parse(ReadFile(file));
  document["Zones"][2]["ZoneValue9"] = document["Zones"][2]["ZoneValue5"];
  document["Zones"][2].erase("ZoneValue5");
  WriteFile(file, document.dump());
  r = Sim({"zones", "load", file.string()}, {{"TARSEL_SIM_TRACE", "1"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("tarsel: /Zones/2/ZoneValue9: unknown key; did you mean \"ZoneValue5\"?"));
  EXPECT_THAT(r.err, Not(HasSubstr("sim:")));  // not even InitAPI ran
  r = Sim({"zones", "load", Path("absent.json").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot open"));
}

TEST_F(Tool, ZonesErase) {
  const Result r = Sim({"zones", "erase"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Erased the protection zones.\n");
}

// --- firmware -------------------------------------------------------------------

TEST_F(Tool, FlashShowsProgress) {
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(5000, '\x5a'));
  const Env quick = {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}};
  const Result r = Sim({"flash", image.string()}, quick);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Programmed 5000 bytes in 3 pages.\n");
  EXPECT_THAT(r.err, HasSubstr("(5000 bytes, 3 pages of 2048 bytes)"));
  // Not a terminal: one line per step, ending complete.
  EXPECT_THAT(r.err, HasSubstr("Flashing 0/3 pages 0%\nFlashing 1/3 pages 33%\n"
                               "Flashing 2/3 pages 66%\nFlashing 3/3 pages 100%\n"));
}

TEST_F(Tool, FlashRefusesEmptyAndMissingImages) {
  const fs::path empty = Path("empty.bin");
  WriteFile(empty, "");
  Result r = Sim({"flash", empty.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("is empty; --force programs it anyway"));
  r = Sim({"flash", Path("none.bin").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot open"));
}

// A page the arm does not take stops the transfer there; the bar never
// shows it, and the message names the page and the last one accepted.
struct FlashFault {
  const char* name;
  const char* fault;  // TARSEL_SIM_FAULT
  std::string end;    // the end of standard error, from the last progress line
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FlashFault& c, std::ostream* os) {
  *os << c.name;
}

class FlashFaults : public Tool, public ::testing::WithParamInterface<FlashFault> {};

TEST_P(FlashFaults, StopAtTheFailedPage) {
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(7000, '\x01'));  // four pages
  const Env env = {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}, {"TARSEL_SIM_FAULT", GetParam().fault}};
  const Result r = Sim({"flash", image.string()}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, ::testing::EndsWith(GetParam().end));
  EXPECT_EQ(r.out, "");
}

std::string PageFailed(int page, int code) {
  return "tarsel: page " + std::to_string(page) + " of 4 failed: " + std::to_string(code) + " (" +
         GetResultMessage(code) + ")\n";
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FlashFaults,
    ::testing::Values(
        FlashFault{"first_page_refused", "negative:12:*:1",
                   "Flashing 0/4 pages 0%\n" + PageFailed(1, TARSEL_ERROR_FIRST_PACKET) +
                       "the arm accepted none of the 4 pages; it now holds an incomplete image\n"},
        FlashFault{"later_packet_refused", "negative:12:7:1",
                   "Flashing 0/4 pages 0%\n" + PageFailed(1, TARSEL_ERROR_LATER_PACKET) +
                       "the arm accepted none of the 4 pages; it now holds an incomplete image\n"},
        // Exchange 101 goes unanswered: the start command, two pages of 40
        // packets, then the twentieth packet of page 3.
        FlashFault{"silent_in_page_3", "unplug:100",
                   "Flashing 2/4 pages 50%\n" + PageFailed(3, TARSEL_ERROR_NO_ANSWER) +
                       "page 2 of 4 was the last the arm accepted; the arm now holds an "
                       "incomplete image\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, CtrlCDuringFlashStopsBetweenPages) {
  // 500 pages, whose trace is far more than a pipe holds.
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(500 * 2048 - 1, '\x5a'));
  const std::string page = "sim:    12 ";
  const Result r = Interrupt({"--sim", "--sim-trace", "flash", image.string()},
                             {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}}, page);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.out, "");
  const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      last, m,
      std::regex("tarsel: interrupted: page ([0-9]+) of 500 was the last the arm accepted; "
                 "the arm now holds an incomplete image\n")))
      << last;
  const int accepted = std::stoi(m[1]);
  EXPECT_LT(accepted, 500);
  // No page went out after the last one accepted (a trace line cut short by
  // the signal can only lower the count).
  int packets = 0;
  for (auto at = r.err.find(page); at != std::string::npos; at = r.err.find(page, at + 1)) {
    ++packets;
  }
  EXPECT_LE(packets, 40 * accepted);
  EXPECT_GT(packets, 0);
}

// --- bad arguments ------------------------------------------------------------------

struct BadArguments {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const BadArguments& c, std::ostream* os) {
  *os << c.name;
}

class Arguments : public Tool, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(Arguments, AreRefusedWithStatusTwo) {
  const Result r = Run(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr(GetParam().message));
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Arguments,
    ::testing::Values(
        BadArguments{"no_command", {}, "A subcommand is required"},
        BadArguments{
            "five_joints", {"--sim", "move", "--joints", "1", "2", "3", "4", "5"}, "--joints"},
        BadArguments{"two_targets",
                     {"--sim", "move", "--joints", "1", "2", "3", "4", "5", "6", "--cartesian", "1",
                      "2", "3", "4", "5", "6"},
                     "Exactly 1 option from [--joints,--cartesian] is required and 2 were given"},
        BadArguments{"no_target",
                     {"--sim", "move", "--wait"},
                     "Exactly 1 option from [--joints,--cartesian] is required"},
        BadArguments{"letters", {"--sim", "move", "--joints", "1", "2", "x", "4", "5", "6"}, "x"},
        BadArguments{"rate", {"--sim", "positions", "--rate", "-5"}, "--rate"},
        BadArguments{"rate_too_high",
                     {"--sim", "positions", "--rate", "5000"},
                     "tarsel: --rate: 5000 is out of range; allowed 0.01 to 1000\n"},
        BadArguments{"no_samples",
                     {"--sim", "positions", "--count", "0"},
                     "tarsel: --count: 0 is out of range; allowed 1 or more\n"},
        BadArguments{"part_sample",
                     {"--sim", "positions", "--count", "2.5"},
                     "tarsel: --count: 2.5 is not a whole number\n"},
        BadArguments{"no_time",
                     {"--sim", "move", "--joints", "1", "2", "3", "4", "5", "6", "--timeout", "0"},
                     "tarsel: --timeout: 0 is out of range; allowed any number above 0\n"},
        BadArguments{"speed_word",
                     {"--sim", "--sim-speed", "fast", "status"},
                     "tarsel: --sim-speed: fast is not a number\n"},
        BadArguments{"hand",
                     {"--sim", "--sim-hand", "4", "status"},
                     "tarsel: --sim-hand: 4 is not allowed; allowed 2 or 3\n"},
        BadArguments{"fault",
                     {"--sim", "--sim-fault", "bogus", "status"},
                     "tarsel: --sim-fault: \"bogus\" is not a fault (expected "},
        BadArguments{"misspelt_command",
                     {"statsu"},
                     "tarsel: unknown command 'statsu'; did you mean 'status'?\n"},
        BadArguments{"misspelt_after_options",
                     {"--sim", "--sim-fault", "error:105", "posiitons", "--json"},
                     "tarsel: unknown command 'posiitons'; did you mean 'positions'?\n"},
        BadArguments{"misspelt_second_word",
                     {"errors", "lsit"},
                     "tarsel: unknown command 'errors lsit'; did you mean 'errors list'?\n"},
        BadArguments{"short_misspelt", {"hom"}, "did you mean 'home'?\n"},
        BadArguments{"unknown_command", {"frobnicate"}, "tarsel: unknown command 'frobnicate'\n"},
        BadArguments{"short_word_two_edits_off", {"hzze"}, "unknown command 'hzze'\n"},
        BadArguments{
            "hand_without_sim", {"--sim-hand", "2", "status"}, "--sim-hand requires --sim"},
        BadArguments{"load_without_file", {"--sim", "config", "load"}, "FILE is required"},
        BadArguments{"unknown_option", {"--sim", "status", "--frobnicate"}, "--frobnicate"}),
    [](const auto& info) { return info.param.name; });

// --- a failing arm ----------------------------------------------------------------------

struct FailingArm {
  const char* name;
  std::vector<std::string> args;
  const char* fault;  // TARSEL_SIM_FAULT
  std::string message;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FailingArm& c, std::ostream* os) {
  *os << c.name;
}

class Failures : public Tool, public ::testing::WithParamInterface<FailingArm> {};

TEST_P(Failures, NameTheCodeAndItsMeaning) {
  const Result r = Sim(GetParam().args, {{"TARSEL_SIM_FAULT", GetParam().fault}});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.err, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Failures,
    ::testing::Values(
        FailingArm{"error_bit",
                   {"positions"},
                   "error:105",
                   Failed("GetAngularPosition", TARSEL_ERROR_ANSWER_ERROR_BIT)},
        FailingArm{"refused",
                   {"positions", "-c"},
                   "negative:104",
                   Failed("GetCartesianPosition", TARSEL_ERROR_FIRST_PACKET)},
        FailingArm{"silent",
                   {"status"},
                   "noanswer:62",
                   Failed("GetQuickStatus", TARSEL_ERROR_NO_ANSWER)},
        FailingArm{"later_packet",
                   {"config", "dump"},
                   "negative:1:2",
                   Failed("GetClientConfigurations", TARSEL_ERROR_LATER_PACKET)},
        FailingArm{"no_arm", {"status"}, "absent", Failed("InitAPI", TARSEL_ERROR_NO_ARM)},
        FailingArm{
            "home", {"home"}, "error:311", Failed("MoveHome", TARSEL_ERROR_ANSWER_ERROR_BIT)},
        FailingArm{"queue",
                   {"move", "--joints", "1", "2", "3", "4", "5", "6", "--wait"},
                   "negative:304",
                   Failed("GetGlobalTrajectoryInfo", TARSEL_ERROR_FIRST_PACKET)},
        FailingArm{"fingers",
                   {"fingers", "init"},
                   "error:62",
                   Failed("InitFingers", TARSEL_ERROR_ANSWER_ERROR_BIT)},
        FailingArm{"clear",
                   {"errors", "clear"},
                   "error:25",
                   Failed("ClearErrorLog", TARSEL_ERROR_ANSWER_ERROR_BIT)},
        FailingArm{"entry",
                   {"errors", "list"},
                   "error:21",
                   Failed("GetSystemError(0)", TARSEL_ERROR_ANSWER_ERROR_BIT)}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, LoadReportsAFailedWriteOrReadBack) {
  const fs::path file = Path("zones.json");
  ASSERT_EQ(Sim({"zones", "dump", file.string()}).status, 0);
  Result r = Sim({"zones", "load", file.string()}, {{"TARSEL_SIM_FAULT", "negative:38:3"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Failed("SetProtectionZone", TARSEL_ERROR_LATER_PACKET));
  // The write is taken, but the check that follows cannot read the zones.
  r = Sim({"zones", "load", file.string()}, {{"TARSEL_SIM_FAULT", "error:39"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Failed("GetProtectionZone", TARSEL_ERROR_ANSWER_ERROR_BIT));
  // Without the check the load succeeds.
  r = Sim({"zones", "load", file.string(), "--no-verify"}, {{"TARSEL_SIM_FAULT", "error:39"}});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Tool, NoSimulatorLibrary) {
  const Result r = Run({"--sim", "status"}, {{"TARSEL_SIM_LINK", (dir_ / "nothing.so").string()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("the simulated arm's link library"));
  EXPECT_THAT(r.err, HasSubstr("nothing.so (not found)"));
  EXPECT_THAT(r.err, HasSubstr("TARSEL_SIM_LINK"));
}

}  // namespace
