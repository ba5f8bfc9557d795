// tarsel view: the live view in a browser, for the arms the library reaches
// (a real arm as well as the simulated ones), read through the public API
// at the chosen rate.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "record_form.h"
#include "tarsel/arm.hpp"
#include "view_server.h"

namespace tarsel::tool {

namespace {

using Clock = std::chrono::steady_clock;

// How often the error log is read, and how many of its entries are shown.
constexpr auto kErrorLogPeriod = std::chrono::seconds(1);
constexpr unsigned int kErrorsShown = 50;
// How often the protection zones are read: rarely, a read is 79 packets.
constexpr auto kZonesPeriod = std::chrono::seconds(3);
// How often an arm that could not be opened is tried again.
constexpr auto kReopenPeriod = std::chrono::seconds(2);

struct ViewOptions {
  int port = 8080;
  double rate = 20;
};

// One arm on the page: its connection (none while it cannot be opened) and
// what the page shows of it.
struct Watched {
  ArmInfo info;
  std::unique_ptr<Arm> arm;
  view::ArmView view;
  Clock::time_point nextErrorLog{};
  Clock::time_point nextZones{};
  Clock::time_point nextOpen{};
};

std::string Problem(const Error& e) {
  return fmt::format("{} failed: {} ({})", e.where(), e.code(), e.what());
}

void Open(Watched& w, Clock::time_point now) {
  w.nextOpen = now + kReopenPeriod;
  try {
    w.arm = std::make_unique<Arm>(w.info);
  } catch (const Error& e) {
    w.view.online = false;
    w.view.problem = Problem(e);
  }
}

void ReadErrorLog(Arm& arm, view::ArmView& v) {
  const unsigned int count = std::min(arm.GetSystemErrorCount(), kErrorsShown);
  v.errors.clear();
  for (unsigned int i = 0; i < count; ++i) {
    v.errors.push_back(status::DecodeError(arm.GetSystemError(i)));
  }
}

// Copies a record's floats (FloatsOf) to the view's numbers.
template <std::size_t M, std::size_t N>
void Put(const std::array<float, M>& floats, std::array<double, N>& out) {
  std::copy_n(floats.begin(), std::min(M, N), out.begin());
}

// The point the arm is executing, when it is one of positions (velocity
// points have no place to show).
std::optional<view::TargetView> TargetOf(const TrajectoryPoint& point) {
  const UserPosition& p = point.Position;
  view::TargetView target;
  if (p.Type == TARSEL_ANGULAR_POSITION) {
    Put(FloatsOf(p.Actuators), target.values);
    return target;
  }
  if (p.Type == TARSEL_CARTESIAN_POSITION) {
    target.angular = false;
    Put(FloatsOf(p.Coordinates), target.values);
    return target;
  }
  return std::nullopt;
}

// Reads what the page shows; a failure keeps the last values and says why.
void Poll(Watched& w, Clock::time_point now) {
  if (!w.arm) {
    if (now < w.nextOpen) return;
    Open(w, now);
    if (!w.arm) return;
  }
  view::ArmView& v = w.view;
  try {
    const AngularPosition joints = w.arm->GetAngularPosition();
    const CartesianPosition pose = w.arm->GetCartesianPosition();
    const TrajectoryFIFO queue = w.arm->GetGlobalTrajectoryInfo();
    v.controlType = w.arm->GetControlType();
    const QuickStatus quick = w.arm->GetQuickStatus();
    Put(FloatsOf(joints.Actuators), v.joints);
    Put(FloatsOf(joints.Fingers), v.fingers);
    Put(FloatsOf(pose.Coordinates), v.pose);
    v.queue = queue.PointCount;
    v.target.reset();
    if (queue.PointCount > 0) v.target = TargetOf(w.arm->GetActualTrajectoryInfo());
    v.apiControl = quick.StatusByte3 != 0;
    v.fingerCount = TwoFingerHand(quick) ? 2 : 3;
    if (now >= w.nextErrorLog) {
      w.nextErrorLog = now + kErrorLogPeriod;
      ReadErrorLog(*w.arm, v);
    }
    if (now >= w.nextZones) {
      // An arm that will not give its zones keeps those last read (none at
      // first) and is asked again a period later: the rest of its state
      // still shows.
      w.nextZones = now + kZonesPeriod;
      try {
        v.zones = view::ZonesOf(w.arm->GetProtectionZone());
      } catch (const Error&) {
      }
    }
    v.online = true;
    v.problem.clear();
  } catch (const Error& e) {
    v.online = false;
    v.problem = Problem(e);
  }
}

std::vector<ArmInfo> ArmsToWatch(const Context& context) {
  std::vector<ArmInfo> arms;
  try {
    arms = ListArms();
  } catch (const Error& e) {
    throw Failure(DescribeFailure("listing the arms", e.code()));
  }
  const std::string& chosen = context.connect.arm;
  if (!chosen.empty()) {
    const auto it = std::find_if(arms.begin(), arms.end(),
                                 [&chosen](const ArmInfo& a) { return a.path == chosen; });
    if (it == arms.end()) {
      throw Failure(fmt::format("no arm at {}\n`tarsel arms` lists the arms there are.", chosen));
    }
    return {*it};
  }
  if (arms.empty()) throw Failure("no arm found; --sim shows simulated arms");
  return arms;
}

void Serve(const Context& context, const ViewOptions& o) {
  std::vector<Watched> watched;
  for (const ArmInfo& info : ArmsToWatch(context)) {
    Watched w;
    w.info = info;
    w.view.path = info.path;
    w.view.label = !info.serial.empty() ? info.serial : info.product;
    watched.push_back(std::move(w));
  }
  for (Watched& w : watched) Open(w, Clock::now());

  view::ViewServer server({"127.0.0.1", o.port, view::FindWebRoot(), view::FindThreeRoot()});
  // The first page to load already sees the arms.
  auto publish = [&watched, &server] {
    std::vector<view::ArmView> views;
    for (Watched& w : watched) {
      Poll(w, Clock::now());
      views.push_back(w.view);
    }
    server.Publish(views);
  };
  publish();
  std::string why;
  if (!server.Start(why)) throw Failure("the live view: " + why);
  fmt::print("Live view of {} arm{} on http://127.0.0.1:{}/ (Ctrl-C stops)\n", watched.size(),
             watched.size() == 1 ? "" : "s", server.Port());
  std::fflush(stdout);

  CatchInterrupts();
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate));
  auto next = Clock::now();
  while (!Interrupted()) {
    next += period;
    const auto now = Clock::now();
    if (next < now) next = now;  // a slow arm: no catching up
    while (!Interrupted() && Clock::now() < next) {
      std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
    }
    if (!Interrupted()) publish();
  }
  server.Stop();
}

void RunView(const Context& context, const ViewOptions& o) {
  void* simulator = LoadSimulator(context.connect);
  try {
    Serve(context, o);
  } catch (...) {
    if (simulator != nullptr) ::dlclose(simulator);
    throw;
  }
  if (simulator != nullptr) ::dlclose(simulator);
}

}  // namespace

void AddViewCommand(CLI::App& app, const Context& context) {
  auto options = std::make_shared<ViewOptions>();
  CLI::App* view = app.add_subcommand(
      "view", "Show the arms live in a browser: a 3D view, joints, pose, plots, error log");
  view->add_option("--http", options->port, "Serve the page on 127.0.0.1:PORT (0: any free port)")
      ->check(Between(0, 65535))
      ->capture_default_str();
  view->add_option("--rate", options->rate, "Readings of each arm per second")
      ->check(Between(1, 100))
      ->capture_default_str();
  view->callback([&context, options] { RunView(context, *options); });
}

}  // namespace tarsel::tool
