// One packet exchange on an open arm, shared by the process-wide link
// (comm_layer.cpp) and the handles (arm_links.cpp). Internal to the link
// library.
#pragma once

#include "tarsel/packet.h"

struct libusb_device_handle;

namespace tarsel::link {

// How an exchange ended.
struct ExchangeOutcome {
  int writeError = 0;     // libusb error of a failed write; 0: the request went out
  bool answered = false;  // a whole answer arrived and was decoded into the answer
};

// Writes request to endpoint 0x02, then reads one 64-byte answer from 0x82,
// 50 ms time-out each. A whole answer overwrites answer; in every other case
// answer keeps its contents. After a failed write nothing is read.
//
// answerOwed belongs to the handle: set when a request went out but its
// answer did not come in (the arm may still send it). While it is set, the
// exchange first empties the IN endpoint of that late answer, so that it
// cannot pass for the answer to this request. Prints nothing.
ExchangeOutcome ExchangePacket(libusb_device_handle* handle, bool& answerOwed,
                               const Packet& request, Packet& answer);

}  // namespace tarsel::link
