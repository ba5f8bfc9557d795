#include <gtest/gtest.h>

#include <climits>

#include "config/config_codec.h"
#include "config_test_util.h"

namespace {

using namespace tarsel::testing;

constexpr std::size_t kCommandSize = 3040;
constexpr std::size_t kReadSize = 2248;
constexpr std::size_t kSlotSize = 104;  // a stored position on the wire

// A stretch that travels unchanged: wire offset, record offset, width.
struct Stretch {
  std::size_t wire, record, width;
};
// Texts and the eleven 4-byte values; the six trailing values.
const Stretch kHeader{0, 0, 144};
const Stretch kTail{2224, offsetof(ClientConfigurations, FloatValue9), 24};
// Inside a stored position: Type and Parameter, X Y Z, the rotations, the
// actuators, FingersMode with the fingers.
const Stretch kSlotStretches[] = {{0, 0, 8}, {16, 8, 12}, {40, 20, 12}, {64, 32, 24}, {88, 56, 16}};

std::size_t SlotWire(std::size_t k) {
  return 144 + k * kSlotSize;
}
std::size_t SlotRecord(std::size_t k) {
  return offsetof(ClientConfigurations, StoredPositions) + k * sizeof(UserPosition);
}
std::size_t Carried(int count) {
  return count <= 0 ? 0 : static_cast<std::size_t>(count < 20 ? count : 20);
}

ClientConfigurations PatternConfig(int count) {
  auto c = FromImage<ClientConfigurations>(Pattern(sizeof(ClientConfigurations), 13, 5));
  c.StoredPositionCount = count;
  return c;
}

// The record's header, tail and first carried slots equal the wire's.
void ExpectCarried(const Bytes& wire, const Bytes& record, std::size_t carried) {
  auto same = [&](std::size_t w, std::size_t r, std::size_t n) {
    return SameBytes(wire.data() + w, record.data() + r, n);
  };
  EXPECT_TRUE(same(kHeader.wire, kHeader.record, kHeader.width));
  EXPECT_TRUE(same(kTail.wire, kTail.record, kTail.width));
  for (std::size_t k = 0; k < carried; ++k)
    for (const auto& s : kSlotStretches)
      EXPECT_TRUE(same(SlotWire(k) + s.wire, SlotRecord(k) + s.record, s.width))
          << "slot " << k << " at " << s.wire;
}

class ClientConfigurationsByCount : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(ClientConfigurationsByCount, SetWritesCarriedSlotsAndZerosTheRest) {
  const int count = GetParam();
  const ClientConfigurations config = PatternConfig(count);
  ASSERT_EQ(SetClientConfigurations(config), TARSEL_OK);
  for (const Packet& p : Sent()) ASSERT_EQ(p.CommandId, 0);
  const Framing f = FramingOf(Sent());
  EXPECT_EQ(f.packets, 55u);
  EXPECT_EQ(f.lastCarries, 16);
  const Bytes wire = tarsel::recording::WrittenPayload();
  ASSERT_EQ(wire.size(), kCommandSize);

