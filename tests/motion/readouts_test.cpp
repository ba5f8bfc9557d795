#include <gtest/gtest.h>

#include <functional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "arm/exports.h"
#include "core/catalogue.h"
#include "link_fixture.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::LinkTest;

// Runs a read-out into a record filled with garbage and hands back the record
// as the floats it holds, in memory order (which is also the wire order).
template <typename Record, int (*Read)(Record&)>
int Run(std::vector<float>& values) {
  Record record;
  std::memset(&record, 0xA5, sizeof record);
  const int code = Read(record);
  values.assign(sizeof record / sizeof(float), 0.0f);
  std::memcpy(values.data(), &record, sizeof record);
  return code;
}

struct ReadOutCase {
  const char* name;
  int command;
  int floats;
  int (*run)(std::vector<float>&);
};

std::ostream& operator<<(std::ostream& os, const ReadOutCase& c) {
  return os << c.name;
}

// The command the catalogue gives the export name, -1 for none.
int CommandOf(std::string_view name) {
  for (const tarsel::CommandEntry& c : tarsel::kCommands) {
    if (name == c.name) return c.number;
  }
  return -1;
}

// The read-outs: every read of the table api/arm/exports.txt into one of the
// three float records, whatever its module.
template <typename Record, int (*Read)(Record&)>
void AddReadOut(std::vector<ReadOutCase>& cases, const char* name) {
  if constexpr (std::is_same_v<Record, CartesianPosition> ||
                std::is_same_v<Record, AngularPosition> ||
                std::is_same_v<Record, AngularAcceleration>) {
    cases.push_back({name, CommandOf(name), static_cast<int>(sizeof(Record) / sizeof(float)),
                     Run<Record, Read>});
  }
}

std::vector<ReadOutCase> ReadOuts() {
  std::vector<ReadOutCase> cases;
#define TARSEL_READ_OUT(Name, python, module, Record, doc) AddReadOut<Record, Name>(cases, #Name);
  TARSEL_ARM_READS(TARSEL_READ_OUT)
#undef TARSEL_READ_OUT
  return cases;
}

class ReadOut : public LinkTest, public ::testing::WithParamInterface<ReadOutCase> {
 protected:
  // 1.0, 2.0, ... for the record's floats, then bytes the record must ignore.
  static Bytes Answer(int floats) {
    Bytes answer;
    for (int i = 0; i < floats; ++i) tarsel::testing::PutF32(answer, answer.size(), i + 1.0f);
    answer.insert(answer.end(), 12, 0x7F);
    return answer;
  }
  static int Packets(int floats) { return (floats * 4 + 55) / 56; }
};

TEST_P(ReadOut, OneReadDecodedIntoTheRecord) {
  const auto& c = GetParam();
  tarsel::recording::ServeRead(c.command, Answer(c.floats), c.floats * 4);
  std::vector<float> values;
  EXPECT_EQ(c.run(values), 1);
  ASSERT_EQ(static_cast<int>(values.size()), c.floats);
  for (int i = 0; i < c.floats; ++i) EXPECT_EQ(values[i], i + 1.0f) << "value " << i;

  ASSERT_EQ(static_cast<int>(Sent().size()), Packets(c.floats));
  for (std::size_t k = 0; k < Sent().size(); ++k) {
    EXPECT_EQ(Sent()[k].CommandId, c.command);
    EXPECT_EQ(Sent()[k].PacketIndex, static_cast<short>(k + 1));
  }
  // The request itself: read shape, argument 1.
  EXPECT_EQ(Sent()[0].PacketCount, 1);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Bytes(Sent()[0].Data, Sent()[0].Data + 4), (Bytes{1, 0, 0, 0}));
}

TEST_P(ReadOut, FailedExchangeReturnsItsCodeAndDecodesNothingStale) {
  const auto& c = GetParam();
  tarsel::recording::ServeRead(c.command, Answer(c.floats), c.floats * 4);
  tarsel::recording::Script({Step{Step::Kind::kVerdict, -1}});
  std::vector<float> values;
  EXPECT_EQ(c.run(values), TARSEL_ERROR_FIRST_PACKET);
  for (float v : values) EXPECT_EQ(v, 0.0f);
}

TEST_P(ReadOut, WithoutAnOpenLinkNothingIsSent) {
  CloseAPI();
  std::vector<float> values;
  EXPECT_EQ(GetParam().run(values), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(Sent().empty());
}

INSTANTIATE_TEST_SUITE_P(Family, ReadOut, ::testing::ValuesIn(ReadOuts()),
                         [](const auto& info) { return std::string(info.param.name); });

class AccelerationTest : public LinkTest {};

// Fourteen floats fill the first answer's 56 data bytes; the last four come
// from the second. When the second packet is refused, the first fourteen are
// still decoded and the rest read as zero.
TEST_F(AccelerationTest, SpansTwoPacketsAndSurvivesLosingTheSecond) {
  Bytes answer;
  for (int i = 0; i < 18; ++i) tarsel::testing::PutF32(answer, answer.size(), 100.0f + i);
  tarsel::recording::ServeRead(117, answer);

  AngularAcceleration a;
  EXPECT_EQ(GetActuatorAcceleration(a), 1);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(a.Values[i], 100.0f + i);
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[1].PayloadSize, 72);  // the size the arm announced

  tarsel::recording::Reset();
  tarsel::recording::ServeRead(117, answer);
  tarsel::recording::Script({Step{}, Step{Step::Kind::kVerdict, -1}});
  std::memset(&a, 0xA5, sizeof a);
  EXPECT_EQ(GetActuatorAcceleration(a), TARSEL_ERROR_LATER_PACKET);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(a.Values[i], 100.0f + i);
  for (int i = 14; i < 18; ++i) EXPECT_EQ(a.Values[i], 0.0f);
}

}  // namespace
