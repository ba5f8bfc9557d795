// The drop-in link library: the four functions of the USB link, answered in
// process by one simulated arm instead of a device on the bus.
#include <atomic>
#include <cstdio>

#include "environment.h"
#include "sim_control.h"
#include "tarsel/comm_layer.h"

namespace tarsel::sim {

namespace {

std::atomic<bool> g_open{false};

}  // namespace

SimulatedArm& Instance() {
  static SimulatedArm arm(ReadEnvironment().options);
  return arm;
}

bool LinkIsOpen() {
  return g_open.load();
}

}  // namespace tarsel::sim

using tarsel::sim::Instance;

int InitCommunication() {
  const tarsel::sim::SimEnvironment env = tarsel::sim::ReadEnvironment();
  for (const std::string& problem : env.problems) {
    std::fprintf(stderr, "tarsel simulated arm: %s\n", problem.c_str());
  }
  tarsel::sim::SimulatedArm& arm = Instance();
  tarsel::sim::Configure(arm, env);
  if (env.trace) {
    arm.SetObserver([](const Packet& request, const std::optional<Packet>& answer) {
      std::fprintf(stderr, "%s\n", tarsel::sim::TraceLine(request, answer).c_str());
    });
  } else {
    arm.SetObserver(nullptr);
  }
  if (env.absent) {
    tarsel::sim::g_open = false;
    return 1014;  // no arm on the bus
  }
  tarsel::sim::g_open = true;
  return 1;
}

int CloseCommunication() {
  tarsel::sim::g_open = false;
  return 1;
}

int GetDeviceCount(int* count) {
  return count != nullptr ? *count : 0;
}

Packet SendPacket(const Packet& request, Packet& answer, int& /*reserved*/) {
  if (!tarsel::sim::g_open) {
    // As the USB link does when it has no device: the write fails.
    std::puts("LIBUSB_ERROR_NO_DEVICE returned by the Write operation.");
    std::fflush(stdout);
    return answer;
  }
  // No answer leaves the caller's answer untouched, as a failed read does.
  if (const auto reply = Instance().Handle(request)) answer = *reply;
  return answer;
}
