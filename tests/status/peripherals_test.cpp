#include <gtest/gtest.h>

#include <memory>

#include "fake_sleep.h"
#include "status/status_codec.h"
#include "status_test_util.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::F32At;
using tarsel::testing::LeAt;
using tarsel::testing::LinkTest;
using tarsel::testing::RandomBytes;
using tarsel::testing::Sleeps;
using tarsel::testing::U32At;
using Kind = Step::Kind;

constexpr int kQuickStatus = 62;
constexpr int kBasicPoint = 308;
constexpr int kErase = 301;

void ExpectEntryFrom(const PeripheralInfo& e, const Bytes& wire, std::size_t at) {
  EXPECT_EQ(e.UIntValue1, U32At(wire, at)) << at;
  EXPECT_EQ(e.UIntValue2, U32At(wire, at + 4)) << at;
  EXPECT_EQ(e.UIntValue3, U32At(wire, at + 8)) << at;
  EXPECT_EQ(e.UIntValue4, U32At(wire, at + 12)) << at;
  EXPECT_EQ(e.UIntValue5, U32At(wire, at + 16)) << at;
}

TEST(PeripheralInventoryForm, FifteenEntriesAppended) {
  const Bytes wire = RandomBytes(300, 41);
  std::vector<PeripheralInfo> list(1);
  list[0].UIntValue1 = 77;
  int offset = 0;
  EXPECT_EQ(DeserializePeripheralInventory(offset, wire, list), 1);
  EXPECT_EQ(offset, 300);
  ASSERT_EQ(list.size(), 16u);
  EXPECT_EQ(list[0].UIntValue1, 77u);
  for (std::size_t k = 0; k < 15; ++k) ExpectEntryFrom(list[k + 1], wire, 20 * k);
}

class PeripheralInventoryRead : public LinkTest {};

TEST_F(PeripheralInventoryRead, AppendsBehindWhatTheListHolds) {
  const Bytes wire = RandomBytes(300, 43);
  tarsel::recording::ServeRead(403, wire);
  std::vector<PeripheralInfo> list(2);
  list[0].UIntValue1 = 1;
  list[1].UIntValue1 = 2;
  EXPECT_EQ(GetPeripheralInventory(list), TARSEL_OK);
  ASSERT_EQ(list.size(), 17u);
  EXPECT_EQ(list[0].UIntValue1, 1u);
  EXPECT_EQ(list[1].UIntValue1, 2u);
  ExpectEntryFrom(list[16], wire, 280);
  ASSERT_EQ(Sent().size(), 6u);
  EXPECT_EQ(Sent()[0].CommandId, 403);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Sent()[0].Data[0], 1);
}

TEST_F(PeripheralInventoryRead, TwoCallsGiveThirtyInOrder) {
  const Bytes first = RandomBytes(300, 44);
  const Bytes second = RandomBytes(300, 45);
  std::vector<PeripheralInfo> list;
  tarsel::recording::ServeRead(403, first);
  EXPECT_EQ(GetPeripheralInventory(list), TARSEL_OK);
  tarsel::recording::ServeRead(403, second);
  EXPECT_EQ(GetPeripheralInventory(list), TARSEL_OK);
  ASSERT_EQ(list.size(), 30u);
  ExpectEntryFrom(list[0], first, 0);
  ExpectEntryFrom(list[14], first, 280);
  ExpectEntryFrom(list[15], second, 0);
  ExpectEntryFrom(list[29], second, 280);
}

TEST_F(PeripheralInventoryRead, FailedExchangeAppendsNothing) {
  struct Case {
    std::vector<Step> script;
    int expected;
  };
  const std::vector<Case> cases = {
      {{Step{Kind::kVerdict, -1}}, TARSEL_ERROR_FIRST_PACKET},
      {{Step{}, Step{}, Step{Kind::kVerdict, -1}}, TARSEL_ERROR_LATER_PACKET},
      {{Step{}, Step{Kind::kVerdict, 0x4000}}, TARSEL_ERROR_ANSWER_ERROR_BIT},
      {{Step{Kind::kUntouched}}, TARSEL_ERROR_NO_ANSWER},
      {{Step{Kind::kAuto, 0, 0x8000}}, TARSEL_ERROR_BAD_ANSWER_SIZE},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    tarsel::recording::ServeRead(403, RandomBytes(300, 46));
    tarsel::recording::Script(c.script);
    std::vector<PeripheralInfo> list(2);
    list[1].UIntValue5 = 5;
    EXPECT_EQ(GetPeripheralInventory(list), c.expected);
    ASSERT_EQ(list.size(), 2u) << c.expected;
    EXPECT_EQ(list[1].UIntValue5, 5u);
  }
  CloseAPI();
  std::vector<PeripheralInfo> list;
  EXPECT_EQ(GetPeripheralInventory(list), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(list.empty());
}

// A simulated hand: answers quick-status reads with finger flags that come up
// once a given number of trajectory points has reached the arm.
struct Hand {
  unsigned char handType = 0;
  unsigned char laterHandType = 0xFF;  // hand type after the first read (0xFF: unchanged)
  int riseAfter = -1;                  // points before flags 1 and 2 come up; -1: never
  bool flag3 = true;                   // whether flag 3 comes up with them
  int failRead = -1;                   // status read refused by the arm
  int garbageRead = -1;                // status read with flags up but an invalid size
  bool failErase = false;
};

void Install(const Hand& hand) {
  auto points = std::make_shared<int>(0);
  auto reads = std::make_shared<int>(0);
  tarsel::recording::SetResponder([hand, points, reads](const Packet& req, Packet& ans) {
    if (req.CommandId == kBasicPoint) ++*points;
    if (req.CommandId == kErase && hand.failErase) {
      tarsel::recording::AutoAnswer(req, ans);
      ans.CommandId = -1;
      return true;
    }
    if (req.CommandId != kQuickStatus) return false;
    const int read = (*reads)++;
    std::memset(&ans, 0, sizeof ans);
    ans.PacketIndex = req.PacketIndex;
    ans.PacketCount = 1;
    ans.CommandId = kQuickStatus;
    ans.PayloadSize = 15;
    const bool up = hand.riseAfter >= 0 && *points >= hand.riseAfter;
    ans.Data[0] = ans.Data[1] = up ? 1 : 0;
    ans.Data[2] = up && hand.flag3 ? 1 : 0;
    ans.Data[3] = 0xFF;  // reserved byte, next to the flags
    ans.Data[12] = read > 0 && hand.laterHandType != 0xFF ? hand.laterHandType : hand.handType;
    if (read == hand.failRead) ans.CommandId = -1;
    if (read == hand.garbageRead) {
      ans.Data[0] = ans.Data[1] = ans.Data[2] = 1;
      ans.PayloadSize = -1;
    }
    return true;
  });
}

class InitFingersTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    Sleeps().clear();
  }
};

