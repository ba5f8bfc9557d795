#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "core/payload.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct IntCase {
  Bytes bytes;
  long long asShort, asUShort, asInt, asUInt;
};

TEST(ReadPrimitives, LittleEndianAndSignedness) {
  const std::vector<IntCase> cases = {
      {{0x01, 0x02, 0x00, 0x00}, 513, 513, 513, 513},
      {{0xFF, 0xFF, 0xFF, 0xFF}, -1, 65535, -1, 4294967295LL},
      {{0x00, 0x80, 0x00, 0x80}, -32768, 32768, -2147450880LL, 0x80008000LL},
      {{0x78, 0x56, 0x34, 0x12}, 0x5678, 0x5678, 0x12345678, 0x12345678},
  };
  for (const auto& c : cases) {
    int off = 0;
    EXPECT_EQ(GetShortFromVector(off, c.bytes), c.asShort);
    EXPECT_EQ(off, 2);
    off = 0;
    EXPECT_EQ(GetUShortFromVector(off, c.bytes), c.asUShort);
    EXPECT_EQ(off, 2);
    off = 0;
    EXPECT_EQ(GetIntFromVector(off, c.bytes), c.asInt);
    EXPECT_EQ(off, 4);
    off = 0;
    EXPECT_EQ(GetUIntFromVector(off, c.bytes), c.asUInt);
    EXPECT_EQ(off, 4);
  }
}

TEST(ReadPrimitives, FloatsAndDoubles) {
  const Bytes one{0x00, 0x00, 0x80, 0x3F};
  int off = 0;
  EXPECT_EQ(GetFloatFromVector(off, one), 1.0f);
  EXPECT_EQ(off, 4);
  const Bytes three{0, 0, 0, 0, 0, 0, 0x08, 0x40};
  off = 0;
  EXPECT_EQ(GetDoubleFromVector(off, three), 3.0);
  EXPECT_EQ(off, 8);
}

TEST(ReadPrimitives, ReadsAtAnUnalignedOffset) {
  const Bytes b{0xAA, 0x01, 0x00, 0x00, 0x00};
  int off = 1;
  EXPECT_EQ(GetIntFromVector(off, b), 1);
  EXPECT_EQ(off, 5);
}

// A value not wholly inside the payload reads as 0 and the offset still moves,
// so the fields after it keep their places.
TEST(ReadPrimitives, PastTheEndReadsZeroWithoutTouchingMemory) {
  const Bytes three{0x11, 0x22, 0x33};
  struct Case {
    int start;
    int width;
  };
  for (const Case c : {Case{0, 4}, Case{2, 2}, Case{3, 2}, Case{-1, 4}, Case{1000, 8}}) {
    int off = c.start;
    const long long v = c.width == 2   ? GetShortFromVector(off, three)
                        : c.width == 4 ? GetIntFromVector(off, three)
                                       : static_cast<long long>(GetDoubleFromVector(off, three));
    EXPECT_EQ(v, 0) << "start " << c.start;
    EXPECT_EQ(off, c.start + c.width);
  }
  const Bytes empty;
  int off = 0;
  EXPECT_EQ(GetUIntFromVector(off, empty), 0u);
  EXPECT_EQ(GetFloatFromVector(off, empty), 0.0f);
  EXPECT_EQ(off, 8);
}

TEST(SerializeString, AppendsExactlyTwentyBytesAfterTheTerminator) {
  char field[20] = {'a', 'b', 'c'};
  field[10] = 'z';  // beyond the terminator, still carried
  Bytes payload{0xEE};
  int off = 7;
  EXPECT_EQ(SerializeString(off, payload, field), 1);
  EXPECT_EQ(off, 27);
  ASSERT_EQ(payload.size(), 21u);
  EXPECT_EQ(payload[1], 'a');
  EXPECT_EQ(payload[3], 'c');
  EXPECT_EQ(payload[4], 0);
  EXPECT_EQ(payload[11], 'z');
}

