#include "view_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <httplib.h>

namespace tarsel::view {

namespace {

using Clock = std::chrono::steady_clock;

// Server-sent events come 25 a second: smooth enough for the page's numbers
// and plots, whatever rate the state is published at.
constexpr auto kEventPeriod = std::chrono::milliseconds(40);

// A connection's send buffer (the kernel doubles it): a second or more of
// events of a few arms.
constexpr int kSendBuffer = 64 * 1024;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string EventText(const std::string& state) {
  return "data: " + state + "\n\n";
}

std::string HistoryEventText(const std::string& history) {
  return "event: history\ndata: " + history + "\n\n";
}

// The server's threads, one per connection being served: started as
// connections come, up to limit, and kept for the next ones; a connection
// beyond the limit waits for one of them. (cpp-httplib's own pool has eight
// threads, which eight open pages hold with their event streams.)
class Workers : public httplib::TaskQueue {
 public:
  explicit Workers(std::size_t limit) : limit_(limit) {}

  void enqueue(std::function<void()> job) override {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
    if (idle_ < jobs_.size() && threads_.size() < limit_) {
      try {
        threads_.emplace_back([this] { Work(); });
        return;
      } catch (const std::system_error&) {
        // Out of threads: the job waits for one of those there are.
      }
    }
    ready_.notify_one();
  }

  void shutdown() override {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mu_);
      done_ = true;
      threads.swap(threads_);
    }
    ready_.notify_all();
    for (std::thread& t : threads) t.join();
  }

