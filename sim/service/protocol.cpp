#include "protocol.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarsel::sim::service {

void Encode(const Request& request, unsigned char (&frame)[kRequestSize]) {
  frame[0] = static_cast<unsigned char>(request.op);
  frame[1] = static_cast<unsigned char>(request.arm);
  unsigned char wire[TARSEL_PACKET_SIZE];
  EncodePacket(request.packet, wire);
  std::memcpy(frame + 2, wire, TARSEL_PACKET_SIZE);
}

Request DecodeRequest(const unsigned char (&frame)[kRequestSize]) {
  Request request;
  request.op = static_cast<Op>(frame[0]);
  request.arm = frame[1];
  unsigned char wire[TARSEL_PACKET_SIZE];
  std::memcpy(wire, frame + 2, TARSEL_PACKET_SIZE);
  request.packet = DecodePacket(wire);
  return request;
}

void Encode(const Answer& answer, unsigned char (&frame)[kAnswerSize]) {
  frame[0] = static_cast<unsigned char>(answer.status);
  unsigned char wire[TARSEL_PACKET_SIZE];
  EncodePacket(answer.packet, wire);
  std::memcpy(frame + 1, wire, TARSEL_PACKET_SIZE);
}

Answer DecodeAnswer(const unsigned char (&frame)[kAnswerSize]) {
  Answer answer;
  answer.status = static_cast<Status>(frame[0]);
  unsigned char wire[TARSEL_PACKET_SIZE];
  std::memcpy(wire, frame + 1, TARSEL_PACKET_SIZE);
  answer.packet = DecodePacket(wire);
  return answer;
}

std::string DefaultSocketPath() {
  const std::string chosen = ForwardingSocket();
  if (!chosen.empty()) return chosen;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
    return std::string(runtime) + "/tarsel-sim.sock";
  }
  return "/tmp/tarsel-sim-" + std::to_string(::getuid()) + ".sock";
}

std::string ForwardingSocket() {
  const char* path = std::getenv(kSocketVariable);
  return path != nullptr ? path : "";
}

bool SendAll(int fd, const void* data, std::size_t n) {
  const auto* at = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const ssize_t sent = ::send(fd, at, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, std::size_t n) {
  return Receive(fd, data, n) == Receipt::kWhole;
}

Receipt Receive(int fd, void* data, std::size_t n) {
  auto* at = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd, at + got, n - got, 0);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (got > 0) return Receipt::kBroken;
    // A peer that closed with our request unread resets the connection
    // instead of ending it: for the reader both are the same close.
    if (r == 0 || errno == ECONNRESET) return Receipt::kClosed;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Receipt::kTimedOut;
    return Receipt::kBroken;
  }
  return Receipt::kWhole;
}

void PutWord(Packet& packet, std::uint32_t n) {
  for (int i = 0; i < 4; ++i) packet.Data[i] = static_cast<unsigned char>(n >> (8 * i));
}

std::uint32_t WordOf(const Packet& packet) {
  const unsigned char* d = packet.Data;
  return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

int Connect(const std::string& path, std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    why = "the socket path is empty or longer than " +
          std::to_string(sizeof address.sun_path - 1) + " bytes";
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    why = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool PeerUid(int fd, uid_t& uid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials) {
    return false;
  }
  uid = credentials.uid;
  return true;
}

std::string ForeignOwner(const std::string& what, uid_t owner, uid_t self) {
  if (owner == self) return "";
  return what + " uid " + std::to_string(owner) + ", not uid " + std::to_string(self);
}

}  // namespace tarsel::sim::service
