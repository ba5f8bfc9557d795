// The C++ interface: opening, listing and closing arms, and running one
// flat function over an arm's own connection. The commands themselves are in
// arm_commands.cpp.
#include "tarsel/arm.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include "core/connection.h"
#include "core/link_library.h"

namespace tarsel {

namespace {

constexpr const char* kDefaultPath = "default";

// N from TARSEL_SIM=N, or 0 when it is unset, empty or not a positive count.
int SimulatedArmCount() {
  const char* value = std::getenv("TARSEL_SIM");
  if (value == nullptr || *value == '\0') return 0;
  char* end = nullptr;
  const long n = std::strtol(value, &end, 10);
  return (*end == '\0' && n > 0 && n <= 64) ? static_cast<int>(n) : 0;
}

// One loaded library of each kind, shared by every Arm that uses it and
// unloaded when the last one goes.
std::shared_ptr<LinkLibrary> SharedLibrary(bool simulated, const char* where) {
  static std::mutex mutex;
  static std::weak_ptr<LinkLibrary> loaded[2];
  std::lock_guard lock(mutex);
  std::shared_ptr<LinkLibrary> library = loaded[simulated ? 1 : 0].lock();
  if (library) return library;
  if (simulated) {
    // The simulator's link library reads how many arms to make when it is
    // loaded; TARSEL_SIM_ARMS, when the user set it, wins.
    const int count = SimulatedArmCount();
    if (count > 0) setenv("TARSEL_SIM_ARMS", std::to_string(count).c_str(), 0);
  }
  int error = TARSEL_OK;
  library = LinkLibrary::Load(simulated, error);
  if (!library) throw Error(error, where);
  loaded[simulated ? 1 : 0] = library;
  return library;
}

std::string Text(const char* chars, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && chars[n] != '\0') ++n;
  return std::string(chars, n);
}

ArmInfo FromLink(const TarselArmLinkInfo& raw, bool simulated) {
  ArmInfo info;
  info.path = Text(raw.path, sizeof raw.path);
  info.vendor_id = raw.vendorId;
  info.product_id = raw.productId;
  info.bus = raw.bus;
  info.address = raw.address;
  info.serial = Text(raw.serial, sizeof raw.serial);
  info.product = Text(raw.product, sizeof raw.product);
  info.simulated = simulated || info.path.rfind("sim:", 0) == 0;
  return info;
}

ArmInfo DefaultInfo(bool simulated) {
  ArmInfo info;
  info.path = kDefaultPath;
  info.vendor_id = TARSEL_USB_VENDOR_ID;
  info.product_id = TARSEL_USB_PRODUCT_ID;
  info.simulated = simulated;
  return info;
}

// The options text the simulator's link library takes: key=value items
// separated by commas, the fault list last (its own commas go on with it).
std::string OptionsText(const SimOptions& o) {
  char scale[64];
  std::snprintf(scale, sizeof scale, "%.17g", o.time_scale);
  std::string text = "hand=" + std::to_string(o.hand) + ",time_scale=" + scale +
                     ",finger_points=" + std::to_string(o.finger_points);
  if (!o.faults.empty()) text += ",fault=" + o.faults;
  return text;
}

}  // namespace

Error::Error(int code, std::string where)
    : std::runtime_error(GetResultMessage(code)), code_(code), where_(std::move(where)) {}

struct Arm::Impl {
  ArmInfo info;
  std::shared_ptr<LinkLibrary> library;
  // The arm's own connection; null when the link library has no handles
  // and the arm is reached through the flat API's default connection.
  std::unique_ptr<ArmConnection> own;
  bool flatOpen = false;
  std::function<int()> stopCheck;

  Connection& connection() { return own ? static_cast<Connection&>(*own) : DefaultConnection(); }

  void Close() {
    if (own) {
      own->Close();
    } else if (flatOpen) {
      flatOpen = false;
      CloseAPI();
    }
  }
};

