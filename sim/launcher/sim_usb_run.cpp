// tarsel-sim-usb: runs any program with the simulated arm present on a
// virtual USB bus. The program sees an ordinary arm through the real link
// library and the real libusb; the simulated arm answers in this process.
//
//   tarsel-sim-usb [--] program [arguments...]
//
// The simulated arm is configured from the TARSEL_SIM_* variables (see
// sim/README.md). The exit status is the program's.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "environment.h"
#include "simulated_arm.h"
#include "tarsel/vusb/virtual_arm.h"

int main(int argc, char** argv) {
  int first = 1;
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc || std::strcmp(argv[first], "--help") == 0) {
    std::fprintf(stderr,
                 "usage: %s [--] program [arguments...]\n"
                 "Runs program with the simulated arm on a virtual USB bus.\n",
                 argv[0]);
    return first >= argc ? 2 : 0;
  }

  const tarsel::sim::SimEnvironment env = tarsel::sim::ReadEnvironment();
  for (const std::string& problem : env.problems) {
    std::fprintf(stderr, "tarsel-sim-usb: %s\n", problem.c_str());
  }
  tarsel::sim::SimulatedArm arm(env.options);
  tarsel::sim::Configure(arm, env);
  if (env.trace) {
    arm.SetObserver([](const Packet& request, const std::optional<Packet>& answer) {
      std::fprintf(stderr, "%s\n", tarsel::sim::TraceLine(request, answer).c_str());
    });
  }

  tarsel::vusb::DeviceOptions device;
  device.present = !env.absent;
  tarsel::vusb::VirtualArm bus([&arm](const Packet& request) { return arm.Handle(request); },
                               device);
  const std::vector<std::string> command(argv + first, argv + argc);
  const int status = bus.Run(command);
  if (status < 0) {
    std::fprintf(stderr, "tarsel-sim-usb: cannot start %s: %s\n", command[0].c_str(),
                 std::strerror(errno));
    return 127;
  }
  return status;
}
