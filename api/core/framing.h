// Command framing: building request packets, exchanging them through the bound
// link, judging each answer's verdict and reassembling read answers.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "core/connection.h"
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

// Sends payload for command as BuildSetCommand frames it, one packet at a
// time, holding the connection's lock for the whole message. Returns
// SendSetCommand's codes.
int SendFramed(int command, const Payload& payload);

class Connection;

// Writes a message of known size straight into its packets: the same calls
// as PayloadWriter, but each packet goes out as soon as its 56 bytes are
// filled, so the payload is never held and no byte is copied twice. The
// packets are exactly those BuildSetCommand makes of the same bytes. After a
// packet whose answer fails, the rest of the message is dropped and Finish
// returns that packet's code.
class PacketWriter {
 public:
  PacketWriter(Connection& link, int command, int size);

  PacketWriter& Field(std::int16_t v) { return Le(static_cast<std::uint16_t>(v), 2); }
  PacketWriter& Field(std::uint16_t v) { return Le(v, 2); }
  PacketWriter& Field(std::int32_t v) { return Le(static_cast<std::uint32_t>(v), 4); }
  PacketWriter& Field(std::uint32_t v) { return Le(v, 4); }
  PacketWriter& Field(std::uint8_t v) { return Le(v, 1); }
  PacketWriter& Field(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return Le(bits, 4);
  }
  PacketWriter& Field(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return Le(bits, 8);
  }
  template <typename T, std::size_t N>
  PacketWriter& Field(const T (&array)[N]) {
    if constexpr (std::is_same_v<std::remove_all_extents_t<T>, std::uint8_t>) {
      return Bytes(array, sizeof array);
    } else {
      for (std::size_t i = 0; i < N; ++i) Field(array[i]);
      return *this;
    }
  }
  PacketWriter& Floats(const float* first, int count) {
    for (int i = 0; i < count; ++i) Field(first[i]);
    return *this;
  }
  PacketWriter& Bytes(const void* src, std::size_t width);
  PacketWriter& Text(const char (&text)[20]) { return Bytes(text, 20); }
  PacketWriter& Zeros(std::size_t width);
  PacketWriter& Filler(double v) { return Field(v); }
  PacketWriter& PadTo(std::size_t size) {
    if (Written() < size) Zeros(size - Written());
    return *this;
  }
  std::size_t Written() const { return written_; }

  // Sends what is left (the last packet, zero-filled; the message is padded
  // with zeros up to its size) and returns 1 or the first failed code.
  int Finish();

 private:
  PacketWriter& Le(std::uint64_t v, int width) {
    if (fill_ + width <= TARSEL_PACKET_DATA_SIZE) {
      for (int i = 0; i < width; ++i) request_.Data[fill_ + i] = static_cast<unsigned char>(v >> (8 * i));
      fill_ += width;
      written_ += static_cast<std::size_t>(width);
      if (fill_ == TARSEL_PACKET_DATA_SIZE) Flush();
      return *this;
    }
    unsigned char bytes[8];
    for (int i = 0; i < width; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
    return Bytes(bytes, static_cast<std::size_t>(width));
  }
  void Flush();

  Connection& link_;
  Packet request_;
  Packet answer_;
  int fill_ = 0;  // bytes of request_.Data filled
  std::size_t written_ = 0;
  int result_ = 1;
};

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
