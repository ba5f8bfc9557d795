#include <gtest/gtest.h>

#include "status/status_codec.h"
#include "status_test_util.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bits;
using tarsel::testing::Bytes;
using tarsel::testing::ExpectLayout;
using tarsel::testing::FieldAt;
using tarsel::testing::LinkTest;
using tarsel::testing::PutU32;
using tarsel::testing::RandomBytes;
using Kind = Step::Kind;

#define FIELD(expr) [](const SystemError& r) { return Bits(r.expr); }

// After the seven packed flag bytes every field sits at an odd offset.
const std::vector<FieldAt<SystemError>> kEntryLayout = {
    {"UIntValue1", 0, 4, FIELD(UIntValue1)},      {"IntValue1", 4, 4, FIELD(IntValue1)},
    {"IntValue2", 8, 4, FIELD(IntValue2)},        {"IntValue3", 12, 4, FIELD(IntValue3)},
    {"UIntValue2", 16, 4, FIELD(UIntValue2)},     {"IntValue4", 27, 4, FIELD(IntValue4)},
    {"IntValue5", 31, 4, FIELD(IntValue5)},       {"UIntArray[0]", 35, 4, FIELD(UIntArray[0])},
    {"UIntArray[1]", 39, 4, FIELD(UIntArray[1])}, {"UIntArray[49]", 231, 4, FIELD(UIntArray[49])},
};

TEST(SystemErrorForm, FieldsAfterTheFlagsAtOddOffsets) {
  const Bytes wire = RandomBytes(240, 31);
  SystemError e;
  int offset = 0;
  EXPECT_EQ(DeserializeSystemError(offset, wire, e), 1);
  EXPECT_EQ(offset, 235);
  ExpectLayout(e, wire, kEntryLayout);
}

TEST(SystemErrorForm, EachFlagByteGivesOneBool) {
  Bytes wire(235, 0);
  const unsigned char flags[7] = {0, 1, 2, 255, 0, 0, 7};
  std::memcpy(wire.data() + 20, flags, 7);
  PutU32(wire, 27, 0xFFFFFFFEu);
  SystemError e;
  int offset = 0;
  DeserializeSystemError(offset, wire, e);
  const bool expected[7] = {false, true, true, true, false, false, true};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(e.Flags[k], expected[k]) << k;
  EXPECT_EQ(e.IntValue4, -2);
}

class ErrorLogExchange : public LinkTest {};

TEST_F(ErrorLogExchange, EntryIndexTravelsInTheRequestDataBytes) {
  struct Case {
    unsigned index;
    unsigned char data[4];
  };
  const Case cases[] = {
      {258, {2, 1, 0, 0}},
      {0, {0, 0, 0, 0}},  // unlike a plain read, whose byte 0 is 1
      {0xA1B2C3D4u, {0xD4, 0xC3, 0xB2, 0xA1}},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    const Bytes wire = RandomBytes(235, c.index);
    tarsel::recording::ServeRead(21, wire);
    SystemError e;
    EXPECT_EQ(GetSystemError(c.index, e), TARSEL_OK);
    ExpectLayout(e, wire, kEntryLayout);
    ASSERT_EQ(Sent().size(), 5u);  // 235 bytes in 56-byte answers
    const Packet& p = Sent()[0];
    EXPECT_EQ(p.PacketIndex, 1);
    EXPECT_EQ(p.PacketCount, 1);
    EXPECT_EQ(p.CommandId, 21);
    EXPECT_EQ(p.PayloadSize, 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.Data[i], c.data[i]) << c.index << " byte " << i;
    for (int i = 4; i < 56; ++i) EXPECT_EQ(p.Data[i], 0) << c.index << " byte " << i;
  }
}

TEST_F(ErrorLogExchange, CountIsOneUnsignedValue) {
  Bytes wire(56, 0xEE);
  PutU32(wire, 0, 0x80000003u);
  tarsel::recording::ServeRead(23, wire, 4);
  unsigned int count = 0;
  EXPECT_EQ(GetSystemErrorCount(count), TARSEL_OK);
  EXPECT_EQ(count, 0x80000003u);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 23);
  EXPECT_EQ(Sent()[0].Data[0], 1);

  tarsel::recording::Script({Step{Kind::kVerdict, -1}});
  count = 99;
  EXPECT_EQ(GetSystemErrorCount(count), TARSEL_ERROR_FIRST_PACKET);
  EXPECT_EQ(count, 0u);  // nothing arrived
}

TEST_F(ErrorLogExchange, ClearIsOneBarePacket) {
  EXPECT_EQ(ClearErrorLog(), TARSEL_OK);
  ASSERT_EQ(Sent().size(), 1u);
  const Packet& p = Sent()[0];
  EXPECT_EQ(p.PacketIndex, 1);
  EXPECT_EQ(p.PacketCount, 1);
  EXPECT_EQ(p.CommandId, 25);
  EXPECT_EQ(p.PayloadSize, 0);
  for (int i = 0; i < 56; ++i) EXPECT_EQ(p.Data[i], 0) << i;

  tarsel::recording::Script({Step{Kind::kVerdict, 0x4000}});
  EXPECT_EQ(ClearErrorLog(), TARSEL_ERROR_ANSWER_ERROR_BIT);
}

}  // namespace
