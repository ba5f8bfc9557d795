// The C++ interface: opening, listing and closing arms, and running one
// flat function over an arm's own connection. The commands themselves are in
// arm_commands.cpp.
#include "tarsel/arm.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
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

Error::Error(int code, std::string where, const std::string& message)
    : std::runtime_error(message), code_(code), where_(std::move(where)) {}

namespace {

// An opened arm: its library, its connection, what describes it. Held by one
// Arm at a time, and shared with every command running on it, so that a
// move that replaces it under a running command (the caller's error) leaves
// that command a connection to finish on instead of freed memory.
struct OpenedArm {
  ArmInfo info;
  std::shared_ptr<LinkLibrary> library;
  // The arm's own connection; null when the link library has no handles
  // and the arm is reached through the flat API's default connection.
  std::unique_ptr<ArmConnection> own;
  std::atomic<bool> flatOpen{false};
  std::atomic<bool> closed{false};  // by Close(): a reconnect must not open it again
  std::function<int()> stopCheck;  // guarded by the holding Arm's mutex

  OpenedArm() = default;
  OpenedArm(const OpenedArm&) = delete;
  OpenedArm& operator=(const OpenedArm&) = delete;
  // The last share closes the arm if nothing did (an Arm whose constructor
  // failed after opening it).
  ~OpenedArm() { Close(); }

  Connection& connection() { return own ? static_cast<Connection&>(*own) : DefaultConnection(); }

  // Whether commands are to run: a closed arm on the flat link stays closed
  // even when another arm (or InitAPI) has opened the flat link again since.
  bool Usable() const { return own != nullptr || flatOpen.load(); }

  // Waits for a command running on the connection, then closes it.
  void Close() {
    closed = true;
    if (own) {
      own->Close();
    } else if (flatOpen.exchange(false)) {
      CloseAPI();
    }
  }
};

}  // namespace

// The one thing an Arm object holds, for the object's whole life: which
// opened arm it is. A move hands the opened arm over under these locks and
// never frees an Impl another thread may be reading.
struct Arm::Impl {
  mutable std::mutex mutex;
  std::shared_ptr<OpenedArm> opened;  // null: closed by a move

  explicit Impl(std::shared_ptr<OpenedArm> arm = nullptr) : opened(std::move(arm)) {}

  std::shared_ptr<OpenedArm> Get() const {
    std::lock_guard lock(mutex);
    return opened;
  }
  std::shared_ptr<OpenedArm> Exchange(std::shared_ptr<OpenedArm> arm) {
    std::lock_guard lock(mutex);
    opened.swap(arm);
    return arm;
  }
};