 private:
  void Work() {
    std::unique_lock lock(mu_);
    while (true) {
      ++idle_;
      ready_.wait(lock, [this] { return done_ || !jobs_.empty(); });
      --idle_;
      // Jobs still queued at shutdown are run: each closes its connection.
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  const std::size_t limit_;
  std::mutex mu_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool done_ = false;
};

// Whether value, a Host header's, names this machine: localhost (any
// case), 127.0.0.1 or [::1], alone or with a port of 1 to 5 digits up to
// 65535.
bool NamesThisMachine(std::string_view value) {
  for (const std::string_view name : {"localhost", "127.0.0.1", "[::1]"}) {
    if (value.size() < name.size()) continue;
    const bool same = std::equal(name.begin(), name.end(), value.begin(), [](char a, char b) {
      return a == std::tolower(static_cast<unsigned char>(b));
    });
    if (!same) continue;
    const std::string_view rest = value.substr(name.size());
    if (rest.empty()) return true;
    const std::string_view port = rest.substr(1);
    if (rest[0] != ':' || port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    return std::stoi(std::string(port)) <= 65535;
  }
  return false;
}

}  // namespace

struct ViewServer::Impl {
  ViewServerOptions options;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> served{false};  // the serving thread has finished
  int port = 0;
  socket_t listening = INVALID_SOCKET;  // the port's socket, once bound
  const Clock::time_point started = Clock::now();
  std::atomic<int> viewers{0};

  std::mutex mu;
  std::condition_variable changed;
  std::string state = StateJson(0, {});
  // The state as an event, shared by every stream rather than copied.
  std::shared_ptr<const std::string> event = std::make_shared<std::string>(EventText(state));
  bool stopping = false;
  JointHistory history;
  double published = 0;  // the time of the last state

  std::string State() {
    std::lock_guard lock(mu);
    return state;
  }

  std::string History() {
    JointHistory copy;
    double time = 0;
    {
      std::lock_guard lock(mu);
      copy = history;
      time = published;
    }
    return HistoryJson(time, options.historySeconds, copy);
  }

  // Adds a sample of each arm at time and forgets what is older than the
  // window, and the arms no longer published. Under mu.
  void Record(double time, const std::vector<ArmView>& arms) {
    const auto most = static_cast<std::size_t>(options.historySeconds / kHistoryStep) + 2;
    JointHistory kept;
    for (const ArmView& a : arms) {
      std::deque<JointSample> samples;
      if (auto node = history.extract(a.path); !node.empty()) samples = std::move(node.mapped());
      if (samples.empty() || time - samples.back().time >= kHistoryStep) {
        samples.push_back({time, a.joints});
      }
      while (samples.front().time < time - options.historySeconds || samples.size() > most) {
        samples.pop_front();
      }
      kept[a.path] = std::move(samples);
    }
    history.swap(kept);
  }

  // A place among the viewers, given back when the last copy goes (with
  // the response that streams to it); null when kMaxViewers are watching.
  class ViewerPlace {
   public:
    explicit ViewerPlace(std::atomic<int>& viewers) : viewers_(viewers) {}
    ~ViewerPlace() { --viewers_; }
    ViewerPlace(const ViewerPlace&) = delete;
    ViewerPlace& operator=(const ViewerPlace&) = delete;

   private:
    std::atomic<int>& viewers_;
  };
  std::shared_ptr<const ViewerPlace> TakeViewerPlace() {
    if (viewers.fetch_add(1) >= kMaxViewers) {
      --viewers;
      return nullptr;
    }
    return std::make_shared<const ViewerPlace>(viewers);
  }

  // One event after another until the page goes away or the server stops.
  // The first goes out at once, after the history, the others on a fixed
  // beat (*due: when the next is due), so that late wake-ups on a busy
  // machine do not add up.
  bool NextEvent(std::size_t offset, httplib::DataSink& sink, Clock::time_point& due) {
    if (offset == 0) {
      const std::string past = HistoryEventText(History());
      if (!sink.write(past.data(), past.size())) return false;
    }
    std::shared_ptr<const std::string> text;
    {
      std::unique_lock lock(mu);
      if (offset > 0) changed.wait_until(lock, due, [this] { return stopping; });
      if (stopping) return false;
      text = event;
    }
    const auto now = Clock::now();
    due = std::max(due + kEventPeriod, now - kEventPeriod);  // after a long stall, no burst
    return sink.write(text->data(), text->size());
  }
};

ViewServer::ViewServer(ViewServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  double& window = impl_->options.historySeconds;
  if (!(window > 0 && window <= 3600)) window = kHistorySeconds;
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
  i.server.set_write_timeout(kWriteTimeoutSeconds, 0);
  i.server.new_task_queue = [] { return new Workers(kMaxViewers + kSpareThreads); };
  // A page of another site may have its name lead here (DNS rebinding);
  // its requests still carry that name.
  i.server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value_count("Host") == 1 && NamesThisMachine(req.get_header_value("Host"))) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.status = 403;
    res.set_content("Only this machine's own names are served: localhost, 127.0.0.1, [::1].\n",
                    "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  // Not the library's default, which shares the port with any other server
  // on it: a port in use is refused. The connections take the listening
  // socket's send buffer: a fixed one, not one that grows to megabytes, so
  // that a viewer that stops reading is found out in a second or two, not
  // after half a minute of events have piled up for it.
  i.server.set_socket_options([&i](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    i.listening = sock;
  });
  i.server.Get("/state", [&i](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(i.State(), "application/json");
  });
  i.server.Get("/history", [&i](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(i.History(), "application/json");
  });
  i.server.Get("/events", [&i](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    std::shared_ptr<const Impl::ViewerPlace> place = i.TakeViewerPlace();
    if (!place) {
      res.status = 503;
      res.set_header("Retry-After", "10");
      res.set_content("Already " + std::to_string(kMaxViewers) + " viewers, the most served.\n",
                      "text/plain");
      return;
    }
    res.set_chunked_content_provider(
        "text/event-stream", [&i, place, due = Clock::now()](std::size_t offset,
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
  // The library listens with a queue of 5 connections not yet accepted:
  // pages that come back together (after a restart of the server) would
  // wait seconds for their connections to be taken again.
  if (i.port > 0 && i.listening != INVALID_SOCKET) {
    ::listen(i.listening, kMaxViewers + kSpareThreads);
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
  const double time = Seconds(impl_->started);
  std::string json = StateJson(time, arms);
  auto event = std::make_shared<const std::string>(EventText(json));
  std::lock_guard lock(impl_->mu);
  impl_->state = std::move(json);
  impl_->event = std::move(event);
  impl_->published = time;
  impl_->Record(time, arms);
}

int ViewServer::Viewers() const {
  return impl_->viewers;
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
