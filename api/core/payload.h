// Payload encoding: the read primitives, the text writer, and the reader and
// writer through which every record codec lists its fields in wire order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tarsel/export.h"

// One command's data: writers append at the end, readers walk an offset.
using Payload = std::vector<unsigned char>;

// Read primitives. Each reads a little-endian value of its width at offset and
// advances offset by that width. A value that does not lie wholly inside the
// payload (after a failed exchange, or a short answer) reads as 0; memory
// outside the payload is never touched.
TARSEL_API short GetShortFromVector(int& offset, const Payload& payload);
TARSEL_API unsigned short GetUShortFromVector(int& offset, const Payload& payload);
TARSEL_API int GetIntFromVector(int& offset, const Payload& payload);
TARSEL_API unsigned int GetUIntFromVector(int& offset, const Payload& payload);
TARSEL_API float GetFloatFromVector(int& offset, const Payload& payload);
TARSEL_API double GetDoubleFromVector(int& offset, const Payload& payload);

// Appends exactly 20 bytes from text (which must hold 20 readable bytes,
// terminator or not) and advances offset by 20. Returns 1.
TARSEL_API int SerializeString(int& offset, Payload& payload, const char* text);

namespace tarsel {

// Converts a float carried on the wire into an int32 by truncation toward
// zero. NaN and values outside the int32 range give INT32_MIN; a plain cast
// would be undefined there.
inline std::int32_t TruncateToInt32(float value) {
  if (!(value > -2147483904.0f && value < 2147483648.0f)) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// offset + width without signed overflow: an offset walked past INT_MAX by a
// caller wraps instead of being undefined.
inline int Advance(int offset, int width) {
  return static_cast<int>(static_cast<unsigned>(offset) + static_cast<unsigned>(width));
}

// Copies the width bytes at offset into dst when they lie inside the payload,
// zeroes dst otherwise; always advances offset. The one bounds check every
// reader goes through.
inline void ReadRaw(int& offset, const Payload& payload, void* dst, int width) {
  const long long start = offset;
  if (start >= 0 && start + width <= static_cast<long long>(payload.size())) {
    std::memcpy(dst, payload.data() + start, static_cast<std::size_t>(width));
  } else {
    std::memset(dst, 0, static_cast<std::size_t>(width));
  }
  offset = Advance(offset, width);
}

// Walks a payload field by field. Every step advances the caller's offset by
// the field's wire width; fields lying past the payload's end read as zero.
// Overloads pick the reader by the destination's type, so a codec reads as
// its field list: reader.Field(out.Type).Field(out.Parameter).Skip(8)...
class PayloadReader {
 public:
  PayloadReader(int& offset, const Payload& payload) : offset_(offset), payload_(payload) {}

  PayloadReader& Field(std::int16_t& v) {
    v = GetShortFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(std::uint16_t& v) {
    v = GetUShortFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(std::int32_t& v) {
    v = GetIntFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(std::uint32_t& v) {
    v = GetUIntFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(float& v) {
    v = GetFloatFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(double& v) {
    v = GetDoubleFromVector(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(std::uint8_t& v) {
    ReadRaw(offset_, payload_, &v, 1);
    return *this;
  }
  // A one-byte flag: nonzero reads as true.
  PayloadReader& Field(bool& v) {
    std::uint8_t b;
    Field(b);
    v = b != 0;
    return *this;
  }
  template <typename T, std::size_t N>
  PayloadReader& Field(T (&array)[N]) {
    for (std::size_t i = 0; i < N; ++i) Field(array[i]);
    return *this;
  }
  // A fixed-width text or raw byte run, copied byte for byte.
  PayloadReader& Bytes(void* dst, int width) {
    ReadRaw(offset_, payload_, dst, width);
    return *this;
  }
  PayloadReader& Text(char (&text)[20]) { return Bytes(text, 20); }
  // A float on the wire stored into an int32 by truncation toward zero.
  PayloadReader& Truncated(std::int32_t& v) {
    v = TruncateToInt32(GetFloatFromVector(offset_, payload_));
    return *this;
  }
  // Four bytes copied bit for bit into a float (NaN payloads preserved).
  PayloadReader& RawFloat(float& v) { return Bytes(&v, 4); }
  // A filler or an ignored stretch: advances without reading.
  PayloadReader& Skip(int width) {
    offset_ = Advance(offset_, width);
    return *this;
  }
  // A nested record decoded by its own Deserialize function.
  template <typename Record>
  PayloadReader& Nested(int (*decode)(int&, const Payload&, Record&), Record& out) {
    decode(offset_, payload_, out);
    return *this;
  }

 private:
  int& offset_;
  const Payload& payload_;
};

// Appends a record's fields to the end of a payload in wire order,
// little-endian. Start() remembers where the record began so that a codec can
// zero-fill up to its fixed size with PadTo.
class PayloadWriter {
 public:
  explicit PayloadWriter(Payload& payload) : payload_(payload), start_(payload.size()) {}

  PayloadWriter& Field(std::int16_t v) { return Le(static_cast<std::uint16_t>(v), 2); }
  PayloadWriter& Field(std::uint16_t v) { return Le(v, 2); }
  PayloadWriter& Field(std::int32_t v) { return Le(static_cast<std::uint32_t>(v), 4); }
  PayloadWriter& Field(std::uint32_t v) { return Le(v, 4); }
  PayloadWriter& Field(std::uint8_t v) {
    payload_.push_back(v);
    return *this;
  }
  PayloadWriter& Field(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return Le(bits, 4);
  }
  PayloadWriter& Field(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return Le(bits, 8);
  }
  template <typename T, std::size_t N>
  PayloadWriter& Field(const T (&array)[N]) {
    for (std::size_t i = 0; i < N; ++i) Field(array[i]);
    return *this;
  }
  PayloadWriter& Bytes(const void* src, std::size_t width) {
    const auto* p = static_cast<const unsigned char*>(src);
    payload_.insert(payload_.end(), p, p + width);
    return *this;
  }
  PayloadWriter& Text(const char (&text)[20]) { return Bytes(text, 20); }
  // A filler of zero bytes.
  PayloadWriter& Zeros(std::size_t width) {
    payload_.insert(payload_.end(), width, 0);
    return *this;
  }
  // A float64 filler such as 3.0 (00 00 00 00 00 00 08 40).
  PayloadWriter& Filler(double v) { return Field(v); }
  // Zero-fills until the record written since construction is size bytes.
  PayloadWriter& PadTo(std::size_t size) {
    const std::size_t written = Written();
    if (written < size) Zeros(size - written);
    return *this;
  }
  std::size_t Written() const { return payload_.size() - start_; }

 private:
  PayloadWriter& Le(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) payload_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
  }

  Payload& payload_;
  std::size_t start_;
};

}  // namespace tarsel
