// A plain libusb program for the launcher test: opens the arm through the
// link library, sends one packet and reports through its exit status.
#include <cstring>

#include "tarsel/comm_layer.h"

int main() {
  if (InitCommunication() != 1) return 2;
  Packet request;
  std::memset(&request, 0, sizeof request);
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = 77;
  Packet answer;
  std::memset(&answer, 0, sizeof answer);
  int reserved = 0;
  SendPacket(request, answer, reserved);
  CloseCommunication();
  return answer.CommandId == 77 ? 0 : 3;
}
