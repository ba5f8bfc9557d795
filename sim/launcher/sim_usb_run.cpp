// tarsel-sim-usb: runs any program with simulated arms present on a virtual
// USB bus. The program sees ordinary arms through the real link library and
// the real libusb; the simulated arms answer in this process.
//
//   tarsel-sim-usb [--arms N] [--] program [arguments...]
//
// The simulated arms are configured from the TARSEL_SIM_* variables (see
// sim/README.md); --arms N (1 to 32) overrides TARSEL_SIM_ARMS, the number
// of arms (default 1), each with a state of its own. The exit status is the
// program's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "environment.h"
#include "simulated_arm.h"
#include "tarsel/vusb/virtual_arm.h"

namespace {

int Usage(const char* self, int status) {
  std::fprintf(stderr,
               "usage: %s [--arms N] [--] program [arguments...]\n"
               "Runs program with N simulated arms (default 1) on a virtual USB bus.\n",
               self);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  tarsel::sim::SimEnvironment env = tarsel::sim::ReadEnvironment();
  int first = 1;
  if (first < argc && std::strcmp(argv[first], "--arms") == 0) {
    if (first + 1 >= argc) return Usage(argv[0], 2);
    // The same rules as TARSEL_SIM_ARMS.
    const std::string value = argv[first + 1];
    const tarsel::sim::SimEnvironment given =
        tarsel::sim::ReadEnvironment([&value](const char* name) {
          return std::strcmp(name, "TARSEL_SIM_ARMS") == 0 ? value.c_str() : nullptr;
        });
    if (!given.arms) {
      std::fprintf(stderr, "tarsel-sim-usb: --arms: expected 1 to %d, got \"%s\"\n",
                   tarsel::sim::kMaxSimulatedArms, value.c_str());
      return 2;
    }
    env.arms = given.arms;
    first += 2;
  }
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) return Usage(argv[0], 2);
  if (std::strcmp(argv[first], "--help") == 0) return Usage(argv[0], 0);

  for (const std::string& problem : env.problems) {
    std::fprintf(stderr, "tarsel-sim-usb: %s\n", problem.c_str());
  }
  const int count = env.arms.value_or(1);
  std::vector<std::unique_ptr<tarsel::sim::SimulatedArm>> arms;
  std::vector<tarsel::vusb::Responder> responders;
  for (int i = 0; i < count; ++i) {
    arms.push_back(std::make_unique<tarsel::sim::SimulatedArm>(env.options));
    tarsel::sim::SimulatedArm* arm = arms.back().get();
    tarsel::sim::Configure(*arm, env);
    responders.emplace_back([arm](const Packet& request) { return arm->Handle(request); });
  }

  tarsel::vusb::DeviceOptions device;
  device.present = !env.absent;
  tarsel::vusb::VirtualArm bus(std::move(responders), device);
  // Nobody reads the packet log here, and the bus may serve for hours.
  for (int i = 0; i < count; ++i) bus.Device(static_cast<std::size_t>(i)).SetLogLimit(0);
  if (env.trace) {
    for (int i = 0; i < count; ++i) {
      // With several arms, each line names its arm by its port on the bus.
      const std::string prefix = count > 1 ? "[" + bus.Device(i).PortPath() + "] " : "";
      arms[i]->SetObserver([prefix](const Packet& request, const std::optional<Packet>& answer) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(),
                     tarsel::sim::TraceLine(request, answer).c_str());
      });
    }
  }
  const std::vector<std::string> command(argv + first, argv + argc);
  const int status = bus.Run(command);
  if (status < 0) {
    std::fprintf(stderr, "tarsel-sim-usb: cannot start %s: %s\n", command[0].c_str(),
                 std::strerror(errno));
    return 127;
  }
  return status;
}
