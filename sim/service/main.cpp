// tarsel-sim: simulated arms as a standing service. Programs reach them
// through the simulator's link library with TARSEL_SIM_SOCKET set; with
// --http the live view shows them in a browser.
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "arm_view.h"
#include "core/value_text.h"
#include "environment.h"
#include "protocol.h"
#include "service.h"
#include "view_server.h"

namespace {

using tarsel::sim::ArmSnapshot;
using tarsel::sim::Service;
using tarsel::view::ArmView;

// How often the view takes a snapshot of the arms.
constexpr auto kViewPeriod = std::chrono::milliseconds(33);
// The read command of the protection zones, whose bytes StoredBlock gives.
constexpr int kReadZones = 39;

// What the view shows of arm number: its snapshot s, and the protection
// zones it stores (zones, command 39's bytes).
ArmView ViewOf(int number, const ArmSnapshot& s, const std::vector<unsigned char>& zones) {
  ArmView v;
  v.path = "sim:" + std::to_string(number);
  char serial[16];
  std::snprintf(serial, sizeof serial, "SIM-%04d", number);
  v.label = serial;
  v.fingerCount = s.fingerCount;
  for (std::size_t k = 0; k < 6; ++k) v.joints[k] = s.joints[k];
  for (std::size_t k = 0; k < 3; ++k) v.fingers[k] = s.fingers[k];
  v.pose = {s.pose.x, s.pose.y, s.pose.z, s.pose.rx, s.pose.ry, s.pose.rz};
  v.queue = s.queueSize;
  // The joints the executing point takes the arm to (a Cartesian point's
  // solved ones).
  if (s.queueSize > 0) {
    tarsel::view::TargetView target;
    for (std::size_t k = 0; k < 6; ++k) target.values[k] = s.jointTargets[k];
    v.target = target;
  }
  v.controlType = s.controlType;
  v.apiControl = s.apiControl;
  if (s.unplugged) {
    v.online = false;
    v.problem = "unplugged (fault)";
  }
  for (const SystemError& e : s.errors) v.errors.push_back(tarsel::status::DecodeError(e));
  ZoneList list{};
  if (tarsel::view::ZoneListFromBytes(zones, list)) v.zones = tarsel::view::ZonesOf(list);
  return v;
}

// Publishes the arms' state to the view until stopped.
class Publisher {
 public:
  // The first state is published before this returns, so that the first
  // page to load already sees the arms.
  Publisher(Service& service, tarsel::view::ViewServer& view) {
    PublishOnce(service, view);
    thread_ = std::thread([this, &service, &view] { Run(service, view); });
  }
  ~Publisher() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  void Run(Service& service, tarsel::view::ViewServer& view) {
    std::unique_lock lock(mu_);
    while (!wake_.wait_for(lock, kViewPeriod, [this] { return stop_; })) {
      PublishOnce(service, view);
    }
  }
  static void PublishOnce(Service& service, tarsel::view::ViewServer& view) {
    std::vector<ArmView> arms;
    for (int n = 1; n <= service.ArmCount(); ++n) {
      const tarsel::sim::SimulatedArm& arm = service.Arm(n);
      arms.push_back(ViewOf(n, arm.Snapshot(), arm.StoredBlock(kReadZones)));
    }
    view.Publish(arms);
  }

  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// The settings given on the command line, as the simulator's option text
// reads them (the same parser as the TARSEL_SIM_* variables).
std::string OptionText(const std::string& hand, const std::string& timeScale,
                       const std::string& fingerPoints, bool trace, const std::string& faults) {
  std::string text;
  auto add = [&text](const std::string& key, const std::string& value) {
    if (value.empty()) return;
    text += (text.empty() ? "" : ",") + key + "=" + value;
  };
  add("hand", hand);
  add("time_scale", timeScale);
  add("finger_points", fingerPoints);
  add("trace", trace ? "1" : "");
  add("fault", faults);  // last: its own commas go on with it
  return text;
}

int Run(int argc, char** argv) {
  CLI::App app{
      "Simulated Tarsel arms as a standing service. Programs reach them through the "
      "simulator's link library with TARSEL_SIM_SOCKET set to the socket; their state "
      "(stored blocks, error log, pose, queue) lasts until the service stops."};
  app.name("tarsel-sim");
  int arms = 1;
  std::string hand, timeScale, fingerPoints, faults;
  bool trace = false;
  std::string socket = tarsel::sim::service::DefaultSocketPath();
  std::optional<int> http;
  double idleSeconds = 60;
  app.add_option("--arms", arms, "How many arms (sim:1 ... sim:N)")
      ->check(CLI::Range(1, tarsel::sim::kMaxSimulatedArms));
  app.add_option("--hand", hand, "Fingers of every hand: 3 or 2")->check(CLI::IsMember({"2", "3"}));
  app.add_option("--time-scale", timeScale, "Simulated seconds per real second, e.g. 10");
  app.add_option("--finger-points", fingerPoints,
                 "Finger-opening points before a finger reports itself initialised");
  app.add_option("--fault", faults, "Faults to inject into every arm, e.g. error:105,unplug:500");
  app.add_flag("--trace", trace, "Print every exchange on standard error");
  bool busClock = false;
  app.add_flag("--bus-clock", busClock,
               "Keep the time of a full-speed USB bus: each exchange ends on a 1 ms frame "
               "boundary, more than one frame and at most two after it began");
  app.add_option("--socket", socket, "The socket to listen on")->capture_default_str();
  bool printSocket = false;
  app.add_flag("--print-socket", printSocket,
               "Print the socket path the service listens on (with these options) and exit: "
               "export TARSEL_SIM_SOCKET=$(tarsel-sim --print-socket)");
  app.add_option("--idle-limit", idleSeconds,
                 "Close a connection after this many seconds without a request")
      ->check(CLI::Range(0.001, 1e6))
      ->capture_default_str();
  app.add_option("--http", http, "Serve the live view on 127.0.0.1:PORT (0: any free port)")
      ->check(CLI::Range(0, 65535));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (printSocket) {
    std::printf("%s\n", socket.c_str());
    return 0;
  }

  // Problems name the options as typed: "--fault: ..." rather than the key.
  const tarsel::sim::SimEnvironment settings = tarsel::sim::ReadOptionText(
      OptionText(hand, timeScale, fingerPoints, trace, faults), [](const std::string& key) {
        std::string option = "--" + key;
        for (char& c : option) c = c == '_' ? '-' : c;
        return option;
      });
  if (!settings.problems.empty()) {
    for (const std::string& p : settings.problems) std::fprintf(stderr, "tarsel-sim: %s\n", p.c_str());
    return 2;
  }

  // SIGINT and SIGTERM are taken from a descriptor by the accepting loop;
  // every thread started from here on has them blocked.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  const int stopFd = ::signalfd(-1, &stops, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::perror("tarsel-sim: signalfd");
    return 1;
  }

