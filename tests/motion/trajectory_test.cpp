#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "link_fixture.h"
#include "motion/motion_codec.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::F32At;
using tarsel::testing::LinkTest;
using tarsel::testing::Pattern;
using tarsel::testing::PutF32;
using tarsel::testing::PutU32;
using tarsel::testing::U32At;

const Bytes kThree = {0, 0, 0, 0, 0, 0, 0x08, 0x40};  // float64 3.0

Bytes Zeros(std::size_t n) {
  return Bytes(n, 0);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TrajectoryPoint DefaultPoint() {
  TrajectoryPoint p;
  std::memset(&p, 0xA5, sizeof p);  // InitStruct must set every field
  p.InitStruct();
  return p;
}

// The full form of a default point, spelled out byte by byte.
const Bytes kDefaultFullForm = Cat({{1, 0, 0, 0},
                                    Zeros(4),
                                    kThree,
                                    Zeros(12),
                                    Zeros(4),
                                    kThree,
                                    Zeros(12),
                                    Zeros(4),
                                    kThree,
                                    Zeros(24),
                                    {1, 0, 0, 0},
                                    Zeros(12),
                                    Zeros(44)});

TEST(TrajectoryPointForm, DefaultPointEncodesToTheFullForm) {
  ASSERT_EQ(kDefaultFullForm.size(), 148u);
  Bytes payload;
  int offset = 0;
  EXPECT_EQ(SerializeTrajectoryPoint(offset, payload, DefaultPoint()), 1);
  EXPECT_EQ(payload, kDefaultFullForm);
  EXPECT_EQ(offset, 0);
}

TEST(TrajectoryPointForm, EveryFieldLandsAtItsOffset) {
  TrajectoryPoint p = DefaultPoint();
  p.Position.Type = 7;
  p.Position.Parameter = 0.5f;
  p.Position.Coordinates = {1, 2, 3, 4, 5, 6};
  p.Position.Actuators = {11, 12, 13, 14, 15, 16};
  p.Position.FingersMode = -3;
  p.Position.Fingers = {21, 22, 23};
  p.LimitationFlag = 0x01020304;
  p.Limits = {31, 32, 33, 34, 35, 36, 37, 38, 39};
  Bytes payload{0xEE, 0xEE};
  int offset = 9;  // appends at the end whatever the offset says
  SerializeTrajectoryPoint(offset, payload, p);
  ASSERT_EQ(payload.size(), 150u);
  EXPECT_EQ(offset, 9);
  const Bytes form(payload.begin() + 2, payload.end());
  EXPECT_EQ(U32At(form, 0), 7u);
  EXPECT_EQ(F32At(form, 4), 0.5f);
  const std::size_t coordinates[] = {16, 20, 24, 40, 44, 48};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(F32At(form, coordinates[i]), i + 1.0f) << i;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(F32At(form, 64 + 4 * i), 11.0f + i) << i;
  EXPECT_EQ(static_cast<int>(U32At(form, 88)), -3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(F32At(form, 92 + 4 * i), 21.0f + i);
  EXPECT_EQ(U32At(form, 104), 0x01020304u);
  EXPECT_EQ(U32At(form, 108), 0u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(F32At(form, 112 + 4 * i), 31.0f + i);
}

TEST(UserPositionForm, ReadsBackTheFullFormAndSkipsFillers) {
  int offset = 0;
  UserPosition up;
  std::memset(&up, 0xA5, sizeof up);
  EXPECT_EQ(DeserializeUserPosition(offset, kDefaultFullForm, up), 1);
  EXPECT_EQ(offset, 104);
  EXPECT_EQ(up.Type, 1);
  EXPECT_EQ(up.FingersMode, 1);
  const float* floats[] = {&up.Parameter,
                           &up.Coordinates.X,
                           &up.Coordinates.Y,
                           &up.Coordinates.Z,
                           &up.Coordinates.RotationX,
                           &up.Coordinates.RotationY,
                           &up.Coordinates.RotationZ,
                           &up.Actuators.Actuator1,
                           &up.Actuators.Actuator6,
                           &up.Fingers.Finger1,
                           &up.Fingers.Finger3};
  for (const float* f : floats) EXPECT_EQ(*f, 0.0f);

  // Round trip of a point with distinct values; filler bytes are never read.
  TrajectoryPoint p = DefaultPoint();
  p.Position.Type = 2;
  p.Position.Parameter = 9.5f;
  p.Position.Coordinates = {1, 2, 3, 4, 5, 6};
  p.Position.Actuators = {11, 12, 13, 14, 15, 16};
  p.Position.FingersMode = 4;
  p.Position.Fingers = {21, 22, 23};
  Bytes payload;
  int ignored = 0;
  SerializeTrajectoryPoint(ignored, payload, p);
  for (std::size_t at : {8, 9, 15, 28, 31, 32, 39, 52, 55, 56, 63}) payload[at] = 0xFF;
  offset = 0;
  DeserializeUserPosition(offset, payload, up);
  EXPECT_EQ(std::memcmp(&up, &p.Position, sizeof up), 0);
}

struct BasicCase {
  int type;
  std::vector<float> block;  // the six floats expected at 0..20, if any
  int offset;
};

// By type: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const BasicCase& c, std::ostream* os) {
  *os << "type " << c.type;
}

class BasicForm : public ::testing::TestWithParam<BasicCase> {};

TEST_P(BasicForm, LayoutDependsOnType) {
  const auto& c = GetParam();
  TrajectoryPoint p = DefaultPoint();
  p.Position.Type = c.type;
  p.Position.Parameter = 0.25f;
  p.Position.Coordinates = {1, 2, 3, 4, 5, 6};
  p.Position.Actuators = {11, 12, 13, 14, 15, 16};
  p.Position.FingersMode = 5;
  p.Position.Fingers = {21, 22, 23};
  p.LimitationFlag = 77;
  p.Limits.Limit1 = 99;

  Bytes payload{0xEE};
  int offset = 1000;
  EXPECT_EQ(SerializeBasicTrajectoryPoint(offset, payload, p), 1);
  EXPECT_EQ(offset, c.offset);
  ASSERT_EQ(payload.size(), 49u);
  const Bytes form(payload.begin() + 1, payload.end());
  Bytes expected;
  for (float f : c.block) PutF32(expected, expected.size(), f);
  for (float f : {21.0f, 22.0f, 23.0f, 0.25f}) PutF32(expected, expected.size(), f);
  PutU32(expected, expected.size(), 5);
  PutU32(expected, expected.size(), static_cast<std::uint32_t>(c.type));
  expected.resize(48, 0);
  EXPECT_EQ(form, expected);
}

const std::vector<float> kCoordinates = {1, 2, 3, 4, 5, 6};
const std::vector<float> kActuators = {11, 12, 13, 14, 15, 16};

INSTANTIATE_TEST_SUITE_P(Types, BasicForm,
                         ::testing::Values(BasicCase{1, kCoordinates, 48},
                                           BasicCase{7, kCoordinates, 48},
                                           BasicCase{2, kActuators, 48},
                                           BasicCase{8, kActuators, 48}, BasicCase{3, {}, 24},
                                           BasicCase{0, {}, 24}, BasicCase{-1, {}, 24}));

class TrajectoryTest : public LinkTest {};

TEST_F(TrajectoryTest, AdvanceTrajectorySendsThreePackets) {
  EXPECT_EQ(SendAdvanceTrajectory(DefaultPoint()), 1);
  ASSERT_EQ(Sent().size(), 3u);
  for (short k = 0; k < 3; ++k) {
    const Packet& p = Sent()[k];
    EXPECT_EQ(p.PacketIndex, k + 1);
    EXPECT_EQ(p.PacketCount, 3);
    EXPECT_EQ(p.CommandId, 300);
    EXPECT_EQ(p.PayloadSize, 148);
    const std::size_t carried = k < 2 ? 56 : 36;
    for (std::size_t i = 0; i < 56; ++i) {
      const unsigned char want = i < carried ? kDefaultFullForm[k * 56 + i] : 0;
      ASSERT_EQ(p.Data[i], want) << "packet " << k + 1 << " byte " << i;
    }
  }
}

TEST_F(TrajectoryTest, BasicTrajectoryIsOnePacketWithoutLimits) {
  TrajectoryPoint p = DefaultPoint();
  p.Position.Type = 2;
  p.Position.Actuators.Actuator1 = 1.5f;
  p.LimitationFlag = 1;
  p.Limits.Limit9 = 4.0f;
  EXPECT_EQ(SendBasicTrajectory(p), 1);
  ASSERT_EQ(Sent().size(), 1u);
  const Packet& packet = Sent()[0];
  EXPECT_EQ(packet.CommandId, 308);
  EXPECT_EQ(packet.PacketCount, 1);
  EXPECT_EQ(packet.PayloadSize, 48);
  const Bytes data(packet.Data, packet.Data + 56);
  EXPECT_EQ(F32At(data, 0), 1.5f);
  EXPECT_EQ(U32At(data, 44), 2u);
  EXPECT_EQ(Bytes(data.begin() + 48, data.end()), Zeros(8));
}

TEST_F(TrajectoryTest, EraseAllTrajectoriesIsBareAndReportsFailures) {
  EXPECT_EQ(EraseAllTrajectories(), 1);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 301);
  EXPECT_EQ(Sent()[0].PayloadSize, 0);
  for (unsigned char b : Sent()[0].Data) ASSERT_EQ(b, 0);

  tarsel::recording::Script({Step{Step::Kind::kVerdict, -1}});
  EXPECT_EQ(EraseAllTrajectories(), TARSEL_ERROR_FIRST_PACKET);
  tarsel::recording::Script({Step{Step::Kind::kVerdict, 0x4000}});
  EXPECT_EQ(EraseAllTrajectories(), TARSEL_ERROR_ANSWER_ERROR_BIT);
}

TEST_F(TrajectoryTest, GlobalTrajectoryInfoDecodesTheQueueState) {
  Bytes answer;
  PutU32(answer, 0, 5);
  PutF32(answer, 4, 2.5f);
  PutU32(answer, 8, static_cast<std::uint32_t>(-7));
  tarsel::recording::ServeRead(304, answer);
  TrajectoryFIFO fifo{};
  EXPECT_EQ(GetGlobalTrajectoryInfo(fifo), 1);
  EXPECT_EQ(fifo.PointCount, 5);
  EXPECT_EQ(fifo.StatusFloat, 2.5f);
  EXPECT_EQ(fifo.StatusInt, -7);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 304);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Sent()[0].Data[0], 1);
}

