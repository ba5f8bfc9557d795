#include "fuzz_link.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/catalogue.h"
#include "tarsel/comm_layer.h"
#include "tarsel/result.h"

struct TarselArmLink {
  int id = 0;
};

namespace tarsel::fuzzing {
namespace {

Input* g_input = nullptr;
int g_openHandles = 0;
bool g_flatOpen = false;
LinkStats g_stats;

std::uint8_t Decide() {
  return g_input != nullptr ? g_input->Byte() : 0;
}

// The answer an arm that accepts everything gives: the request's index and
// command as verdict; a read announces the catalogue's size and the packet
// count it takes, anything else acknowledges with no payload.
Packet WellFormed(const Packet& request) {
  Packet answer;
  std::memset(&answer, 0, sizeof answer);
  answer.PacketIndex = request.PacketIndex;
  answer.CommandId = request.CommandId;
  const CommandEntry* command = FindCommand(request.CommandId);
  if (command != nullptr && command->shape == Shape::kRead) {
    answer.PayloadSize = static_cast<short>(command->answerBytes);
    answer.PacketCount = static_cast<short>((command->answerBytes + TARSEL_PACKET_DATA_SIZE - 1) /
                                            TARSEL_PACKET_DATA_SIZE);
  } else {
    answer.PacketCount = request.PacketCount;
  }
  return answer;
}

// Decides this exchange's answer from the input. Returns false when the arm
// stays silent (the answer is left as it was, as after a failed transfer).
bool Decided(const Packet& request, Packet& answer) {
  if (g_input == nullptr || g_input->empty()) return false;
  const std::uint8_t mode = g_input->Byte();
  Packet made = WellFormed(request);
  switch (mode % 8) {
    case 0:
    case 1:
      break;
    case 2:
      g_input->Fill(made.Data, 4);
      break;
    case 3:
      g_input->Fill(made.Data, TARSEL_PACKET_DATA_SIZE);
      break;
    case 4:
      return false;
    case 5:
      made.CommandId = g_input->Take<short>();
      break;
    case 6:
      made.PacketIndex = g_input->Take<short>();
      made.PacketCount = g_input->Take<short>();
      made.PayloadSize = g_input->Take<short>();
      break;
    default: {
      if (g_input->left() < TARSEL_PACKET_SIZE) return false;
      unsigned char wire[TARSEL_PACKET_SIZE];
      g_input->Fill(wire, sizeof wire);
      made = DecodePacket(wire);
      break;
    }
  }
  answer = made;
  return true;
}

bool Answer(const Packet& request, Packet& answer) {
  ++g_stats.exchanges;
  if (!Decided(request, answer)) {
    ++g_stats.silent;
    return false;
  }
  if (answer.CommandId < 0 || (answer.CommandId & 0x4000) != 0) ++g_stats.refused;
  return true;
}

// A text field as a link might fill it: a proper string, or raw bytes with
// no terminator at all.
void FillText(char* field, std::size_t size, const char* text) {
  if (Decide() % 4 == 3) {
    g_input->Fill(field, size);
  } else {
    std::snprintf(field, size, "%s", text);
  }
}

}  // namespace

void SetLinkInput(Input* input) {
  g_input = input;
}

LinkStats TakeStats() {
  const LinkStats stats = g_stats;
  g_stats = LinkStats{};
  return stats;
}

int OpenHandles() {
  return g_openHandles;
}

bool FlatLinkOpen() {
  return g_flatOpen;
}

}  // namespace tarsel::fuzzing

using namespace tarsel::fuzzing;

extern "C" {

TARSEL_API int InitCommunication() {
  static const int kResults[] = {
      1, 1, 1, 1, 1, TARSEL_ERROR_NO_ARM, TARSEL_ERROR_CLAIM_FAILED, TARSEL_ERROR_USB_INIT};
  const int code = kResults[Decide() % 8];
  g_flatOpen = code == 1;
  return code;
}

TARSEL_API int CloseCommunication() {
  g_flatOpen = false;
  return 1;
}

TARSEL_API int GetDeviceCount(int* count) {
  return count != nullptr ? *count : 0;
}

TARSEL_API Packet SendPacket(const Packet& request, Packet& answer, int& /*reserved*/) {
  Answer(request, answer);
  return answer;
}

TARSEL_API int TarselLinkListArms(TarselArmLinkInfo* arms, int capacity, int* count) {
  if (count == nullptr || capacity < 0 || (arms == nullptr && capacity > 0)) {
    return TARSEL_ERROR_ARGUMENT;
  }
  // The bus may change between two calls.
  const int found = Decide() % 4;
  for (int i = 0; i < found && i < capacity; ++i) {
    TarselArmLinkInfo& info = arms[i];
    std::memset(&info, 0, sizeof info);
    char path[TARSEL_ARM_PATH_SIZE];
    std::snprintf(path, sizeof path, "usb:1-%d", i + 1);
    FillText(info.path, sizeof info.path, path);
    FillText(info.serial, sizeof info.serial, "");
    FillText(info.product, sizeof info.product, "stand-in arm");
    info.vendorId = TARSEL_USB_VENDOR_ID;
    info.bus = 1;
    info.address = static_cast<unsigned char>(i + 2);
  }
  *count = found;
  return 1;
}

TARSEL_API int TarselLinkOpenArm(const char* /*path*/, TarselArmLink** link) {
  if (link == nullptr) return TARSEL_ERROR_ARGUMENT;
  *link = nullptr;
  const std::uint8_t choice = Decide();
  switch (choice % 8) {
    case 5:
      return TARSEL_ERROR_NO_ARM;
    case 6:
      return TARSEL_ERROR_CLAIM_FAILED;
    case 7:
      // A link that claims success without a handle, or runs out of memory.
      return choice & 0x80 ? 1 : TARSEL_ERROR_NO_MEMORY;
    default:
      *link = new TarselArmLink{++g_openHandles};
      return 1;
  }
}

TARSEL_API int TarselLinkExchange(TarselArmLink* link, const Packet* request, Packet* answer) {
  if (link == nullptr || request == nullptr || answer == nullptr) return TARSEL_ERROR_ARGUMENT;
  return Answer(*request, *answer) ? 1 : TARSEL_ERROR_NO_ANSWER;
}

TARSEL_API int TarselLinkCloseArm(TarselArmLink* link) {
  if (link != nullptr) {
    --g_openHandles;
    delete link;
  }
  return 1;
}

}  // extern "C"
