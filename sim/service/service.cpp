#include "service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "tarsel/vusb/bus_clock.h"

namespace tarsel::sim {

namespace {

using Clock = std::chrono::steady_clock;

// How long a program may stay silent in the middle of a multi-packet
// message before another program's exchange goes ahead.
constexpr auto kStallLimit = std::chrono::seconds(1);
// Connections served at once; more are told so and closed as they come.
constexpr std::size_t kMaxConnections = 64;
// How long a connection may go without a request, unless set otherwise:
// long enough for any program that pauses between commands, short enough
// that programs which leave connections open cannot fill the service.
constexpr std::chrono::milliseconds kDefaultIdleLimit = std::chrono::seconds(60);

bool Refused(const Packet& answer) {
  return answer.CommandId < 0 || (answer.CommandId & 0x4000) != 0;
}

// Whether answer leaves its message unfinished: more packets of it follow.
bool MidMessage(const std::optional<Packet>& answer) {
  return answer && !Refused(*answer) && answer->PacketIndex >= 1 &&
         answer->PacketIndex < answer->PacketCount;
}

// The answer to a packet out of sequence: the verdict -1 with the request's
// header, as the arm refuses a command it does not take.
Packet OutOfSequence(const Packet& request) {
  Packet a;
  std::memset(&a, 0, sizeof a);
  a.PacketIndex = request.PacketIndex;
  a.PacketCount = request.PacketCount;
  a.CommandId = -1;
  a.PayloadSize = request.PayloadSize;
  return a;
}

// Answers a connection that is not served with status and word, without
// waiting for its request, and closes it. The program reads the answer when
// its request is refused or goes unanswered.
void TurnAway(int fd, service::Status status, std::uint32_t word) {
  service::Answer answer;
  answer.status = status;
  service::PutWord(answer.packet, word);
  unsigned char out[service::kAnswerSize];
  service::Encode(answer, out);
  // A refusal that does not fit at once is not waited for.
  (void)::send(fd, out, sizeof out, MSG_DONTWAIT | MSG_NOSIGNAL);
  ::close(fd);
}

void SetTimeLimits(int fd, std::chrono::milliseconds limit) {
  timeval t{};
  t.tv_sec = static_cast<time_t>(limit.count() / 1000);
  t.tv_usec = static_cast<suseconds_t>(limit.count() % 1000 * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}

}  // namespace

struct Service::Impl {
  struct Slot {
    std::unique_ptr<SimulatedArm> arm;
    std::mutex mu;
    std::condition_variable turn;
    const void* holder = nullptr;  // the connection in the middle of a message
    short command = 0;             // the command of its message
    short lastIndex = 0;           // the last packet of it answered
    Clock::time_point lastHeld;
    std::string tracePrefix;  // "" unless exchanges are traced
  };

  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  std::vector<std::unique_ptr<Slot>> slots;
  std::atomic<bool> stopping{false};
  std::chrono::milliseconds idleLimit = kDefaultIdleLimit;
  bool busClock = false;

  int listenFd = -1;
  std::string path;
  ino_t socketInode = 0;

  std::mutex connectionsMutex;
  std::list<std::unique_ptr<Connection>> connections;

  Slot* SlotOf(int number) {
    if (number < 1 || number > static_cast<int>(slots.size())) return nullptr;
    return slots[static_cast<std::size_t>(number - 1)].get();
  }

  // Waits until no other program is in the middle of a message on slot.
  void WaitForTurn(Slot& slot, const void* client, std::unique_lock<std::mutex>& lock) {
    while (slot.holder != nullptr && slot.holder != client && !stopping) {
      const auto limit = slot.lastHeld + kStallLimit;
      if (slot.turn.wait_until(lock, limit) == std::cv_status::timeout &&
          slot.holder != nullptr && slot.holder != client && Clock::now() >= slot.lastHeld + kStallLimit) {
        slot.holder = nullptr;  // it stalled: the arm drops its message when the next one starts
      }
    }
  }

  // Whether request goes on the message client is in the middle of on slot.
  static bool Continues(const Slot& slot, const void* client, const Packet& request) {
    return slot.holder == client && request.CommandId == slot.command &&
           request.PacketIndex == slot.lastIndex + 1;
  }