// A hostile offset just below INT_MAX: every step wraps (the sanitizer build
// would report a signed overflow), reads stay inside the payload and read
// zero, and the text writer appends the same bytes as from offset 0.
TEST(OffsetNearIntMax, WrapsWithoutTouchingMemory) {
  struct Case {
    const char* name;
    int width;
    std::function<long long(int&, Bytes&)> step;  // what the step read, or 0
  };
  static const char text[20] = "near the end";
  const std::vector<Case> cases = {
      {"short", 2, [](int& o, Bytes& p) { return GetShortFromVector(o, p); }},
      {"uint", 4, [](int& o, Bytes& p) { return GetUIntFromVector(o, p); }},
      {"double", 8,
       [](int& o, Bytes& p) { return static_cast<long long>(GetDoubleFromVector(o, p)); }},
      {"skip", 12,
       [](int& o, Bytes& p) {
         tarsel::PayloadReader(o, p).Skip(12);
         return 0LL;
       }},
      {"text", 20,
       [](int& o, Bytes& p) {
         SerializeString(o, p, text);
         return 0LL;
       }},
  };
  for (const auto& c : cases) {
    Bytes payload(64, 0x5A);
    int offset = INT_MAX - 2;
    EXPECT_EQ(c.step(offset, payload), 0) << c.name;
    EXPECT_EQ(offset, INT_MIN + c.width - 3) << c.name;
  }
  Bytes fromZero, fromNearMax;
  int zero = 0, nearMax = INT_MAX - 2;
  SerializeString(zero, fromZero, text);
  SerializeString(nearMax, fromNearMax, text);
  EXPECT_EQ(fromNearMax, fromZero);
}

TEST(TruncateToInt32, TowardZeroAndSafeOutOfRange) {
  struct Case {
    float in;
    std::int32_t out;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case c :
       {Case{2.9f, 2}, Case{-2.9f, -2}, Case{2.75f, 2}, Case{0.0f, 0}, Case{-0.5f, 0},
        Case{2147483520.0f, 2147483520}, Case{-2147483648.0f, INT32_MIN},
        Case{2147483648.0f, INT32_MIN}, Case{-3e9f, INT32_MIN}, Case{nan, INT32_MIN},
        Case{inf, INT32_MIN}, Case{-inf, INT32_MIN}}) {
    EXPECT_EQ(tarsel::TruncateToInt32(c.in), c.out) << c.in;
  }
}

struct Sample {
  std::int32_t i = 0;
  float f = 0;
  std::uint16_t u16 = 0;
  char text[20] = {};
  bool flags[3] = {};
  double d = 0;
};

// The writer and the reader are the two halves every codec is made of: a
// record written field by field reads back the same, fillers included.
TEST(PayloadCodec, WriterAndReaderAgreeOnEveryFieldKind) {
  Sample in;
  in.i = -5;
  in.f = 1.5f;
  in.u16 = 0xBEEF;
  std::memcpy(in.text, "twenty characters!!!", 20);
  in.flags[1] = true;
  in.d = -2.25;

  Bytes payload;
  tarsel::PayloadWriter w(payload);
  w.Field(in.i).Filler(3.0).Field(in.f).Zeros(4).Field(in.u16).Text(in.text);
  for (bool b : in.flags) w.Field(static_cast<std::uint8_t>(b ? 7 : 0));
  w.Field(in.d).PadTo(80);
  ASSERT_EQ(payload.size(), 80u);
  EXPECT_EQ(payload[11], 0x40);  // the float64 filler 3.0 ends in 08 40

  Sample out;
  int off = 0;
  tarsel::PayloadReader r(off, payload);
  r.Field(out.i).Skip(8).Field(out.f).Skip(4).Field(out.u16).Text(out.text).Field(out.flags).Field(
      out.d);
  EXPECT_EQ(off, 53);
  EXPECT_EQ(out.i, in.i);
  EXPECT_EQ(out.f, in.f);
  EXPECT_EQ(out.u16, in.u16);
  EXPECT_EQ(std::memcmp(out.text, in.text, 20), 0);
  EXPECT_FALSE(out.flags[0]);
  EXPECT_TRUE(out.flags[1]);
  EXPECT_EQ(out.d, in.d);
}

TEST(PayloadCodec, RawFloatKeepsNanPayloadBits) {
  const Bytes b{0x01, 0x00, 0xC0, 0x7F};  // a quiet NaN with payload bit 0
  float f = 0;
  int off = 0;
  tarsel::PayloadReader(off, b).RawFloat(f);
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  EXPECT_EQ(bits, 0x7FC00001u);
}

TEST(PayloadCodec, SuccessiveWritersAppendInOrder) {
  Bytes payload;
  tarsel::PayloadWriter(payload).Field(std::int32_t{1});
  tarsel::PayloadWriter(payload).Field(std::int32_t{2}).PadTo(8);
  EXPECT_EQ(payload, (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
