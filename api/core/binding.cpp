#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/connection.h"
#include "core/framing.h"
#include "core/guard.h"
#include "core/link_library.h"
#include "tarsel/core.h"
#include "tarsel/result.h"

void* commLayer_Handle = nullptr;
TarselInitCommFn fptrInitComm = nullptr;
TarselCloseCommFn fptrCloseComm = nullptr;
TarselGetDeviceCountFn fptrGetDeviceCount = nullptr;
TarselSendPacketFn fptrSendPacket = nullptr;
unsigned char isInitCommLoaded = 1;
unsigned char isCloseCommLoaded = 1;
unsigned char isGetDeviceCountLoaded = 1;
unsigned char isSendPacketLoaded = 1;

namespace {

constexpr const char* kCommLayerFile = "Tarsel.API.CommLayerUbuntu.so";

// The loader finds the link library beside this one through the $ORIGIN run
// path, but only when it attributes the dlopen call to this library. A
// runtime that wraps dlopen (a sanitizer's interceptor) makes the loader see
// the wrapper as the caller and skip that run path; loading from this
// library's own folder by full path then does what the run path would have.
std::string ThisLibraryFolder() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&ThisLibraryFolder), &self) == 0 ||
      self.dli_fname == nullptr) {
    return {};
  }
  const std::string path = self.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::mutex g_loadErrorMutex;
std::string g_loadError;

void RememberLoadError(const char* message) {
  std::lock_guard lock(g_loadErrorMutex);
  g_loadError = message != nullptr ? message : "";
}

// True only between an InitAPI that returned 1 and the next CloseAPI: the
// one test every exchange makes before calling through fptrSendPacket.
bool g_linkOpen = false;

// What the answer's first 16 bytes hold before each exchange. The link
// leaves the answer untouched when no answer arrives (and overwrites all of it
// when one does), so an answer whose first 16 bytes still read so was not
// refreshed. Its verdict word is negative: should an arm ever send exactly
// these bytes, they are still a failure, never a success.
constexpr short kSentinelWord = -0x5A5B;
constexpr unsigned char kSentinelByte = 0xA5;
constexpr int kSentinelData = 8;

inline void PresetSentinel(Packet& answer) {
  answer.PacketIndex = kSentinelWord;
  answer.PacketCount = kSentinelWord;
  answer.CommandId = -1;
  answer.PayloadSize = kSentinelWord;
  std::memset(answer.Data, kSentinelByte, kSentinelData);
}

inline bool StillSentinel(const Packet& answer) {
  if (answer.PacketIndex != kSentinelWord || answer.PacketCount != kSentinelWord ||
      answer.CommandId != -1 || answer.PayloadSize != kSentinelWord) {
    return false;
  }
  for (int i = 0; i < kSentinelData; ++i) {
    if (answer.Data[i] != kSentinelByte) return false;
  }
  return true;
}

// The link library's TarselLinkSaveRecentPackets as InitAPI bound it (null
// when the library lacks it), and whether a library is loaded at all. A lock
// of their own, not the connection's: a save never waits for a command, and
// CloseAPI does not unload the library under a running save.
std::mutex g_saveMutex;
bool g_saveLoaded = false;
int (*g_saveRecent)(const char*) = nullptr;

// The flat API's connection: the four functions bound by InitAPI.
class BoundLink final : public tarsel::Connection {
 public:
  bool IsOpen() const override { return g_linkOpen && fptrSendPacket != nullptr; }
  int Exchange(const Packet& request, Packet& answer) override {
    PresetSentinel(answer);
    int reserved = 0;
    fptrSendPacket(request, answer, reserved);
    return StillSentinel(answer) ? TARSEL_ERROR_NO_ANSWER : TARSEL_OK;
  }
  int SaveRecentPackets(const char* path) override {
    std::lock_guard lock(g_saveMutex);
    if (!g_saveLoaded) return TARSEL_ERROR_NOT_INITIALIZED;
    return g_saveRecent != nullptr ? g_saveRecent(path) : TARSEL_ERROR_NO_RECENT_PACKETS;
  }
};

