// tarsel-sim as the programs that use it see it: the arms' state lasts from
// one program to the next, several programs use the arms at once, a program
// that dies or stalls in the middle of a message leaves the arm answering
// the next one, the service's settings and faults apply, and it stops
// cleanly.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>

#include "service_fixture.h"
#include "tarsel/comm_layer.h"
#include "tarsel/result.h"

namespace servicetest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// --- The state lasts from one program to the next --------------------------------

// The client configuration with its second text changed, as a file `config
// load` takes.
fs::path ChangedConfiguration(const ServiceTest& test, const std::string& dumped,
                              const std::string& text) {
  nlohmann::ordered_json config = nlohmann::ordered_json::parse(dumped);
  config["Text2"] = text;
  const fs::path file = test.Path(text + ".json");
  std::ofstream(file) << config.dump(2) << "\n";
  return file;
}

TEST_F(ServiceTest, AConfigurationLoadedByOneProgramIsDumpedByTheNext) {
  ASSERT_TRUE(StartService({}));
  const Result before = Tool({"config", "dump"});
  ASSERT_EQ(before.status, 0) << before.err;
  ASSERT_THAT(before.out, HasSubstr("\"Text2\": \"simulated\""));

  const Result load = Tool({"config", "load", ChangedConfiguration(*this, before.out, "kept").string()});
  ASSERT_EQ(load.status, 0) << load.err;

  const Result after = Tool({"config", "dump"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_THAT(after.out, HasSubstr("\"Text2\": \"kept\""));
}

struct Handover {
  const char* name;
  std::vector<std::string> write;
  std::vector<std::string> read;
  std::string shown;
};

void PrintTo(const Handover& c, std::ostream* out) { *out << c.name; }

class Handovers : public ServiceTest, public ::testing::WithParamInterface<Handover> {};

TEST_P(Handovers, WhatOneProgramDoesTheNextSees) {
  const Handover& h = GetParam();
  ASSERT_TRUE(StartService({"--arms", "2", "--time-scale", "20"}));
  const Result write = Tool(h.write);
  ASSERT_EQ(write.status, 0) << write.err;
  const Result read = Tool(h.read);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_THAT(read.out, HasSubstr(h.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Service, Handovers,
    ::testing::Values(
        Handover{"pose",
                 {"move", "--joints", "10", "20", "100", "0", "60", "0", "--wait"},
                 {"positions"},
                 "10.000    20.000   100.000"},
        Handover{"second_arm",
                 {"--arm", "sim:2", "move", "--joints", "-5", "0", "140", "0", "40", "0", "--wait"},
                 {"--arm", "sim:2", "positions"},
                 "-5.000"},
        Handover{"first_arm_untouched_by_the_second",
                 {"--arm", "sim:2", "move", "--joints", "-5", "0", "140", "0", "40", "0", "--wait"},
                 {"--arm", "sim:1", "positions"},
                 " 0.000     0.000   140.000"},
        Handover{"error_log", {"errors", "clear"}, {"errors", "list"}, "The error log is empty."},
        Handover{"fingers",
                 {"fingers", "init"},
                 {"status"},
                 "1 initialised, 2 initialised, 3 initialised"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Several programs at once -------------------------------------------------------

TEST_F(ServiceTest, ProgramsTakeTurnsWithWholeMessages) {
  ASSERT_TRUE(StartService({}));
  const Result dumped = Tool({"config", "dump"});
  ASSERT_EQ(dumped.status, 0) << dumped.err;
  const fs::path file = ChangedConfiguration(*this, dumped.out, "shared");
  // Single-packet reads as fast as they come, multi-packet reads (the
  // general information) and multi-packet writes (the configuration), all
  // on the same arm at once: every command gets its own whole answer.
  const Started reader = StartTool({"positions", "--watch", "--rate", "500", "--count", "300"});
  std::vector<Started> others;
  for (int i = 0; i < 3; ++i) {
    others.push_back(StartTool({"status"}));
    others.push_back(StartTool({"config", "load", file.string()}));
  }
  for (const Started& s : others) {
    const Result r = Finish(s);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  const Result positions = Finish(reader);
  EXPECT_EQ(positions.status, 0) << positions.err;
  EXPECT_EQ(std::count(positions.out.begin(), positions.out.end(), '\n'), 301);  // header and rows
}

// --- A program that dies or stalls mid-message ------------------------------------

// Sends the first packets of a client configuration write to arm sim:1 of
// the service through the link library, reports on ready, then waits to be
// killed. Runs in a child process.
[[noreturn]] void BeginWriteAndWait(const std::string& socket, int ready) {
  ::setenv("TARSEL_SIM_SOCKET", socket.c_str(), 1);
  TarselArmLink* link = nullptr;
  if (TarselLinkOpenArm("sim:1", &link) != TARSEL_OK) ::_exit(2);
  constexpr short kPackets = (3040 + 55) / 56;
  for (short index = 1; index <= 10; ++index) {
    Packet request{};
    request.PacketIndex = index;
    request.PacketCount = kPackets;
    request.CommandId = 0;  // SetClientConfigurations
    request.PayloadSize = 3040;
    std::memset(request.Data, 0xAB, sizeof request.Data);
    Packet answer{};
    if (TarselLinkExchange(link, &request, &answer) != TARSEL_OK || answer.CommandId != 0) ::_exit(3);
  }
  const char byte = 'x';
  if (::write(ready, &byte, 1) != 1) ::_exit(4);
  while (true) ::pause();
}

class CutShort : public ServiceTest, public ::testing::WithParamInterface<int> {};

TEST_P(CutShort, TheNextProgramFindsTheArmAsItWas) {
  ASSERT_TRUE(StartService({}));
  const Result before = Tool({"config", "dump"});
  ASSERT_EQ(before.status, 0) << before.err;

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::close(fds[0]);
    BeginWriteAndWait(socket_, fds[1]);
  }
  ::close(fds[1]);
  std::string ready;
  const bool inside = ReadUntil(fds[0], ready, "x");
  ::close(fds[0]);
  ::kill(writer, GetParam());  // killed, or stopped while it holds the arm
  ASSERT_TRUE(inside) << "the writer did not get into its message";

  // The unfinished message had no effect, and whole messages go through.
  const Result after = Tool({"config", "dump"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out, before.out);
  const Result load =
      Tool({"config", "load", ChangedConfiguration(*this, before.out, "afterwards").string()});
  EXPECT_EQ(load.status, 0) << load.err;

  ::kill(writer, SIGKILL);
  int status = 0;
  ::waitpid(writer, &status, 0);
}

INSTANTIATE_TEST_SUITE_P(Service, CutShort, ::testing::Values(SIGKILL, SIGSTOP),
                         [](const auto& info) { return info.param == SIGKILL ? "killed" : "stalled"; });

// --- The service's settings and faults -------------------------------------------------

struct Setting {
  const char* name;
  std::vector<std::string> service;
  std::vector<std::string> tool;
  int status;
  std::string shown;  // in the tool's output or errors
};

void PrintTo(const Setting& c, std::ostream* out) { *out << c.name; }

class Settings : public ServiceTest, public ::testing::WithParamInterface<Setting> {};

TEST_P(Settings, ReachEveryProgram) {
  const Setting& s = GetParam();
  ASSERT_TRUE(StartService(s.service));
  const Result r = Tool(s.tool);
  EXPECT_EQ(r.status, s.status) << r.out << r.err;
  EXPECT_THAT(r.out + r.err, HasSubstr(s.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Service, Settings,
    ::testing::Values(
        Setting{"two_fingers", {"--hand", "2"}, {"status"}, 0, "two fingers"},
        Setting{"arms", {"--arms", "3"}, {"arms"}, 0, "sim:3 "},
        Setting{"error_bit", {"--fault", "error:105"}, {"positions"}, 1, "2004"},
        Setting{"no_answer", {"--fault", "noanswer:105"}, {"positions"}, 1, "2008"},
        Setting{"unplugged", {"--fault", "unplug:0"}, {"positions"}, 1, "2008"},
        Setting{"absent", {"--fault", "absent"}, {"status"}, 1, "1014"},
        Setting{"no_such_arm", {"--arms", "2"}, {"--arm", "sim:3", "status"}, 1, "1014"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, WithoutAServiceProgramsFindNoArmAndSayWhy) {
  const Result r = Tool({"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("no simulator service at " + socket_));
  EXPECT_THAT(r.err, HasSubstr("1014"));
}

struct BadStart {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string said;
};

void PrintTo(const BadStart& c, std::ostream* out) { *out << c.name; }

class BadStarts : public ServiceTest, public ::testing::WithParamInterface<BadStart> {};

TEST_P(BadStarts, AreRefused) {
  const BadStart& b = GetParam();
  std::vector<std::string> args = b.args;
  args.insert(args.end(), {"--socket", socket_});
  const pid_t child = Spawn(TARSEL_SIM_SERVICE, args, {}, Path("out"), Path("err"));
  EXPECT_EQ(Wait(child), b.status);
  EXPECT_THAT(ReadFile(Path("err")), HasSubstr(b.said));
}

INSTANTIATE_TEST_SUITE_P(
    Service, BadStarts,
    ::testing::Values(BadStart{"fault", {"--fault", "wobble:3"}, 2,
                               "--fault: \"wobble:3\" is not a fault"},
                      BadStart{"time_scale", {"--time-scale", "-1"}, 2,
                               "--time-scale: expected a number above 0"},
                      BadStart{"arms", {"--arms", "33"}, 2, "--arms"}),
    [](const auto& info) { return std::string(info.param.name); });

// One line that always works: export TARSEL_SIM_SOCKET=$(tarsel-sim --print-socket),
// with or without XDG_RUNTIME_DIR (root, some ssh sessions).
TEST_F(ServiceTest, PrintsTheSocketItWouldListenOn) {
  const std::string uid = std::to_string(::getuid());
  const struct {
    Env env;
    std::vector<std::string> args;
    std::string printed;
  } cases[] = {
      {{{"XDG_RUNTIME_DIR", ""}}, {}, "/tmp/tarsel-sim-" + uid + ".sock\n"},
      {{{"XDG_RUNTIME_DIR", "/run/user/77"}}, {}, "/run/user/77/tarsel-sim.sock\n"},
      {{{"XDG_RUNTIME_DIR", "/run/user/77"}, {"TARSEL_SIM_SOCKET", "/tmp/a b.sock"}}, {},
       "/tmp/a b.sock\n"},
      {{}, {"--socket", "/tmp/given.sock"}, "/tmp/given.sock\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--print-socket");
    const pid_t child = Spawn(TARSEL_SIM_SERVICE, args, c.env, Path("out"), Path("err"));
    EXPECT_EQ(Wait(child), 0);
    EXPECT_EQ(ReadFile(Path("out")), c.printed);
  }
}

TEST_F(ServiceTest, ASecondServiceOnTheSameSocketIsRefused) {
  ASSERT_TRUE(StartService({}));
  const pid_t second = Spawn(TARSEL_SIM_SERVICE, {"--socket", socket_}, {}, Path("out"), Path("err"));
  EXPECT_EQ(Wait(second), 1);
  EXPECT_THAT(ReadFile(Path("err")), HasSubstr("another service is running"));
  EXPECT_EQ(Tool({"status"}).status, 0);  // the first one still serves
}

TEST_F(ServiceTest, TheSocketOfAServiceThatDiedIsReplaced) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, socket_.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);  // the file stays, and nobody listens
  ASSERT_TRUE(StartService({}));
  EXPECT_EQ(Tool({"status"}).status, 0);
}

// --- Stopping -----------------------------------------------------------------------------

class Stops : public ServiceTest, public ::testing::WithParamInterface<int> {};

TEST_P(Stops, EndConnectionsAndRemoveTheSocket) {
  ASSERT_TRUE(StartService({}));
  const Started watcher = StartTool({"positions", "--watch", "--rate", "50"});
  // The watcher is connected once its first rows are out.
  ASSERT_TRUE(Eventually([&] { return ReadFile(OutFile(watcher.run)).size() > 200; }));

  EXPECT_EQ(StopService(GetParam()), 0);
  EXPECT_FALSE(fs::exists(socket_));
  const Result watched = Finish(watcher);  // it ends: the arm is gone
  EXPECT_EQ(watched.status, 1);
  EXPECT_THAT(watched.err, HasSubstr("2008"));
}

INSTANTIATE_TEST_SUITE_P(Service, Stops, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "sigterm" : "sigint"; });

}  // namespace
}  // namespace servicetest