Arm::Arm(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Arm::Arm() : Arm(ArmInfo{}) {}

namespace {

// A failed open, naming the arm it was for.
Error OpenFailed(int code, const char* where, const std::string& path) {
  return Error(code, where,
               std::string(GetResultMessage(code)) + " (arm " +
                   (path.empty() ? std::string("first found") : "\"" + path + "\"") + ")");
}

constexpr const char* kClosedMessage =
    "this arm is closed (Close(), moved from, or its link was closed); open a new Arm";

// Why a command cannot run on arm: closed for good, or its link down while it
// is opened again (Reopen(), a control loop reconnecting to an unplugged
// arm), when waiting is the answer rather than a new Arm.
Error NotOpen(const char* where, const OpenedArm* arm) {
  if (arm != nullptr && !arm->closed && arm->own) {
    return Error(TARSEL_ERROR_NOT_INITIALIZED, where,
                 "the arm's link is down until it is opened again (the arm was unplugged, or "
                 "Reopen() or a control loop is reconnecting to it); try again when it is back");
  }
  return Error(TARSEL_ERROR_NOT_INITIALIZED, where, kClosedMessage);
}

}  // namespace

Arm::Arm(const ArmInfo& info) {
  const char* where = "Arm";
  const bool simulated = info.simulated || SimulatedArmCount() > 0;
  auto arm = std::make_shared<OpenedArm>();
  arm->library = SharedLibrary(simulated, where);
  if (!arm->library->HasHandles() || info.path == kDefaultPath) {
    const int code = InitAPI();
    if (code != TARSEL_OK) {
      CloseAPI();
      throw OpenFailed(code, where, info.path);
    }
    arm->flatOpen = true;
    arm->info = DefaultInfo(simulated);
    impl_ = std::make_unique<Impl>(std::move(arm));
    return;
  }
  TarselArmLink* link = nullptr;
  const int code = arm->library->Open(info.path, link);
  if (code != TARSEL_OK) throw OpenFailed(code, where, info.path);
  arm->own = std::make_unique<ArmConnection>(arm->library, link);
  arm->info = info;
  if (info.path.empty()) {
    // The first arm: describe it as the listing does.
    std::vector<TarselArmLinkInfo> arms;
    if (arm->library->List(arms) == TARSEL_OK && !arms.empty()) {
      arm->info = FromLink(arms.front(), arm->library->Simulated());
    }
  }
  arm->info.simulated = arm->info.simulated || arm->library->Simulated();
  impl_ = std::make_unique<Impl>(std::move(arm));
}

Arm Arm::Simulated(const SimOptions& options) {
  const char* where = "Arm::Simulated";
  auto arm = std::make_shared<OpenedArm>();
  arm->library = SharedLibrary(true, where);
  TarselArmLink* link = nullptr;
  const int code = arm->library->CreateSimulated(OptionsText(options), link);
  if (code != TARSEL_OK) throw Error(code, where);
  arm->own = std::make_unique<ArmConnection>(arm->library, link);
  arm->info = DefaultInfo(true);
  arm->info.path = "sim:private";
  arm->info.product = "Tarsel simulated arm";
  return Arm(std::make_unique<Impl>(std::move(arm)));
}

Arm::~Arm() {
  Close();
}

Arm::Arm(Arm&& other) noexcept : impl_(new (std::nothrow) Impl) {
  if (!other.impl_) return;
  if (!impl_) {
    // No memory for a holder of its own: take other's, as a plain move.
    impl_ = std::move(other.impl_);
    return;
  }
  impl_->Exchange(other.impl_->Exchange(nullptr));
}

Arm& Arm::operator=(Arm&& other) noexcept {
  if (this == &other) return *this;
  std::shared_ptr<OpenedArm> incoming = other.impl_ ? other.impl_->Exchange(nullptr) : nullptr;
  std::shared_ptr<OpenedArm> outgoing;
  if (impl_) {
    outgoing = impl_->Exchange(std::move(incoming));
  } else if (incoming) {
    impl_.reset(new (std::nothrow) Impl(incoming));
    // No memory for a holder: the incoming arm is closed, as this one is.
    if (!impl_) outgoing = std::move(incoming);
  }
  // A command another thread runs on the outgoing arm finishes first; the
  // connection lives on in that command's share until it returns.
  if (outgoing) outgoing->Close();
  return *this;
}

void Arm::Reopen() {
  const char* where = "Arm::Reopen";
  const std::shared_ptr<OpenedArm> arm = impl_ ? impl_->Get() : nullptr;
  if (!arm || arm->closed) throw Error(TARSEL_ERROR_NOT_INITIALIZED, where, kClosedMessage);
  int code = TARSEL_OK;
  if (arm->own) {
    code = arm->own->Reopen(arm->info.path);
  } else {
    code = InitAPI();
    if (code != TARSEL_OK) CloseAPI();
  }
  // A Close() that came meanwhile wins: it set the flag before closing.
  if (arm->closed) {
    if (arm->own) {
      arm->own->Close();
    } else {
      CloseAPI();
    }
    throw Error(TARSEL_ERROR_NOT_INITIALIZED, where, kClosedMessage);
  }
  if (code != TARSEL_OK) throw OpenFailed(code, where, arm->info.path);
}

void Arm::Close() noexcept {
  if (!impl_) return;
  if (const std::shared_ptr<OpenedArm> arm = impl_->Get()) arm->Close();
}

bool Arm::IsOpen() const noexcept {
  const std::shared_ptr<OpenedArm> arm = impl_ ? impl_->Get() : nullptr;
  if (!arm) return false;
  Connection& c = arm->connection();
  std::lock_guard lock(c.Mutex());
  return c.IsOpen() && arm->Usable();
}

const ArmInfo& Arm::Info() const noexcept {
  static const ArmInfo none;
  // The opened arm stays while this Arm holds it; a move replaces it.
  const std::shared_ptr<OpenedArm> arm = impl_ ? impl_->Get() : nullptr;
  return arm ? arm->info : none;
}

void Arm::SaveRecentPackets(const std::string& path) const {
  const char* where = "SaveRecentPackets";
  const std::shared_ptr<OpenedArm> arm = impl_ ? impl_->Get() : nullptr;
  if (!arm) throw Error(TARSEL_ERROR_NOT_INITIALIZED, where, kClosedMessage);
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw Error(TARSEL_ERROR_ARGUMENT, where, "the path to save to is empty or holds a NUL byte");
  }
  // The library itself, not the connection: it holds the packets whether or
  // not the arm is still open.
  const int code = arm->library->SaveRecentPackets(path.c_str());
  if (code == TARSEL_ERROR_FILE_WRITE) {
    throw Error(code, where,
                "cannot write the recent packets to \"" + path +
                    "\": it must be a new file or a regular file on a disk, in a folder that "
                    "exists and may be written, with room on the disk");
  }
  if (code != TARSEL_OK) throw Error(code, where);
}

