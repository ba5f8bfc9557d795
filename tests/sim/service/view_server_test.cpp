// The live view's server in this process, spoken to over plain sockets: it
// answers only requests that name this machine, and it serves as many
// viewers as it promises while some of them read slowly or not at all.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
    server_.emplace(tarsel::view::ViewServerOptions{"127.0.0.1", 0, (dir_ / "web").string(),
                                                    (dir_ / "three").string()});
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    port_ = server_->Port();
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

}  // namespace
}  // namespace viewservertest
