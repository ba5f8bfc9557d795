#include "view_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include <httplib.h>

namespace tarsel::view {

namespace {

using Clock = std::chrono::steady_clock;

// Server-sent events come 25 a second: smooth enough for the page's numbers
// and plots, whatever rate the state is published at.
constexpr auto kEventPeriod = std::chrono::milliseconds(40);

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

struct ViewServer::Impl {
  ViewServerOptions options;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> served{false};  // the serving thread has finished
  int port = 0;
  const Clock::time_point started = Clock::now();

  std::mutex mu;
  std::condition_variable changed;
  std::string state = StateJson(0, {});
  bool stopping = false;

  std::string State() {
    std::lock_guard lock(mu);
    return state;
  }

  // One event after another until the page goes away or the server stops.
  // The first goes out at once, the others on a fixed beat (*due: when the
  // next is due), so that late wake-ups on a busy machine do not add up.
  bool NextEvent(std::size_t offset, httplib::DataSink& sink, Clock::time_point& due) {
    std::string event;
    {
      std::unique_lock lock(mu);
      if (offset > 0) changed.wait_until(lock, due, [this] { return stopping; });
      if (stopping) return false;
      event = "data: " + state + "\n\n";
    }
    const auto now = Clock::now();
    due = std::max(due + kEventPeriod, now - kEventPeriod);  // after a long stall, no burst
    return sink.write(event.data(), event.size());
  }
};

ViewServer::ViewServer(ViewServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

ViewServer::~ViewServer() {
  Stop();
}

bool ViewServer::Start(std::string& why) {
  Impl& i = *impl_;
  if (!i.server.set_mount_point("/", i.options.webRoot)) {
    why = "the page's files are not in " + i.options.webRoot + " (TARSEL_WEB_DIR names them)";
    return false;
  }
  if (!i.server.set_mount_point("/three", i.options.threeRoot)) {
    why = "three.js is not in " + i.options.threeRoot +
          " (install libjs-three, or set TARSEL_THREE_DIR)";
    return false;
  }
  i.server.set_keep_alive_timeout(1);
  // Not the library's default, which shares the port with any other server
  // on it: a port in use is refused.
  i.server.set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  i.server.Get("/state", [&i](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(i.State(), "application/json");
  });
  i.server.Get("/events", [&i](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream", [&i, due = Clock::now()](std::size_t offset,
                                                      httplib::DataSink& sink) mutable {
          return i.NextEvent(offset, sink, due);
        });
  });
  if (i.options.port == 0) {
    i.port = i.server.bind_to_any_port(i.options.host);
  } else if (i.server.bind_to_port(i.options.host, i.options.port)) {
    i.port = i.options.port;
  } else {
    i.port = -1;
  }
  if (i.port <= 0) {
    why = "cannot listen on " + i.options.host + " port " + std::to_string(i.options.port) +
          " (in use?)";
    return false;
  }
  i.thread = std::thread([&i] {
    i.server.listen_after_bind();
    i.served = true;
  });
  return true;
}

int ViewServer::Port() const {
  return impl_->port;
}

void ViewServer::Publish(const std::vector<ArmView>& arms) {
  std::string json = StateJson(Seconds(impl_->started), arms);
  std::lock_guard lock(impl_->mu);
  impl_->state = std::move(json);
}

void ViewServer::Stop() {
  Impl& i = *impl_;
  {
    std::lock_guard lock(i.mu);
    i.stopping = true;
  }
  i.changed.notify_all();
  if (i.thread.joinable()) {
    // A server that has not started running yet would not see the stop.
    while (!i.server.is_running() && !i.served) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    i.server.stop();
    i.thread.join();
  }
}

std::string FindWebRoot() {
  if (const char* dir = std::getenv("TARSEL_WEB_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::string exe(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) return "share/tarsel/web";
  exe.resize(static_cast<std::size_t>(n));
  const std::string bin = exe.substr(0, exe.rfind('/'));
  return bin + "/../share/tarsel/web";
}

std::string FindThreeRoot() {
  if (const char* dir = std::getenv("TARSEL_THREE_DIR"); dir != nullptr && *dir != '\0') return dir;
  return "/usr/share/javascript/three";
}

}  // namespace tarsel::view
