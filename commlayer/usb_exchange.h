// One packet exchange on an open arm, shared by the process-wide link
// (comm_layer.cpp) and the handles (arm_links.cpp), and the answers the arm
// still owes a link. Internal to the link library.
//
// The arm takes one request at a time and answers each one, in order, even
// when it is slow: an answer that did not come within the time-out is late,
// not lost, and will be the next thing the IN endpoint delivers. So a link
// counts the answers it is owed and collects them before it sends anything
// new; a request never goes out while an earlier one's answer may still
// come, and no answer can pass for a later request's. Only after
// kOwedSilence without a sign of the arm are owed answers taken as lost.
#pragma once

#include <chrono>

#include "tarsel/packet.h"

struct libusb_device_handle;

namespace tarsel::link {

// How long owed answers are waited for before the link takes them as lost
// and sends again: far longer than any stall of a working arm.
inline constexpr std::chrono::milliseconds kOwedSilence{5000};

// The answers an arm still owes one link.
struct OwedAnswers {
  int count = 0;
  // When the arm last showed it is working through them: the request whose
  // answer is owed went out, or an owed answer came in.
  std::chrono::steady_clock::time_point lastHeard{};
};

// How an exchange ended.
struct ExchangeOutcome {
  int writeError = 0;     // libusb error of a failed write; 0: no write failed
  bool answered = false;  // a whole answer arrived and was decoded into the answer
};

// Collects the answers owed (reads of 50 ms each), then writes request to
// endpoint 0x02 and reads one 64-byte answer from 0x82, 50 ms time-out each.
// A whole answer overwrites answer; in every other case answer keeps its
// contents. Nothing is sent while an owed answer did not come (the outcome
// then has neither a write error nor an answer), and nothing is read after a
// failed write. A read that times out leaves its answer owed. Prints nothing.
ExchangeOutcome ExchangePacket(libusb_device_handle* handle, OwedAnswers& owed,
                               const Packet& request, Packet& answer);

// Keeps what handle's arm still owes for the next link that opens the same
// arm in this process (the link library stays loaded until the process ends
// when anything is kept). Call before closing handle.
void KeepOwed(libusb_device_handle* handle, const OwedAnswers& owed);

// What an earlier link to handle's arm left owed (nothing when none), for a
// link that has just opened it. The kept record is taken: one link gets it.
OwedAnswers TakeOwed(libusb_device_handle* handle);

}  // namespace tarsel::link
