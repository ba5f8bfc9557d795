// The handle functions of the drop-in link library: TARSEL_SIM_ARMS
// simulated arms named "sim:1" ... "sim:N" ("sim:1" is Instance(), the arm
// the four plain functions reach), and private arms made by
// TarselSimCreateArm. With TARSEL_SIM_SOCKET set, the arms listed and opened
// are the simulator service's instead.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "environment.h"
#include "recent_packets.h"
#include "service_client.h"
#include "sim_control.h"
#include "tarsel/comm_layer.h"
#include "tarsel/result.h"

struct TarselArmLink {
  tarsel::sim::SimulatedArm* arm = nullptr;
  std::unique_ptr<tarsel::sim::SimulatedArm> own;  // set for a private arm
  // Set for an arm of the simulator service (arm is then null).
  std::unique_ptr<tarsel::sim::ServiceClient> remote;
  std::string tracePrefix;   // traces the service's exchanges when not empty
  unsigned char device = 0;  // the arm's number, as the recent packets name it; 0: a private arm
};

namespace tarsel::sim {
namespace {

constexpr const char* kProduct = "Tarsel simulated arm";

int ArmsOnTheBus(const SimEnvironment& env) {
  return env.absent ? 0 : env.arms.value_or(1);
}

std::string PathOf(int number) {
  return "sim:" + std::to_string(number);
}

// Arm number (1 to count) of a path as listed; null or "": 1. 0 for none.
int NumberOf(const char* path, int count) {
  if (count < 1) return 0;
  if (path == nullptr || *path == '\0') return 1;
  for (int n = 1; n <= count; ++n) {
    if (PathOf(n) == path) return n;
  }
  return 0;
}

// Arm number (2 and up), created on first use and kept for the life of the
// process, configured like Instance().
SimulatedArm& NumberedArm(int number) {
  if (number == 1) return Instance();
  static std::mutex mutex;
  static std::vector<std::unique_ptr<SimulatedArm>> arms;  // numbers 2, 3, ...
  std::lock_guard lock(mutex);
  while (arms.size() < static_cast<std::size_t>(number - 1)) {
    arms.push_back(std::make_unique<SimulatedArm>(ReadEnvironment().options));
  }
  return *arms[static_cast<std::size_t>(number - 2)];
}

void ReportProblems(const SimEnvironment& env) {
  for (const std::string& problem : env.problems) {
    std::fprintf(stderr, "tarsel simulated arm: %s\n", problem.c_str());
  }
}

// Traces the arm's exchanges on standard error when asked to; lines of arms
// other than "sim:1" name their arm.
void SetTrace(SimulatedArm& arm, bool trace, const std::string& name) {
  if (!trace) {
    arm.SetObserver(nullptr);
    return;
  }
  const std::string prefix = name.empty() ? "" : "[" + name + "] ";
  arm.SetObserver([prefix](const Packet& request, const std::optional<Packet>& answer,
                                const char* why) {
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), TraceLine(request, answer, why).c_str());
  });
}

