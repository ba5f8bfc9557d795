#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "link_fixture.h"
#include "maintenance/maintenance_codec.h"
#include "offset_wrap.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::Floats;
using tarsel::testing::LinkTest;
using tarsel::testing::Pattern;
using tarsel::testing::PutU32;
using Kind = Step::Kind;

// Address word followed by floats, as the arm expects them.
Bytes AddressThen(std::uint32_t address, std::initializer_list<float> values) {
  Bytes b;
  PutU32(b, 0, address);
  const Bytes rest = Floats(values);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

struct WriteCase {
  std::string name;
  std::function<int()> call;
  int command;
  Bytes payload;
};

std::vector<WriteCase> WriteCases() {
  return {
      {"SetJointZero", [] { return SetJointZero(16); }, 14, {0x10, 0, 0, 0}},
      {"SetJointZeroNegative", [] { return SetJointZero(-2); }, 14, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"SetActuatorAddress",
       [] { return SetActuatorAddress(16, 17); },
       52,
       {0x10, 0, 0, 0, 0x11, 0, 0, 0}},
      {"SetActuatorPID", [] { return SetActuatorPID(0x01020304, 1.5f, -2.25f, 1e-3f); }, 53,
       AddressThen(0x01020304, {1.5f, -2.25f, 1e-3f})},
      {"SetActuatorPIDFilter", [] { return SetActuatorPIDFilter(21, 0.5f, 8.0f, -1.0f); }, 54,
       AddressThen(21, {0.5f, 8.0f, -1.0f})},
      {"SetTorqueZero", [] { return SetTorqueZero(0x7FFFFFFF); }, 55, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"SetTorqueGain",
       [] { return SetTorqueGain(16, 3); },
       56,
       {0x10, 0, 0, 0, 0x00, 0x00, 0x40, 0x40}},
      {"SetTorqueGainNegative", [] { return SetTorqueGain(17, -100); }, 56,
       AddressThen(17, {-100.0f})},
  };
}

class ActuatorWrites : public LinkTest {};

TEST_F(ActuatorWrites, EachSendsOnePacketWithItsPayload) {
  for (const auto& c : WriteCases()) {
    SCOPED_TRACE(c.name);
    tarsel::recording::Reset();
    ASSERT_EQ(c.call(), TARSEL_OK);
    ASSERT_EQ(Sent().size(), 1u);
    const Packet& p = Sent()[0];
    EXPECT_EQ(p.PacketIndex, 1);
    EXPECT_EQ(p.PacketCount, 1);
    EXPECT_EQ(p.CommandId, c.command);
    EXPECT_EQ(p.PayloadSize, static_cast<short>(c.payload.size()));
    Bytes data(p.Data, p.Data + TARSEL_PACKET_DATA_SIZE);
    Bytes expected = c.payload;
    expected.resize(TARSEL_PACKET_DATA_SIZE, 0);
    EXPECT_EQ(data, expected);
  }
}

TEST_F(ActuatorWrites, ReturnTheArmsVerdict) {
  const struct {
    short verdict;
    int expected;
  } verdicts[] = {{-1, 2003}, {0x4000, 2004}};
  for (const auto& c : WriteCases()) {
    for (const auto& v : verdicts) {
      SCOPED_TRACE(c.name + " verdict " + std::to_string(v.verdict));
      tarsel::recording::Reset();
      tarsel::recording::Script({Step{Kind::kVerdict, v.verdict}});
      EXPECT_EQ(c.call(), v.expected);
    }
  }
}

TEST_F(ActuatorWrites, WithoutOpenLinkSendNothing) {
  CloseAPI();
  for (const auto& c : WriteCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), TARSEL_ERROR_NOT_INITIALIZED);
  }
  std::vector<float> values;
  EXPECT_EQ(GetPositionCurrentActuators(values), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(Sent().empty());
}

