#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "status/status_codec.h"
#include "status_test_util.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bits;
using tarsel::testing::Bytes;
using tarsel::testing::ExpectLayout;
using tarsel::testing::FieldAt;
using tarsel::testing::LinkTest;
using tarsel::testing::PutF32;
using tarsel::testing::RandomBytes;
using Kind = Step::Kind;
using G = GeneralInformations;

#define FIELD(expr) [](const auto& r) { return Bits(r.expr); }

const std::vector<FieldAt<G>> kGeneralLayout = {
    {"DoubleValue1", 0, 8, FIELD(DoubleValue1)},
    {"DoubleValue2", 8, 8, FIELD(DoubleValue2)},
    {"UIntValue1", 16, 4, FIELD(UIntValue1)},
    {"UIntValue2", 20, 4, FIELD(UIntValue2)},
    {"FloatValue1", 24, 4, FIELD(FloatValue1)},
    {"FloatValue12", 68, 4, FIELD(FloatValue12)},
    {"UIntValue3", 72, 4, FIELD(UIntValue3)},
    {"UIntValue4", 76, 4, FIELD(UIntValue4)},
    {"UShortValue1", 80, 2, FIELD(UShortValue1)},
    {"UShortValue2", 82, 2, FIELD(UShortValue2)},
    {"UShortValue12", 102, 2, FIELD(UShortValue12)},
    {"UIntValue5", 104, 4, FIELD(UIntValue5)},
    {"UIntValue15", 144, 4, FIELD(UIntValue15)},
    // The positions in their 104-byte form, after the 4 reserved bytes.
    {"Position1.Type", 152, 4, FIELD(Position1.Type)},
    {"Position1.Parameter", 156, 4, FIELD(Position1.Parameter)},
    {"Position1.Coordinates.X", 168, 4, FIELD(Position1.Coordinates.X)},
    {"Position1.Coordinates.RotationX", 192, 4, FIELD(Position1.Coordinates.RotationX)},
    {"Position1.Actuators.Actuator1", 216, 4, FIELD(Position1.Actuators.Actuator1)},
    {"Position1.FingersMode", 240, 4, FIELD(Position1.FingersMode)},
    {"Position1.Fingers.Finger3", 252, 4, FIELD(Position1.Fingers.Finger3)},
    {"Position2.Type", 256, 4, FIELD(Position2.Type)},
    {"Position3.Type", 360, 4, FIELD(Position3.Type)},
    {"Position4.Type", 464, 4, FIELD(Position4.Type)},
    {"Position4.Fingers.Finger3", 564, 4, FIELD(Position4.Fingers.Finger3)},
    {"FloatValue13", 568, 4, FIELD(FloatValue13)},
    {"FloatValue21", 600, 4, FIELD(FloatValue21)},
    {"FloatArray1[0]", 604, 4, FIELD(FloatArray1[0])},
    {"FloatArray1[5]", 624, 4, FIELD(FloatArray1[5])},
    {"FloatArray2[0]", 628, 4, FIELD(FloatArray2[0])},
    {"ShortArray[0]", 640, 2, FIELD(ShortArray[0])},
    {"ShortArray[15]", 670, 2, FIELD(ShortArray[15])},
    {"FloatValue22", 672, 4, FIELD(FloatValue22)},
    {"FloatValue27", 692, 4, FIELD(FloatValue27)},
    {"UIntArray1[0]", 696, 4, FIELD(UIntArray1[0])},
    {"UIntArray2[0]", 712, 4, FIELD(UIntArray2[0])},
    {"UIntArray2[3]", 724, 4, FIELD(UIntArray2[3])},
    {"FloatArray3[0]", 728, 4, FIELD(FloatArray3[0])},
    {"FloatArray4[0]", 752, 4, FIELD(FloatArray4[0])},
    {"FloatArray5[2]", 772, 4, FIELD(FloatArray5[2])},
    {"IntArray1[0]", 776, 4, FIELD(IntArray1[0])},
    {"IntArray2[2]", 808, 4, FIELD(IntArray2[2])},
    {"IntValue1", 812, 4, FIELD(IntValue1)},
    {"DoubleValue3", 816, 8, FIELD(DoubleValue3)},
    {"DoubleValue4", 824, 8, FIELD(DoubleValue4)},
};