  service::Answer Exchange(Slot& slot, const void* client, const Packet& request) {
    if (!busClock) return ExchangeNow(slot, client, request);
    // The request goes out at the OUT endpoint's next poll, the answer at
    // the IN endpoint's first poll after the arm gave it.
    std::this_thread::sleep_until(vusb::NextPoll(Clock::now(), vusb::kDefaultInterval));
    const service::Answer answer = ExchangeNow(slot, client, request);
    std::this_thread::sleep_until(vusb::NextPoll(Clock::now(), vusb::kDefaultInterval));
    return answer;
  }

  service::Answer ExchangeNow(Slot& slot, const void* client, const Packet& request) {
    service::Answer answer;
    std::unique_lock lock(slot.mu);
    WaitForTurn(slot, client, lock);
    // The arm would serve a stray later packet of a read from a fresh
    // snapshot, or from another program's, and a reader would put together
    // an answer of two moments; only the connection that began a message
    // goes on with it.
    if (request.PacketIndex > 1 && !Continues(slot, client, request)) {
      if (slot.holder == client) {
        slot.holder = nullptr;
        slot.turn.notify_all();
      }
      answer.packet = OutOfSequence(request);
      if (!slot.tracePrefix.empty()) {
        std::fprintf(stderr, "%s%s (out of sequence: refused by the service)\n",
                     slot.tracePrefix.c_str(), TraceLine(request, answer.packet).c_str());
      }
      return answer;
    }
    const std::optional<Packet> reply = slot.arm->Handle(request);
    const bool held = MidMessage(reply);
    slot.holder = held ? client : nullptr;
    slot.command = request.CommandId;
    slot.lastIndex = request.PacketIndex;
    slot.lastHeld = Clock::now();
    if (!held) slot.turn.notify_all();
    if (reply) {
      answer.packet = *reply;
    } else {
      answer.status = service::Status::kSilent;
    }
    return answer;
  }

  // Serves c's requests until it leaves, breaks, stays idle past the
  // limit (the socket's receive time limit) or the service stops.
  void ServeConnection(Service& service, Connection& c) {
    unsigned char in[service::kRequestSize];
    while (!stopping) {
      const service::Receipt got = service::Receive(c.fd, in, sizeof in);
      if (got == service::Receipt::kTimedOut && !stopping) {
        std::fprintf(stderr, "tarsel-sim: closed a connection idle for %g s\n",
                     std::chrono::duration<double>(idleLimit).count());
      }
      if (got != service::Receipt::kWhole) break;
      const service::Answer answer = service.Serve(&c, service::DecodeRequest(in));
      unsigned char out[service::kAnswerSize];
      service::Encode(answer, out);
      if (!service::SendAll(c.fd, out, sizeof out)) break;
    }
    service.Leave(&c);
    // The program sees the end now, not when the thread is reaped.
    ::shutdown(c.fd, SHUT_RDWR);
    c.done = true;
  }

