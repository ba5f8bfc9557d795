// The drop-in link library's side of the simulator service: with
// TARSEL_SIM_SOCKET set, the plain functions and the handle functions send
// every exchange to tarsel-sim instead of answering from arms of their own.
#pragma once

#include <string>

#include "protocol.h"

namespace tarsel::sim {

// One connection to the service, for one arm (number 0 for the listing
// only). Not thread-safe: one call at a time, as one handle of the USB link.
//
// Only a service of this program's own user is used: the socket file and
// the process listening on it must both belong to it. An answer is waited
// for at most 5 s; one that does not come by then closes the connection, so
// that it can never be taken for the answer to a later request.
class ServiceClient {
 public:
  ServiceClient(std::string path, int arm);
  ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  // Whether the service has the arm: 1, or 1014 when it has not or cannot be
  // used (no service, full, another user's: then described on standard
  // error).
  int Open();
  // The number of arms the service has; false when it cannot be used
  // (described on standard error).
  bool List(int& count);
  // One exchange: true with answer filled when the arm answered; false when
  // it stayed silent or the service could not be used, which leaves answer
  // untouched. A full service or another user's is described on standard
  // error; a broken connection is not (the exchange has no answer, 2008).
  bool Exchange(const Packet& request, Packet& answer);

 private:
  // How a call ended.
  enum class Outcome {
    kAnswered,  // answer holds the service's answer
    kNoService, // nothing answers at the socket, or the connection broke
    kRefused,   // the service is full, or it or its socket is another user's
  };

  // One request and its answer. Connects first when there is no
  // connection. When an old connection turns out to have been closed by
  // the service (it was restarted, or dropped the connection as idle), a
  // request that begins something (a listing, an opening, a packet with
  // PacketIndex 1) is sent once more on a new connection; any later packet
  // of a message is not, since the service it would reach has not seen the
  // message's beginning: that exchange fails. An answer that does not come
  // within the time limit closes the connection and is never waited for
  // again. why says what went wrong.
  Outcome Call(const service::Request& request, service::Answer& answer, std::string& why);
  // Connects to the service when it and its socket belong to this user.
  Outcome Connect(std::string& why);
  void Disconnect();
  // Says on standard error why the service cannot be used.
  void Report(Outcome outcome, const std::string& why) const;

  std::string path_;
  int arm_;
  int fd_ = -1;
};

}  // namespace tarsel::sim
