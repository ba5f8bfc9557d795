/** @file
 * The 64-byte packet exchanged with the arm, shared by both libraries. */
#ifndef TARSEL_PACKET_H
#define TARSEL_PACKET_H

#include <cstddef>
#include <cstdint>
#include <cstring>

/** Size of one packet on the wire and of its data area. */
/** @{ */
#define TARSEL_PACKET_SIZE 64
#define TARSEL_PACKET_DATA_SIZE 56
/** @} */

/** One USB transfer in either direction: four signed 16-bit header words and
 * 56 data bytes. In a request, CommandId is the command number; in an answer
 * it is the arm's verdict word (negative: failure; bit 0x4000: error).
 * PayloadSize is the size of the whole message, all packets together. */
struct Packet {
  short PacketIndex; /**< position in the message, counted from 1 */
  short PacketCount; /**< packets in the message */
  short CommandId;   /**< command number, or the answer's verdict word */
  short PayloadSize; /**< payload bytes of the whole message */
  unsigned char Data[TARSEL_PACKET_DATA_SIZE]; /**< this packet's part of the payload */
};

static_assert(sizeof(Packet) == TARSEL_PACKET_SIZE, "Packet must be 64 bytes");
static_assert(offsetof(Packet, PacketIndex) == 0, "Packet layout");
static_assert(offsetof(Packet, PacketCount) == 2, "Packet layout");
static_assert(offsetof(Packet, CommandId) == 4, "Packet layout");
static_assert(offsetof(Packet, PayloadSize) == 6, "Packet layout");
static_assert(offsetof(Packet, Data) == 8, "Packet layout");

namespace tarsel {

/** Writes a packet in wire order (little-endian header words, then Data). */
inline void EncodePacket(const Packet& packet, unsigned char (&wire)[TARSEL_PACKET_SIZE]) {
  const short header[4] = {packet.PacketIndex, packet.PacketCount, packet.CommandId,
                           packet.PayloadSize};
  for (int i = 0; i < 4; ++i) {
    const std::uint16_t word = static_cast<std::uint16_t>(header[i]);
    wire[2 * i] = static_cast<unsigned char>(word & 0xFFu);
    wire[2 * i + 1] = static_cast<unsigned char>(word >> 8);
  }
  std::memcpy(wire + 8, packet.Data, TARSEL_PACKET_DATA_SIZE);
}

/** Reads a packet from its wire form. */
inline Packet DecodePacket(const unsigned char (&wire)[TARSEL_PACKET_SIZE]) {
  Packet packet;
  short* const header[4] = {&packet.PacketIndex, &packet.PacketCount, &packet.CommandId,
                            &packet.PayloadSize};
  for (int i = 0; i < 4; ++i) {
    const std::uint16_t word =
        static_cast<std::uint16_t>(wire[2 * i] | (static_cast<unsigned>(wire[2 * i + 1]) << 8));
    *header[i] = static_cast<short>(word);
  }
  std::memcpy(packet.Data, wire + 8, TARSEL_PACKET_DATA_SIZE);
  return packet;
}

}  // namespace tarsel

#endif /* TARSEL_PACKET_H */
