// The exchange between the simulator's link library and tarsel-sim over a
// local (Unix) stream socket. Each request is one fixed frame and gets one
// fixed answer frame, one at a time, as a device takes one packet and
// gives one back:
//
//   request  66 bytes: op, arm number (1 to 32; 0 to list), a packet
//   answer   65 bytes: status, a packet
//
// Packets travel in their USB wire form (EncodePacket). sim/README.md
// describes the ops and statuses.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tarsel/packet.h"

namespace tarsel::sim::service {

// The variable that names the service's socket. Set, the drop-in link
// library forwards every exchange there; unset, it answers in process.
inline constexpr const char* kSocketVariable = "TARSEL_SIM_SOCKET";

inline constexpr std::size_t kRequestSize = 2 + TARSEL_PACKET_SIZE;
inline constexpr std::size_t kAnswerSize = 1 + TARSEL_PACKET_SIZE;

enum class Op : unsigned char {
  kList = 'L',      // answer: the number of arms, in data bytes 0-3
  kOpen = 'O',      // answer: kAnswered when the arm is there
  kExchange = 'X',  // answer: the arm's answer to the packet
};

enum class Status : unsigned char {
  kAnswered = 0,    // the packet carries the answer
  kSilent = 1,      // the arm gave no answer (a fault, or unplugged)
  kNoSuchArm = 2,   // no arm of that number
  kBadRequest = 3,  // an op the service does not know
  kFull = 4,        // the service serves its most programs; data bytes 0-3: that number
  kForeign = 5,     // the program is another user's; data bytes 0-3: the service's uid
};

struct Request {
  Op op = Op::kExchange;
  int arm = 1;
  Packet packet{};
};

struct Answer {
  Status status = Status::kAnswered;
  Packet packet{};
};

void Encode(const Request& request, unsigned char (&frame)[kRequestSize]);
Request DecodeRequest(const unsigned char (&frame)[kRequestSize]);
void Encode(const Answer& answer, unsigned char (&frame)[kAnswerSize]);
Answer DecodeAnswer(const unsigned char (&frame)[kAnswerSize]);

// The socket a service listens on unless told otherwise: TARSEL_SIM_SOCKET
// when set, else $XDG_RUNTIME_DIR/tarsel-sim.sock, else
// /tmp/tarsel-sim-<uid>.sock.
std::string DefaultSocketPath();

// The socket the link library forwards to: TARSEL_SIM_SOCKET, or "" when it
// is unset or empty (the arms are then in process).
std::string ForwardingSocket();

// Writes or reads exactly n bytes, going on after interruptions; false when
// the connection fails or ends first. Writing never raises SIGPIPE.
bool SendAll(int fd, const void* data, std::size_t n);
bool ReceiveAll(int fd, void* data, std::size_t n);

// How a read of a whole frame ended.
enum class Receipt {
  kWhole,     // all n bytes came
  kClosed,    // the other end closed the connection before a byte came
  kTimedOut,  // no byte came within the socket's receive time limit
  kBroken,    // the connection failed, or ended or stalled part-way
};

// Reads exactly n bytes into data, going on after interruptions; how it
// ended. data holds a frame only with kWhole.
Receipt Receive(int fd, void* data, std::size_t n);

// A little-endian number in data bytes 0-3 of a packet, as the listing and
// the refusals carry one.
void PutWord(Packet& packet, std::uint32_t n);
std::uint32_t WordOf(const Packet& packet);

// Connects to the socket at path; the descriptor (close-on-exec), or -1
// with why set.
int Connect(const std::string& path, std::string& why);

// The effective uid of the process at the other end of the connected (or
// listening) socket fd, as the kernel recorded it; false when it cannot be
// told.
bool PeerUid(int fd, uid_t& uid);

// Whether a program running as uid self may use a socket or service that
// belongs to uid owner: only its own user's. "" when it may; else why not,
// naming what (e.g. "the simulator service at /tmp/x.sock runs as") and
// both uids. Root gets no exception: it uses root's service only.
std::string ForeignOwner(const std::string& what, uid_t owner, uid_t self);

}  // namespace tarsel::sim::service
