// A stand-in link library for tests: it has the file name and SONAME of the
// real one, records every request packet and answers from a script the test
// controls. A test executable links it directly, so the API's InitAPI finds it
// already loaded under its SONAME and binds to it.
#pragma once

#include <functional>
#include <vector>

#include "tarsel/export.h"
#include "tarsel/packet.h"

namespace tarsel::recording {

// How to answer one exchange.
struct Step {
  enum class Kind {
    kAuto,       // serve the registered read payload, or acknowledge a write
    kUntouched,  // leave the answer as it was passed in (a failed transfer)
    kVerdict,    // answer with verdict as CommandId, otherwise as kAuto
  };
  Kind kind = Kind::kAuto;
  short verdict = 0;
  int announce = -1;  // PayloadSize to announce instead of the registered size
  int index = -1;     // PacketIndex to answer with instead of the request's
};

using Responder = std::function<bool(const Packet& request, Packet& answer)>;

// Forgets every request, script step, read payload and responder; the next
// InitCommunication returns 1 again.
TARSEL_API void Reset();
// Reads of command are answered from payload, packet by packet, announcing
// announced bytes (the payload's size when negative).
TARSEL_API void ServeRead(int command, std::vector<unsigned char> payload, int announced = -1);
// Queues steps for the coming exchanges, one step each, in order.
TARSEL_API void Script(std::vector<Step> steps);
// A responder consulted before everything else; returns true when it answered.
TARSEL_API void SetResponder(Responder responder);
TARSEL_API void SetInitResult(int code);

TARSEL_API const std::vector<Packet>& Requests();
TARSEL_API std::vector<int> RequestCommands();
// The payload carried by the write requests from index first on, cut to each
// message's PayloadSize.
TARSEL_API std::vector<unsigned char> WrittenPayload(std::size_t first = 0);
TARSEL_API int InitCalls();
TARSEL_API int CloseCalls();

// The automatic answer for a request, as kAuto gives it.
TARSEL_API void AutoAnswer(const Packet& request, Packet& answer, int announce = -1);

}  // namespace tarsel::recording