  ExpectCarried(wire, ImageOf(config), Carried(count));
  EXPECT_EQ(static_cast<int>(U32At(wire, 140)), count);  // the count goes out unchanged
  for (std::size_t k = 0; k < 20; ++k) {
    const std::size_t at = SlotWire(k);
    if (k >= Carried(count)) {
      EXPECT_TRUE(AllZero(wire, at, at + kSlotSize)) << "slot " << k;
      continue;
    }
    EXPECT_EQ(F64At(wire, at + 8), 3.0) << k;
    EXPECT_TRUE(AllZero(wire, at + 28, at + 32)) << k;
    EXPECT_EQ(F64At(wire, at + 32), 3.0) << k;
    EXPECT_TRUE(AllZero(wire, at + 52, at + 56)) << k;
    EXPECT_EQ(F64At(wire, at + 56), 6.0) << k;
  }
  EXPECT_TRUE(AllZero(wire, kReadSize, kCommandSize));  // Reserved is not sent
}

TEST_P(ClientConfigurationsByCount, RoundTripLeavesUncarriedSlotsAndReservedAlone) {
  const int count = GetParam();
  const ClientConfigurations sent = PatternConfig(count);
  ASSERT_EQ(SetClientConfigurations(sent), TARSEL_OK);
  const Bytes wire = tarsel::recording::WrittenPayload();
  tarsel::recording::Reset();
  tarsel::recording::ServeRead(1, wire);

  auto back = Filled<ClientConfigurations>(0xCD);
  ASSERT_EQ(GetClientConfigurations(&back), TARSEL_OK);
  EXPECT_EQ(Sent().front().CommandId, 1);
  Bytes expected = ImageOf(sent);
  std::memset(expected.data() + SlotRecord(Carried(count)), 0xCD,
              SlotRecord(20) - SlotRecord(Carried(count)));
  std::memset(expected.data() + offsetof(ClientConfigurations, Reserved), 0xCD, 792);
  EXPECT_EQ(ImageOf(back), expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, ClientConfigurationsByCount,
                         ::testing::Values(0, 1, 3, 20, 21, 25, -1, INT_MIN, INT_MAX));

TEST(ClientConfigurations, NamedValuesLandAtTheirOffsets) {
  auto config = Filled<ClientConfigurations>(0);
  std::memcpy(config.Text1, "ABCDEFGHIJKLMNOPQRST", 20);  // no terminator
  config.StoredPositionCount = 3;
  config.StoredPositions[2].Coordinates.RotationZ = 4.25f;
  config.FloatValue9 = 9.5f;
  Payload wire;
  int offset = 0;
  SerializeClientConfiguration(offset, wire, config);
  EXPECT_EQ(std::string(wire.begin(), wire.begin() + 21),
            std::string("ABCDEFGHIJKLMNOPQRST\0", 21));
  EXPECT_EQ(F32At(wire, SlotWire(2) + 48), 4.25f);
  EXPECT_EQ(F32At(wire, 2224), 9.5f);
}

TEST(ClientConfigurations, ReaderSkipsFillersAndStopsAfterTheData) {
  // Non-zero fillers and bytes past 2248 are ignored; the offset counts the
  // skipped bytes too, from wherever the reader starts.
  for (int start : {0, 5}) {
    Bytes payload = Pattern(static_cast<std::size_t>(start) + kCommandSize, 3, 1);
    PutU32(payload, static_cast<std::size_t>(start) + 140, 20);
    auto out = Filled<ClientConfigurations>(0xCD);
    int offset = start;
    EXPECT_EQ(DeserializeClientConfiguration(offset, payload, out), 1);
    EXPECT_EQ(offset, start + static_cast<int>(kReadSize));
    ExpectCarried(Bytes(payload.begin() + start, payload.end()), ImageOf(out), 20);
  }
}

TEST(ClientConfigurations, ReaderOfAShortPayloadReadsZerosPastItsEnd) {
  Bytes payload = Pattern(150, 5, 9);  // ends inside slot 0, count promises 20
  PutU32(payload, 140, 20);
  auto out = Filled<ClientConfigurations>(0xCD);
  int offset = 0;
  DeserializeClientConfiguration(offset, payload, out);
  EXPECT_EQ(offset, static_cast<int>(kReadSize));
  EXPECT_EQ(static_cast<unsigned>(out.StoredPositions[0].Type), U32At(payload, 144));
  EXPECT_EQ(out.StoredPositions[0].Parameter, 0.0f);
  EXPECT_EQ(out.StoredPositions[19].Fingers.Finger3, 0.0f);
  EXPECT_EQ(out.IntValue6, 0);
}

TEST(ClientConfigurations, WriterAppendsAtTheEndWhateverTheOffset) {
  Payload payload{9, 9, 9, 9, 9};
  int offset = 5;
  const ClientConfigurations config = PatternConfig(2);
  EXPECT_EQ(SerializeClientConfiguration(offset, payload, config), 1);
  EXPECT_EQ(offset, 5 + static_cast<int>(kCommandSize));
  ASSERT_EQ(payload.size(), 5 + kCommandSize);
  ExpectCarried(Bytes(payload.begin() + 5, payload.end()), ImageOf(config), 2);
}

}  // namespace