struct CycleCase {
  const char* name;
  Hand hand;
  int points;
  float finger1, finger2, finger3;
};

TEST_F(InitFingersTest, DrivesTheFingersUntilTheyReport) {
  const std::vector<CycleCase> cases = {
      {"already initialised", {0, 0xFF, 0}, 0, 0, 0, 0},
      {"three fingers, up after the third cycle", {0, 0xFF, 3}, 3, -300, -300, -300},
      {"two fingers ignore flag 3", {3, 0xFF, 2, false}, 2, -3000, -3000, 0},
      {"three fingers wait for flag 3", {0, 0xFF, 1, false}, 1000, -300, -300, -300},
      {"never reports", {}, 1000, -300, -300, -300},
      {"hand type taken from the first read only", {0, 3, 1, false}, 1000, -300, -300, -300},
      {"a status with an invalid size cannot end the loop",
       {0, 0xFF, 2, true, -1, 1},
       2,
       -300,
       -300,
       -300},
      {"a refused status read in the loop is ignored", {2, 0xFF, 1, true, 1}, 2, -3000, -3000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tarsel::recording::Reset();
    Sleeps().clear();
    Install(c.hand);
    EXPECT_EQ(InitFingers(), TARSEL_OK);

    // One status read, then a point and a status read per cycle, then the erase.
    std::vector<int> expected{kQuickStatus};
    for (int i = 0; i < c.points; ++i) {
      expected.push_back(kBasicPoint);
      expected.push_back(kQuickStatus);
    }
    expected.push_back(kErase);
    EXPECT_EQ(tarsel::recording::RequestCommands(), expected);

    std::vector<unsigned> pauses(static_cast<std::size_t>(c.points), 6000);
    pauses.push_back(40000);
    EXPECT_EQ(Sleeps(), pauses);

    for (const Packet& p : Sent()) {
      if (p.CommandId != kBasicPoint) continue;
      ASSERT_EQ(p.PayloadSize, 48);
      ASSERT_EQ(p.PacketCount, 1);
      const Bytes form(p.Data, p.Data + 48);
      for (int a = 0; a < 6; ++a) EXPECT_EQ(U32At(form, 4 * a), 0u) << "actuator " << a + 1;
      EXPECT_EQ(F32At(form, 24), c.finger1);
      EXPECT_EQ(F32At(form, 28), c.finger2);
      EXPECT_EQ(F32At(form, 32), c.finger3);
      EXPECT_EQ(F32At(form, 36), 0.0f);  // Parameter
      EXPECT_EQ(U32At(form, 40), 1u);    // FingersMode
      EXPECT_EQ(U32At(form, 44), 8u);    // Type
      EXPECT_EQ(std::memcmp(p.Data, Sent()[1].Data, 56), 0) << "every point is the same";
    }
  }
}

TEST_F(InitFingersTest, FailedFirstStatusReadSendsNothingAndReportsIt) {
  struct Case {
    const char* name;
    Hand hand;
    int expected;
  };
  const std::vector<Case> cases = {
      {"refused", {0, 0xFF, -1, true, 0}, TARSEL_ERROR_FIRST_PACKET},
      {"invalid size", {0, 0xFF, -1, true, -1, 0}, TARSEL_ERROR_BAD_ANSWER_SIZE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tarsel::recording::Reset();
    Sleeps().clear();
    Install(c.hand);
    EXPECT_EQ(InitFingers(), c.expected);
    EXPECT_EQ(tarsel::recording::RequestCommands(), std::vector<int>{kQuickStatus});
    EXPECT_TRUE(Sleeps().empty());
  }

  tarsel::recording::Reset();
  Sleeps().clear();
  CloseAPI();
  EXPECT_EQ(InitFingers(), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Sleeps().empty());
}

TEST_F(InitFingersTest, FailedEraseIsNotReported) {
  Hand hand;
  hand.riseAfter = 1;
  hand.failErase = true;
  Install(hand);
  EXPECT_EQ(InitFingers(), TARSEL_OK);
  EXPECT_EQ(tarsel::recording::RequestCommands(),
            (std::vector<int>{kQuickStatus, kBasicPoint, kQuickStatus, kErase}));
}

}  // namespace