// The flag comes back as a float and is truncated toward zero; values an
// int32 cannot hold give INT_MIN instead of undefined behaviour.
TEST_F(TrajectoryTest, ActualTrajectoryTruncatesTheFlag) {
  const float nan = std::nanf("");
  struct Case {
    Bytes flagBytes;
    int expected;
  };
  auto floatBytes = [](float f) {
    Bytes b;
    PutF32(b, 0, f);
    return b;
  };
  const std::vector<Case> cases = {
      {{0x00, 0x00, 0x80, 0x3F}, 1},  // 1.0f
      {{0x01, 0x00, 0x00, 0x00}, 0},  // the int32 1 as the writer sends it
      {floatBytes(2.75f), 2},        {floatBytes(-2.75f), -2},
      {floatBytes(nan), INT_MIN},    {floatBytes(3e9f), INT_MIN},
      {floatBytes(-3e9f), INT_MIN},  {floatBytes(std::numeric_limits<float>::infinity()), INT_MIN},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    Bytes answer = Pattern(148, 1, 3);
    std::copy(c.flagBytes.begin(), c.flagBytes.end(), answer.begin() + 104);
    tarsel::recording::ServeRead(307, answer);
    TrajectoryPoint p{};
    EXPECT_EQ(GetActualTrajectoryInfo(p), 1);
    EXPECT_EQ(p.LimitationFlag, c.expected);
    EXPECT_EQ(Sent().size(), 3u);
  }
}

TEST_F(TrajectoryTest, ActualTrajectoryReadsPositionAndLimits) {
  TrajectoryPoint sent = DefaultPoint();
  sent.Position.Type = 8;
  sent.Position.Coordinates = {1, 2, 3, 4, 5, 6};
  sent.Position.Actuators = {11, 12, 13, 14, 15, 16};
  sent.Position.Fingers = {-1, -2, -3};
  sent.Limits = {31, 32, 33, 34, 35, 36, 37, 38, 39};
  Bytes answer;
  int offset = 0;
  SerializeTrajectoryPoint(offset, answer, sent);
  PutF32(answer, 104, 3.0f);
  for (std::size_t at = 108; at < 112; ++at) answer[at] = 0xFF;  // skipped
  tarsel::recording::ServeRead(307, answer);
  TrajectoryPoint got;
  std::memset(&got, 0xA5, sizeof got);
  EXPECT_EQ(GetActualTrajectoryInfo(got), 1);
  EXPECT_EQ(std::memcmp(&got.Position, &sent.Position, sizeof got.Position), 0);
  EXPECT_EQ(got.LimitationFlag, 3);
  EXPECT_EQ(std::memcmp(&got.Limits, &sent.Limits, sizeof got.Limits), 0);
}

}  // namespace
