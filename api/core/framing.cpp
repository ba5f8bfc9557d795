#include "core/framing.h"

#include <algorithm>
#include <cstring>

#include "core/connection.h"
#include "core/guard.h"

#include "tarsel/result.h"

PacketList::PacketList() = default;
PacketList::PacketList(const PacketList& other) = default;
PacketList& PacketList::operator=(const PacketList& other) = default;
PacketList::~PacketList() = default;

using tarsel::JudgeVerdict;

namespace {

constexpr int kData = TARSEL_PACKET_DATA_SIZE;
// Passes a read of the largest announceable payload needs; a stream of
// answers that has not reached its size by then never will.
constexpr int kMaxReadPasses = (tarsel::kMaxPayload + kData - 1) / kData;

Packet BlankPacket() {
  Packet p;
  std::memset(&p, 0, sizeof p);
  return p;
}

}  // namespace

void PrepareGetPacket(Packet& request, int command) {
  request = BlankPacket();
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = static_cast<short>(command);
  request.PayloadSize = 1;
  request.Data[0] = 1;
}

void PrepareSetPacket(std::vector<Packet>& packets, int command) {
  Packet p = BlankPacket();
  p.PacketIndex = 1;
  p.PacketCount = 1;
  p.CommandId = static_cast<short>(command);
  p.PayloadSize = 0;
  packets.push_back(p);
}

std::vector<Packet> BuildSetCommand(int command, const Payload& payload) {
  std::vector<Packet> packets;
  if (payload.empty() || payload.size() > static_cast<std::size_t>(tarsel::kMaxPayload)) {
    return packets;
  }
  const int size = static_cast<int>(payload.size());
  const int count = (size + kData - 1) / kData;
  packets.reserve(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    Packet p = BlankPacket();
    p.PacketIndex = static_cast<short>(k + 1);
    p.PacketCount = static_cast<short>(count);
    p.CommandId = static_cast<short>(command);
    p.PayloadSize = static_cast<short>(size);
    const int begin = k * kData;
    const int n = std::min(kData, size - begin);
    std::memcpy(p.Data, payload.data() + begin, static_cast<std::size_t>(n));
    packets.push_back(p);
  }
  return packets;
}

// Both exchanges hold the connection's lock for the whole command, so no
// other thread's packets come between this command's packets, and the link
// cannot be closed under them. A missing answer (2008) ends the command: the
// arm never says anything for it, so no verdict is drawn.
int SendSetCommand(const std::vector<Packet>& packets) {
  tarsel::Connection& link = tarsel::CurrentConnection();
  std::lock_guard lock(link.Mutex());
  if (!link.IsOpen()) return TARSEL_ERROR_NOT_INITIALIZED;
  Packet answer;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    if (link.Exchange(packets[i], answer) != TARSEL_OK) return TARSEL_ERROR_NO_ANSWER;
    const int code = JudgeVerdict(answer.CommandId, i == 0);
    if (code != TARSEL_OK) return code;
  }
  return TARSEL_OK;
}

namespace tarsel {

// A write's packets, framed one at a time into one packet on the stack as
// they go out: the same bytes BuildSetCommand gives, without holding them all.
int SendFramed(int command, const Payload& payload) {
  Connection& link = CurrentConnection();
  std::lock_guard lock(link.Mutex());
  if (!link.IsOpen()) return TARSEL_ERROR_NOT_INITIALIZED;
  const int size = static_cast<int>(payload.size());
  const int count = (size + kData - 1) / kData;
  Packet request;
  Packet answer;
  request.PacketCount = static_cast<short>(count);
  request.CommandId = static_cast<short>(command);
  request.PayloadSize = static_cast<short>(size);
  for (int k = 0; k < count; ++k) {
    const int begin = k * kData;
    const int n = std::min(kData, size - begin);
    request.PacketIndex = static_cast<short>(k + 1);
    std::memcpy(request.Data, payload.data() + begin, static_cast<std::size_t>(n));
    if (n < kData) std::memset(request.Data + n, 0, static_cast<std::size_t>(kData - n));
    if (link.Exchange(request, answer) != TARSEL_OK) return TARSEL_ERROR_NO_ANSWER;
    const int code = JudgeVerdict(answer.CommandId, k == 0);
    if (code != TARSEL_OK) return code;
  }
  return TARSEL_OK;
}

Payload& ReadScratch() {
  thread_local Payload payload;
  payload.clear();
  return payload;
}

Payload& WriteScratch() {
  thread_local Payload payload;
  payload.clear();
  return payload;
}

}  // namespace tarsel

int SendGetCommand(Packet& request, Payload& payload) {
  tarsel::Connection& link = tarsel::CurrentConnection();
  std::lock_guard lock(link.Mutex());
  if (!link.IsOpen()) return TARSEL_ERROR_NOT_INITIALIZED;
  Packet answer;
  for (int pass = 0; pass < kMaxReadPasses; ++pass) {
    if (link.Exchange(request, answer) != TARSEL_OK) return TARSEL_ERROR_NO_ANSWER;
    const int code = JudgeVerdict(answer.CommandId, answer.PacketIndex == 1);
    if (code != TARSEL_OK) return code;
    if (pass == 0 && answer.PayloadSize >= 0) {
      // One allocation for the whole answer instead of one per packet.
      payload.reserve(payload.size() + static_cast<std::size_t>(answer.PayloadSize) + kData);
    }
    payload.insert(payload.end(), answer.Data, answer.Data + kData);
    if (answer.PayloadSize < 0) return TARSEL_ERROR_BAD_ANSWER_SIZE;
    request.PacketIndex = static_cast<short>(answer.PacketIndex + 1);
    request.PayloadSize = answer.PayloadSize;
    if (payload.size() >= static_cast<std::size_t>(answer.PayloadSize)) return TARSEL_OK;
  }
  return TARSEL_ERROR_BAD_ANSWER_SIZE;
}

std::vector<unsigned char> merge(int count, std::vector<unsigned char> bytes,
                                 const unsigned char* data) {
  if (count > 0 && data != nullptr) bytes.insert(bytes.end(), data, data + count);
  return bytes;
}

namespace tarsel {

// The three shapes build their packets and collect their answers inside
// Guarded, so running out of memory gives 5002 instead of an exception.

int SendPayload(int command, const Payload& payload) {
  if (payload.size() > static_cast<std::size_t>(kMaxPayload)) {
    return TARSEL_ERROR_PAYLOAD_TOO_LARGE;
  }
  return SendFramed(command, payload);
}

int SendBare(int command) {
  // The one packet PrepareSetPacket would append, built on the stack.
  Packet request = BlankPacket();
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = static_cast<short>(command);
  Connection& link = CurrentConnection();
  std::lock_guard lock(link.Mutex());
  if (!link.IsOpen()) return TARSEL_ERROR_NOT_INITIALIZED;
  Packet answer;
  if (link.Exchange(request, answer) != TARSEL_OK) return TARSEL_ERROR_NO_ANSWER;
  return JudgeVerdict(answer.CommandId, true);
}

int ReadCommand(int command, Payload& payload, std::uint32_t argument) {
  return Guarded([&] {
    Packet request;
    PrepareGetPacket(request, command);
    for (int i = 0; i < 4; ++i) request.Data[i] = static_cast<unsigned char>(argument >> (8 * i));
    return SendGetCommand(request, payload);
  });
}

}  // namespace tarsel
