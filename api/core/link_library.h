// Link libraries reached through handles: several arms in one process. A
// LinkLibrary is one loaded link library (the USB link, or the simulator's),
// bound by name to its handle functions; an ArmConnection is one open arm on
// it, a Connection that the commands of that arm run over.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/connection.h"
#include "tarsel/comm_layer.h"

namespace tarsel {

class LinkLibrary {
 public:
  // Loads the link library the flat API would load (the same search), or,
  // with simulated, the simulator's link library (TARSEL_SIM_LINK, then the
  // folders it is installed or built in beside this library). Returns null
  // and sets error to 2002 when it cannot be loaded; the loader's message is
  // in LastLoadError().
  static std::shared_ptr<LinkLibrary> Load(bool simulated, int& error);
  ~LinkLibrary();
  LinkLibrary(const LinkLibrary&) = delete;
  LinkLibrary& operator=(const LinkLibrary&) = delete;

  // Whether the library offers the handle functions. One that lacks them
  // still reaches one arm through its four plain functions (the flat API's
  // default connection).
  bool HasHandles() const { return exchange_ != nullptr; }
  bool Simulated() const { return simulated_; }

  // Lists the arms on the bus. Returns 1 or the link's code.
  int List(std::vector<TarselArmLinkInfo>& arms) const;
  // Opens the arm at path (empty: the first one). Returns 1 and sets link,
  // or the link's code.
  int Open(const std::string& path, TarselArmLink*& link) const;
  // A fresh private simulated arm (simulator only). Returns 1, 2100, or 1014
  // when the library cannot make one.
  int CreateSimulated(const std::string& options, TarselArmLink*& link) const;
  int Exchange(TarselArmLink* link, const Packet& request, Packet& answer) const {
    return exchange_(link, &request, &answer);
  }
  void Close(TarselArmLink* link) const;
  // The library's TarselLinkSaveRecentPackets: 1, 2100, 5002, 5005, or 1016
  // when the library lacks it.
  int SaveRecentPackets(const char* path) const;

 private:
  LinkLibrary() = default;
  void* handle_ = nullptr;
  bool simulated_ = false;
  int (*list_)(TarselArmLinkInfo*, int, int*) = nullptr;
  int (*open_)(const char*, TarselArmLink**) = nullptr;
  int (*exchange_)(TarselArmLink*, const Packet*, Packet*) = nullptr;
  int (*close_)(TarselArmLink*) = nullptr;
  int (*create_)(const char*, TarselArmLink**) = nullptr;
  int (*save_)(const char*) = nullptr;
};

// One open arm of a link library. Close() (or destruction) closes the handle
// under the connection's lock, so a command running in another thread
// finishes first and later commands get 2001.
class ArmConnection final : public Connection {
 public:
  ArmConnection(std::shared_ptr<LinkLibrary> library, TarselArmLink* link);
  ~ArmConnection() override;

  bool IsOpen() const override { return link_ != nullptr; }
  int Exchange(const Packet& request, Packet& answer) override;
  int SaveRecentPackets(const char* path) override { return library_->SaveRecentPackets(path); }
  void Close();
  // Closes the handle and opens the arm at path again in its place, under
  // the connection's lock. Returns 1, or the link's code; the connection is
  // then closed.
  int Reopen(const std::string& path);

 private:
  std::shared_ptr<LinkLibrary> library_;
  TarselArmLink* link_;
};

// The loader's message from the last failed load of a link library by this
// library (InitAPI or LinkLibrary::Load), or "".
std::string LastLoadError();

// Loads the link library by its file name the way InitAPI does: the loader's
// search path, then this library's own folder. Returns the handle or null.
void* OpenLinkLibrary(int flags);

// Loads the simulator's link library: TARSEL_SIM_LINK when set, otherwise
// the folders it is installed (tarsel/sim) or built (../sim/lib) in beside
// this library. Returns the handle or null.
void* OpenSimulatorLinkLibrary(int flags);

}  // namespace tarsel
