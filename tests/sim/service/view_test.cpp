// The live view's server without a browser: the state it serves follows the
// arms (from tarsel-sim --http and from `tarsel view` alike), with where
// they are heading, their protection zones and their errors by name; its
// events come at least twenty times a second, and it serves the page and
// three.js.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <fstream>

#include "service_fixture.h"

namespace servicetest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

// The view's state, or null when it could not be read.
Json State(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  const auto res = client.Get("/state");
  if (!res || res->status != 200) return nullptr;
  return Json::parse(res->body, nullptr, false);
}

double Joint(const Json& state, int arm, int joint) {
  return state["arms"][arm]["joints"][joint].get<double>();
}

class Views : public ServiceTest, public ::testing::WithParamInterface<bool> {
 protected:
  // The port of the view under test: the service's own, or `tarsel view`'s.
  int ViewPort() {
    if (!GetParam()) return viewPort_;
    toolView_ = StartTool({"view", "--http", "0", "--rate", "30"});
    int port = 0;
    Eventually([&] {
      const std::string out = ReadFile(OutFile(toolView_.run));
      std::smatch m;
      if (std::regex_search(out, m, std::regex("127\\.0\\.0\\.1:([0-9]+)/"))) port = std::stoi(m[1]);
      return port != 0;
    });
    return port;
  }
  void TearDown() override {
    if (toolView_.pid > 0) {
      ::kill(toolView_.pid, SIGINT);
      EXPECT_EQ(Wait(toolView_.pid), 0);
    }
    ServiceTest::TearDown();
  }
  Started toolView_;
};

TEST_P(Views, FollowTheArmThatMovesAndNotTheOther) {
  ASSERT_TRUE(StartService({"--arms", "2", "--http", "0", "--time-scale", "4"}));
  const int port = ViewPort();
  ASSERT_GT(port, 0);
  Json state;
  ASSERT_TRUE(Eventually([&] {
    state = State(port);
    return state.is_object() && state["arms"].size() == 2 && state["arms"][0]["online"] == true;
  })) << state;
  EXPECT_EQ(state["arms"][0]["path"], "sim:1");
  EXPECT_EQ(state["arms"][1]["path"], "sim:2");
  const Json still = state["arms"][1]["joints"];
  // The drawing's hand tip is where the pose says.
  for (const Json& arm : state["arms"]) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(arm["frames"][6][9 + k].get<double>(), arm["pose"][k].get<double>(), 1e-4);
    }
  }

  ASSERT_EQ(Tool({"move", "--joints", "60", "0", "140", "0", "40", "0"}).status, 0);
  bool sawItMoving = false;
  EXPECT_TRUE(Eventually([&] {
    state = State(port);
    if (!state.is_object()) return false;
    const double j1 = Joint(state, 0, 0);
    sawItMoving = sawItMoving || (j1 > 0.5 && j1 < 59.5);
    EXPECT_EQ(state["arms"][1]["joints"], still);
    return std::fabs(j1 - 60) < 0.01 && state["arms"][0]["queue"] == 0;
  })) << state;
  EXPECT_TRUE(sawItMoving);  // 0.6 s of motion at four times real speed
}

// The zone file's point k set to the corner k of the box low .. high.
void SetBox(nlohmann::ordered_json& zone, std::array<double, 3> low, std::array<double, 3> high) {
  for (int k = 0; k < 8; ++k) {
    nlohmann::ordered_json& point = zone["Points"][k];
    point["X"] = k & 1 ? high[0] : low[0];
    point["Y"] = k & 2 ? high[1] : low[1];
    point["Z"] = k & 4 ? high[2] : low[2];
  }
}

