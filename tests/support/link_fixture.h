// Shared test fixture: the API bound to the recording stand-in link, plus
// small helpers for building and inspecting payloads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "recording_link.h"
#include "tarsel/tarsel.h"

namespace tarsel::testing {

using Bytes = std::vector<unsigned char>;

// Every test starts with a fresh script and an open API.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::Reset();
    ASSERT_EQ(InitAPI(), TARSEL_OK);
  }
  void TearDown() override { CloseAPI(); }

  static const std::vector<Packet>& Sent() { return recording::Requests(); }
};

inline void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutF32(Bytes& b, std::size_t at, float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  PutU32(b, at, v);
}
inline std::uint32_t U32At(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b.at(at + i)) << (8 * i);
  return v;
}
inline float F32At(const Bytes& b, std::size_t at) {
  const std::uint32_t v = U32At(b, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
// Little-endian floats laid end to end.
inline Bytes Floats(std::initializer_list<float> values) {
  Bytes b;
  for (float f : values) PutF32(b, b.size(), f);
  return b;
}
// A payload whose byte i is (i * mul + add) & 0xFF: every offset is
// distinguishable, which catches fields read from the wrong place.
inline Bytes Pattern(std::size_t size, unsigned mul = 1, unsigned add = 0) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>((i * mul + add) & 0xFF);
  return b;
}

}  // namespace tarsel::testing
