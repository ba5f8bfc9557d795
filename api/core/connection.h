// Connections: the way each command reaches one arm. A connection exchanges
// one packet at a time and owns the lock that keeps a command's packets
// together. Every command runs over the calling thread's current connection:
// the process-wide default one (the link library's four functions, bound by
// InitAPI), unless a ConnectionScope has put another in place.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "tarsel/packet.h"

namespace tarsel {

// The lock of one connection: a word that is 0 (free), 1 (held) or 2 (held,
// and someone may be waiting). Taking a free lock and giving back one nobody
// waits for are one atomic instruction each; waiting sleeps in the kernel.
// Every command takes it, so it is kept to what it costs to be uncontended.
class CommandMutex {
 public:
  void lock() {
    int expected = 0;
    if (!state_.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
      LockContended();
    }
  }
  void unlock() {
    if (state_.exchange(0, std::memory_order_release) == 2) state_.notify_one();
  }

 private:
  void LockContended() {
    // Mark the lock as waited for, then sleep until it may be free.
    while (state_.exchange(2, std::memory_order_acquire) != 0) state_.wait(2);
  }
  std::atomic<int> state_{0};
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  virtual ~Connection() = default;

  // Held for the whole of one command (all its packets), and by whatever
  // opens or closes the link under the connection. Never held across the
  // pauses of a composite operation.
  CommandMutex& Mutex() { return mutex_; }

  // Whether commands may run now. Called with Mutex() held.
  virtual bool IsOpen() const = 0;

  // One packet out, one back. Returns 1 when an answer arrived and answer
  // holds it, or 2008 when none did (time-out, unplugged, short read); answer
  // is then unspecified. Called with Mutex() held, only while IsOpen().
  virtual int Exchange(const Packet& request, Packet& answer) = 0;

  // Saves the recent packets of the connection's link library to path
  // (TarselLinkSaveRecentPackets). Called without Mutex() held, at any time:
  // the save does not wait for a running command, and works after the arm
  // was closed while the library stays loaded. Returns what the link library
  // returns (1, 2100, 5002, 5005), or 1016 when it keeps no recent packets.
  virtual int SaveRecentPackets(const char* /*path*/) { return 1016; }

 private:
  CommandMutex mutex_;
};

// The connection of the flat API: the link library bound by InitAPI.
Connection& DefaultConnection();

// The connection commands on this thread run over: the thread's own (a
// ConnectionScope), else the process-wide route (RouteFlatCalls), else the
// default one.
Connection& CurrentConnection();

// Sends the flat API's commands of every thread without a scope of its own
// to connection (null: back to the default connection). Returns false, and
// changes nothing, when a route is already set and connection is not null.
bool RouteFlatCalls(Connection* connection);

// Makes connection the calling thread's current one for the scope's life.
class ConnectionScope {
 public:
  explicit ConnectionScope(Connection& connection);
  ~ConnectionScope();
  ConnectionScope(const ConnectionScope&) = delete;
  ConnectionScope& operator=(const ConnectionScope&) = delete;

 private:
  Connection* previous_;
};

// A reason to stop a long operation early, asked between its steps on the
// thread that runs it: returns 0 to go on, or the result code to stop with
// (a time limit that passed, an interrupt the caller saw). The flat API sets
// none, so its long operations run as they always have.
using StopCheck = std::function<int()>;

// Installs check for the calling thread for the scope's life.
class StopScope {
 public:
  explicit StopScope(StopCheck check);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  StopCheck check_;
  const StopCheck* previous_;
};

// 0, or the code the calling thread's stop check asks to stop with.
int PendingStop();

// Whether a command's code means the link no longer reaches the arm (no
// answer, or no open link): composite operations stop on it instead of
// running out their cycles against silence.
constexpr bool LinkLost(int code) {
  return code == 2008 || code == 2001;
}

}  // namespace tarsel