TEST(ActuatorCodecs, AdvanceOffsetAndAppendAtTheEnd) {
  Payload payload{0xAA};
  int offset = 1;
  EXPECT_EQ(SerializeActuatorAddress(offset, payload, 0x11223344u), 1);
  EXPECT_EQ(offset, 5);
  EXPECT_EQ(SerializeTorqueGain(offset, payload, 2u, 0.5f), 1);
  EXPECT_EQ(offset, 13);
  EXPECT_EQ(SerializeActuatorPID(offset, payload, 3u, 1.0f, 2.0f, 3.0f), 1);
  EXPECT_EQ(offset, 29);
  EXPECT_EQ(SerializeActuatorPIDFilter(offset, payload, 4u, 4.0f, 5.0f, 6.0f), 1);
  EXPECT_EQ(offset, 45);

  Bytes expected{0xAA, 0x44, 0x33, 0x22, 0x11};
  for (const Bytes& part : {AddressThen(2, {0.5f}), AddressThen(3, {1.0f, 2.0f, 3.0f}),
                            AddressThen(4, {4.0f, 5.0f, 6.0f})}) {
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(payload, expected);
}

TEST(ActuatorCodecs, PositionCurrentReadsTwelveFloatsFromOffset) {
  const Bytes answer = Floats({99.0f, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  std::vector<float> values{-1.0f};
  int offset = 4;
  EXPECT_EQ(DeserializePositionCurrentActuators(offset, answer, values), 1);
  EXPECT_EQ(offset, 52);
  EXPECT_EQ(values, (std::vector<float>{-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

  // A short payload never reads past its end: the missing values read 0.
  const Bytes shortAnswer = Floats({1, 2, 3});
  values.clear();
  offset = 0;
  DeserializePositionCurrentActuators(offset, shortAnswer, values);
  EXPECT_EQ(values, (std::vector<float>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// A hostile offset just below INT_MAX wraps in every codec of the module.
TEST(ActuatorCodecs, OffsetNearIntMaxWraps) {
  tarsel::testing::ExpectOffsetsWrap({
      {"ActuatorAddress", 4, [](int& o, Payload& p) { SerializeActuatorAddress(o, p, 7u); }},
      {"TorqueGain", 8, [](int& o, Payload& p) { SerializeTorqueGain(o, p, 7u, 2.0f); }},
      {"ActuatorPID", 16, [](int& o, Payload& p) { SerializeActuatorPID(o, p, 7u, 1, 2, 3); }},
      {"ActuatorPIDFilter", 16,
       [](int& o, Payload& p) { SerializeActuatorPIDFilter(o, p, 7u, 4, 5, 6); }},
      {"PositionCurrent (decoder)", 48,
       [](int& o, Payload& p) {
         std::vector<float> values;
         DeserializePositionCurrentActuators(o, p, values);
         const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
         p.assign(bytes, bytes + values.size() * sizeof(float));
       },
       Pattern(48, 1, 1)},
  });
}

class PositionCurrentRead : public LinkTest {};

TEST_F(PositionCurrentRead, AppendsTwelveValuesToWhatTheVectorHolds) {
  const Bytes answer = Floats({1.5f, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -12.25f});
  tarsel::recording::ServeRead(112, answer);
  std::vector<float> values{7.0f, 8.0f};
  EXPECT_EQ(GetPositionCurrentActuators(values), TARSEL_OK);
  ASSERT_EQ(values.size(), 14u);
  EXPECT_EQ(values[0], 7.0f);
  EXPECT_EQ(values[1], 8.0f);
  EXPECT_EQ(values[2], 1.5f);
  EXPECT_EQ(values[13], -12.25f);

  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 112);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Sent()[0].Data[0], 1);
}

TEST_F(PositionCurrentRead, AFailedReadStillAppendsAndReportsTheFailure) {
  tarsel::recording::ServeRead(112, Pattern(48));
  tarsel::recording::Script({Step{Kind::kVerdict, -3}});
  std::vector<float> values{1.0f};
  EXPECT_EQ(GetPositionCurrentActuators(values), TARSEL_ERROR_FIRST_PACKET);
  EXPECT_EQ(values.size(), 13u);
}

}  // namespace
