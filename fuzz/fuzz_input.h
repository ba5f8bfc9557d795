// The fuzz input as the targets read it: copied into a heap block of exactly
// its size (so that a read one byte past the end is caught by
// AddressSanitizer, whatever buffer the engine handed over), then taken front
// to back. Taking past the end gives zeros and never fails, so a target's
// control flow does not depend on having "enough" input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace tarsel::fuzzing {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : bytes_(new std::uint8_t[size]), size_(size) {
    if (size > 0) std::memcpy(bytes_.get(), data, size);
  }

  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  std::size_t left() const { return size_ - at_; }
  bool empty() const { return at_ == size_; }
  // The bytes not taken yet (exactly left() of them).
  const std::uint8_t* rest() const { return bytes_.get() + at_; }

  std::uint8_t Byte() { return at_ < size_ ? bytes_[at_++] : 0; }

  // sizeof(T) bytes as a T (little-endian for integers); zero-filled past
  // the end.
  template <typename T>
  T Take() {
    unsigned char raw[sizeof(T)] = {};
    const std::size_t n = left() < sizeof(T) ? left() : sizeof(T);
    if (n > 0) std::memcpy(raw, rest(), n);
    at_ += n;
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
  }

  // Fills out with the next size bytes (zeros past the end).
  void Fill(void* out, std::size_t size) {
    const std::size_t n = left() < size ? left() : size;
    if (n > 0) std::memcpy(out, rest(), n);
    if (n < size) std::memset(static_cast<unsigned char*>(out) + n, 0, size - n);
    at_ += n;
  }

  // Skips n bytes (or what is left).
  void Skip(std::size_t n) { at_ += left() < n ? left() : n; }

  // A length-prefixed byte string of at most max bytes.
  std::string Text(std::size_t max) {
    const std::size_t want = Byte() % (max + 1);
    const std::size_t n = left() < want ? left() : want;
    std::string text(reinterpret_cast<const char*>(rest()), n);
    at_ += n;
    return text;
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace tarsel::fuzzing