int ListArms(TarselArmLinkInfo* arms, int capacity, int* count) {
  if (count == nullptr || capacity < 0 || (arms == nullptr && capacity > 0)) {
    return TARSEL_ERROR_ARGUMENT;
  }
  *count = 0;
  try {
    int found = 0;
    if (const std::string socket = service::ForwardingSocket(); !socket.empty()) {
      // A service that cannot be reached has no arms (described on stderr).
      if (!ServiceClient(socket, 0).List(found)) found = 0;
      found = std::clamp(found, 0, kMaxSimulatedArms);
    } else {
      found = ArmsOnTheBus(ReadEnvironment());
    }
    for (int i = 0; i < found && i < capacity; ++i) {
      TarselArmLinkInfo& info = arms[i];
      info = TarselArmLinkInfo{};
      std::snprintf(info.path, sizeof info.path, "%s", PathOf(i + 1).c_str());
      info.vendorId = TARSEL_USB_VENDOR_ID;
      info.productId = TARSEL_USB_PRODUCT_ID;
      info.bus = 0;
      info.address = static_cast<unsigned char>(i + 1);
      std::snprintf(info.serial, sizeof info.serial, "SIM-%04d", i + 1);
      std::snprintf(info.product, sizeof info.product, "%s", kProduct);
    }
    *count = found;
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
  return TARSEL_OK;
}

// Opens arm path of the service: the service says whether it has it. The
// service's arms keep the settings it was started with.
int OpenServiceArm(const std::string& socket, const char* path, bool trace, TarselArmLink** link) {
  const int number = NumberOf(path, kMaxSimulatedArms);
  if (number == 0) return TARSEL_ERROR_NO_ARM;
  auto made = std::make_unique<TarselArmLink>();
  made->remote = std::make_unique<ServiceClient>(socket, number);
  made->device = static_cast<unsigned char>(number);
  const int code = made->remote->Open();
  if (code != TARSEL_OK) return code;
  if (trace) made->tracePrefix = "[" + PathOf(number) + "] ";
  *link = made.release();
  return TARSEL_OK;
}

int OpenArm(const char* path, TarselArmLink** link) {
  if (link == nullptr) return TARSEL_ERROR_ARGUMENT;
  *link = nullptr;
  try {
    const SimEnvironment env = ReadEnvironment();
    ReportProblems(env);
    if (const std::string socket = service::ForwardingSocket(); !socket.empty()) {
      return OpenServiceArm(socket, path, env.trace, link);
    }
    const int number = NumberOf(path, ArmsOnTheBus(env));
    if (number == 0) return TARSEL_ERROR_NO_ARM;
    auto made = std::make_unique<TarselArmLink>();
    made->arm = &NumberedArm(number);
    made->device = static_cast<unsigned char>(number);
    // As InitCommunication does for its arm: the variables that are set
    // apply again.
    Configure(*made->arm, env);
    SetTrace(*made->arm, env.trace, number == 1 ? "" : PathOf(number));
    *link = made.release();
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
  return TARSEL_OK;
}

int CreateArm(const char* options, TarselArmLink** link) {
  if (link == nullptr) return TARSEL_ERROR_ARGUMENT;
  *link = nullptr;
  try {
    SimEnvironment env = ReadOptionText(options != nullptr ? options : "");
    if (env.absent) env.problems.push_back("fault: a created arm cannot be absent");
    if (!env.problems.empty()) {
      ReportProblems(env);
      return TARSEL_ERROR_ARGUMENT;
    }
    auto made = std::make_unique<TarselArmLink>();
    made->own = std::make_unique<SimulatedArm>(env.options);
    made->arm = made->own.get();
    Configure(*made->arm, env);
    SetTrace(*made->arm, env.trace, "created");
    *link = made.release();
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
  return TARSEL_OK;
}

int Exchange(TarselArmLink* link, const Packet* request, Packet* answer) {
  if (link == nullptr || request == nullptr || answer == nullptr) return TARSEL_ERROR_ARGUMENT;
  if (link->remote) {
    Packet reply = *answer;
    const bool answered = link->remote->Exchange(*request, reply);
    link::RecordExchange(0, link->device, *request, answered ? &reply : nullptr);
    if (!link->tracePrefix.empty()) {
      const std::optional<Packet> traced = answered ? std::optional<Packet>(reply) : std::nullopt;
      std::fprintf(stderr, "%s%s\n", link->tracePrefix.c_str(), TraceLine(*request, traced).c_str());
    }
    if (!answered) return TARSEL_ERROR_NO_ANSWER;
    *answer = reply;
    return TARSEL_OK;
  }
  // Silence leaves the answer untouched, as a failed read does.
  const std::optional<Packet> reply = link->arm->Handle(*request);
  link::RecordExchange(0, link->device, *request, reply ? &*reply : nullptr);
  if (!reply) return TARSEL_ERROR_NO_ANSWER;
  *answer = *reply;
  return TARSEL_OK;
}

int CloseArm(TarselArmLink* link) {
  delete link;
  return TARSEL_OK;
}

}  // namespace

SimulatedArm* ArmOf(TarselArmLink* link) {
  return link != nullptr ? link->arm : nullptr;
}

}  // namespace tarsel::sim

// The exported names only forward: no call inside this library goes through
// them, so a link library loaded before it that exports the same names
// cannot take its calls.
int TarselLinkListArms(TarselArmLinkInfo* arms, int capacity, int* count) {
  return tarsel::sim::ListArms(arms, capacity, count);
}

int TarselLinkOpenArm(const char* path, TarselArmLink** link) {
  return tarsel::sim::OpenArm(path, link);
}

int TarselLinkExchange(TarselArmLink* link, const Packet* request, Packet* answer) {
  return tarsel::sim::Exchange(link, request, answer);
}

int TarselLinkCloseArm(TarselArmLink* link) {
  return tarsel::sim::CloseArm(link);
}

int TarselSimCreateArm(const char* options, TarselArmLink** link) {
  return tarsel::sim::CreateArm(options, link);
}
