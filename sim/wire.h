// Bounds-checked little-endian reading of untrusted bytes: a value that does
// not lie wholly inside the buffer reads as 0, and the position still moves
// on, so a short or malformed payload can never be read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tarsel::sim {

using Bytes = std::vector<unsigned char>;

class WireReader {
 public:
  WireReader(const unsigned char* data, std::size_t size, std::size_t at = 0)
      : data_(data), size_(size), at_(at) {}
  explicit WireReader(const Bytes& bytes, std::size_t at = 0)
      : WireReader(bytes.data(), bytes.size(), at) {}

  std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
  std::int16_t I16() { return static_cast<std::int16_t>(static_cast<std::uint16_t>(Le(2))); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
  std::int32_t I32() { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Le(4))); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
  float F32() {
    const std::uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
  }
  void Skip(std::size_t n) { at_ += n; }
  std::size_t Offset() const { return at_; }

 private:
  std::uint64_t Le(std::size_t width) {
    std::uint64_t v = 0;
    if (at_ <= size_ && width <= size_ - at_) {
      for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{data_[at_ + i]} << (8 * i);
    }
    at_ += width;
    return v;
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_;
};

}  // namespace tarsel::sim
