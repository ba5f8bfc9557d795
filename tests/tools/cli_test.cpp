// The built tarsel tool run against the simulated arm: output and exit status
// of every command, bad arguments and a failing arm.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

  // Starts the tool and returns its process id; Finish waits for it.
  pid_t Start(const std::vector<std::string>& args, const Env& env = {}) {
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t child = ::fork();
    if (child == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

TEST_F(Tool, CtrlCDuringAWaitStopsTheArm) {
  const pid_t tool = Start(
      {"--sim", "--sim-trace", "move", "--joints", "90", "90", "90", "90", "90", "90", "--wait"});
  ASSERT_GT(tool, 0);
  // Interrupt once the tool polls the queue (command 304 in the trace).
  for (int i = 0; i < 500 && ReadFile(Path("stderr")).find(" 304 ") == std::string::npos; ++i) {
    ::usleep(10 * 1000);
  }
  ::kill(tool, SIGINT);
  const Result r = Finish(tool);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("sim:   301 "));  // the queue was erased
  EXPECT_THAT(r.err, ::testing::EndsWith("tarsel: interrupted: the trajectory queue was erased "
                                         "and the arm stopped\n"));
}

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

TEST_F(Tool, ErrorsListAndClear) {
  const Result list = Sim({"errors", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_THAT(list.out, HasSubstr("3 entries in the error log\n"));
  EXPECT_EQ(CountLines(list.out), 5);  // title, header, three entries

  const Result json = Sim({"errors", "list", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["count"], 3);
  ASSERT_EQ(j["entries"].size(), 3u);
  EXPECT_EQ(j["entries"][0]["Flags"].size(), 7u);
  EXPECT_EQ(j["entries"][0]["UIntArray"].size(), 50u);

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
  EXPECT_THAT(r.err, HasSubstr("tarsel: /Zones/2/ZoneValue5: missing"));
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

TEST_F(Tool, FlashReportsARefusedPage) {
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(3000, '\x01'));
  const Env env = {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}, {"TARSEL_SIM_FAULT", "negative:12:1:1"}};
  const Result r = Sim({"flash", image.string()}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(Failed("ProgramFlashWithProgress", TARSEL_ERROR_FIRST_PACKET)));
}

// --- bad arguments ------------------------------------------------------------------

struct BadArguments {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

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
        BadArguments{"hand", {"--sim", "--sim-hand", "4", "status"}, "--sim-hand"},
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
