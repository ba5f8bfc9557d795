// Helpers shared by the status tests: payloads whose every byte differs and
// field checks by wire offset.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "link_fixture.h"

namespace tarsel::testing {

// A reproducible payload of random bytes: any field read from the wrong
// place shows up as a mismatch (unlike a repeating pattern).
inline Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(size);
  for (auto& byte : b) byte = static_cast<unsigned char>(gen() & 0xFF);
  return b;
}

// A field's memory bits, zero-extended.
template <typename T>
std::uint64_t Bits(const T& value) {
  static_assert(sizeof(T) <= 8, "scalar field");
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  return bits;
}

// The little-endian value of width bytes at at.
inline std::uint64_t LeAt(const Bytes& b, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(b.at(at + i)) << (8 * i);
  return v;
}

// One row of a layout table: the field named name must hold the width bytes
// found at wire offset at.
template <typename Record>
struct FieldAt {
  std::string name;
  std::size_t at;
  int width;
  std::function<std::uint64_t(const Record&)> bits;
};

template <typename Record>
void ExpectLayout(const Record& record, const Bytes& wire,
                  const std::vector<FieldAt<Record>>& table) {
  for (const auto& row : table) {
    EXPECT_EQ(row.bits(record), LeAt(wire, row.at, row.width))
        << row.name << " from wire offset " << row.at;
  }
}

}  // namespace tarsel::testing
