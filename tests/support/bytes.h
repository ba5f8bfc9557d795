// Little-endian byte helpers shared by the tests: building payloads field by
// field and reading fields back out of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace tarsel::testing {

using Bytes = std::vector<unsigned char>;

// Writes v at byte at, growing the buffer when it is too short.
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
inline std::int32_t I32At(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(U32At(b, at));
}
inline float F32At(const Bytes& b, std::size_t at) {
  const std::uint32_t v = U32At(b, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
inline double F64At(const Bytes& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(b.at(at + i)) << (8 * i);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
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
