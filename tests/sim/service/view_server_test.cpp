// The live view's server in this process, spoken to over plain sockets: it
// answers only requests that name this machine, it serves as many viewers
// as it promises while some of them read slowly or not at all, and what it
// sends carries where each arm is heading, its zones, its errors by name
// and the joints' past.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "view_server.h"

namespace viewservertest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tarsel::view::kMaxViewers;
using Json = nlohmann::json;

// Every wait is generous: a loaded machine makes the tests slower, never
// wrong.
constexpr auto kWait = std::chrono::seconds(30);

// Polls until done() holds or within has passed; whether it held.
template <typename Done>
bool Eventually(Done done, std::chrono::seconds within = kWait) {
  const auto deadline = Clock::now() + within;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A connection to the server on this machine's port; its receive buffer
// is rcvbuf bytes when rcvbuf > 0. -1 when it cannot connect.
int Connect(int port, int rcvbuf = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A GET of path; host is the Host header's line(s), none (and HTTP/1.0)
// when null.
std::string Request(const std::string& path, const char* host) {
  if (host == nullptr) return "GET " + path + " HTTP/1.0\r\n\r\n";
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

// Waits up to the deadline for fd to have data (or its end); whether it has.
bool Readable(int fd, Clock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) == 1;
}

// Sends request on a connection of its own and reads the answer's head;
// its status, 0 when no head came in time.
int Status(int port, const std::string& request) {
  const int fd = Connect(port);
  std::string head;
  if (fd >= 0 && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    const auto deadline = Clock::now() + kWait;
    char buffer[512];
    ssize_t n;
    while (head.find("\r\n\r\n") == std::string::npos && Readable(fd, deadline) &&
           (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
      head.append(buffer, static_cast<std::size_t>(n));
    }
  }
  if (fd >= 0) ::close(fd);
  int status = 0;
  return std::sscanf(head.c_str(), "HTTP/1.%*d %d", &status) == 1 ? status : 0;
}

// Reads fd to its end; false when it has not ended by the deadline.
bool ReadsToTheEnd(int fd) {
  const auto deadline = Clock::now() + kWait;
  char buffer[4096];
  while (Readable(fd, deadline)) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

// Reads what has come on fd, waiting up to the deadline for more, until
// text holds n bytes; whether it does.
bool ReadUpTo(int fd, std::string& text, std::size_t n, Clock::time_point deadline) {
  char buffer[4096];
  while (text.size() < n && Readable(fd, deadline)) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text.size() >= n;
}

// The body of a GET of path (answered with its length, then closed); ""
// when none came.
std::string Body(int port, const std::string& path) {
  const int fd = Connect(port);
  const std::string request = Request(path, "localhost");
  std::string text;
  if (fd >= 0 && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    const auto deadline = Clock::now() + kWait;
    ReadUpTo(fd, text, std::string::npos, deadline);
  }
  if (fd >= 0) ::close(fd);
  const std::size_t body = text.find("\r\n\r\n");
  return body == std::string::npos ? "" : text.substr(body + 4);
}

Json JsonAt(int port, const std::string& path) {
  return Json::parse(Body(port, path), nullptr, false);
}

// The bytes of a chunked body's complete chunks.
std::string Dechunked(const std::string& body) {
  std::string data;
  std::size_t at = 0;
  for (std::size_t line; (line = body.find("\r\n", at)) != std::string::npos;) {
    const std::size_t size = std::stoul(body.substr(at, line - at), nullptr, 16);
    if (size == 0 || body.size() < line + 2 + size + 2) break;
    data += body.substr(line + 2, size);
    at = line + 2 + size + 2;
  }
  return data;
}

// The first n messages of the event stream, each up to its blank line;
// fewer when they do not come in time.
std::vector<std::string> FirstEvents(int port, std::size_t n) {
  const int fd = Connect(port);
  const std::string request = Request("/events", "localhost");
  std::vector<std::string> events;
  if (fd < 0 || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) <= 0) return events;
  const auto deadline = Clock::now() + kWait;
  std::string raw;
  char buffer[4096];
  ssize_t got;
  while (events.size() < n && Readable(fd, deadline) &&
         (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
    raw.append(buffer, static_cast<std::size_t>(got));
    const std::size_t head = raw.find("\r\n\r\n");
    if (head == std::string::npos) continue;
    events.clear();
    std::string data = Dechunked(raw.substr(head + 4));
    for (std::size_t end; (end = data.find("\n\n")) != std::string::npos; data.erase(0, end + 2)) {
      events.push_back(data.substr(0, end));
    }
  }
  ::close(fd);
  if (events.size() > n) events.resize(n);
  return events;
}

// A server of a page and a three.js of a line each, showing two arms with
// a few errors each (events of about the size the real arms give).
class ViewServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarsel-view-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "web");
    fs::create_directories(dir_ / "three");
    std::ofstream(dir_ / "web" / "index.html") << "<p>the view</p>\n";
    std::ofstream(dir_ / "three" / "three.min.js") << "const REVISION = '1';\n";
    ASSERT_NO_FATAL_FAILURE(StartServer(tarsel::view::kHistorySeconds));
    std::vector<tarsel::view::ArmView> arms(2);
    for (int k = 0; k < 2; ++k) {
      arms[k].path = "sim:" + std::to_string(k + 1);
      arms[k].errors.resize(5);
    }
    server_->Publish(arms);
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(dir_);
  }

  // A server (in place of the one there is) whose plot's window is
  // historySeconds.
  void StartServer(double historySeconds) {
    server_.reset();
    tarsel::view::ViewServerOptions options;
    options.webRoot = (dir_ / "web").string();
    options.threeRoot = (dir_ / "three").string();
    options.historySeconds = historySeconds;
    server_.emplace(options);
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    port_ = server_->Port();
  }

  fs::path dir_;
  std::optional<tarsel::view::ViewServer> server_;
  int port_ = 0;
};

// --- Only this machine's names are answered --------------------------------------

struct HostCase {
  const char* host;  // the Host line's value; null: none (HTTP/1.0)
  bool answered;
};

void PrintTo(const HostCase& c, std::ostream* out) {
  *out << (c.host == nullptr ? "(no Host)" : c.host);
}

class HostNames : public ViewServerTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(HostNames, AreAnsweredOnlyWhenTheyNameThisMachine) {
  struct Route {
    const char* path;
    int status;  // when answered
  };
  for (const Route& route : {Route{"/", 200}, Route{"/state", 200}, Route{"/events", 200},
                             Route{"/history", 200},
                             Route{"/three/three.min.js", 200}, Route{"/nothing-here", 404}}) {
    EXPECT_EQ(Status(port_, Request(route.path, GetParam().host)),
              GetParam().answered ? route.status : 403)
        << route.path;
  }
}

INSTANTIATE_TEST_SUITE_P(
    View, HostNames,
    ::testing::Values(HostCase{"localhost", true}, HostCase{"LocalHost:8080", true},
                      HostCase{"127.0.0.1", true}, HostCase{"127.0.0.1:65535", true},
                      HostCase{"[::1]", true}, HostCase{"[::1]:8080", true},
                      // A page of another site whose name now leads here.
                      HostCase{"attacker.example", false},
                      HostCase{"localhost.attacker.example", false},
                      HostCase{"127.0.0.1.attacker.example", false}, HostCase{"localhost.", false},
                      HostCase{"127.0.0.2", false}, HostCase{"::1", false}, HostCase{"", false},
                      HostCase{"localhost:", false}, HostCase{"localhost:65536", false},
                      HostCase{"localhost:80:80", false}, HostCase{"user@localhost", false},
                      HostCase{"localhost\r\nHost: attacker.example", false},
                      HostCase{nullptr, false}));

// --- Many viewers, slow ones among them ------------------------------------------

// Pages watching the events over plain sockets with small receive buffers:
// each sends its request at once, and one thread reads them all ten times a
// second: all that has come for a page that reads, only the answer's head
// for one that has stalled.
class Watchers {
 public:
  explicit Watchers(int port) : port_(port), thread_([this] { Read(); }) {}
  ~Watchers() {
    done_ = true;
    thread_.join();
    for (const Watcher& w : list_) ::close(w.fd);
  }

  // Opens one more; false when it cannot connect or send.
  bool Open(bool reads) {
    const int fd = Connect(port_, 4096);
    const std::string request = Request("/events", "localhost");
    if (fd < 0) return false;
    Watcher watcher;
    watcher.fd = fd;
    watcher.reads = reads;
    std::lock_guard lock(mu_);
    list_.push_back(std::move(watcher));
    return ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(request.size());
  }

  int Fd(std::size_t k) {
    std::lock_guard lock(mu_);
    return list_[k].fd;
  }

  // Whether every page has been answered 200 (waits for it).
  bool AllAnswered() {
    return Eventually([&] {
      std::lock_guard lock(mu_);
      return std::all_of(list_.begin(), list_.end(), [](const Watcher& w) { return w.status == 200; });
    });
  }

  // Whether every page that reads gets more events and none has been
  // dropped (waits for it).
  bool ReadersAreServed() {
    std::vector<std::size_t> before;
    {
      std::lock_guard lock(mu_);
      for (const Watcher& w : list_) before.push_back(w.received);
    }
    return Eventually([&] {
      std::lock_guard lock(mu_);
      for (std::size_t k = 0; k < list_.size(); ++k) {
        if (list_[k].reads && (list_[k].ended || list_[k].received <= before[k])) return false;
      }
      return true;
    });
  }

 private:
  struct Watcher {
    int fd = -1;
    bool reads = false;
    std::string head;
    int status = 0;  // 0 until the head has come
    std::size_t received = 0;
    bool ended = false;
  };

  void Read() {
    char buffer[4096];
    while (!done_) {
      {
        std::lock_guard lock(mu_);
        for (Watcher& w : list_) {
          ssize_t n;
          while ((w.reads || w.status == 0) &&
                 (n = ::recv(w.fd, buffer, w.reads ? sizeof buffer : 1, MSG_DONTWAIT)) >= 0) {
            w.ended = w.ended || n == 0;
            if (n == 0) break;
            w.received += static_cast<std::size_t>(n);
            if (w.status == 0) {
              w.head.append(buffer, static_cast<std::size_t>(n));
              if (w.head.find("\r\n\r\n") != std::string::npos &&
                  std::sscanf(w.head.c_str(), "HTTP/1.%*d %d", &w.status) != 1) {
                w.status = -1;
              }
            }
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  const int port_;
  std::mutex mu_;
  std::vector<Watcher> list_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// kMaxViewers pages watch, half of them never reading: the page and the
// state are still served, the ones that do not read are dropped and the
// ones that read are still served.
TEST_F(ViewServerTest, ServesItsViewersWhileSomeDoNotRead) {
  Watchers watchers(port_);
  for (int k = 0; k < kMaxViewers; ++k) ASSERT_TRUE(watchers.Open(k % 2 == 0));
  ASSERT_TRUE(watchers.AllAnswered());

  EXPECT_EQ(Status(port_, Request("/", "localhost")), 200);
  EXPECT_EQ(Status(port_, Request("/state", "localhost")), 200);

  EXPECT_TRUE(Eventually([&] { return server_->Viewers() <= kMaxViewers / 2; },
                         std::chrono::seconds(60)))
      << server_->Viewers() << " viewers";
  for (int k = 1; k < kMaxViewers; k += 2) EXPECT_TRUE(ReadsToTheEnd(watchers.Fd(k))) << k;
  EXPECT_TRUE(watchers.ReadersAreServed());
}

TEST_F(ViewServerTest, RefusesOneViewerTooManyUntilOthersLeave) {
  {
    Watchers watchers(port_);
    for (int k = 0; k < kMaxViewers; ++k) ASSERT_TRUE(watchers.Open(true));
    ASSERT_TRUE(watchers.AllAnswered());
    EXPECT_EQ(Status(port_, Request("/events", "localhost")), 503);
  }
  EXPECT_TRUE(Eventually([&] { return Status(port_, Request("/events", "localhost")) == 200; }));
}

// --- What the page is sent ---------------------------------------------------------

using tarsel::view::ArmView;
using tarsel::view::TargetView;

// A zone whose eight points are the corners of the box low .. high, in a
// scrambled order.
Zone Box(std::array<float, 3> low, std::array<float, 3> high) {
  Zone zone{};
  const int order[8] = {5, 0, 3, 6, 1, 7, 2, 4};
  for (int k = 0; k < 8; ++k) {
    const int corner = order[k];
    zone.Points[k].X = corner & 1 ? high[0] : low[0];
    zone.Points[k].Y = corner & 2 ? high[1] : low[1];
    zone.Points[k].Z = corner & 4 ? high[2] : low[2];
  }
  return zone;
}

void ExpectNear(const Json& actual, const std::vector<double>& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what << ": " << actual;
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(actual[k], expected[k], 1e-6) << what;
}

TEST_F(ViewServerTest, StateCarriesWhereEachArmIsHeading) {
  struct Case {
    const char* path;
    std::optional<TargetView> target;
    const char* kind;  // null: no target
    std::vector<double> position;  // empty: the hand tip's when the joints are the target's
  };
  const std::array<double, 6> home{0, 20, 100, 0, 60, 0};
  const std::vector<Case> cases = {
      {"none", std::nullopt, nullptr, {}},
      {"upright", TargetView{true, {0, 0, 0, 0, 0, 0}}, "angular", {0, 0, 1.16}},
      {"home", TargetView{true, home}, "angular", {}},
      {"pose", TargetView{false, {0.4, -0.1, 0.3, 3.1, 0, 1.5}}, "cartesian", {0.4, -0.1, 0.3}},
  };
  std::vector<ArmView> arms;
  for (const Case& c : cases) {
    ArmView arm;
    arm.path = c.path;
    arm.target = c.target;
    if (c.target) arm.joints = c.target->values;
    arms.push_back(arm);
  }
  server_->Publish(arms);
  const Json state = JsonAt(port_, "/state");
  ASSERT_EQ(state["arms"].size(), cases.size()) << state;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    const Json& arm = state["arms"][k];
    if (c.kind == nullptr) {
      EXPECT_TRUE(arm.contains("target") && arm["target"].is_null()) << c.path << ": " << arm;
      continue;
    }
    EXPECT_EQ(arm["target"]["kind"], c.kind) << c.path;
    ExpectNear(arm["target"]["values"], {c.target->values.begin(), c.target->values.end()}, c.path);
    std::vector<double> tip = c.position;
    for (int i = 9; tip.size() < 3; ++i) tip.push_back(arm["frames"][6][i].get<double>());
    ExpectNear(arm["target"]["position"], tip, c.path);
  }
}

TEST_F(ViewServerTest, StateCarriesTheZonesThatHoldABox) {
  ZoneList list{};  // zone 0 unused: all zeros
  list.Zones[2] = Box({0.3f, -0.2f, 0.0f}, {0.5f, 0.2f, 0.3f});
  list.Zones[4] = Box({0.1f, 0.1f, 0.1f}, {0.2f, 0.2f, 0.2f});
  list.Zones[4].Points[3].Y = NAN;
  list.Zones[5] = Box({0.1f, 0.1f, 0.1f}, {0.2f, 0.2f, INFINITY});
  list.Zones[6] = Box({0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f});  // one point
  list.Zones[9] = Box({-0.1f, 0.2f, 0.05f}, {0.1f, 0.4f, 0.05f});  // flat
  ArmView arm;
  arm.path = "sim:1";
  arm.zones = tarsel::view::ZonesOf(list);
  server_->Publish({arm});
  const Json zones = JsonAt(port_, "/state")["arms"][0]["zones"];
  ASSERT_EQ(zones.size(), 2u) << zones;
  EXPECT_EQ(zones[0]["index"], 2);
  ExpectNear(zones[0]["low"], {0.3f, -0.2f, 0.0f}, "zone 2");
  ExpectNear(zones[0]["high"], {0.5f, 0.2f, 0.3f}, "zone 2");
  EXPECT_EQ(zones[1]["index"], 9);
  ExpectNear(zones[1]["low"], {-0.1f, 0.2f, 0.05f}, "zone 9");
  ExpectNear(zones[1]["high"], {0.1f, 0.4f, 0.05f}, "zone 9");
}

TEST_F(ViewServerTest, StateNamesTheErrors) {
  struct Case {
    std::uint32_t code;
    int device;
    int severity;
    const char* codeText;
    const char* deviceName;
    const char* severityName;
  };
  const std::vector<Case> cases = {
      {0x0102, 3, 1, "0x0102", "actuator 3", "warning"},
      {0x0201, 0, 0, "0x0201", "controller", "information"},
      {0x0305, 8, 2, "0x0305", "finger 2", "error"},
      {1, 1, 2, "0x0001", "actuator 1", "error"},
      {1, 6, 2, "0x0001", "actuator 6", "error"},
      {1, 7, 2, "0x0001", "finger 1", "error"},
      {1, 9, 2, "0x0001", "finger 3", "error"},
      {0x12345, 10, 3, "0x12345", "device 10", "severity 3"},
      {0xffffffff, -1, -1, "0xffffffff", "device -1", "severity -1"},
  };
  ArmView arm;
  arm.path = "sim:1";
  for (const Case& c : cases) {
    tarsel::view::ErrorView e;
    e.code = c.code;
    e.device = c.device;
    e.severity = c.severity;
    arm.errors.push_back(e);
  }
  server_->Publish({arm});
  const Json errors = JsonAt(port_, "/state")["arms"][0]["errors"];
  ASSERT_EQ(errors.size(), cases.size()) << errors;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(errors[k]["code"], cases[k].code) << k;
    EXPECT_EQ(errors[k]["codeText"], cases[k].codeText) << k;
    EXPECT_EQ(errors[k]["deviceName"], cases[k].deviceName) << k;
    EXPECT_EQ(errors[k]["severityName"], cases[k].severityName) << k;
  }
}

// An arm whose joint 1 is at joint1.
ArmView ArmAt(const std::string& path, double joint1) {
  ArmView arm;
  arm.path = path;
  arm.joints[0] = joint1;
  return arm;
}

// Joint 1 of each sample of history.
std::vector<double> Joint1(const Json& history) {
  std::vector<double> values;
  for (const Json& sample : history) values.push_back(sample.at(1).get<double>());
  return values;
}

// The past of each arm is kept, on the state's clock, for the plot's window
// and no longer, and forgotten with the arm.
TEST_F(ViewServerTest, HistoryKeepsTheWindowOfEachArm) {
  constexpr double kWindow = 0.5;
  ASSERT_NO_FATAL_FAILURE(StartServer(kWindow));
  // More than kHistoryStep between the states: each gives a sample.
  const auto step = std::chrono::milliseconds(30);
  server_->Publish({ArmAt("sim:1", 1), ArmAt("sim:2", 5)});
  std::this_thread::sleep_for(step);
  server_->Publish({ArmAt("sim:1", 2), ArmAt("sim:2", 5)});
  std::this_thread::sleep_for(step);
  server_->Publish({ArmAt("sim:1", 3), ArmAt("sim:2", 5)});
  Json history = JsonAt(port_, "/history");
  EXPECT_EQ(history["historySeconds"], kWindow);
  const Json& first = history["arms"]["sim:1"];
  ASSERT_EQ(Joint1(first), (std::vector<double>{1, 2, 3})) << history;
  EXPECT_EQ(first[0].size(), 7u);
  EXPECT_LT(first[0][0].get<double>(), first[1][0].get<double>());
  EXPECT_LT(first[1][0].get<double>(), first[2][0].get<double>());
  EXPECT_NEAR(first[2][0].get<double>(), JsonAt(port_, "/state")["time"].get<double>(), 0.001);
  EXPECT_EQ(Joint1(history["arms"]["sim:2"]), (std::vector<double>{5, 5, 5}));

  // Past the window only the new sample is left; sim:2 is gone.
  std::this_thread::sleep_for(std::chrono::duration<double>(kWindow + 0.1));
  server_->Publish({ArmAt("sim:1", 4)});
  history = JsonAt(port_, "/history");
  EXPECT_EQ(Joint1(history["arms"]["sim:1"]), (std::vector<double>{4})) << history;
  EXPECT_FALSE(history["arms"].contains("sim:2"));

  // States published as fast as they come for longer than the window keep
  // at most one sample per kHistoryStep.
  const auto until = Clock::now() + std::chrono::duration<double>(kWindow + 0.2);
  while (Clock::now() < until) server_->Publish({ArmAt("sim:1", 6)});
  const std::size_t kept = JsonAt(port_, "/history")["arms"]["sim:1"].size();
  EXPECT_GE(kept, 2u);
  EXPECT_LE(kept, static_cast<std::size_t>(kWindow / tarsel::view::kHistoryStep) + 2);
}

TEST_F(ViewServerTest, AStreamBeginsWithTheHistory) {
  // An arm of its own: the first state of it is sampled whenever it comes.
  server_->Publish({ArmAt("arm:a", 1)});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  server_->Publish({ArmAt("arm:a", 2)});
  const std::vector<std::string> events = FirstEvents(port_, 2);
  ASSERT_EQ(events.size(), 2u);
  const std::string named = "event: history\ndata: ";
  ASSERT_EQ(events[0].rfind(named, 0), 0u) << events[0];
  const Json history = Json::parse(events[0].substr(named.size()), nullptr, false);
  EXPECT_EQ(history["historySeconds"], tarsel::view::kHistorySeconds);
  EXPECT_EQ(Joint1(history["arms"]["arm:a"]), (std::vector<double>{1, 2}));
  ASSERT_EQ(events[1].rfind("data: ", 0), 0u) << events[1];
  EXPECT_EQ(Json::parse(events[1].substr(6))["arms"][0]["joints"][0], 2);
}

}  // namespace
}  // namespace viewservertest
