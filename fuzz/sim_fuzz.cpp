// The simulated arm's request handler (SimulatedArm::Handle) against an
// arbitrary host: any sequence of 64-byte packets, with the clock advanced,
// faults set, the arm unplugged or power-cycled in between. The arm takes
// every request as untrusted: no packet may crash it, hang it or make it touch
// memory it does not own, and its state stays readable afterwards.
//
// Input: byte 0 sets the hand and the finger points; then steps, each led by
// one byte that picks what happens (mostly a packet: 64 raw bytes, half of
// the time with a command number from the catalogue put in).
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/catalogue.h"
#include "fuzz_input.h"
#include "simulated_arm.h"

namespace {

using tarsel::fuzzing::Input;
using namespace tarsel::sim;

constexpr std::size_t kCommandCount = sizeof tarsel::kCommands / sizeof tarsel::kCommands[0];

Packet NextPacket(Input& in, bool known) {
  unsigned char wire[TARSEL_PACKET_SIZE];
  in.Fill(wire, sizeof wire);
  Packet p = tarsel::DecodePacket(wire);
  if (known) p.CommandId = static_cast<short>(tarsel::kCommands[in.Byte() % kCommandCount].number);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t setup = in.Byte();
  ManualClock clock;
  Options options;
  options.hand = setup & 1 ? HandType::kTwoFingers : HandType::kThreeFingers;
  options.fingerInitPoints = (setup >> 1) % 8;
  options.timeScale = 1 + (setup >> 4);
  options.clock = clock.Source();
  SimulatedArm arm(options);

  for (int steps = 0; steps < 4096 && !in.empty(); ++steps) {
    const std::uint8_t step = in.Byte();
    switch (step % 16) {
      case 0:
        clock.Advance(in.Take<std::uint16_t>() / 1000.0);
        break;
      case 1: {
        Fault fault;
        const std::uint8_t kind = in.Byte();
        fault.kind = static_cast<FaultKind>(kind % 3);
        fault.command =
            kind & 0x80 ? Fault::kAny : tarsel::kCommands[in.Byte() % kCommandCount].number;
        fault.packetIndex = kind & 0x40 ? Fault::kAny : in.Byte() % 4;
        fault.times = (kind >> 2) % 4 - 1;
        arm.AddFault(fault);
        break;
      }
      case 2:
        arm.ClearFaults();
        break;
      case 3:
        arm.UnplugAfter(static_cast<long>(in.Byte() % 8) - 1);
        break;
      case 4:
        arm.PowerCycle();
        break;
      default: {
        const Packet request = NextPacket(in, step & 1);
        const std::optional<Packet> answer = arm.Handle(request);
        (void)answer;
        break;
      }
    }
  }

  // Whatever the host sent, the arm's state reads back whole.
  const ArmSnapshot snapshot = arm.Snapshot();
  (void)snapshot;
  for (const tarsel::CommandEntry& c : tarsel::kCommands) {
    if (c.shape == tarsel::Shape::kRead) (void)arm.StoredBlock(c.number);
    if (c.shape == tarsel::Shape::kWrite) (void)arm.ForceSetting(c.number);
  }
  (void)arm.FirmwareChecksum(in.size());
  return 0;
}
