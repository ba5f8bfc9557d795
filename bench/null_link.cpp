// A zero-latency stand-in link for the benchmarks: it has the link library's
// file name and SONAME, and answers every packet at once without recording
// anything. A read is answered as a message of NullLinkSetReadSize bytes (36
// by default, one packet), packet by packet; every other packet is
// acknowledged.
#include <cstring>

#include "tarsel/comm_layer.h"

namespace {
int g_readSize = 36;
}  // namespace

extern "C" {

TARSEL_API void NullLinkSetReadSize(int bytes) {
  g_readSize = bytes;
}

TARSEL_API int InitCommunication() {
  return 1;
}

TARSEL_API int CloseCommunication() {
  return 1;
}

TARSEL_API int GetDeviceCount(int* count) {
  return count != nullptr ? *count : 0;
}

TARSEL_API Packet SendPacket(const Packet& request, Packet& answer, int& /*reserved*/) {
  answer.PacketIndex = request.PacketIndex;
  answer.PacketCount = 1;
  answer.CommandId = request.CommandId;
  answer.PayloadSize = static_cast<short>(g_readSize);
  std::memset(answer.Data, 0, sizeof answer.Data);
  return answer;
}

}  // extern "C"