Arm::Arm(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Arm::Arm() : Arm(ArmInfo{}) {}

Arm::Arm(const ArmInfo& info) {
  const char* where = "Arm";
  const bool simulated = info.simulated || SimulatedArmCount() > 0;
  auto impl = std::make_unique<Impl>();
  impl->library = SharedLibrary(simulated, where);
  if (!impl->library->HasHandles() || info.path == kDefaultPath) {
    const int code = InitAPI();
    if (code != TARSEL_OK) {
      CloseAPI();
      throw Error(code, where);
    }
    impl->flatOpen = true;
    impl->info = DefaultInfo(simulated);
    impl_ = std::move(impl);
    return;
  }
  TarselArmLink* link = nullptr;
  const int code = impl->library->Open(info.path, link);
  if (code != TARSEL_OK) throw Error(code, where);
  impl->own = std::make_unique<ArmConnection>(impl->library, link);
  impl->info = info;
  if (info.path.empty()) {
    // The first arm: describe it as the listing does.
    std::vector<TarselArmLinkInfo> arms;
    if (impl->library->List(arms) == TARSEL_OK && !arms.empty()) {
      impl->info = FromLink(arms.front(), impl->library->Simulated());
    }
  }
  impl->info.simulated = impl->info.simulated || impl->library->Simulated();
  impl_ = std::move(impl);
}

Arm Arm::Simulated(const SimOptions& options) {
  const char* where = "Arm::Simulated";
  auto impl = std::make_unique<Impl>();
  impl->library = SharedLibrary(true, where);
  TarselArmLink* link = nullptr;
  const int code = impl->library->CreateSimulated(OptionsText(options), link);
  if (code != TARSEL_OK) throw Error(code, where);
  impl->own = std::make_unique<ArmConnection>(impl->library, link);
  impl->info = DefaultInfo(true);
  impl->info.path = "sim:private";
  impl->info.product = "Tarsel simulated arm";
  return Arm(std::move(impl));
}

Arm::~Arm() {
  Close();
}

Arm::Arm(Arm&& other) noexcept = default;

Arm& Arm::operator=(Arm&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

void Arm::Close() noexcept {
  if (impl_) impl_->Close();
}

bool Arm::IsOpen() const noexcept {
  if (!impl_) return false;
  Connection& c = impl_->connection();
  std::lock_guard lock(c.Mutex());
  return c.IsOpen() && (impl_->own != nullptr || impl_->flatOpen);
}

const ArmInfo& Arm::Info() const noexcept {
  static const ArmInfo none;
  return impl_ ? impl_->info : none;
}

void Arm::SetStopCheck(std::function<int()> check) {
  if (impl_) impl_->stopCheck = std::move(check);
}

std::function<int()> Arm::StopCheckFor(std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::function<int()> user = impl_ ? impl_->stopCheck : std::function<int()>();
  return [end, user] {
    if (user) {
      if (const int code = user(); code != 0) return code;
    }
    return std::chrono::steady_clock::now() >= end ? static_cast<int>(TARSEL_ERROR_TIME_LIMIT) : 0;
  };
}

void Arm::Call(const char* where, const std::function<int()>& body) {
  // A closed arm on the flat link stays closed even when another arm (or
  // InitAPI) has opened the flat link again since.
  if (!impl_ || (!impl_->own && !impl_->flatOpen)) throw Error(TARSEL_ERROR_NOT_INITIALIZED, where);
  int code = TARSEL_OK;
  {
    ConnectionScope scope(impl_->connection());
    code = body();
  }
  if (code != TARSEL_OK) throw Error(code, where);
}

FlatCallsTo::FlatCallsTo(Arm& arm) {
  if (!arm.impl_) throw Error(TARSEL_ERROR_NOT_INITIALIZED, "FlatCallsTo");
  if (!RouteFlatCalls(&arm.impl_->connection())) throw Error(TARSEL_ERROR_ARGUMENT, "FlatCallsTo");
}

FlatCallsTo::~FlatCallsTo() {
  RouteFlatCalls(nullptr);
}

std::vector<ArmInfo> ListArms() {
  const char* where = "ListArms";
  const bool simulated = SimulatedArmCount() > 0;
  const std::shared_ptr<LinkLibrary> library = SharedLibrary(simulated, where);
  if (!library->HasHandles()) return {DefaultInfo(simulated)};
  std::vector<TarselArmLinkInfo> raw;
  const int code = library->List(raw);
  if (code != TARSEL_OK) throw Error(code, where);
  std::vector<ArmInfo> arms;
  arms.reserve(raw.size());
  for (const auto& r : raw) arms.push_back(FromLink(r, library->Simulated()));
  return arms;
}

}  // namespace tarsel