// Block-relative places of one finger's fields (IntValue1 is converted, so it
// is checked apart).
std::vector<FieldAt<Gripper>> FingerLayout(int k, std::size_t block) {
  auto f = [k](auto member) {
    return [k, member](const Gripper& g) { return Bits(g.Fingers[k].*member); };
  };
  const std::string n = "Fingers[" + std::to_string(k) + "].";
  return {
      {n + "FloatValue1", block + 20, 4, f(&Finger::FloatValue1)},
      {n + "FloatValue8", block + 48, 4, f(&Finger::FloatValue8)},
      {n + "IntValue2", block + 56, 4, f(&Finger::IntValue2)},
      {n + "FloatValue9", block + 60, 4, f(&Finger::FloatValue9)},
      {n + "FloatValue19", block + 100, 4, f(&Finger::FloatValue19)},
      {n + "UIntValue1", block + 116, 4, f(&Finger::UIntValue1)},
      {n + "UIntValue2", block + 120, 4, f(&Finger::UIntValue2)},
      {n + "ShortValue1", block + 124, 2, f(&Finger::ShortValue1)},
      {n + "ShortValue4", block + 130, 2, f(&Finger::ShortValue4)},
  };
}

G DecodeGeneral(const Bytes& payload, int* end = nullptr) {
  G g;
  std::memset(&g, 0, sizeof g);
  int offset = 0;
  EXPECT_EQ(DeserializeGeneralInformations(offset, payload, g), 1);
  if (end) *end = offset;
  return g;
}

Gripper DecodeGripper(const Bytes& payload, int* end = nullptr) {
  Gripper g;
  std::memset(&g, 0, sizeof g);
  int offset = 0;
  EXPECT_EQ(DeserializeGripper(offset, payload, g), 1);
  if (end) *end = offset;
  return g;
}

TEST(GeneralInformationsForm, EveryFieldComesFromItsWireOffset) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const Bytes wire = RandomBytes(832, seed);
    int end = 0;
    ExpectLayout(DecodeGeneral(wire, &end), wire, kGeneralLayout);
    EXPECT_EQ(end, 832);
  }
}

TEST(GeneralInformationsForm, ReservedBytesHaveNoEffect) {
  Bytes a = RandomBytes(832, 9);
  Bytes b = a;
  for (int i = 148; i < 152; ++i) b[i] = static_cast<unsigned char>(~a[i]);
  const G ga = DecodeGeneral(a);
  const G gb = DecodeGeneral(b);
  EXPECT_EQ(std::memcmp(&ga, &gb, sizeof ga), 0);
}

TEST(GeneralInformationsForm, ShortsAndUnsignedShortsKeepTheirSignedness) {
  Bytes wire(832, 0);
  wire[80] = wire[81] = 0xFF;
  wire[640] = wire[641] = 0xFF;
  const G g = DecodeGeneral(wire);
  EXPECT_EQ(g.UShortValue1, 65535);
  EXPECT_EQ(g.ShortArray[0], -1);
}

TEST(GeneralInformationsForm, ShortPayloadReadsZerosAndStillAdvances) {
  const Bytes wire = RandomBytes(150, 4);  // ends inside the reserved bytes
  int end = 0;
  const G g = DecodeGeneral(wire, &end);
  EXPECT_EQ(end, 832);
  EXPECT_EQ(Bits(g.UIntValue15), tarsel::testing::LeAt(wire, 144, 4));
  EXPECT_EQ(g.Position1.Type, 0);
  EXPECT_EQ(g.DoubleValue4, 0.0);
  // A nonzero start offset reads from there.
  Bytes shifted(10, 0xEE);
  const Bytes body = RandomBytes(832, 5);
  shifted.insert(shifted.end(), body.begin(), body.end());
  G g2;
  int offset = 10;
  DeserializeGeneralInformations(offset, shifted, g2);
  EXPECT_EQ(offset, 842);
  EXPECT_EQ(Bits(g2.DoubleValue4), tarsel::testing::LeAt(body, 824, 8));
}

TEST(GripperForm, EachFingerBlockAtItsPlace) {
  const Bytes wire = RandomBytes(416, 11);
  int end = 0;
  const Gripper g = DecodeGripper(wire, &end);
  EXPECT_EQ(end, 416);
  EXPECT_EQ(std::memcmp(g.Text, wire.data(), 20), 0);
  const std::size_t blocks[3] = {20, 152, 284};
  for (int k = 0; k < 3; ++k) {
    ExpectLayout(g, wire, FingerLayout(k, blocks[k]));
    EXPECT_EQ(std::memcmp(g.Fingers[k].Text, wire.data() + blocks[k], 20), 0) << k;
  }
}

