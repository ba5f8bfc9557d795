// Helpers for the link tests: packets with recognisable contents, their wire
// form assembled byte by byte, and one exchange with its printed output.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarsel/comm_layer.h"
#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::testing {

using vusb::Bytes;

struct Header {
  short index, count, command, size;
};

// A packet whose data byte i is (seed + 7 * i) & 0xFF.
inline Packet MakePacket(Header h, unsigned seed) {
  Packet p;
  p.PacketIndex = h.index;
  p.PacketCount = h.count;
  p.CommandId = h.command;
  p.PayloadSize = h.size;
  for (int i = 0; i < TARSEL_PACKET_DATA_SIZE; ++i) {
    p.Data[i] = static_cast<unsigned char>((seed + 7u * static_cast<unsigned>(i)) & 0xFFu);
  }
  return p;
}

// The 64 wire bytes of a packet: the header words little-endian, then data.
inline Bytes WireOf(Header h, unsigned seed) {
  Bytes b;
  for (short word : {h.index, h.count, h.command, h.size}) {
    const unsigned v = static_cast<unsigned short>(word);
    b.push_back(static_cast<unsigned char>(v & 0xFFu));
    b.push_back(static_cast<unsigned char>(v >> 8));
  }
  const Packet p = MakePacket(h, seed);
  b.insert(b.end(), p.Data, p.Data + TARSEL_PACKET_DATA_SIZE);
  return b;
}

inline Bytes BytesOf(const Packet& p) {
  Bytes b(sizeof p);
  std::memcpy(b.data(), &p, sizeof p);
  return b;
}

inline ::testing::AssertionResult SamePacket(const Packet& actual, const Packet& expected) {
  if (std::memcmp(&actual, &expected, sizeof(Packet)) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "packet {" << actual.PacketIndex << ", " << actual.PacketCount << ", "
         << actual.CommandId << ", " << actual.PayloadSize << ", data[0]=" << int{actual.Data[0]}
         << "} differs from {" << expected.PacketIndex << ", " << expected.PacketCount << ", "
         << expected.CommandId << ", " << expected.PayloadSize
         << ", data[0]=" << int{expected.Data[0]} << "}";
}

// The result of one SendPacket call and what it printed.
struct Exchanged {
  Packet returned;
  std::string printed;
};

// Calls SendPacket with a reserved argument that must come back untouched.
inline Exchanged Exchange(const Packet& request, Packet& answer) {
  int reserved = 0x5A5A;
  ::testing::internal::CaptureStdout();
  const Packet returned = SendPacket(request, answer, reserved);
  Exchanged e{returned, ::testing::internal::GetCapturedStdout()};
  EXPECT_EQ(reserved, 0x5A5A) << "the reserved argument was written";
  return e;
}

// An arm that answers every packet with its mirror: same header but one
// more payload byte announced, data bytes inverted. Tells apart which
// request an answer belongs to.
inline std::optional<Packet> Mirror(const Packet& request) {
  Packet answer = request;
  answer.PayloadSize = static_cast<short>(request.PayloadSize + 1);
  for (unsigned char& b : answer.Data) b = static_cast<unsigned char>(~b);
  return answer;
}

inline Packet MirrorOf(const Packet& request) {
  return *Mirror(request);
}

}  // namespace tarsel::testing
