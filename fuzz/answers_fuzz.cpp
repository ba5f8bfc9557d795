// Plays an arbitrary arm: every answer packet of every exchange comes from
// the fuzz input, 64 bytes at a time; when the input runs out the link leaves
// answers untouched, as after a failed transfer. Each input drives one export
// (byte 0 picks it). No answer stream may crash the library, hang it, or make
// it touch memory it does not own.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "recording_link.h"
#include "tarsel/tarsel.h"

namespace {

struct Feed {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
};
Feed g_feed;

bool AnswerFromInput(const Packet&, Packet& answer) {
  if (g_feed.at + TARSEL_PACKET_SIZE > g_feed.size) return true;  // untouched
  unsigned char wire[TARSEL_PACKET_SIZE];
  std::memcpy(wire, g_feed.data + g_feed.at, TARSEL_PACKET_SIZE);
  g_feed.at += TARSEL_PACKET_SIZE;
  answer = tarsel::DecodePacket(wire);
  return true;
}

void RunExport(unsigned which) {
  switch (which % 24) {
    case 0: {
      AngularPosition r;
      GetAngularPosition(r);
      break;
    }
    case 1: {
      CartesianPosition r;
      GetCartesianPosition(r);
      break;
    }
    case 2: {
      AngularAcceleration r;
      GetActuatorAcceleration(r);
      break;
    }
    case 3: {
      TrajectoryPoint r;
      GetActualTrajectoryInfo(r);
      break;
    }
    case 4: {
      TrajectoryFIFO r;
      GetGlobalTrajectoryInfo(r);
      break;
    }
    case 5: {
      SingularityVector r;
      GetSingularityVector(r);
      break;
    }
    case 6: {
      int t;
      GetControlType(t);
      break;
    }
    case 7:
      MoveHome();
      break;
    case 8: {
      static ClientConfigurations r;
      GetClientConfigurations(&r);
      break;
    }
    case 9: {
      static ControlMappingCharts r;
      GetControlMapping(&r);
      break;
    }
    case 10: {
      static ZoneList r;
      GetProtectionZone(&r);
      break;
    }
    case 11: {
      std::vector<float> v(14);
      GetDevValue(v);
      break;
    }
    case 12: {
      std::vector<float> v(4);
      int s;
      GetSpasmFilterValues(v, s);
      break;
    }
    case 13: {
      static GeneralInformations r;
      GetGeneralInformations(r);
      break;
    }
    case 14: {
      static Gripper r;
      GetGripperStatus(r);
      break;
    }
    case 15: {
      QuickStatus r;
      GetQuickStatus(r);
      break;
    }
    case 16: {
      ForcesInfo r;
      GetForcesInfo(r);
      break;
    }
    case 17: {
      SensorsInfo r;
      GetSensorsInfo(r);
      break;
    }
    case 18: {
      unsigned c;
      GetSystemErrorCount(c);
      break;
    }
    case 19: {
      SystemError r;
      GetSystemError(3, r);
      break;
    }
    case 20: {
      std::vector<PeripheralInfo> l;
      GetPeripheralInventory(l);
      break;
    }
    case 21:
      InitFingers();
      break;
    case 22: {
      std::vector<float> v;
      GetPositionCurrentActuators(v);
      break;
    }
    default: {
      std::vector<int> v;
      GetCodeVersion(v);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const tarsel::fuzzing::Input input(data, size);
  static const bool opened = [] {
    tarsel::recording::Reset();
    return InitAPI() == TARSEL_OK;
  }();
  if (!opened) return 0;
  tarsel::recording::Reset();
  tarsel::recording::SetResponder(AnswerFromInput);
  g_feed = Feed{input.data() + 1, size - 1, 0};
  RunExport(input.data()[0]);
  return 0;
}