// Initial-exec: the library's few bytes of thread-local state are reached
// without a call into the loader on every command.
__attribute__((tls_model("initial-exec"))) thread_local tarsel::Connection* t_current = nullptr;
std::atomic<tarsel::Connection*> g_route{nullptr};
__attribute__((tls_model("initial-exec"))) thread_local const tarsel::StopCheck* t_stop = nullptr;

int CloseLocked() {
  int result = TARSEL_OK;
  g_linkOpen = false;
  if (commLayer_Handle == nullptr) return result;
  if (fptrCloseComm != nullptr) result = fptrCloseComm();
  {
    std::lock_guard lock(g_saveMutex);
    g_saveLoaded = false;
    g_saveRecent = nullptr;
  }
  dlclose(commLayer_Handle);
  // The library is gone: drop the bindings so nothing can call through them.
  commLayer_Handle = nullptr;
  fptrInitComm = nullptr;
  fptrCloseComm = nullptr;
  fptrGetDeviceCount = nullptr;
  fptrSendPacket = nullptr;
  return result;
}

// Binds slot to the link library's function name; when it is missing, clears
// its loaded flag and makes missingCode the result.
template <typename Fn>
void Bind(Fn& slot, const char* name, unsigned char& loaded, int missingCode, int& result) {
  slot = reinterpret_cast<Fn>(dlsym(commLayer_Handle, name));
  if (slot == nullptr) {
    loaded = 0;
    result = missingCode;
  }
}

}  // namespace

