#include "service_client.h"

#include <sys/socket.h>
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

void Unreachable(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "tarsel simulated arm: no simulator service at %s (%s): %s\n", path.c_str(),
               service::kSocketVariable, why.c_str());
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

bool ServiceClient::Call(const service::Request& request, service::Answer& answer,
                         std::string& why) {
  unsigned char out[service::kRequestSize];
  service::Encode(request, out);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = fd_ < 0;
    if (fresh) {
      fd_ = service::Connect(path_, why);
      if (fd_ < 0) return false;
      SetTimeLimit(fd_);
    }
    if (!service::SendAll(fd_, out, sizeof out)) {
      why = "the connection broke";
      Disconnect();
      if (fresh) return false;
      continue;  // an old connection: the service may have been restarted
    }
    unsigned char in[service::kAnswerSize];
    if (!service::ReceiveAll(fd_, in, sizeof in)) {
      why = "no answer";
      Disconnect();
      return false;
    }
    answer = service::DecodeAnswer(in);
    return true;
  }
  return false;
}

int ServiceClient::Open() {
  service::Request request;
  request.op = service::Op::kOpen;
  request.arm = arm_;
  service::Answer answer;
  std::string why;
  if (!Call(request, answer, why)) {
    Unreachable(path_, why);
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
  if (!Call(request, answer, why) || answer.status != service::Status::kAnswered) {
    Unreachable(path_, why.empty() ? "the listing was refused" : why);
    return false;
  }
  const unsigned char* d = answer.packet.Data;
  count = static_cast<int>(d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<unsigned>(d[3]) << 24));
  return true;
}

bool ServiceClient::Exchange(const Packet& request, Packet& answer) {
  service::Request r;
  r.op = service::Op::kExchange;
  r.arm = arm_;
  r.packet = request;
  service::Answer a;
  std::string why;
  if (!Call(r, a, why) || a.status != service::Status::kAnswered) return false;
  answer = a.packet;
  return true;
}

}  // namespace tarsel::sim
