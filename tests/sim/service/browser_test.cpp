// The live view in a real browser (headless Chromium): while a program moves
// arm 1 through the library, the page's numbers follow it within a fraction
// of a second, arm 2's stay put, and the 3D view of arm 1 changes while arm
// 2's does not. Skipped when no Chromium is installed.
//
// With TARSEL_VIEW_SCREENSHOT=FILE the page as it stands after the move is
// saved there (docs/view.png is made this way).
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

// One moment of the move: when the page was asked, what it showed for joint
// 1, and when the arm was read right after and what it said.
struct Sample {
  double asked;
  double shown;
  double armAt;
  double arm;
};

TEST_F(BrowserView, FollowsTheArmThatMoves) {
  ASSERT_TRUE(StartService({"--arms", "2", "--http", "0"}));
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

  // Joint 1 turns 90 degrees, about 3.6 s at the model's 25 deg/s.
  TrajectoryPoint point;
  point.InitStruct();
  point.Position.Type = 2;
  point.Position.Actuators = start.Actuators;
  point.Position.Actuators.Actuator1 += 90;
  point.Position.Fingers = start.Fingers;
  const double target = point.Position.Actuators.Actuator1;
  const auto t0 = Clock::now();
  const auto seconds = [t0] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  arm.SendBasicTrajectory(point);

  std::vector<Sample> samples;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    Sample s{};
    s.asked = seconds();
    s.shown = browser.Evaluate(page, ShownJoints("sim:1"))[0].get<double>();
    s.armAt = seconds();
    s.arm = arm.GetAngularPosition().Actuators.Actuator1;
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
    // The page was read some time between the two readings.
    lags.push_back((s.asked + s.armAt) / 2 - passed(s.shown));
  }
  EXPECT_GE(movingValues.size(), 5u) << "the page did not show the arm on its way";
  if (!lags.empty()) {
    std::nth_element(lags.begin(), lags.begin() + static_cast<long>(lags.size() / 2), lags.end());
    EXPECT_LT(lags[lags.size() / 2], 0.5) << "the page lags behind the arm (median, s)";
  }
  EXPECT_EQ(browser.Evaluate(page, ShownJoints("sim:2")), still);

  // Arm 1's drawing changed and arm 2's did not; the page is no blank.
  const Image after1 = DecodePng(browser.Screenshot(page, scene1));
  const Image after2 = DecodePng(browser.Screenshot(page, scene2));
  EXPECT_GT(Changed(before1, after1), 0.005);
  EXPECT_LT(Changed(before2, after2), 0.001);
  const std::string whole = browser.Screenshot(page);
  const auto [mostCommon, colours] = Colours(DecodePng(whole));
  EXPECT_LT(mostCommon, 0.9);
  EXPECT_GT(colours, 100u);
  if (const char* file = std::getenv("TARSEL_VIEW_SCREENSHOT"); file != nullptr && *file != '\0') {
    std::ofstream(file, std::ios::binary) << whole;
  }
}

}  // namespace
}  // namespace servicetest
