// A plain libusb program for the launcher tests. Without arguments: opens
// the arm through the link library's plain functions, sends one packet and
// reports through its exit status. With "arms": exits with the number of
// listed arms that answer one packet through a handle of their own. With
// "idle": exchanges nothing. A last argument "save=FILE" then saves the
// recent packets to FILE; a failed save exits with 4.
#include <cstring>
#include <string>
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

int OnePlainExchange() {
  if (InitCommunication() != 1) return 2;
  const Packet request = Request(77);
  Packet answer;
  std::memset(&answer, 0, sizeof answer);
  int reserved = 0;
  SendPacket(request, answer, reserved);
  CloseCommunication();
  return answer.CommandId == 77 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  std::string save;
  if (argc > 1 && std::strncmp(argv[argc - 1], "save=", 5) == 0) save = argv[--argc] + 5;
  const std::string mode = argc > 1 ? argv[1] : "";
  const int status = mode == "arms" ? AnsweringArms() : mode == "idle" ? 0 : OnePlainExchange();
  if (!save.empty() && TarselLinkSaveRecentPackets(save.c_str()) != 1) return 4;
  return status;
}
