// Payload encoding: the read primitives, the text writer, and the reader and
// writer through which every record codec lists its fields in wire order.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
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

// The little-endian value of sizeof(T) bytes at bytes. On a little-endian
// host the bytes are the value and one copy suffices; elsewhere they are
// assembled byte by byte.
template <typename T>
inline T LoadLe(const unsigned char* bytes) {
  T value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, bytes, sizeof value);
  } else {
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes[i]) << (8 * i));
  }
  return value;
}

// The little-endian unsigned value of sizeof(T) bytes at offset, or 0 when
// they do not lie wholly inside the payload; advances offset. Inline, so that
// field-by-field decoding costs a bounds check and a load per field.
template <typename T>
inline T ReadLe(int& offset, const Payload& payload) {
  const long long start = offset;
  offset = Advance(offset, static_cast<int>(sizeof(T)));
  if (start < 0 || start + static_cast<long long>(sizeof(T)) > static_cast<long long>(payload.size())) {
    return 0;
  }
  return LoadLe<T>(payload.data() + start);
}

template <typename T, typename Bits>
inline T FromBits(Bits bits) {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Walks a payload field by field. Every step advances the caller's offset by
// the field's wire width; fields lying past the payload's end read as zero.
// Overloads pick the reader by the destination's type, so a codec reads as
// its field list: reader.Field(out.Type).Field(out.Parameter).Skip(8)...
class PayloadReader {
 public:
  PayloadReader(int& offset, const Payload& payload) : offset_(offset), payload_(payload) {}

  PayloadReader& Field(std::int16_t& v) {
    v = static_cast<std::int16_t>(ReadLe<std::uint16_t>(offset_, payload_));
    return *this;
  }
  PayloadReader& Field(std::uint16_t& v) {
    v = ReadLe<std::uint16_t>(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(std::int32_t& v) {
    v = static_cast<std::int32_t>(ReadLe<std::uint32_t>(offset_, payload_));
    return *this;
  }
  PayloadReader& Field(std::uint32_t& v) {
    v = ReadLe<std::uint32_t>(offset_, payload_);
    return *this;
  }
  PayloadReader& Field(float& v) {
    v = FromBits<float>(ReadLe<std::uint32_t>(offset_, payload_));
    return *this;
  }
  PayloadReader& Field(double& v) {
    v = FromBits<double>(ReadLe<std::uint64_t>(offset_, payload_));
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
    if constexpr (std::is_same_v<std::remove_all_extents_t<T>, std::uint8_t>) {
      // Bytes, however nested, are a run on the wire and in memory: one copy,
      // and a run reaching past the payload's end reads byte by byte as
      // single fields would.
      const long long start = offset_;
      if (start >= 0 && start + static_cast<long long>(sizeof array) <=
                            static_cast<long long>(payload_.size())) {
        return Bytes(array, static_cast<int>(sizeof array));
      }
    }
    for (std::size_t i = 0; i < N; ++i) Field(array[i]);
    return *this;
  }
  // count floats in a row: one bounds check for the run when it lies wholly
  // inside the payload, each float as Field reads it otherwise.
  PayloadReader& Floats(float* first, int count) {
    const long long start = offset_;
    const long long width = 4LL * count;
    if (start < 0 || start + width > static_cast<long long>(payload_.size())) {
      for (int i = 0; i < count; ++i) Field(first[i]);
      return *this;
    }
    const unsigned char* bytes = payload_.data() + start;
    for (int i = 0; i < count; ++i) first[i] = FromBits<float>(LoadLe<std::uint32_t>(bytes + 4 * i));
    offset_ = Advance(offset_, static_cast<int>(width));
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
    v = TruncateToInt32(FromBits<float>(ReadLe<std::uint32_t>(offset_, payload_)));
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

// Stores value's sizeof(T) bytes at bytes, least significant first: the
// counterpart of LoadLe.
template <typename T>
inline void StoreLe(unsigned char* bytes, T value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(bytes, &value, sizeof value);
  } else {
    for (std::size_t i = 0; i < sizeof(T); ++i)
      bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

// A sink that can hand out the next width bytes as one block, zero, for the
// writer to fill in place: Take(width).
template <typename Sink>
concept BlockSink = requires(Sink& sink, std::size_t width) {
  { sink.Take(width) } -> std::same_as<unsigned char*>;
};

// Writes a record's fields into a sink in wire order, little-endian. A codec
// lists its fields once, as a template over the writer, and the sink decides
// where the bytes go:
//   PayloadWriter (AppendSink)  appends to the end of a payload;
//   FormWriter (FormSink)       stores in place into a payload grown once to
//                               the form's size;
//   PacketWriter (PacketSink, core/framing.h)  fills 56-byte packets and sends
//                               each as soon as it is full.
// Every sink gets the same bytes for the same calls: Le(bits) for a value's
// bits (an unsigned integer of the field's width), Bytes(src, width),
// Zeros(width) and Written(), the bytes taken since the writer began; a
// BlockSink also takes runs of floats at once. The writer owns its sink; the
// sink only refers to what it writes into, which must outlive the writer.
template <typename Sink>
class Writer {
 public:
  // Builds the sink from args (a payload; a payload and a size; a
  // connection, a command and a size).
  template <typename... Args>
    requires std::constructible_from<Sink, Args&&...>
  explicit Writer(Args&&... args) : sink_(std::forward<Args>(args)...) {}

  Writer& Field(std::int16_t v) { return Le(static_cast<std::uint16_t>(v)); }
  Writer& Field(std::uint16_t v) { return Le(v); }
  Writer& Field(std::int32_t v) { return Le(static_cast<std::uint32_t>(v)); }
  Writer& Field(std::uint32_t v) { return Le(v); }
  Writer& Field(std::uint8_t v) { return Le(v); }
  Writer& Field(float v) { return Le(std::bit_cast<std::uint32_t>(v)); }
  Writer& Field(double v) { return Le(std::bit_cast<std::uint64_t>(v)); }
  template <typename T, std::size_t N>
  Writer& Field(const T (&array)[N]) {
    // Bytes, however nested, go out as one run.
    if constexpr (std::is_same_v<std::remove_all_extents_t<T>, std::uint8_t>) {
      return Bytes(array, sizeof array);
    } else {
      for (std::size_t i = 0; i < N; ++i) Field(array[i]);
      return *this;
    }
  }
  // count floats in a row; a block sink takes the run at once.
  Writer& Floats(const float* first, int count) {
    if constexpr (BlockSink<Sink>) {
      unsigned char* out = sink_.Take(4 * static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) StoreLe(out + 4 * i, std::bit_cast<std::uint32_t>(first[i]));
    } else {
      for (int i = 0; i < count; ++i) Field(first[i]);
    }
    return *this;
  }
  // width bytes from src (which must hold them), byte for byte.
  Writer& Bytes(const void* src, std::size_t width) {
    sink_.Bytes(static_cast<const unsigned char*>(src), width);
    return *this;
  }
  Writer& Text(const char (&text)[20]) { return Bytes(text, 20); }
  // A filler of zero bytes.
  Writer& Zeros(std::size_t width) {
    sink_.Zeros(width);
    return *this;
  }
  // A float64 filler such as 3.0 (00 00 00 00 00 00 08 40).
  Writer& Filler(double v) { return Field(v); }
  // Zero-fills until the record written since construction is size bytes.
  Writer& PadTo(std::size_t size) {
    const std::size_t written = Written();
    if (written < size) Zeros(size - written);
    return *this;
  }
  // The bytes written since construction.
  std::size_t Written() const { return sink_.Written(); }

  // For a sink that ends a message (PacketSink): sends what is left and
  // returns the sink's code (see PacketSink::Finish).
  int Finish()
    requires requires(Sink& sink) { sink.Finish(); }
  {
    return sink_.Finish();
  }

 private:
  template <typename T>
  Writer& Le(T bits) {
    sink_.Le(bits);
    return *this;
  }

  Sink sink_;
};

// Appends to the end of a payload; Written counts from the payload's size
// when the writer began, so a codec can zero-fill up to its fixed size with
// PadTo. Refers to the payload, which must outlive it.
class AppendSink {
 public:
  explicit AppendSink(Payload& payload) : payload_(payload), start_(payload.size()) {}
  // The sink's side of Writer: a value's bits, a run of bytes, a run of
  // zeros, each appended; Take grows the payload by width zero bytes.
  template <typename T>
  void Le(T bits) {
    // Inserting the value's bytes costs less than growing the payload and
    // storing them: growing zero-fills first.
    if constexpr (sizeof bits == 1) {
      payload_.push_back(bits);
    } else {
      unsigned char bytes[sizeof bits];
      StoreLe(bytes, bits);
      payload_.insert(payload_.end(), bytes, bytes + sizeof bits);
    }
  }
  void Bytes(const unsigned char* src, std::size_t width) {
    payload_.insert(payload_.end(), src, src + width);
  }
  void Zeros(std::size_t width) { payload_.insert(payload_.end(), width, 0); }
  unsigned char* Take(std::size_t width) {
    const std::size_t at = payload_.size();
    payload_.resize(at + width);
    return payload_.data() + at;
  }
  std::size_t Written() const { return payload_.size() - start_; }

 private:
  Payload& payload_;
  std::size_t start_;
};

// A form of known size: the payload grows by that size at once (zero bytes)
// and the fields are stored in place behind a cursor, so a field costs a
// store instead of a vector insertion; for the large forms written on every
// command. Writing past the announced size still works (the payload grows),
// it is only slower. Refers to the payload, which must outlive it.
class FormSink {
 public:
  FormSink(Payload& payload, std::size_t size) : payload_(payload), start_(payload.size()) {
    payload_.resize(start_ + size);
    at_ = start_;
  }
  // The sink's side of Writer, each stored behind the cursor; Take hands out
  // the next width bytes (zero, as the form starts out), growing the payload
  // when they lie past its end.
  template <typename T>
  void Le(T bits) {
    StoreLe(Take(sizeof bits), bits);
  }
  void Bytes(const unsigned char* src, std::size_t width) {
    if (width > 0) std::memcpy(Take(width), src, width);
  }
  void Zeros(std::size_t width) { Take(width); }  // taken bytes start out zero
  unsigned char* Take(std::size_t width) {
    if (at_ + width > payload_.size()) payload_.resize(at_ + width);
    unsigned char* p = payload_.data() + at_;
    at_ += width;
    return p;
  }
  std::size_t Written() const { return at_ - start_; }

 private:
  Payload& payload_;
  std::size_t start_;
  std::size_t at_;
};

// The writers every codec uses, by where their bytes go.
using PayloadWriter = Writer<AppendSink>;
using FormWriter = Writer<FormSink>;

}  // namespace tarsel
