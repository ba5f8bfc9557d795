// Command framing: building request packets, exchanging them through the bound
// link, judging each answer's verdict and reassembling read answers.
#pragma once

#include <vector>

#include "core/payload.h"
#include "tarsel/core.h"
#include "tarsel/packet.h"

// The packets of one firmware page (or any message sent as a unit).
class TARSEL_API PacketList {
 public:
  PacketList();
  PacketList(const PacketList& other);
  PacketList& operator=(const PacketList& other);
  ~PacketList();

  std::vector<Packet> packets;
};

// Fills a read request: packet 1 of 1, the command, PayloadSize 1, Data bytes
// 0-3 holding the 32-bit value 1, the rest zero.
TARSEL_API void PrepareGetPacket(Packet& request, int command);

// Appends one bare packet (packet 1 of 1, the command, PayloadSize 0, zero
// data) to packets.
TARSEL_API void PrepareSetPacket(std::vector<Packet>& packets, int command);

// Cuts a write payload into 56-byte packets, all carrying the command and the
// whole payload's size. An empty payload gives no packets. A payload of 32768
// bytes or more cannot be announced in the 16-bit size word and also gives no
// packets; callers go through SendPayload, which refuses it with 2006.
TARSEL_API std::vector<Packet> BuildSetCommand(int command, const Payload& payload);

// Sends packets in order, stopping at the first answer whose verdict fails
// or that does not arrive. The whole command holds the connection's lock.
// Returns 1, 2001 (no open link), 2003 (negative verdict on packet 1), 2004
// (error bit 0x4000), 2005 (negative verdict on a later packet) or 2008 (no
// answer came). Zero packets send nothing and return 1.
TARSEL_API int SendSetCommand(const std::vector<Packet>& packets);

// Runs a read: sends request, appends each answer's 56 data bytes to payload
// and asks for the next packet until payload holds the announced size. The
// request is rewritten between passes (PacketIndex, PayloadSize).
// The whole read holds the connection's lock.
// Returns 1, 2001, 2003, 2004, 2005, 2008 (no answer came), or 2007 when the
// announced size is negative or the answers never reach it within the passes
// a 32767-byte payload needs.
TARSEL_API int SendGetCommand(Packet& request, Payload& payload);

// Returns bytes with count bytes from data appended.
TARSEL_API std::vector<unsigned char> merge(int count, std::vector<unsigned char> bytes,
                                            const unsigned char* data);

namespace tarsel {

// The largest payload a message can announce in its signed 16-bit size word.
constexpr int kMaxPayload = 32767;

// The three exchange shapes every export goes through. None of them throws:
// memory running out while packets are built or an answer is collected gives
// 5002 (TARSEL_ERROR_NO_MEMORY).

// Write shape: frames payload for command and sends it. Returns
// SendSetCommand's code, 2006 with nothing sent when the payload is too large
// to announce, or 5002.
int SendPayload(int command, const Payload& payload);

// Bare shape: one empty packet for command. Returns SendSetCommand's code or
// 5002.
int SendBare(int command);

// Read shape: prepares the read request for command (argument in Data bytes
// 0-3) and collects the answer into payload. Returns SendGetCommand's code or
// 5002 (payload then holds what had been collected).
int ReadCommand(int command, Payload& payload, std::uint32_t argument = 1);

// Whether InitAPI has opened a link that commands may use (the default
// connection's state; takes its lock).
bool LinkOpen();

}  // namespace tarsel
