// The drop-in link library's side of the simulator service: with
// TARSEL_SIM_SOCKET set, the plain functions and the handle functions send
// every exchange to tarsel-sim instead of answering from arms of their own.
#pragma once

#include <string>

#include "protocol.h"

namespace tarsel::sim {

// One connection to the service, for one arm (number 0 for the listing
// only). Not thread-safe: one call at a time, as one handle of the USB link.
class ServiceClient {
 public:
  ServiceClient(std::string path, int arm);
  ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  // Whether the service has the arm: 1, or 1014 when it has not or cannot be
  // reached (then described on standard error).
  int Open();
  // The number of arms the service has; false when it cannot be reached
  // (described on standard error).
  bool List(int& count);
  // One exchange: true with answer filled when the arm answered; false when
  // it stayed silent or the service could not be reached, which leaves
  // answer untouched.
  bool Exchange(const Packet& request, Packet& answer);

 private:
  // One request and its answer. Connects first when there is no
  // connection; a request that could not be sent on an old connection (the
  // service was restarted) is sent once more on a new one. An answer that
  // does not come within the time limit closes the connection.
  bool Call(const service::Request& request, service::Answer& answer, std::string& why);
  void Disconnect();

  std::string path_;
  int arm_;
  int fd_ = -1;
};

}  // namespace tarsel::sim