TEST(GripperForm, TextsWithoutTerminatorAreCarriedWhole) {
  Bytes wire(416, 0);
  for (int i = 0; i < 20; ++i) wire[i] = static_cast<unsigned char>('A' + i);
  for (int i = 0; i < 20; ++i) wire[152 + i] = static_cast<unsigned char>('a' + i);
  const Gripper g = DecodeGripper(wire);
  EXPECT_EQ(std::string(g.Text, 20), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(std::string(g.Fingers[1].Text, 20), "abcdefghijklmnopqrst");
}

TEST(FingerForm, ReservedBytesHaveNoEffect) {
  Bytes a = RandomBytes(132, 12);
  Bytes b = a;
  for (int i = 104; i < 116; ++i) b[i] = static_cast<unsigned char>(~a[i]);
  Finger fa, fb;
  std::memset(&fa, 0, sizeof fa);
  std::memset(&fb, 0, sizeof fb);
  int oa = 0, ob = 0;
  DeserializeFinger(oa, a, fa);
  DeserializeFinger(ob, b, fb);
  EXPECT_EQ(oa, 132);
  EXPECT_EQ(ob, 132);
  EXPECT_EQ(std::memcmp(&fa, &fb, sizeof fa), 0);
}

struct TruncationCase {
  float wire;
  int expected;
};

class FingerIntValue1 : public ::testing::TestWithParam<TruncationCase> {};

TEST_P(FingerIntValue1, FloatOnTheWireTruncatesTowardZero) {
  Bytes wire(132, 0);
  PutF32(wire, 52, GetParam().wire);
  Finger f;
  int offset = 0;
  DeserializeFinger(offset, wire, f);
  EXPECT_EQ(f.IntValue1, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FingerIntValue1,
    ::testing::Values(TruncationCase{7.75f, 7}, TruncationCase{-7.75f, -7}, TruncationCase{2.9f, 2},
                      TruncationCase{-2.9f, -2}, TruncationCase{-0.5f, 0},
                      TruncationCase{2147483520.0f, 2147483520},
                      TruncationCase{-2147483648.0f, INT_MIN},
                      TruncationCase{2147483648.0f, INT_MIN}, TruncationCase{-3e9f, INT_MIN},
                      TruncationCase{std::numeric_limits<float>::quiet_NaN(), INT_MIN},
                      TruncationCase{std::numeric_limits<float>::infinity(), INT_MIN},
                      TruncationCase{-std::numeric_limits<float>::infinity(), INT_MIN}));

class StatusBlockReads : public LinkTest {};

TEST_F(StatusBlockReads, GeneralInformationsTakesFifteenPacketsOfCommand200) {
  const Bytes wire = RandomBytes(832, 21);
  tarsel::recording::ServeRead(200, wire);
  G g;
  EXPECT_EQ(GetGeneralInformations(g), TARSEL_OK);
  ExpectLayout(g, wire, kGeneralLayout);
  ASSERT_EQ(Sent().size(), 15u);
  for (const Packet& p : Sent()) EXPECT_EQ(p.CommandId, 200);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Sent()[0].Data[0], 1);
}

TEST_F(StatusBlockReads, GripperTakesEightPacketsOfCommand103) {
  const Bytes wire = RandomBytes(416, 22);
  tarsel::recording::ServeRead(103, wire);
  Gripper g;
  EXPECT_EQ(GetGripperStatus(g), TARSEL_OK);
  ExpectLayout(g, wire, FingerLayout(2, 284));
  ASSERT_EQ(Sent().size(), 8u);
  for (const Packet& p : Sent()) EXPECT_EQ(p.CommandId, 103);
}

TEST_F(StatusBlockReads, FailedReadReturnsItsCodeAndLeavesOnlyWhatArrived) {
  // The second packet is refused: the first 56 bytes arrived, the rest reads
  // as zero.
  const Bytes wire = RandomBytes(832, 23);
  tarsel::recording::ServeRead(200, wire);
  tarsel::recording::Script({Step{}, Step{Kind::kVerdict, -1}});
  G g;
  std::memset(&g, 0xA5, sizeof g);
  EXPECT_EQ(GetGeneralInformations(g), TARSEL_ERROR_LATER_PACKET);
  EXPECT_EQ(Bits(g.DoubleValue1), tarsel::testing::LeAt(wire, 0, 8));
  EXPECT_EQ(g.UIntValue15, 0u);
  EXPECT_EQ(g.DoubleValue4, 0.0);

  tarsel::recording::Reset();
  tarsel::recording::Script({Step{Kind::kVerdict, 0x4000}});
  Gripper gr;
  std::memset(&gr, 0xA5, sizeof gr);
  EXPECT_EQ(GetGripperStatus(gr), TARSEL_ERROR_ANSWER_ERROR_BIT);
  EXPECT_EQ(gr.Fingers[0].IntValue1, 0);  // the float 0.0, truncated
  EXPECT_EQ(gr.Fingers[2].ShortValue4, 0);
}

}  // namespace
