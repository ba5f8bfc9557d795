// Runs one command a given number of times over the zero-latency stand-in
// link, for counting instructions with callgrind: the difference between two
// runs of different lengths is the cost of the extra commands, free of
// start-up costs. bench/count_instructions.sh drives it.
//   tarsel_bench_instructions COMMAND REPEATS
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_codec.h"
#include "core/framing.h"
#include "motion/motion_codec.h"
#include "records.h"
#include "tarsel/arm.hpp"
#include "tarsel/control_loop.hpp"
#include "tarsel/tarsel.h"

extern "C" void NullLinkSetReadSize(int bytes);

namespace {

using tarsel::bench::Records;

// One record serialized into the kept payload (no packets).
template <typename Record>
int Serialize(Records& r, int (*encode)(int&, Payload&, Record), const Record& record) {
  r.form.clear();
  int offset = 0;
  return encode(offset, r.form, record);
}

// Each entry: the read size the link announces, and one command.
struct Command {
  const char* name;
  int readSize;
  int (*run)(Records&);
};

const Command kCommands[] = {
    {"floor", 36,
     [](Records& r) {
       int reserved = 0;
       fptrSendPacket(r.request, r.answer, reserved);
       return 1;
     }},
    {"read1", 36, [](Records& r) { return GetAngularPosition(r.angular); }},
    {"bare", 36, [](Records&) { return EraseAllTrajectories(); }},
    {"advance3", 36, [](Records& r) { return SendAdvanceTrajectory(r.point); }},
    {"general15", 832, [](Records& r) { return GetGeneralInformations(r.general); }},
    {"mapread265", 14816, [](Records& r) { return GetControlMapping(&r.charts); }},
    {"mapwrite265", 14816, [](Records& r) { return SetControlMapping(r.charts); }},
    {"zonesread79", 4408, [](Records& r) { return GetProtectionZone(&r.zones); }},
    {"zoneswrite79", 4408, [](Records& r) { return SetProtectionZone(r.zones); }},
    // The writers on their own: a client configuration with every stored
    // position carried, into its packets, in place into a payload grown
    // once, and the append writer's records.
    {"configwrite55", 36, [](Records& r) { return SetClientConfigurations(r.config); }},
    {"configform", 36,
     [](Records& r) { return Serialize(r, SerializeClientConfiguration, r.config); }},
    {"pointform", 36, [](Records& r) { return Serialize(r, SerializeTrajectoryPoint, r.point); }},
    {"zoneappend", 36, [](Records& r) { return Serialize(r, SerializeZone, r.zone); }},
    {"basicappend", 36,
     [](Records& r) { return Serialize(r, SerializeBasicTrajectoryPoint, r.point); }},
};

// A read of packets packets through the exported framing, for the fit of
// cost against message size.
int FramedRead(Records&) {
  static Payload payload;
  payload.clear();
  Packet request;
  PrepareGetPacket(request, 41);
  return SendGetCommand(request, payload);
}

// A control loop over the flat link for REPEATS cycles, each reading the
// joint angles and sending a joint velocity: with callgrind's collection
// limited to the loop's thread (--toggle-collect on its main function), the
// difference between two lengths is one cycle, exports included.
int RunLoop(long cycles) {
  tarsel::ArmInfo flat;
  flat.path = "default";
  tarsel::Arm arm(flat);
  tarsel::LoopOptions options;
  options.rate = 1000.0;
  options.watchdog = std::chrono::hours(1);  // one set-point for every cycle
  tarsel::ControlLoop loop(arm, options);
  AngularInfo velocity{};
  velocity.Actuator1 = 1.0f;
  loop.SetJointVelocity(velocity);
  std::uint64_t seen = 0;
  while (seen < static_cast<std::uint64_t>(cycles)) {
    seen = loop.WaitNext(seen).sequence;
  }
  loop.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s COMMAND REPEATS\n", argv[0]);
    return 2;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (std::strcmp(c.name, argv[1]) == 0) command = &c;
  }
  // "framedN": a read of N packets through the framing alone.
  Command framed{"framed", 56, FramedRead};
  if (command == nullptr && std::strncmp(argv[1], "framed", 6) == 0) {
    framed.readSize = 56 * std::atoi(argv[1] + 6);
    command = &framed;
  }
  const long repeats = std::strtol(argv[2], nullptr, 10);
  if (std::strcmp(argv[1], "loop") == 0) {
    NullLinkSetReadSize(36);
    return RunLoop(repeats);
  }
  if (command == nullptr) return 2;
  if (InitAPI() != TARSEL_OK) return 1;
  NullLinkSetReadSize(command->readSize);
  static Records records;
  records.point.InitStruct();
  records.config.StoredPositionCount = TARSEL_MAX_STORED_POSITIONS;
  int failures = 0;
  for (long i = 0; i < repeats; ++i) failures += command->run(records) != TARSEL_OK;
  CloseAPI();
  return failures == 0 ? 0 : 1;
}