TEST_P(Views, ShowWhereTheArmIsHeadingItsZonesAndItsErrors) {
  // Slow: the move takes many seconds, however late the state is read.
  ASSERT_TRUE(StartService({"--http", "0", "--time-scale", "0.5"}));
  const fs::path file = Path("zones.json");
  ASSERT_EQ(Tool({"zones", "dump", file.string()}).status, 0);
  auto zones = nlohmann::ordered_json::parse(ReadFile(file));
  SetBox(zones["Zones"][3], {0.25, -0.5, 0}, {0.75, 0.5, 0.5});
  std::ofstream(file) << zones.dump();
  const Result load = Tool({"zones", "load", file.string()});
  ASSERT_EQ(load.status, 0) << load.err;

  const int port = ViewPort();
  ASSERT_GT(port, 0);
  Json state;
  ASSERT_TRUE(Eventually([&] {
    state = State(port);
    return state.is_object() && state["arms"].size() == 1 && state["arms"][0]["online"] == true &&
           !state["arms"][0]["errors"].empty() && !state["arms"][0]["zones"].empty();
  })) << state;
  const Json& arm = state["arms"][0];
  EXPECT_TRUE(arm["target"].is_null()) << arm["target"];  // at rest
  ASSERT_EQ(arm["zones"].size(), 1u) << arm["zones"];
  EXPECT_EQ(arm["zones"][0]["index"], 3);
  EXPECT_EQ(arm["zones"][0]["low"], Json::array({0.25, -0.5, 0}));
  EXPECT_EQ(arm["zones"][0]["high"], Json::array({0.75, 0.5, 0.5}));
  ASSERT_EQ(arm["errors"].size(), 3u);
  const Json& first = arm["errors"][0];
  EXPECT_EQ(first["codeText"], "0x0102");
  EXPECT_EQ(first["deviceName"], "actuator 3");
  EXPECT_EQ(first["severityName"], "warning");
  EXPECT_EQ(first["occurrences"], 2);
  EXPECT_EQ(arm["errors"][2]["deviceName"], "finger 2");

  // Upright: the hand tip 1.16 m above the base.
  ASSERT_EQ(Tool({"move", "--joints", "0", "0", "0", "0", "0", "0"}).status, 0);
  ASSERT_TRUE(Eventually([&] {
    state = State(port);
    return state.is_object() && !state["arms"][0]["target"].is_null();
  })) << state;
  const Json& target = state["arms"][0]["target"];
  EXPECT_EQ(target["kind"], "angular");
  EXPECT_EQ(target["values"], Json::array({0, 0, 0, 0, 0, 0}));
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(target["position"][k].get<double>(), k == 2 ? 1.16 : 0, 1e-6) << target;
  }
}

INSTANTIATE_TEST_SUITE_P(Service, Views, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "tarsel_view" : "tarsel_sim"; });

TEST_F(ServiceTest, EventsComeAtLeastTwentyTimesASecond) {
  ASSERT_TRUE(StartService({"--http", "0"}));
  httplib::Client client("127.0.0.1", viewPort_);
  client.set_read_timeout(10, 0);
  int events = 0;
  Clock::time_point first{};
  std::string text;
  client.Get("/events", [&](const char* data, std::size_t n) {
    text.append(data, n);
    for (std::size_t at; (at = text.find("\n\n")) != std::string::npos; text.erase(0, at + 2)) {
      if (text.rfind("data: {", 0) != 0) continue;
      if (events++ == 0) first = Clock::now();
    }
    return events == 0 || Clock::now() - first < std::chrono::seconds(2);
  });
  // 25 a second are sent; a loaded machine may deliver a few late.
  EXPECT_GE(events, 40);
}

struct Served {
  const char* path;
  int status;
  std::string content;
};

void PrintTo(const Served& s, std::ostream* out) { *out << s.path; }

class Files : public ServiceTest, public ::testing::WithParamInterface<Served> {};

TEST_P(Files, AreServed) {
  ASSERT_TRUE(StartService({"--http", "0"}));
  httplib::Client client("127.0.0.1", viewPort_);
  const auto res = client.Get(GetParam().path);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, GetParam().status);
  EXPECT_THAT(res->body, HasSubstr(GetParam().content));
}

INSTANTIATE_TEST_SUITE_P(
    View, Files,
    ::testing::Values(Served{"/", 200, "<script src=\"view.js\">"},
                      Served{"/view.js", 200, "new EventSource('/events')"},
                      Served{"/three/three.min.js", 200, "REVISION"},
                      Served{"/three/examples/js/controls/OrbitControls.js", 200, "OrbitControls"},
                      Served{"/state", 200, "\"path\":\"sim:1\""},
                      Served{"/nothing-here", 404, ""}));

TEST_F(ServiceTest, AViewPortInUseIsRefused) {
  ASSERT_TRUE(StartService({"--http", "0"}));
  const pid_t second = Spawn(TARSEL_SIM_SERVICE,
                             {"--socket", Path("other.sock").string(), "--http",
                              std::to_string(viewPort_)},
                             {}, Path("out"), Path("err"));
  EXPECT_EQ(Wait(second), 1);
  EXPECT_THAT(ReadFile(Path("err")), HasSubstr("cannot listen"));
  EXPECT_FALSE(fs::exists(Path("other.sock")));
}

}  // namespace
}  // namespace servicetest
