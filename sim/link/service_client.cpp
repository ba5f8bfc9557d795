#include "service_client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "tarsel/result.h"

namespace tarsel::sim {

namespace {

// How long an answer may take. The service answers at once, unless another
// program is in the middle of a multi-packet message on the same arm, which
// it finishes first (or abandons after a second of silence).
constexpr int kAnswerSeconds = 5;

void SetTimeLimit(int fd) {
  timeval limit{};
  limit.tv_sec = kAnswerSeconds;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

ServiceClient::ServiceClient(std::string path, int arm) : path_(std::move(path)), arm_(arm) {}

ServiceClient::~ServiceClient() {
  Disconnect();
}

void ServiceClient::Disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void ServiceClient::Report(Outcome outcome, const std::string& why) const {
  if (outcome == Outcome::kRefused) {
    std::fprintf(stderr, "tarsel simulated arm: %s\n", why.c_str());
  } else {
    std::fprintf(stderr, "tarsel simulated arm: no simulator service at %s (%s): %s\n",
                 path_.c_str(), service::kSocketVariable, why.c_str());
  }
}

ServiceClient::Outcome ServiceClient::Connect(std::string& why) {
  const uid_t self = ::geteuid();
  // Where another user can make the file first (a shared /tmp), the file
  // tells who would answer.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    const std::string foreign =
        service::ForeignOwner("the simulator socket " + path_ + " belongs to", st.st_uid, self);
    if (!foreign.empty()) {
      why = foreign + ": not used";
      return Outcome::kRefused;
    }
  }
  fd_ = service::Connect(path_, why);
  if (fd_ < 0) return Outcome::kNoService;
  uid_t peer = 0;
  if (!service::PeerUid(fd_, peer)) {
    why = "the simulator service at " + path_ + ": its user cannot be told: not used";
    Disconnect();
    return Outcome::kRefused;
  }
  const std::string foreign =
      service::ForeignOwner("the simulator service at " + path_ + " runs as", peer, self);
  if (!foreign.empty()) {
    why = foreign + ": not used";
    Disconnect();
    return Outcome::kRefused;
  }
  SetTimeLimit(fd_);
  return Outcome::kAnswered;
}

ServiceClient::Outcome ServiceClient::Call(const service::Request& request,
                                           service::Answer& answer, std::string& why) {
  unsigned char out[service::kRequestSize];
  service::Encode(request, out);
  const bool begins = request.op != service::Op::kExchange || request.packet.PacketIndex == 1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = fd_ < 0;
    if (fresh) {
      if (const Outcome connected = Connect(why); connected != Outcome::kAnswered) return connected;
    }
    const bool sent = service::SendAll(fd_, out, sizeof out);
    // A service that turns the program away answers before it reads, and
    // closes: its answer waits here even when the request could not go out.
    unsigned char in[service::kAnswerSize];
    const service::Receipt got = service::Receive(fd_, in, sizeof in);
    if (got == service::Receipt::kWhole) {
      const service::Answer a = service::DecodeAnswer(in);
      if (a.status == service::Status::kFull) {
        why = "the simulator service at " + path_ + " is full (" +
              std::to_string(service::WordOf(a.packet)) + " programs)";
        Disconnect();
        return Outcome::kRefused;
      }
      if (a.status == service::Status::kForeign) {
        why = service::ForeignOwner("the simulator service at " + path_ + " serves only",
                                    service::WordOf(a.packet), ::geteuid());
        Disconnect();
        return Outcome::kRefused;
      }
      if (sent) {
        answer = a;
        return Outcome::kAnswered;
      }
    }
    Disconnect();
    if (got == service::Receipt::kTimedOut) {
      // The answer may still come: never send again what it would answer.
      why = "no answer within " + std::to_string(kAnswerSeconds) + " s";
      return Outcome::kNoService;
    }
    why = "the connection broke";
    const bool closed = !sent || got == service::Receipt::kClosed;
    if (!(closed && !fresh && begins)) return Outcome::kNoService;
  }
  return Outcome::kNoService;
}

int ServiceClient::Open() {
  service::Request request;
  request.op = service::Op::kOpen;
  request.arm = arm_;
  service::Answer answer;
  std::string why;
  if (const Outcome outcome = Call(request, answer, why); outcome != Outcome::kAnswered) {
    Report(outcome, why);
    return TARSEL_ERROR_NO_ARM;
  }
  return answer.status == service::Status::kAnswered ? TARSEL_OK : TARSEL_ERROR_NO_ARM;
}

bool ServiceClient::List(int& count) {
  service::Request request;
  request.op = service::Op::kList;
  request.arm = 0;
  service::Answer answer;
  std::string why;
  const Outcome outcome = Call(request, answer, why);
  if (outcome != Outcome::kAnswered || answer.status != service::Status::kAnswered) {
    Report(outcome, why.empty() ? "the listing was refused" : why);
    return false;
  }
  count = static_cast<int>(service::WordOf(answer.packet));
  return true;
}

bool ServiceClient::Exchange(const Packet& request, Packet& answer) {
  service::Request r;
  r.op = service::Op::kExchange;
  r.arm = arm_;
  r.packet = request;
  service::Answer a;
  std::string why;
  const Outcome outcome = Call(r, a, why);
  if (outcome == Outcome::kRefused) Report(outcome, why);
  if (outcome != Outcome::kAnswered || a.status != service::Status::kAnswered) return false;
  answer = a.packet;
  return true;
}

}  // namespace tarsel::sim
