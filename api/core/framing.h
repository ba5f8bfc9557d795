// Command framing: building request packets, exchanging them through the bound
// link, judging each answer's verdict and reassembling read answers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "core/connection.h"
#include "core/payload.h"
#include "tarsel/core.h"
#include "tarsel/packet.h"
#include "tarsel/result.h"

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

// Sends payload for command as BuildSetCommand frames it, one packet at a
// time, holding the connection's lock for the whole message. Returns
// SendSetCommand's codes.
int SendFramed(int command, const Payload& payload);

// The verdict of an answer to a write's packet: 1, or 2003 (negative, on
// the first packet), 2005 (negative, on a later one) or 2004 (error bit
// 0x4000).
inline int JudgeVerdict(short verdict, bool first) {
  if (verdict < 0) return first ? TARSEL_ERROR_FIRST_PACKET : TARSEL_ERROR_LATER_PACKET;
  if (verdict & 0x4000) return TARSEL_ERROR_ANSWER_ERROR_BIT;
  return TARSEL_OK;
}

// Writes a message of known size straight into its packets: each packet goes
// out through link as soon as its 56 bytes are filled, so the payload is
// never held and no byte is copied twice. The packets are exactly those
// BuildSetCommand makes of the same bytes. After a packet whose answer fails,
// the rest of the message is dropped and Finish returns that packet's code.
// Refers to link, which must outlive it; the caller holds link's lock.
class PacketSink {
 public:
  PacketSink(Connection& link, int command, int size) : link_(link) {
    std::memset(&request_, 0, sizeof request_);
    request_.PacketCount = static_cast<short>((size + kData - 1) / kData);
    request_.CommandId = static_cast<short>(command);
    request_.PayloadSize = static_cast<short>(size);
  }

  // The sink's side of Writer (see core/payload.h): a value's bits, a run of
  // bytes, a run of zeros, each sending every packet it fills.
  template <typename T>
  void Le(T bits) {
    constexpr int width = sizeof bits;
    if (fill_ + width <= kData) {
      StoreLe(request_.Data + fill_, bits);
      fill_ += width;
      if (fill_ == kData) Flush();
      return;
    }
    unsigned char bytes[sizeof bits];
    StoreLe(bytes, bits);
    Bytes(bytes, sizeof bytes);
  }
  // Runs and packet ends come once per run or packet: kept out of line, as
  // inlined at every field they would only make the codecs larger.
  [[gnu::noinline]] void Bytes(const unsigned char* src, std::size_t width) {
    while (width > 0) {
      const std::size_t n = std::min(width, static_cast<std::size_t>(kData - fill_));
      std::memcpy(request_.Data + fill_, src, n);
      fill_ += static_cast<int>(n);
      src += n;
      width -= n;
      if (fill_ == kData) Flush();
    }
  }
  [[gnu::noinline]] void Zeros(std::size_t width) {
    while (width > 0) {
      const std::size_t n = std::min(width, static_cast<std::size_t>(kData - fill_));
      std::memset(request_.Data + fill_, 0, n);
      fill_ += static_cast<int>(n);
      width -= n;
      if (fill_ == kData) Flush();
    }
  }
  // The bytes written so far, sent or not.
  std::size_t Written() const { return packets_ * kData + static_cast<std::size_t>(fill_); }

  // Sends what is left (the last packet, zero-filled; the message is padded
  // with zeros up to its size) and returns 1, or the first failed packet's
  // code: 2003, 2004, 2005 (its verdict) or 2008 (no answer came).
  int Finish() {
    const auto size = static_cast<std::size_t>(static_cast<unsigned short>(request_.PayloadSize));
    if (Written() < size) Zeros(size - Written());
    if (fill_ > 0) {
      std::memset(request_.Data + fill_, 0, static_cast<std::size_t>(kData - fill_));
      Flush();
    }
    return result_;
  }

 private:
  static constexpr int kData = TARSEL_PACKET_DATA_SIZE;

  // Sends the full packet unless an earlier one failed, and starts the next.
  [[gnu::noinline]] void Flush() {
    ++packets_;
    if (result_ == TARSEL_OK) {
      request_.PacketIndex = static_cast<short>(packets_);
      if (link_.Exchange(request_, answer_) != TARSEL_OK) {
        result_ = TARSEL_ERROR_NO_ANSWER;
      } else {
        result_ = JudgeVerdict(answer_.CommandId, packets_ == 1);
      }
    }
    fill_ = 0;
  }

  Connection& link_;
  Packet request_;
  Packet answer_;
  int fill_ = 0;             // bytes of request_.Data filled
  std::size_t packets_ = 0;  // packets completed (sent, or dropped after a failure)
  int result_ = TARSEL_OK;
};

// The writer of messages sent as they are written (StreamWrite).
using PacketWriter = Writer<PacketSink>;

// Write shape for a form of known size written straight into packets:
// encode(PacketWriter&) lists the fields. Holds the connection's lock for the
// whole message. Returns 1, 2001, 2003, 2004, 2005, 2008, or 2006 with
// nothing sent when size cannot be announced.
template <typename Encode>
int StreamWrite(int command, int size, Encode encode);

// A payload buffer of the calling thread's own, emptied, for one command's
// read answer or write payload: kept between commands so that a command
// allocates nothing once the thread has run it before. A command uses at most
// one of each, and never while another command of its thread runs.
Payload& ReadScratch();
Payload& WriteScratch();

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

template <typename Encode>
int StreamWrite(int command, int size, Encode encode) {
  if (size > kMaxPayload) return TARSEL_ERROR_PAYLOAD_TOO_LARGE;
  Connection& link = CurrentConnection();
  std::lock_guard lock(link.Mutex());
  if (!link.IsOpen()) return TARSEL_ERROR_NOT_INITIALIZED;
  PacketWriter writer(link, command, size);
  encode(writer);
  return writer.Finish();
}

}  // namespace tarsel