void Arm::SetStopCheck(std::function<int()> check) {
  if (!impl_) return;
  std::lock_guard lock(impl_->mutex);
  if (impl_->opened) impl_->opened->stopCheck = std::move(check);
}

std::function<int()> Arm::StopCheckFor(std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::function<int()> user;
  if (impl_) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->opened) user = impl_->opened->stopCheck;
  }
  return [end, user] {
    if (user) {
      if (const int code = user(); code != 0) return code;
    }
    return std::chrono::steady_clock::now() >= end ? static_cast<int>(TARSEL_ERROR_TIME_LIMIT) : 0;
  };
}

void Arm::Call(const char* where, const std::function<int()>& body) {
  // This command's share of the opened arm: a move that replaces it meanwhile
  // closes it, but the connection stays until the command is done with it.
  const std::shared_ptr<OpenedArm> arm = impl_ ? impl_->Get() : nullptr;
  if (!arm || !arm->Usable()) throw NotOpen(where, arm.get());
  // A command that sends nothing (GetAPIVersion) would not notice on its own
  // that Close() closed the connection.
  bool open = false;
  {
    std::lock_guard lock(arm->connection().Mutex());
    open = arm->connection().IsOpen();
  }
  if (!open) throw NotOpen(where, arm.get());
  int code = TARSEL_OK;
  {
    ConnectionScope scope(arm->connection());
    code = body();
  }
  // 2001 from the command itself: the arm's connection was closed under it.
  if (code == TARSEL_ERROR_NOT_INITIALIZED) throw NotOpen(where, arm.get());
  if (code != TARSEL_OK) throw Error(code, where);
}

FlatCallsTo::FlatCallsTo(Arm& arm) {
  const std::shared_ptr<OpenedArm> opened = arm.impl_ ? arm.impl_->Get() : nullptr;
  if (!opened) throw Error(TARSEL_ERROR_NOT_INITIALIZED, "FlatCallsTo", kClosedMessage);
  if (!RouteFlatCalls(&opened->connection())) throw Error(TARSEL_ERROR_ARGUMENT, "FlatCallsTo");
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
