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
//
// A message is continued only by the connection that began it, packet after
// packet: a packet with PacketIndex above 1 that does not follow the last
// one this connection had answered on the arm (its turn was taken, it is a
// new connection, or it skips or repeats a packet) is refused without
// reaching the arm, with the verdict word -1, as the arm refuses a request
// out of sequence (the API reports 2005). The message is then over for that
// connection too.
//
// Only programs of the service's own user are served; at most 64 at once
// (more are told the service is full); a connection that sends no request
// for the idle limit (60 s unless set) is closed.
#pragma once

#include <chrono>
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

  // Listens on the socket at path (mode 0600). A socket file of this user
  // that no service answers on any more is replaced; false with why when
  // another service answers there, the file belongs to another user, the
  // path is too long or something else is in the way.
  bool Listen(const std::string& path, std::string& why);

  // How long a connection may go without a request before it is closed
  // (at least a millisecond). Takes effect for connections accepted later.
  void SetIdleLimit(std::chrono::milliseconds limit);

  // With on, exchanges keep the time of a full-speed USB bus
  // (tarsel/vusb/bus_clock.h): the arm takes a request at the first frame
  // start after it came, and its answer goes back at the first frame start
  // after the arm answered (both endpoints polled every frame), so one
  // exchange takes more than one frame and at most two, as on the bus.
  // Off (the default): answered at once. Set before Run.
  void SetBusClock(bool on);

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
