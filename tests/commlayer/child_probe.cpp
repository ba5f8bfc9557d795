// A plain libusb program for the launcher tests. Without arguments: opens
// the arm through the link library's plain functions, sends one packet and
// reports through its exit status. With "arms": exits with the number of
// listed arms that answer one packet through a handle of their own.
#include <cstring>
#include <vector>

#include "tarsel/comm_layer.h"

namespace {

Packet Request(short command) {
  Packet request;
  std::memset(&request, 0, sizeof request);
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = command;
  return request;
}

int AnsweringArms() {
  int count = 0;
  if (TarselLinkListArms(nullptr, 0, &count) != 1) return 100;
  std::vector<TarselArmLinkInfo> arms(static_cast<std::size_t>(count));
  if (TarselLinkListArms(arms.data(), count, &count) != 1) return 101;
  int answering = 0;
  for (const TarselArmLinkInfo& arm : arms) {
    TarselArmLink* link = nullptr;
    if (TarselLinkOpenArm(arm.path, &link) != 1) continue;
    Packet request = Request(10);  // a read of the control type, as the API frames it
    request.PayloadSize = 1;
    request.Data[0] = 1;
    Packet answer;
    std::memset(&answer, 0, sizeof answer);
    if (TarselLinkExchange(link, &request, &answer) == 1 && answer.CommandId == 10) ++answering;
    TarselLinkCloseArm(link);
  }
  return answering;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "arms") == 0) return AnsweringArms();
  if (InitCommunication() != 1) return 2;
  const Packet request = Request(77);
  Packet answer;
  std::memset(&answer, 0, sizeof answer);
  int reserved = 0;
  SendPacket(request, answer, reserved);
  CloseCommunication();
  return answer.CommandId == 77 ? 0 : 3;
}
