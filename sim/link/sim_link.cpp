// The drop-in link library: the four functions of the USB link, answered in
// process by one simulated arm instead of a device on the bus, or with
// TARSEL_SIM_SOCKET set by arm 1 of the simulator service.
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "environment.h"
#include "recent_packets.h"
#include "service_client.h"
#include "sim_control.h"
#include "tarsel/comm_layer.h"

namespace tarsel::sim {

namespace {

std::atomic<bool> g_open{false};

// The service's arm 1 while the link is open to it; guarded by g_serviceMutex.
std::mutex g_serviceMutex;
std::unique_ptr<ServiceClient> g_service;
bool g_serviceTrace = false;

int OpenService(const std::string& path, bool trace) {
  auto client = std::make_unique<ServiceClient>(path, 1);
  const int code = client->Open();
  std::lock_guard lock(g_serviceMutex);
  g_service = code == 1 ? std::move(client) : nullptr;
  g_serviceTrace = trace;
  g_open = code == 1;
  return code;
}

// Forwards one exchange when the link is open to the service; false when it
// is not (the arm in process answers).
bool ForwardExchange(const Packet& request, Packet& answer) {
  std::lock_guard lock(g_serviceMutex);
  if (!g_service) return false;
  Packet reply = answer;
  const bool answered = g_service->Exchange(request, reply);
  if (answered) answer = reply;
  link::RecordExchange(0, 1, request, answered ? &reply : nullptr);
  if (g_serviceTrace) {
    std::fprintf(stderr, "%s\n",
                 TraceLine(request, answered ? std::optional<Packet>(reply) : std::nullopt).c_str());
  }
  return true;
}

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
  if (const std::string socket = tarsel::sim::service::ForwardingSocket(); !socket.empty()) {
    // The service's arms keep the settings it was started with.
    return tarsel::sim::OpenService(socket, env.trace);
  }
  {
    std::lock_guard lock(tarsel::sim::g_serviceMutex);
    tarsel::sim::g_service.reset();
  }
  tarsel::sim::SimulatedArm& arm = Instance();
  tarsel::sim::Configure(arm, env);
  if (env.trace) {
    arm.SetObserver([](const Packet& request, const std::optional<Packet>& answer, const char* why) {
      std::fprintf(stderr, "%s\n", tarsel::sim::TraceLine(request, answer, why).c_str());
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
  std::lock_guard lock(tarsel::sim::g_serviceMutex);
  tarsel::sim::g_open = false;
  tarsel::sim::g_service.reset();
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
  if (tarsel::sim::ForwardExchange(request, answer)) return answer;
  const auto reply = Instance().Handle(request);
  if (reply) answer = *reply;
  // As arm "sim:1": bus 0, device 1.
  tarsel::link::RecordExchange(0, 1, request, reply ? &*reply : nullptr);
  return answer;
}