  // Joins the threads of connections that have ended.
  void Reap() {
    std::lock_guard lock(connectionsMutex);
    for (auto it = connections.begin(); it != connections.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        ::close((*it)->fd);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
};

Service::Service(int count, const SimEnvironment& settings) : impl_(std::make_unique<Impl>()) {
  if (settings.absent) count = 0;
  for (int n = 1; n <= count; ++n) {
    auto slot = std::make_unique<Impl::Slot>();
    slot->arm = std::make_unique<SimulatedArm>(settings.options);
    Configure(*slot->arm, settings);
    if (settings.trace) {
      const std::string prefix = "[sim:" + std::to_string(n) + "] ";
      slot->tracePrefix = prefix;
      slot->arm->SetObserver([prefix](const Packet& request, const std::optional<Packet>& answer,
                                const char* why) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), TraceLine(request, answer, why).c_str());
      });
    }
    impl_->slots.push_back(std::move(slot));
  }
}

Service::~Service() {
  Stop();
}

int Service::ArmCount() const {
  return static_cast<int>(impl_->slots.size());
}

SimulatedArm& Service::Arm(int number) {
  return *impl_->SlotOf(number)->arm;
}

service::Answer Service::Serve(const void* client, const service::Request& request) {
  service::Answer answer;
  switch (request.op) {
    case service::Op::kList:
      service::PutWord(answer.packet, static_cast<std::uint32_t>(ArmCount()));
      return answer;
    case service::Op::kOpen:
      if (impl_->SlotOf(request.arm) == nullptr) answer.status = service::Status::kNoSuchArm;
      return answer;
    case service::Op::kExchange:
      if (Impl::Slot* slot = impl_->SlotOf(request.arm)) {
        return impl_->Exchange(*slot, client, request.packet);
      }
      answer.status = service::Status::kNoSuchArm;
      return answer;
  }
  answer.status = service::Status::kBadRequest;
  return answer;
}

void Service::Leave(const void* client) {
  for (auto& slot : impl_->slots) {
    std::lock_guard lock(slot->mu);
    if (slot->holder == client) {
      slot->holder = nullptr;
      slot->turn.notify_all();
    }
  }
}

bool Service::Listen(const std::string& path, std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    why = path + ": a socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) +
          " bytes";
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      why = path + " exists and is not a socket";
      return false;
    }
    if (const std::string foreign =
            service::ForeignOwner("the socket " + path + " belongs to", st.st_uid, ::geteuid());
        !foreign.empty()) {
      why = foreign + ": it is not replaced (choose another with --socket)";
      return false;
    }
    std::string ignored;
    if (const int fd = service::Connect(path, ignored); fd >= 0) {
      ::close(fd);
      why = "another service is running on " + path;
      return false;
    }
    ::unlink(path.c_str());  // left behind by a service that died
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  // Only the user who started the service may connect.
  const mode_t before = ::umask(0077);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  ::umask(before);
  if (bound != 0 || ::listen(fd, 16) != 0) {
    why = path + ": " + std::strerror(bound != 0 ? error : errno);
    ::close(fd);
    return false;
  }
  if (::stat(path.c_str(), &st) == 0) impl_->socketInode = st.st_ino;
  impl_->listenFd = fd;
  impl_->path = path;
  return true;
}

void Service::SetIdleLimit(std::chrono::milliseconds limit) {
  impl_->idleLimit = std::max(limit, std::chrono::milliseconds(1));
}

void Service::SetBusClock(bool on) {
  impl_->busClock = on;
}

void Service::Run(int stopFd) {
  Impl& i = *impl_;
  while (!i.stopping && i.listenFd >= 0) {
    pollfd fds[2] = {{i.listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(i.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    i.Reap();
    // The socket's mode keeps other users out, but not root, nor anyone
    // when the file was made by someone else; the kernel's word decides.
    const uid_t self = ::geteuid();
    uid_t peer = 0;
    const bool known = service::PeerUid(fd, peer);
    if (!known || peer != self) {
      const std::string who = known ? "uid " + std::to_string(peer) : "an unknown user";
      std::fprintf(stderr, "tarsel-sim: refused a program of %s: only uid %ld may use %s\n",
                   who.c_str(), static_cast<long>(self), i.path.c_str());
      TurnAway(fd, service::Status::kForeign, self);
      continue;
    }
    std::lock_guard lock(i.connectionsMutex);
    if (i.connections.size() >= kMaxConnections) {
      std::fprintf(stderr, "tarsel-sim: refused a program: %zu programs are connected\n",
                   kMaxConnections);
      TurnAway(fd, service::Status::kFull, kMaxConnections);
      continue;
    }
    SetTimeLimits(fd, i.idleLimit);
    auto connection = std::make_unique<Impl::Connection>();
    connection->fd = fd;
    Impl::Connection* c = connection.get();
    connection->thread = std::thread([this, c] { impl_->ServeConnection(*this, *c); });
    i.connections.push_back(std::move(connection));
  }
}

void Service::Stop() {
  Impl& i = *impl_;
  i.stopping = true;
  if (i.listenFd >= 0) {
    ::close(i.listenFd);
    i.listenFd = -1;
    // Removed only while it is still this service's socket.
    struct stat st {};
    if (::lstat(i.path.c_str(), &st) == 0 && st.st_ino == i.socketInode) ::unlink(i.path.c_str());
  }
  for (auto& slot : i.slots) {
    std::lock_guard lock(slot->mu);
    slot->turn.notify_all();
  }
  std::lock_guard lock(i.connectionsMutex);
  for (auto& c : i.connections) ::shutdown(c->fd, SHUT_RDWR);
  for (auto& c : i.connections) {
    c->thread.join();
    ::close(c->fd);
  }
  i.connections.clear();
}

}  // namespace tarsel::sim
