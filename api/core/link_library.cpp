#include "core/link_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "tarsel/result.h"

namespace tarsel {

namespace {

template <typename Fn>
void BindOptional(void* handle, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

std::shared_ptr<LinkLibrary> LinkLibrary::Load(bool simulated, int& error) {
  // Local binding: the library's handle functions are reached through the
  // pointers below only, and nothing of it is put in the global scope.
  void* handle = simulated ? OpenSimulatorLinkLibrary(RTLD_NOW | RTLD_LOCAL)
                           : OpenLinkLibrary(RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = TARSEL_ERROR_LOAD_COMM_LAYER;
    return nullptr;
  }
  std::shared_ptr<LinkLibrary> library(new LinkLibrary);
  library->handle_ = handle;
  library->simulated_ = simulated;
  BindOptional(handle, "TarselLinkListArms", library->list_);
  BindOptional(handle, "TarselLinkOpenArm", library->open_);
  BindOptional(handle, "TarselLinkExchange", library->exchange_);
  BindOptional(handle, "TarselLinkCloseArm", library->close_);
  BindOptional(handle, "TarselSimCreateArm", library->create_);
  BindOptional(handle, "TarselLinkSaveRecentPackets", library->save_);
  // All four or none: a partial set is treated as none.
  if (!library->list_ || !library->open_ || !library->exchange_ || !library->close_) {
    library->list_ = nullptr;
    library->open_ = nullptr;
    library->exchange_ = nullptr;
    library->close_ = nullptr;
  }
  error = TARSEL_OK;
  return library;
}

LinkLibrary::~LinkLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

int LinkLibrary::List(std::vector<TarselArmLinkInfo>& arms) const {
  arms.clear();
  if (!HasHandles()) return TARSEL_ERROR_NO_SEND_PACKET;
  // The bus may change between the two calls: ask again until it fits.
  for (int attempt = 0; attempt < 4; ++attempt) {
    int count = 0;
    const int code = list_(arms.empty() ? nullptr : arms.data(), static_cast<int>(arms.size()),
                           &count);
    if (code != TARSEL_OK) return code;
    if (count < 0) count = 0;
    if (static_cast<std::size_t>(count) <= arms.size()) {
      arms.resize(static_cast<std::size_t>(count));
      return TARSEL_OK;
    }
    arms.resize(static_cast<std::size_t>(count));
  }
  return TARSEL_OK;
}

int LinkLibrary::Open(const std::string& path, TarselArmLink*& link) const {
  link = nullptr;
  if (!HasHandles()) return TARSEL_ERROR_NO_SEND_PACKET;
  const int code = open_(path.c_str(), &link);
  if (code != TARSEL_OK) link = nullptr;
  return link != nullptr || code != TARSEL_OK ? code : TARSEL_ERROR_NO_ARM;
}

int LinkLibrary::CreateSimulated(const std::string& options, TarselArmLink*& link) const {
  link = nullptr;
  if (create_ == nullptr || !HasHandles()) return TARSEL_ERROR_NO_ARM;
  const int code = create_(options.c_str(), &link);
  if (code != TARSEL_OK) link = nullptr;
  return link != nullptr || code != TARSEL_OK ? code : TARSEL_ERROR_NO_ARM;
}

void LinkLibrary::Close(TarselArmLink* link) const {
  if (link != nullptr && close_ != nullptr) close_(link);
}

int LinkLibrary::SaveRecentPackets(const char* path) const {
  return save_ != nullptr ? save_(path) : TARSEL_ERROR_NO_RECENT_PACKETS;
}

ArmConnection::ArmConnection(std::shared_ptr<LinkLibrary> library, TarselArmLink* link)
    : library_(std::move(library)), link_(link) {}

ArmConnection::~ArmConnection() {
  Close();
}

int ArmConnection::Exchange(const Packet& request, Packet& answer) {
  return library_->Exchange(link_, request, answer) == TARSEL_OK ? TARSEL_OK
                                                                  : TARSEL_ERROR_NO_ANSWER;
}

void ArmConnection::Close() {
  std::lock_guard lock(Mutex());
  if (link_ == nullptr) return;
  library_->Close(link_);
  link_ = nullptr;
}

int ArmConnection::Reopen(const std::string& path) {
  std::lock_guard lock(Mutex());
  // The old handle holds the arm's interface: it must go first.
  if (link_ != nullptr) library_->Close(link_);
  link_ = nullptr;
  return library_->Open(path, link_);
}

}  // namespace tarsel
