#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <deque>
#include <limits>

#include "fake_sleep.h"
#include "link_fixture.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::F32At;
using tarsel::testing::LinkTest;
using tarsel::testing::PutF32;
using tarsel::testing::PutU32;
using tarsel::testing::Sleeps;

class ControlTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    Sleeps().clear();
  }
};

TEST_F(ControlTest, ControlTypeAndTransitionPassTheArmsValueOn) {
  Bytes type;
  PutU32(type, 0, static_cast<std::uint32_t>(-5));
  tarsel::recording::ServeRead(10, type);
  Bytes validation;
  PutU32(validation, 0, 0xFFFFFFFEu);
  tarsel::recording::ServeRead(118, validation);

  int controlType = 0;
  EXPECT_EQ(GetControlType(controlType), 1);
  EXPECT_EQ(controlType, -5);
  unsigned int answer = 0;
  EXPECT_EQ(ValidateCartesianTransition(answer), 1);
  EXPECT_EQ(answer, 0xFFFFFFFEu);
  EXPECT_EQ(tarsel::recording::RequestCommands(), (std::vector<int>{10, 118}));
  for (const Packet& p : Sent()) EXPECT_EQ(p.PayloadSize, 1);
}

Bytes FloatBytes(float f) {
  Bytes b;
  PutF32(b, 0, f);
  return b;
}

TEST_F(ControlTest, SingularityVectorSkipsTwoEightByteStretches) {
  Bytes answer(56, 0xEE);  // the skipped stretches hold garbage
  PutU32(answer, 0, static_cast<std::uint32_t>(-9));
  PutF32(answer, 4, 7.0f);
  PutF32(answer, 8, 0.5f);
  PutF32(answer, 12, -0.5f);
  const std::size_t vector[] = {24, 28, 32, 44, 48, 52};
  for (int i = 0; i < 6; ++i) PutF32(answer, vector[i], 1.0f + i);
  tarsel::recording::ServeRead(310, answer);

  SingularityVector v;
  std::memset(&v, 0xA5, sizeof v);
  EXPECT_EQ(GetSingularityVector(v), 1);
  EXPECT_EQ(v.Indicator1, -9);
  EXPECT_EQ(v.Indicator2, 7);
  EXPECT_EQ(v.Measure1, 0.5f);
  EXPECT_EQ(v.Measure2, -0.5f);
  const float got[] = {v.Vector.X,         v.Vector.Y,         v.Vector.Z,
                       v.Vector.RotationX, v.Vector.RotationY, v.Vector.RotationZ};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], 1.0f + i) << i;
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 310);
}

// Indicator2 arrives as a float: truncated toward zero, and NaN or values no
// int32 can hold give INT_MIN (a plain cast would be undefined behaviour).
TEST_F(ControlTest, SingularityIndicatorConversion) {
  const struct {
    Bytes bytes;
    int expected;
  } cases[] = {
      {FloatBytes(2.9f), 2},
      {FloatBytes(-2.9f), -2},
      {FloatBytes(1.0f), 1},
      {{0x01, 0x00, 0x00, 0x00}, 0},  // an int32 1 is a tiny float
      {FloatBytes(2.75f), 2},
      {FloatBytes(-0.5f), 0},
      {FloatBytes(2147483520.0f), 2147483520},  // largest float below 2^31
      {FloatBytes(-2147483648.0f), INT_MIN},
      {FloatBytes(2147483648.0f), INT_MIN},
      {FloatBytes(std::nanf("")), INT_MIN},
      {FloatBytes(-std::numeric_limits<float>::infinity()), INT_MIN},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    Bytes answer(56, 0);
    std::copy(c.bytes.begin(), c.bytes.end(), answer.begin() + 4);
    tarsel::recording::ServeRead(310, answer);
    SingularityVector v{};
    EXPECT_EQ(GetSingularityVector(v), 1);
    EXPECT_EQ(v.Indicator2, c.expected) << F32At(answer, 4);
  }
}

TEST_F(ControlTest, JoystickIsExactlyOneFiftySixBytePacket) {
  JoystickCommand command;
  for (short i = 0; i < 16; ++i) command.Buttons[i] = static_cast<short>(i == 15 ? -2 : i + 1);
  const std::uint32_t axisBits[6] = {0x3F800000u, 0xBF800000u, 0x7FC01234u,
                                     0x00000001u, 0x80000000u, 0x7F7FFFFFu};
  std::memcpy(&command.Axis1, axisBits, sizeof axisBits);
  EXPECT_EQ(SendJoystickCommand(command), 1);
  ASSERT_EQ(Sent().size(), 1u);
  const Packet& p = Sent()[0];
  EXPECT_EQ(p.CommandId, 305);
  EXPECT_EQ(p.PacketCount, 1);
  EXPECT_EQ(p.PayloadSize, 56);
  Bytes expected;
  for (short i = 0; i < 15; ++i)
    expected.insert(expected.end(), {static_cast<unsigned char>(i + 1), 0});
  expected.insert(expected.end(), {0xFE, 0xFF});
  for (std::uint32_t bits : axisBits) PutU32(expected, expected.size(), bits);
  EXPECT_EQ(Bytes(p.Data, p.Data + 56), expected);
}

// --- The home move ----------------------------------------------------------

