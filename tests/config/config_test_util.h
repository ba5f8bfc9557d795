// Helpers shared by the configuration tests: raw record images and payload
// inspection.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "link_fixture.h"

namespace tarsel::testing {

// A record's memory image, for records whose layout is pinned in the header.
template <typename Record>
Bytes ImageOf(const Record& record) {
  static_assert(std::is_trivially_copyable_v<Record>);
  Bytes b(sizeof(Record));
  std::memcpy(b.data(), &record, sizeof(Record));
  return b;
}

// Overwrites every byte of a record with a pattern.
template <typename Record>
Record FromImage(const Bytes& image) {
  static_assert(std::is_trivially_copyable_v<Record>);
  Record record;
  EXPECT_GE(image.size(), sizeof(Record));
  std::memcpy(&record, image.data(), sizeof(Record));
  return record;
}

// A record every byte of which is fill: it shows which fields a reader left
// alone.
template <typename Record>
Record Filled(unsigned char fill) {
  return FromImage<Record>(Bytes(sizeof(Record), fill));
}

inline bool AllZero(const Bytes& b, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (b.at(i) != 0) return false;
  return true;
}

inline bool SameBytes(const void* a, const void* b, std::size_t n) {
  return std::memcmp(a, b, n) == 0;
}

// The packets' data sizes as the stand-in link saw them: count and the bytes
// the last packet carries.
struct Framing {
  std::size_t packets;
  int lastCarries;
};
inline Framing FramingOf(const std::vector<Packet>& sent) {
  if (sent.empty()) return {0, 0};
  const Packet& last = sent.back();
  return {sent.size(), last.PayloadSize - (last.PacketIndex - 1) * TARSEL_PACKET_DATA_SIZE};
}

}  // namespace tarsel::testing
