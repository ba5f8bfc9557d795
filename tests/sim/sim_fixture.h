// Packet-level helpers for the simulator tests: they talk to a SimulatedArm
// the way the host framing does (read loop, 56-byte write messages, bare
// packets) on a manual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "../support/bytes.h"
#include "simulated_arm.h"

namespace simtest {

using tarsel::sim::SimulatedArm;
using tarsel::testing::Bytes;
using tarsel::testing::F32At;
using tarsel::testing::F64At;
using tarsel::testing::I32At;
using tarsel::testing::Pattern;
using tarsel::testing::PutF32;
using tarsel::testing::PutU32;
using tarsel::testing::U32At;

inline Packet Blank() {
  Packet p;
  std::memset(&p, 0, sizeof p);
  return p;
}

inline Packet ReadRequest(int command, std::uint32_t argument = 1) {
  Packet p = Blank();
  p.PacketIndex = 1;
  p.PacketCount = 1;
  p.CommandId = static_cast<short>(command);
  p.PayloadSize = 1;
  for (int i = 0; i < 4; ++i) p.Data[i] = static_cast<unsigned char>(argument >> (8 * i));
  return p;
}

inline Packet BareRequest(int command) {
  Packet p = Blank();
  p.PacketIndex = 1;
  p.PacketCount = 1;
  p.CommandId = static_cast<short>(command);
  return p;
}

// The packets of a write message, announcing announced bytes (the payload's
// own size by default).
inline std::vector<Packet> WriteMessage(int command, const Bytes& payload, int announced = -1) {
  const int size = announced >= 0 ? announced : static_cast<int>(payload.size());
  const int count = (static_cast<int>(payload.size()) + 55) / 56;
  std::vector<Packet> packets;
  for (int k = 0; k < count; ++k) {
    Packet p = Blank();
    p.PacketIndex = static_cast<short>(k + 1);
    p.PacketCount = static_cast<short>(count);
    p.CommandId = static_cast<short>(command);
    p.PayloadSize = static_cast<short>(size);
    for (int i = 0; i < 56 && k * 56 + i < static_cast<int>(payload.size()); ++i) {
      p.Data[i] = payload[static_cast<std::size_t>(k * 56 + i)];
    }
    packets.push_back(p);
  }
  return packets;
}

inline bool Accepted(short verdict) {
  return verdict >= 0 && (verdict & 0x4000) == 0;
}
inline bool ErrorBit(short verdict) {
  return verdict >= 0 && (verdict & 0x4000) != 0;
}

struct ReadResult {
  bool answered = true;
  short verdict = 0;  // of the last answer
  Bytes payload;      // data of every answer, 56 bytes each
  int exchanges = 0;
  short announced = 0;
};

// The host's read loop: ask for packet after packet until the announced
// size is reached or an answer fails.
inline ReadResult Read(SimulatedArm& arm, int command, std::uint32_t argument = 1) {
  ReadResult r;
  Packet request = ReadRequest(command, argument);
  for (int pass = 0; pass < 600; ++pass) {
    const auto answer = arm.Handle(request);
    ++r.exchanges;
    if (!answer) {
      r.answered = false;
      return r;
    }
    EXPECT_EQ(answer->PacketIndex, request.PacketIndex) << "command " << command;
    r.verdict = answer->CommandId;
    if (!Accepted(answer->CommandId)) return r;
    r.payload.insert(r.payload.end(), answer->Data, answer->Data + 56);
    r.announced = answer->PayloadSize;
    request.PacketIndex = static_cast<short>(answer->PacketIndex + 1);
    request.PayloadSize = answer->PayloadSize;
    if (r.payload.size() >= static_cast<std::size_t>(answer->PayloadSize)) return r;
  }
  ADD_FAILURE() << "read of " << command << " never ended";
  return r;
}

// Sends a message packet by packet, stopping at the first failing verdict,
// which it returns (the last verdict when all passed; 0x7FFF for silence).
inline short Send(SimulatedArm& arm, const std::vector<Packet>& packets) {
  short verdict = 0;
  for (const Packet& p : packets) {
    const auto answer = arm.Handle(p);
    if (!answer) return 0x7FFF;
    verdict = answer->CommandId;
    if (!Accepted(verdict)) return verdict;
  }
  return verdict;
}

inline short Write(SimulatedArm& arm, int command, const Bytes& payload) {
  return Send(arm, WriteMessage(command, payload));
}

inline short Bare(SimulatedArm& arm, int command) {
  return Send(arm, {BareRequest(command)});
}

// A basic trajectory point (48 bytes) of a type with a coordinate block.
inline Bytes BasicPoint(int type, const float (&values)[6], const float (&fingers)[3]) {
  Bytes b(48, 0);
  for (int i = 0; i < 6; ++i) PutF32(b, 4 * static_cast<std::size_t>(i), values[i]);
  for (int i = 0; i < 3; ++i) PutF32(b, 24 + 4 * static_cast<std::size_t>(i), fingers[i]);
  PutF32(b, 36, 0.0f);
  PutU32(b, 40, 1);
  PutU32(b, 44, static_cast<std::uint32_t>(type));
  return b;
}

// A full trajectory point (148 bytes) as the host writes it.
inline Bytes FullPoint(int type, const float (&coords)[6], const float (&joints)[6],
                       const float (&fingers)[3], int limitationFlag = 0,
                       const float (&limits)[9] = {}) {
  Bytes b(148, 0);
  PutU32(b, 0, static_cast<std::uint32_t>(type));
  for (int i = 0; i < 3; ++i) PutF32(b, 16 + 4 * static_cast<std::size_t>(i), coords[i]);
  for (int i = 0; i < 3; ++i) PutF32(b, 40 + 4 * static_cast<std::size_t>(i), coords[3 + i]);
  for (int i = 0; i < 6; ++i) PutF32(b, 64 + 4 * static_cast<std::size_t>(i), joints[i]);
  PutU32(b, 88, 1);
  for (int i = 0; i < 3; ++i) PutF32(b, 92 + 4 * static_cast<std::size_t>(i), fingers[i]);
  PutU32(b, 104, static_cast<std::uint32_t>(limitationFlag));
  for (int i = 0; i < 9; ++i) PutF32(b, 112 + 4 * static_cast<std::size_t>(i), limits[i]);
  return b;
}

// Every test gets a fresh arm on a clock that moves only when told to.
class SimTest : public ::testing::Test {
 protected:
  static tarsel::sim::Options ManualOptions(const tarsel::sim::ManualClock& clock) {
    tarsel::sim::Options o;
    o.clock = clock.Source();
    return o;
  }
  void Advance(double seconds) { clock.Advance(seconds); }

  tarsel::sim::ManualClock clock;
  SimulatedArm arm{ManualOptions(clock)};
};

}  // namespace simtest