// An arm whose queue reports the given point counts, one per query; a count
// of -1 makes that query fail. Every request also notes how many sleeps had
// happened before it, to pin the order of waits and exchanges.
class MoveHomeTest : public ControlTest {
 protected:
  void ServeQueue(std::vector<int> counts) {
    queue_.assign(counts.begin(), counts.end());
    tarsel::recording::SetResponder([this](const Packet& request, Packet& answer) {
      sleepsBefore_.push_back(Sleeps().size());
      tarsel::recording::AutoAnswer(request, answer);
      if (request.CommandId == 304) {
        const int count = queue_.empty() ? 0 : queue_.front();
        if (!queue_.empty()) queue_.pop_front();
        if (count < 0) {
          answer.CommandId = -1;
        } else {
          for (int i = 0; i < 4; ++i) answer.Data[i] = static_cast<unsigned char>(count >> (8 * i));
          answer.PayloadSize = 12;
        }
      }
      if (request.CommandId == 311 && homeVerdict_ != 0) answer.CommandId = homeVerdict_;
      return true;
    });
  }

  std::deque<int> queue_;
  std::vector<std::size_t> sleepsBefore_;
  short homeVerdict_ = 0;
};

TEST_F(MoveHomeTest, EmptyQueue) {
  ServeQueue({0});
  EXPECT_EQ(MoveHome(), 1);
  EXPECT_EQ(tarsel::recording::RequestCommands(), (std::vector<int>{311, 304, 47, 49}));
  EXPECT_EQ(Sleeps(), (std::vector<unsigned>{40000, 40000}));
  EXPECT_EQ(sleepsBefore_, (std::vector<std::size_t>{0, 1, 1, 2}));
  for (const Packet& p : Sent()) {
    EXPECT_EQ(p.PayloadSize, p.CommandId == 304 ? 1 : 0) << p.CommandId;
  }
}

TEST_F(MoveHomeTest, WaitsForTheQueueToDrain) {
  ServeQueue({2, 1, 0});
  EXPECT_EQ(MoveHome(), 1);
  EXPECT_EQ(tarsel::recording::RequestCommands(), (std::vector<int>{311, 304, 304, 304, 47, 49}));
  EXPECT_EQ(Sleeps(), (std::vector<unsigned>{40000, 100000, 100000, 40000}));
  // Each polling pass queries first and sleeps after.
  EXPECT_EQ(sleepsBefore_, (std::vector<std::size_t>{0, 1, 1, 2, 3, 4}));
}

struct FailureCase {
  const char* name;
  std::vector<int> queue;  // -1: that query fails with 2003
  short homeVerdict;       // 0: the home command succeeds
  int expected;
  std::vector<int> commands;
  std::vector<unsigned> sleeps;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class MoveHomeFailure : public MoveHomeTest, public ::testing::WithParamInterface<FailureCase> {};

// A failing queue query ends the wait with its code; the mode switches are
// still sent. A failing home command does not stop the move and its code
// wins over a later query failure.
TEST_P(MoveHomeFailure, EndsTheWaitAndReportsTheFailure) {
  const auto& c = GetParam();
  homeVerdict_ = c.homeVerdict;
  ServeQueue(c.queue);
  EXPECT_EQ(MoveHome(), c.expected);
  EXPECT_EQ(tarsel::recording::RequestCommands(), c.commands);
  EXPECT_EQ(Sleeps(), c.sleeps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveHomeFailure,
    ::testing::Values(
        FailureCase{"FirstQueryFails", {-1}, 0, 2003, {311, 304, 47, 49}, {40000, 40000}},
        FailureCase{"LaterQueryFails",
                    {3, 2, -1},
                    0,
                    2003,
                    {311, 304, 304, 304, 47, 49},
                    {40000, 100000, 40000}},
        FailureCase{"HomeCommandFails",
                    {1, 0},
                    0x4000,
                    2004,
                    {311, 304, 304, 47, 49},
                    {40000, 100000, 40000}},
        FailureCase{"BothFail", {-1}, -1, 2003, {311, 304, 47, 49}, {40000, 40000}}),
    [](const auto& info) { return std::string(info.param.name); });

// Distinguish the two 2003s of BothFail: the home command's verdict is 2004
// here, the query's 2003.
TEST_F(MoveHomeTest, HomeCommandFailureWinsOverQueryFailure) {
  homeVerdict_ = 0x4000;
  ServeQueue({-1});
  EXPECT_EQ(MoveHome(), TARSEL_ERROR_ANSWER_ERROR_BIT);
}

TEST_F(MoveHomeTest, LinkThatGoesAwayEndsTheWait) {
  // After the first queue poll the link stops answering: every later
  // transfer leaves the answer untouched.
  int exchanges = 0;
  tarsel::recording::SetResponder([&exchanges](const Packet& request, Packet& answer) {
    if (++exchanges > 2) return true;  // untouched
    tarsel::recording::AutoAnswer(request, answer);
    if (request.CommandId == 304) answer.Data[0] = 4;
    return true;
  });
  EXPECT_EQ(MoveHome(), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(tarsel::recording::RequestCommands(), (std::vector<int>{311, 304, 304, 47, 49}));
}

TEST_F(MoveHomeTest, WithoutAnOpenLinkReturnsAtOnce) {
  CloseAPI();
  EXPECT_EQ(MoveHome(), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
