// tarsel-sim's core: simulated arms kept for as long as the service runs,
// served to programs over a local socket one exchange at a time.
//
// Several programs may use the same arm at once. Their exchanges are taken
// in turn, and a multi-packet message (a stored block, a firmware page, a
// long read-out) is finished before another program's exchange on that arm
// is answered, as the API's lock keeps commands whole within one program.
// A program that leaves mid-message (it crashed, it was killed) releases
// the arm at once; one that stalls mid-message for a second loses it, and
// the arm drops the unfinished message when the next one starts.
#pragma once

#include <memory>
#include <string>

#include "environment.h"
#include "protocol.h"
#include "simulated_arm.h"

namespace tarsel::sim {

class Service {
 public:
  // count arms (0 to kMaxSimulatedArms), each set up by settings (hand, time
  // scale, finger points, faults, trace; "absent" leaves the bus empty).
  Service(int count, const SimEnvironment& settings);
  ~Service();  // Stop()
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Listens on the socket at path (mode 0600). A socket file that no service
  // answers on any more is replaced; false with why when another service
  // answers there, the path is too long or something else is in the way.
  bool Listen(const std::string& path, std::string& why);

  // Accepts and serves programs, each on a thread of its own, until stopFd
  // becomes readable.
  void Run(int stopFd);

  // Ends every connection, waits for their threads and removes the socket
  // file. Harmless when called again.
  void Stop();

  // The arms the service lists (0 when settings said "absent").
  int ArmCount() const;
  // Arm number (1 to ArmCount()).
  SimulatedArm& Arm(int number);

  // One request from client (any pointer that tells programs apart), as a
  // connection serves it.
  service::Answer Serve(const void* client, const service::Request& request);
  // client has gone: an arm it held mid-message is released.
  void Leave(const void* client);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarsel::sim
