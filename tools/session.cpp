#include "session.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>

#include <fmt/core.h>

#include "tarsel/arm.hpp"
#include "tarsel/core.h"
#include "tarsel/result.h"

#ifndef TARSEL_SIM_LINK_FROM_BIN
#define TARSEL_SIM_LINK_FROM_BIN "../lib/tarsel/sim"
#endif

namespace tarsel::tool {

namespace {

// Folder of the running executable, empty when it cannot be told.
std::string ExecutableFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void SetVariable(const char* name, const std::string& value) {
  if (value.empty()) return;
  if (::setenv(name, value.c_str(), 1) != 0) {
    throw Failure(fmt::format("cannot set {}: out of memory", name));
  }
}

// The dynamic loader's reason for the last failed load of the link library,
// as a line to add to a message; "" when it gave none.
std::string LoaderReason() {
  char reason[1024] = "";
  GetLinkLoadError(reason, sizeof reason);
  return reason[0] != '\0' ? fmt::format("\nThe loader says: {}", reason) : std::string();
}

}  // namespace

std::string DescribeFailure(std::string_view what, int code) {
  return fmt::format("{} failed: {} ({})", what, code, GetResultMessage(code));
}

void Check(int code, std::string_view what) {
  if (code != TARSEL_OK) throw Failure(DescribeFailure(what, code));
}

std::vector<std::string> SimLinkCandidates() {
  if (const char* chosen = std::getenv(kSimLinkVariable); chosen != nullptr && *chosen != '\0') {
    std::string path = chosen;
    if (IsDirectory(path)) path += std::string("/") + kLinkFileName;
    return {path};
  }
  std::vector<std::string> candidates;
  const std::string bin = ExecutableFolder();
  if (!bin.empty()) {
    candidates.push_back(bin + "/../sim/lib/" + kLinkFileName);
    candidates.push_back(bin + "/" + TARSEL_SIM_LINK_FROM_BIN + "/" + kLinkFileName);
  }
  return candidates;
}

void* LoadSimulator(const ConnectOptions& options) {
  if (!options.sim) return nullptr;
  // The simulator reads its settings from the environment when the link
  // opens, so they are set before anything is loaded.
  SetVariable("TARSEL_SIM_HAND", options.simHand);
  SetVariable("TARSEL_SIM_TIME_SCALE", options.simSpeed);
  SetVariable("TARSEL_SIM_FAULT", options.simFault);
  SetVariable("TARSEL_SIM_ARMS", options.simArms);
  if (options.simTrace) SetVariable("TARSEL_SIM_TRACE", "1");

  const std::vector<std::string> candidates = SimLinkCandidates();
  std::string tried;
  for (const std::string& path : candidates) {
    if (!Exists(path)) {
      tried += fmt::format("\n  {} (not found)", path);
      continue;
    }
    // Loaded globally under its SONAME, the library is what InitAPI's
    // load by bare file name finds: no USB link is ever touched.
    if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
      // The arm listing and opening by path look for the same library.
      SetVariable("TARSEL_SIM_LINK", path);
      SetVariable("TARSEL_SIM", options.simArms.empty() ? "1" : options.simArms);
      return handle;
    }
    const char* why = ::dlerror();
    tried += fmt::format("\n  {} ({})", path, why != nullptr ? why : "cannot be loaded");
  }
  throw Failure(
      fmt::format("--sim: the simulated arm's link library {} could not be loaded; tried:{}\n"
                  "Set {} to its path (it is built in <build>/sim/lib).",
                  kLinkFileName, tried, kSimLinkVariable));
}

struct Session::ChosenArm {
  explicit ChosenArm(const ArmInfo& info) : arm(info), route(arm) {}
  Arm arm;
  FlatCallsTo route;
};

Session::Session(const ConnectOptions& options)
    : simHandle_(LoadSimulator(options)),
      packetsOnFailure_(options.packetsOnFailure),
      uncaught_(std::uncaught_exceptions()) {
  if (!options.arm.empty()) {
    ArmInfo info;
    info.path = options.arm;
    info.simulated = options.sim;
    try {
      chosen_ = std::make_unique<ChosenArm>(info);
      return;
    } catch (const Error& e) {
      if (simHandle_ != nullptr) ::dlclose(simHandle_);
      simHandle_ = nullptr;
      std::string message = DescribeFailure("opening arm " + options.arm, e.code());
      if (e.code() == TARSEL_ERROR_LOAD_COMM_LAYER) message += LoaderReason();
      if (e.code() == TARSEL_ERROR_NO_ARM) message += "\n`tarsel arms` lists the arms there are.";
      throw Failure(message);
    }
  }
  const int code = InitAPI();
  if (code != TARSEL_OK) {
    std::string message = DescribeFailure("InitAPI", code);
    if (code == TARSEL_ERROR_LOAD_COMM_LAYER) message += LoaderReason();
    if (code == TARSEL_ERROR_LOAD_COMM_LAYER || code == TARSEL_ERROR_NO_ARM ||
        code == TARSEL_ERROR_CLAIM_FAILED) {
      message += "\n`tarsel doctor` tells why and what to do.";
    }
    CloseAPI();
    if (simHandle_ != nullptr) ::dlclose(simHandle_);
    simHandle_ = nullptr;
    if (!options.sim && (code == TARSEL_ERROR_USB_INIT || code == TARSEL_ERROR_NO_ARM ||
                         code == TARSEL_ERROR_CLAIM_FAILED)) {
      message += "\nNo arm at hand? --sim runs against the simulated arm.";
    }
    throw Failure(message);
  }
}

Session::~Session() {
  // While the arm is still open: the flat save reaches the link it runs on.
  if (!packetsOnFailure_.empty() && std::uncaught_exceptions() > uncaught_) {
    SavePacketsOnFailure();
  }
  if (chosen_) {
    chosen_.reset();
  } else {
    CloseAPI();
  }
  if (simHandle_ != nullptr) ::dlclose(simHandle_);
}

void Session::SavePacketsOnFailure() const noexcept {
  try {
    const int code = SaveRecentPackets(packetsOnFailure_.c_str());
    if (code == TARSEL_OK) {
      fmt::print(stderr, "tarsel: the packets that led to the failure are in {}\n",
                 packetsOnFailure_);
    } else {
      fmt::print(stderr, "tarsel: {}\n",
                 DescribeFailure("saving the recent packets to " + packetsOnFailure_, code));
    }
  } catch (...) {
    // Unwinding already: the failure being reported matters more.
  }
}

}  // namespace tarsel::tool