  Service service(arms, settings);
  service.SetIdleLimit(std::chrono::milliseconds(std::llround(idleSeconds * 1000)));
  service.SetBusClock(busClock);
  std::string why;
  if (!service.Listen(socket, why)) {
    std::fprintf(stderr, "tarsel-sim: %s\n", why.c_str());
    return 1;
  }
  std::optional<tarsel::view::ViewServer> view;
  std::optional<Publisher> publisher;
  if (http) {
    view.emplace(tarsel::view::ViewServerOptions{"127.0.0.1", *http, tarsel::view::FindWebRoot(),
                                                 tarsel::view::FindThreeRoot()});
    publisher.emplace(service, *view);
    if (!view->Start(why)) {
      std::fprintf(stderr, "tarsel-sim: the live view: %s\n", why.c_str());
      return 1;
    }
  }
  std::printf("tarsel-sim: %d simulated arm%s on %s\n", service.ArmCount(),
              service.ArmCount() == 1 ? "" : "s", socket.c_str());
  std::printf("tarsel-sim: programs reach them with %s=%s; in a shell:\n",
              tarsel::sim::service::kSocketVariable, socket.c_str());
  std::printf("export %s=%s\n", tarsel::sim::service::kSocketVariable,
              tarsel::text::ShellWord(socket).c_str());
  if (view) std::printf("tarsel-sim: live view on http://127.0.0.1:%d/\n", view->Port());
  std::fflush(stdout);

  service.Run(stopFd);
  publisher.reset();
  if (view) view->Stop();
  service.Stop();
  ::close(stopFd);
  std::printf("tarsel-sim: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarsel-sim: %s\n", e.what());
    return 1;
  }
}
