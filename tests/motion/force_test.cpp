#include <gtest/gtest.h>

#include "link_fixture.h"

namespace {

using tarsel::testing::Bytes;
using tarsel::testing::Floats;
using tarsel::testing::LinkTest;

struct BareCase {
  const char* name;
  int (*send)();
  int command;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const BareCase& c, std::ostream* os) {
  *os << c.name;
}

const BareCase kBare[] = {
    {"StartControlAPI", StartControlAPI, 302},
    {"StopControlAPI", StopControlAPI, 303},
    {"SetAngularControl", SetAngularControl, 47},
    {"SetCartesianControl", SetCartesianControl, 49},
    {"EraseAllTrajectories", EraseAllTrajectories, 301},
    {"StartForceControl", StartForceControl, 57},
    {"StopForceControl", StopForceControl, 58},
    {"StartCurrentLimitation", StartCurrentLimitation, 59},
    {"StopCurrentLimitation", StopCurrentLimitation, 60},
};

class BareCommand : public LinkTest, public ::testing::WithParamInterface<BareCase> {};

TEST_P(BareCommand, SendsOneEmptyPacketAndReportsTheVerdict) {
  const auto& c = GetParam();
  EXPECT_EQ(c.send(), 1);
  ASSERT_EQ(Sent().size(), 1u);
  const Packet& p = Sent()[0];
  EXPECT_EQ(p.PacketIndex, 1);
  EXPECT_EQ(p.PacketCount, 1);
  EXPECT_EQ(p.CommandId, c.command);
  EXPECT_EQ(p.PayloadSize, 0);
  EXPECT_EQ(Bytes(p.Data, p.Data + 56), Bytes(56, 0));

  tarsel::recording::Script({tarsel::recording::Step{tarsel::recording::Step::Kind::kUntouched}});
  EXPECT_EQ(c.send(), TARSEL_ERROR_NO_ANSWER);
}

INSTANTIATE_TEST_SUITE_P(Commands, BareCommand, ::testing::ValuesIn(kBare),
                         [](const auto& info) { return std::string(info.param.name); });

// Each setting takes two six-float records; the first is sent at offset 0 and
// the second at 24, without comparing them (a minimum above its maximum goes
// out as given).
struct SettingCase {
  const char* name;
  int (*send)(const float (&first)[6], const float (&second)[6]);
  int command;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const SettingCase& c, std::ostream* os) {
  *os << c.name;
}

template <typename Info, int (*Send)(Info, Info)>
int Call(const float (&first)[6], const float (&second)[6]) {
  Info a, b;
  std::memcpy(&a, first, sizeof a);
  std::memcpy(&b, second, sizeof b);
  return Send(a, b);
}

const SettingCase kSettings[] = {
    {"SetCartesianForceMinMax", Call<CartesianInfo, SetCartesianForceMinMax>, 500},
    {"SetCartesianInertiaDamping", Call<CartesianInfo, SetCartesianInertiaDamping>, 501},
    {"SetAngularTorqueMinMax", Call<AngularInfo, SetAngularTorqueMinMax>, 502},
    {"SetAngularInertiaDamping", Call<AngularInfo, SetAngularInertiaDamping>, 503},
};

class Setting : public LinkTest, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(Setting, FirstRecordAtZeroSecondAtTwentyFour) {
  const auto& c = GetParam();
  const float first[6] = {1.0f, 20.0f, 30.0f, 40.0f, 50.0f, -60.0f};
  const float second[6] = {2.0f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f};
  EXPECT_EQ(c.send(first, second), 1);
  ASSERT_EQ(Sent().size(), 1u);
  const Packet& p = Sent()[0];
  EXPECT_EQ(p.CommandId, c.command);
  EXPECT_EQ(p.PacketCount, 1);
  EXPECT_EQ(p.PayloadSize, 48);
  Bytes expected =
      Floats({1.0f, 20.0f, 30.0f, 40.0f, 50.0f, -60.0f, 2.0f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f});
  expected.resize(56, 0);
  EXPECT_EQ(Bytes(p.Data, p.Data + 56), expected);
  // Actuator1 / X of the two records: 1.0 at 0, 2.0 at 24.
  EXPECT_EQ(Bytes(p.Data, p.Data + 4), (Bytes{0x00, 0x00, 0x80, 0x3F}));
  EXPECT_EQ(Bytes(p.Data + 24, p.Data + 28), (Bytes{0x00, 0x00, 0x00, 0x40}));
}

INSTANTIATE_TEST_SUITE_P(Settings, Setting, ::testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
