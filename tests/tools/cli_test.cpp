// The built tarsel tool run against the simulated arm: bad arguments and a
// failing arm, whatever the command.
#include <string>
#include <vector>

#include "cli_support.h"

namespace tarsel::tool::test {
namespace {

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

// --packets-on-failure FILE: a failed command leaves the packets that led
// there in FILE, a pcapng capture, and says where; a command that succeeds
// writes nothing, and a FILE that cannot be written is named.
TEST_F(Tool, PacketsOnFailureSavesTheRecentPackets) {
  const fs::path file = dir_ / "failed.pcapng";
  const Result ok = Sim({"--packets-on-failure", file.string(), "status"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_FALSE(fs::exists(file));

  const Env silent = {{"TARSEL_SIM_FAULT", "noanswer:62"}};
  const Result failed = Sim({"--packets-on-failure", file.string(), "status"}, silent);
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, HasSubstr("the packets that led to the failure are in " + file.string()));
  EXPECT_THAT(failed.err, HasSubstr(Failed("GetQuickStatus", TARSEL_ERROR_NO_ANSWER)));
  EXPECT_EQ(ReadFile(file).substr(0, 4), std::string("\x0a\x0d\x0d\x0a", 4));

  const std::string nowhere = (dir_ / "no-such-folder" / "failed.pcapng").string();
  const Result unsaved = Sim({"--packets-on-failure", nowhere, "status"}, silent);
  EXPECT_EQ(unsaved.status, 1);
  EXPECT_THAT(unsaved.err, HasSubstr(Failed("saving the recent packets to " + nowhere,
                                            TARSEL_ERROR_FILE_WRITE)));
}

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
}  // namespace tarsel::tool::test
