// The live view in a real browser (headless Chromium): while a program moves
// arm 1 through the library, the page's numbers follow it within a fraction
// of a second, arm 2's stay put, and the 3D view of arm 1 changes while arm
// 2's does not; a page opened after a move plots it, and draws the arm's
// protection zone. Skipped when no Chromium is installed.
//
// With TARSEL_VIEW_SCREENSHOT=FILE the page is saved there with arm 1 on a
// second move (docs/view.png is made this way).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "browser.h"
#include "service_fixture.h"
#include "tarsel/arm.hpp"

namespace servicetest {
namespace {

using Json = nlohmann::json;

constexpr int kWidth = 1280;
constexpr int kHeight = 900;

// The joints of arm path as the page shows them.
std::string ShownJoints(const std::string& path) {
  return "Array.from(document.querySelectorAll('section[data-path=\"" + path +
         "\"] td[data-joint]')).map(td => parseFloat(td.textContent))";
}

// Where the 3D view of arm path is on the page: x, y, width, height.
std::string SceneOf(const std::string& path) {
  return "(() => { const r = document.querySelector('section[data-path=\"" + path +
         "\"] .scene canvas').getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()";
}

// The share of pixels that differ between two images of the same size.
double Changed(const Image& a, const Image& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 1;
  std::size_t n = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) n += a.pixels[i] != b.pixels[i] ? 1 : 0;
  return static_cast<double>(n) / static_cast<double>(a.pixels.size());
}

// The share of the image its most common colour covers, and how many
// colours it has.
std::pair<double, std::size_t> Colours(const Image& image) {
  std::map<std::uint32_t, std::size_t> counts;
  for (std::uint32_t p : image.pixels) ++counts[p];
  std::size_t most = 0;
  for (const auto& [colour, n] : counts) most = std::max(most, n);
  return {static_cast<double>(most) / static_cast<double>(std::max<std::size_t>(1, image.pixels.size())),
          counts.size()};
}

class BrowserView : public ServiceTest {
 protected:
  void SetUp() override {
    chromium_ = FindChromium();
    if (chromium_.empty()) GTEST_SKIP() << "no Chromium installed (set TARSEL_CHROMIUM to one)";
    ServiceTest::SetUp();
  }
  std::string chromium_;
};

// Seconds on the wall clock, which the page's Date.now() reads too.
double WallSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// One moment of the move: what the page showed for joint 1 and when it
// read it, then what the arm said and when.
struct Sample {
  double shownAt;
  double shown;
  double armAt;
  double arm;
};

TEST_F(BrowserView, FollowsTheArmThatMoves) {
  // At half speed the move lasts 7 s: long enough to be seen on its way
  // however slowly a loaded machine lets the browser answer.
  ASSERT_TRUE(StartService({"--arms", "2", "--http", "0", "--time-scale", "0.5"}));
  Browser browser;
  ASSERT_TRUE(browser.Start(chromium_, Path("profile"), Path("chromium.log"), kWidth, kHeight));
  const std::string page = browser.Open("http://127.0.0.1:" + std::to_string(viewPort_) + "/");
  ASSERT_TRUE(Eventually(
      [&] {
        return browser.Evaluate(page, "window.tarselView !== undefined && tarselView.events > 2 && "
                                      "document.querySelectorAll('section.arm canvas').length >= 2")
            .get<bool>();
      },
      std::chrono::seconds(60)))
      << ReadFile(Path("chromium.log"));
  ASSERT_TRUE(browser.Evaluate(page, "tarselView.webgl").get<bool>()) << "no WebGL in the browser";

  // The program: the C++ interface over the simulator's link library,
  // reaching the service.
  ::setenv("TARSEL_SIM_LINK", TARSEL_SIM_LINK_FILE, 1);
  ::setenv("TARSEL_SIM_SOCKET", socket_.c_str(), 1);
  ::setenv("TARSEL_SIM", "2", 1);
  const std::vector<tarsel::ArmInfo> arms = tarsel::ListArms();
  ASSERT_EQ(arms.size(), 2u);
  tarsel::Arm arm(arms[0]);
  const AngularPosition start = arm.GetAngularPosition();

  const Json still = browser.Evaluate(page, ShownJoints("sim:2"));
  const auto scene1 = browser.Evaluate(page, SceneOf("sim:1")).get<std::vector<double>>();
  const auto scene2 = browser.Evaluate(page, SceneOf("sim:2")).get<std::vector<double>>();
  const Image before1 = DecodePng(browser.Screenshot(page, scene1));
  const Image before2 = DecodePng(browser.Screenshot(page, scene2));

  // Joint 1 turns 90 degrees.
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = 2;
  point.Position.Actuators = start.Actuators;
  point.Position.Actuators.Actuator1 += 90;
  point.Position.Fingers = start.Fingers;
  const double target = point.Position.Actuators.Actuator1;
  arm.SendBasicTrajectory(point);

  std::vector<Sample> samples;
  const auto deadline = Clock::now() + std::chrono::seconds(90);
  const std::string shown = "[" + ShownJoints("sim:1") + "[0], Date.now() / 1000]";
  while (Clock::now() < deadline) {
    Sample s{};
    const Json page1 = browser.Evaluate(page, shown);
    s.shown = page1[0];
    s.shownAt = page1[1];
    const double asked = WallSeconds();
    s.arm = arm.GetAngularPosition().Actuators.Actuator1;
    s.armAt = (asked + WallSeconds()) / 2;
    samples.push_back(s);
    if (std::fabs(s.shown - target) < 0.01) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(samples.empty());
  ASSERT_NEAR(samples.back().shown, target, 0.01) << "the page never showed where the arm went";

  // How long after the arm was at a value the page showed it: the arm's
  // readings, joined by straight lines, give when it passed each value.
  auto passed = [&samples](double value) {
    for (std::size_t i = 1; i < samples.size(); ++i) {
      const Sample& a = samples[i - 1];
      const Sample& b = samples[i];
      if (value >= a.arm && value <= b.arm && b.arm > a.arm) {
        return a.armAt + (b.armAt - a.armAt) * (value - a.arm) / (b.arm - a.arm);
      }
    }
    return samples.front().armAt;  // before the first reading
  };
  std::vector<double> lags;
  std::set<double> movingValues;
  for (const Sample& s : samples) {
    if (s.shown <= start.Actuators.Actuator1 + 0.5 || s.shown >= target - 0.5) continue;
    movingValues.insert(s.shown);
    lags.push_back(s.shownAt - passed(s.shown));
  }
  EXPECT_GE(movingValues.size(), 3u) << "the page did not show the arm on its way";
  if (!lags.empty()) {
    std::nth_element(lags.begin(), lags.begin() + static_cast<long>(lags.size() / 2), lags.end());
    EXPECT_LT(lags[lags.size() / 2], 0.5) << "the page lags behind the arm (median, s)";
  }
  EXPECT_EQ(browser.Evaluate(page, ShownJoints("sim:2")), still);

  // Arm 1's drawing changed and arm 2's did not; the page is not blank.
  const Image after1 = DecodePng(browser.Screenshot(page, scene1));
  const Image after2 = DecodePng(browser.Screenshot(page, scene2));
  EXPECT_GT(Changed(before1, after1), 0.005);
  EXPECT_LT(Changed(before2, after2), 0.001);
  const std::string whole = browser.Screenshot(page);
  const auto [mostCommon, colours] = Colours(DecodePng(whole));
  EXPECT_LT(mostCommon, 0.9);
  EXPECT_GT(colours, 100u);

  if (const char* file = std::getenv("TARSEL_VIEW_SCREENSHOT"); file != nullptr && *file != '\0') {
    // For the documentation: arm 1 half-way home, its hand closing.
    TrajectoryPoint home = point;
    AngularInfo& q = home.Position.Actuators;
    q.Actuator1 = 0;
    q.Actuator2 = 20;
    q.Actuator3 = 100;
    q.Actuator5 = 60;
    home.Position.Fingers.Finger1 = home.Position.Fingers.Finger2 = home.Position.Fingers.Finger3 = 6800;
    arm.SendBasicTrajectory(home);
    EXPECT_TRUE(Eventually([&] { return browser.Evaluate(page, ShownJoints("sim:1"))[1] >= 10; }));
    std::ofstream(file, std::ios::binary) << browser.Screenshot(page);
  }
}

// A page opened after the arm moved plots the move (the server kept it) and
// draws the arm's protection zone as a box.
TEST_F(BrowserView, OpenedLateShowsThePastAndTheZones) {
  ASSERT_TRUE(StartService({"--http", "0", "--time-scale", "4"}));
  Browser browser;
  ASSERT_TRUE(browser.Start(chromium_, Path("profile"), Path("chromium.log"), kWidth, kHeight));
  ::setenv("TARSEL_SIM_LINK", TARSEL_SIM_LINK_FILE, 1);
  ::setenv("TARSEL_SIM_SOCKET", socket_.c_str(), 1);
  ::setenv("TARSEL_SIM", "1", 1);
  tarsel::Arm arm;
  ZoneList zones{};
  for (int k = 0; k < 8; ++k) {
    CartesianInfo& p = zones.Zones[1].Points[k];
    p.X = k & 1 ? 0.7f : 0.3f;
    p.Y = k & 2 ? 0.3f : -0.3f;
    p.Z = k & 4 ? 0.4f : 0.0f;
  }
  arm.SetProtectionZone(zones);

  // Joint 1 turns 40 degrees, in 0.4 s at four times real speed.
  const AngularPosition start = arm.GetAngularPosition();
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = TARSEL_ANGULAR_POSITION;
  point.Position.Actuators = start.Actuators;
  point.Position.Actuators.Actuator1 += 40;
  point.Position.Fingers = start.Fingers;
  arm.SendBasicTrajectory(point);
  ASSERT_TRUE(Eventually([&] { return arm.GetGlobalTrajectoryInfo().PointCount == 0; }));

  const std::string page = browser.Open("http://127.0.0.1:" + std::to_string(viewPort_) + "/");
  // Joint 1's lowest and highest value in what the plot drew (once it has
  // drawn some), and how many zone boxes the 3D view holds.
  const std::string shown =
      "(() => { const p = window.tarselView && tarselView.panels.get('sim:1');"
      "  if (!p || !p.plotted || !p.model) return null;"
      "  const j1 = p.history.map((s) => s.joints[0]);"
      "  return [Math.min(...j1), Math.max(...j1), p.model.zoneBoxes.length]; })()";
  Json seen;
  ASSERT_TRUE(Eventually([&] { return !(seen = browser.Evaluate(page, shown)).is_null(); },
                         std::chrono::seconds(60)))
      << ReadFile(Path("chromium.log"));
  const double from = start.Actuators.Actuator1;
  EXPECT_LT(seen[0].get<double>(), from + 1) << seen;
  EXPECT_GT(seen[1].get<double>(), from + 39) << seen;
  EXPECT_EQ(seen[2].get<int>(), 1) << seen;
}

}  // namespace
}  // namespace servicetest