namespace tarsel {

Connection& DefaultConnection() {
  static BoundLink link;
  return link;
}

Connection& CurrentConnection() {
  if (t_current != nullptr) return *t_current;
  Connection* routed = g_route.load(std::memory_order_acquire);
  return routed != nullptr ? *routed : DefaultConnection();
}

bool RouteFlatCalls(Connection* connection) {
  if (connection == nullptr) {
    g_route.store(nullptr, std::memory_order_release);
    return true;
  }
  Connection* expected = nullptr;
  return g_route.compare_exchange_strong(expected, connection, std::memory_order_acq_rel);
}

ConnectionScope::ConnectionScope(Connection& connection) : previous_(t_current) {
  t_current = &connection;
}

ConnectionScope::~ConnectionScope() {
  t_current = previous_;
}

StopScope::StopScope(StopCheck check) : check_(std::move(check)), previous_(t_stop) {
  t_stop = &check_;
}

StopScope::~StopScope() {
  t_stop = previous_;
}

int PendingStop() {
  return t_stop != nullptr && *t_stop ? (*t_stop)() : 0;
}

// The simulator's link library as this library last loaded it for a
// simulated arm (Arm::Simulated, TARSEL_SIM), or null. The handle outlives
// the library once its last user closes it, and the loader may hand the same
// address to the next library it loads: IsSimulatorLink checks both.
std::atomic<void*> g_simulatorLink{nullptr};

static bool IsSimulatorLink(void* handle) {
  return handle != nullptr && handle == g_simulatorLink.load() &&
         dlsym(handle, "TarselSimCreateArm") != nullptr;
}

// Whether the user asked for simulated arms in place of the bus.
bool SimulationRequested() {
  const char* value = std::getenv("TARSEL_SIM");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void* OpenLinkLibrary(int flags) {
  void* handle = dlopen(kCommLayerFile, flags);
  // The simulator's link library has the link library's file name, so once
  // it is loaded for a simulated arm, the loader hands it out for the bare
  // name too: the bus would then seem to hold simulated arms. Unless the
  // user asked for simulation, take the link library beside this one by
  // its full path instead.
  if (IsSimulatorLink(handle) && !SimulationRequested()) {
    dlclose(handle);
    const std::string folder = ThisLibraryFolder();
    handle = folder.empty() ? nullptr : dlopen((folder + kCommLayerFile).c_str(), flags);
    if (IsSimulatorLink(handle)) {
      dlclose(handle);
      handle = nullptr;
    }
    if (handle == nullptr) {
      RememberLoadError("the USB link library beside this library could not be loaded");
      return nullptr;
    }
  }
  if (handle == nullptr) {
    // Keep the loader's own reason: it names what was missing or broken.
    const char* first = dlerror();
    const std::string reason = first != nullptr ? first : "";
    const std::string folder = ThisLibraryFolder();
    if (!folder.empty()) handle = dlopen((folder + kCommLayerFile).c_str(), flags);
    if (handle == nullptr) RememberLoadError(reason.c_str());
  }
  if (handle != nullptr) RememberLoadError(nullptr);
  return handle;
}

void* OpenSimulatorLinkLibrary(int flags) {
  std::vector<std::string> candidates;
  if (const char* chosen = std::getenv("TARSEL_SIM_LINK"); chosen != nullptr && *chosen != 0) {
    candidates.emplace_back(chosen);
  } else {
    const std::string folder = ThisLibraryFolder();
    candidates.push_back(folder + "tarsel/sim/" + kCommLayerFile);  // installed
    candidates.push_back(folder + "../sim/lib/" + kCommLayerFile);  // build tree
  }
  std::string reasons;
  for (const std::string& path : candidates) {
    if (void* handle = dlopen(path.c_str(), flags)) {
      RememberLoadError(nullptr);
      g_simulatorLink.store(handle);
      return handle;
    }
    const char* why = dlerror();
    reasons += (reasons.empty() ? "" : "; ") + std::string(why != nullptr ? why : path);
  }
  RememberLoadError(reasons.c_str());
  return nullptr;
}

std::string LastLoadError() {
  std::lock_guard lock(g_loadErrorMutex);
  return g_loadError;
}

bool LinkOpen() {
  std::lock_guard lock(DefaultConnection().Mutex());
  return DefaultConnection().IsOpen();
}

}  // namespace tarsel

// InitAPI and CloseAPI hold the default connection's lock, so they wait for a
// command running in another thread to finish, and a command that starts
// after CloseAPI sees the link closed (2001) instead of calling into an
// unloaded library.
int InitAPI() {
  std::lock_guard lock(tarsel::DefaultConnection().Mutex());
  if (commLayer_Handle != nullptr) CloseLocked();

  int result = TARSEL_OK;
  commLayer_Handle = tarsel::OpenLinkLibrary(RTLD_NOW | RTLD_GLOBAL);
  if (commLayer_Handle == nullptr) {
    isInitCommLoaded = isCloseCommLoaded = isGetDeviceCountLoaded = isSendPacketLoaded = 0;
    return TARSEL_ERROR_LOAD_COMM_LAYER;
  }

  // Every function is looked up; the last one missing decides the result.
  Bind(fptrInitComm, "InitCommunication", isInitCommLoaded, TARSEL_ERROR_NO_INIT_COMM, result);
  Bind(fptrCloseComm, "CloseCommunication", isCloseCommLoaded, TARSEL_ERROR_NO_CLOSE_COMM, result);
  Bind(fptrGetDeviceCount, "GetDeviceCount", isGetDeviceCountLoaded,
       TARSEL_ERROR_NO_GET_DEVICE_COUNT, result);
  Bind(fptrSendPacket, "SendPacket", isSendPacketLoaded, TARSEL_ERROR_NO_SEND_PACKET, result);
  {
    // Optional: a link library without it still opens the arm.
    std::lock_guard lock(g_saveMutex);
    g_saveLoaded = true;
    g_saveRecent = reinterpret_cast<int (*)(const char*)>(
        dlsym(commLayer_Handle, "TarselLinkSaveRecentPackets"));
  }

  if (result != TARSEL_OK) return result;
  result = fptrInitComm();
  g_linkOpen = result == TARSEL_OK;
  return result;
}

int GetLinkLoadError(char* text, int size) {
  if (text == nullptr || size < 1) return TARSEL_ERROR_ARGUMENT;
  return tarsel::Guarded([&] {
    const std::string reason = tarsel::LastLoadError();
    const std::size_t n = std::min(reason.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(text, reason.data(), n);
    text[n] = '\0';
    return static_cast<int>(TARSEL_OK);
  });
}

int SaveRecentPackets(const char* path) {
  if (path == nullptr || *path == '\0') return TARSEL_ERROR_ARGUMENT;
  return tarsel::Guarded([&] { return tarsel::CurrentConnection().SaveRecentPackets(path); });
}

int CloseAPI() {
  std::lock_guard lock(tarsel::DefaultConnection().Mutex());
  return CloseLocked();
}
