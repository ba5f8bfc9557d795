#include <gtest/gtest.h>

#include "core/framing.h"
#include "link_fixture.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::LinkTest;
using tarsel::testing::Pattern;
using Kind = Step::Kind;

struct FramingCase {
  int size;
  int packets;
  int lastCarries;  // payload bytes in the last packet
};

class BuildSetCommandSizes : public ::testing::TestWithParam<FramingCase> {};

TEST_P(BuildSetCommandSizes, CutsIntoFiftySixBytePackets) {
  const auto [size, count, last] = GetParam();
  const Bytes payload = Pattern(static_cast<std::size_t>(size), 7, 1);
  const auto packets = BuildSetCommand(40, payload);
  ASSERT_EQ(static_cast<int>(packets.size()), count);
  for (int k = 0; k < count; ++k) {
    const Packet& p = packets[static_cast<std::size_t>(k)];
    EXPECT_EQ(p.PacketIndex, k + 1);
    EXPECT_EQ(p.PacketCount, count);
    EXPECT_EQ(p.CommandId, 40);
    EXPECT_EQ(p.PayloadSize, size);
    const int carried = k + 1 == count ? last : 56;
    for (int i = 0; i < 56; ++i) {
      const unsigned char expected =
          i < carried ? payload[static_cast<std::size_t>(k * 56 + i)] : 0;
      ASSERT_EQ(p.Data[i], expected) << "packet " << k + 1 << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BuildSetCommandSizes,
                         ::testing::Values(FramingCase{0, 0, 0}, FramingCase{1, 1, 1},
                                           FramingCase{56, 1, 56}, FramingCase{57, 2, 1},
                                           FramingCase{148, 3, 36}, FramingCase{3040, 55, 16},
                                           FramingCase{14816, 265, 32},
                                           FramingCase{32767, 586, 7}));

TEST(BuildSetCommand, RefusesPayloadsTooLargeForTheSizeWord) {
  EXPECT_TRUE(BuildSetCommand(40, Bytes(32768)).empty());
  EXPECT_TRUE(BuildSetCommand(40, Bytes(70000)).empty());
}

TEST(PreparePackets, ReadAndBareRequests) {
  Packet read;
  std::memset(&read, 0xAB, sizeof read);
  PrepareGetPacket(read, 105);
  EXPECT_EQ(read.PacketIndex, 1);
  EXPECT_EQ(read.PacketCount, 1);
  EXPECT_EQ(read.CommandId, 105);
  EXPECT_EQ(read.PayloadSize, 1);
  EXPECT_EQ(read.Data[0], 1);
  for (int i = 1; i < 56; ++i) EXPECT_EQ(read.Data[i], 0);

  std::vector<Packet> list(1);
  PrepareSetPacket(list, 301);
  ASSERT_EQ(list.size(), 2u);
  const Packet& bare = list[1];
  EXPECT_EQ(bare.PacketIndex, 1);
  EXPECT_EQ(bare.PacketCount, 1);
  EXPECT_EQ(bare.CommandId, 301);
  EXPECT_EQ(bare.PayloadSize, 0);
  for (int i = 0; i < 56; ++i) EXPECT_EQ(bare.Data[i], 0);
}

TEST(Merge, AppendsAfterExistingBytes) {
  const unsigned char data[3] = {7, 8, 9};
  EXPECT_EQ(merge(3, Bytes{1}, data), (Bytes{1, 7, 8, 9}));
  EXPECT_EQ(merge(0, Bytes{1}, data), (Bytes{1}));
}

class SendSetCommandTest : public LinkTest {};

struct VerdictCase {
  std::vector<Step> script;
  int expected;
  std::size_t sent;
};

TEST_F(SendSetCommandTest, JudgesEachVerdictInOrder) {
  const std::vector<VerdictCase> cases = {
      {{}, 1, 3},
      {{Step{}, Step{Kind::kVerdict, 0x4000}}, 2004, 2},
      {{Step{Kind::kVerdict, -1}}, 2003, 1},
      {{Step{}, Step{Kind::kVerdict, -5}}, 2005, 2},
      {{Step{}, Step{}, Step{Kind::kVerdict, static_cast<short>(0xC000)}}, 2005, 3},
      {{Step{Kind::kVerdict, static_cast<short>(0xC000)}}, 2003, 1},
      // An answer the link left untouched is no answer, not stale success.
      {{Step{Kind::kUntouched}}, 2008, 1},
      {{Step{}, Step{Kind::kUntouched}}, 2008, 2},
  };
  const auto packets = BuildSetCommand(300, Pattern(148));
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    tarsel::recording::Script(c.script);
    EXPECT_EQ(SendSetCommand(packets), c.expected);
    EXPECT_EQ(Sent().size(), c.sent);
  }
}

TEST_F(SendSetCommandTest, NoPacketsSendNothing) {
  EXPECT_EQ(SendSetCommand({}), 1);
  EXPECT_TRUE(Sent().empty());
}

class SendGetCommandTest : public LinkTest {
 protected:
  int Read(int command, Bytes& payload) {
    Packet request;
    PrepareGetPacket(request, command);
    return SendGetCommand(request, payload);
  }
};

TEST_F(SendGetCommandTest, ReassemblesAndRewritesTheRequestBetweenPasses) {
  const Bytes answer = Pattern(100, 3);
  tarsel::recording::ServeRead(117, answer);
  Bytes payload;
  EXPECT_EQ(Read(117, payload), 1);
  ASSERT_EQ(payload.size(), 112u);
  EXPECT_TRUE(std::equal(answer.begin(), answer.end(), payload.begin()));
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[0].PacketIndex, 1);
  EXPECT_EQ(Sent()[0].PayloadSize, 1);
  EXPECT_EQ(Sent()[1].PacketIndex, 2);
  EXPECT_EQ(Sent()[1].PayloadSize, 100);
  // CommandId, PacketCount and Data stay as the caller prepared them.
  EXPECT_EQ(Sent()[1].CommandId, 117);
  EXPECT_EQ(Sent()[1].PacketCount, 1);
  EXPECT_EQ(Sent()[1].Data[0], 1);
}

TEST_F(SendGetCommandTest, SizeZeroEndsAfterOnePacket) {
  tarsel::recording::ServeRead(10, Pattern(8), 0);
  Bytes payload{0xEE};
  EXPECT_EQ(Read(10, payload), 1);
  EXPECT_EQ(payload.size(), 57u);  // what was there stays in front
  EXPECT_EQ(payload[0], 0xEE);
  EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(SendGetCommandTest, VerdictsAndTheirEffectOnThePayload) {
  struct Case {
    std::vector<Step> script;
    int expected;
    std::size_t sent;
    std::size_t kept;
  };
  const std::vector<Case> cases = {
      {{Step{Kind::kVerdict, -1}}, 2003, 1, 0},
      {{Step{}, Step{Kind::kVerdict, -1}}, 2005, 2, 56},
      {{Step{}, Step{Kind::kVerdict, 0x4000}}, 2004, 2, 56},
      // The first-packet test looks at the answer's own index.
      {{Step{}, Step{Kind::kVerdict, -1, -1, 1}}, 2003, 2, 56},
      {{Step{Kind::kUntouched}}, 2008, 1, 0},
      {{Step{}, Step{}, Step{Kind::kUntouched}}, 2008, 3, 112},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    tarsel::recording::ServeRead(200, Pattern(832));
    tarsel::recording::Script(c.script);
    Bytes payload;
    EXPECT_EQ(Read(200, payload), c.expected);
    EXPECT_EQ(Sent().size(), c.sent);
    EXPECT_EQ(payload.size(), c.kept);
  }
}

TEST_F(SendGetCommandTest, NegativeAnnouncedSizeFailsAtOnce) {
  // 0x8000 and above read as negative sizes, which no payload can reach.
  for (int announced : {0x8000, 0xFFFF}) {
    tarsel::recording::Reset();
    tarsel::recording::ServeRead(36, Pattern(56), announced);
    Bytes payload;
    EXPECT_EQ(Read(36, payload), TARSEL_ERROR_BAD_ANSWER_SIZE);
    EXPECT_EQ(Sent().size(), 1u);
  }
}

TEST_F(SendGetCommandTest, TheLargestAnswerIsBoundedByItsSize) {
  // An arm that never advances its packet index still ends the read once
  // the largest announceable size has arrived.
  tarsel::recording::SetResponder([](const Packet& req, Packet& ans) {
    tarsel::recording::AutoAnswer(req, ans);
    ans.PayloadSize = 32767;
    ans.PacketIndex = 0;
    return true;
  });
  Bytes payload;
  EXPECT_EQ(Read(36, payload), 1);
  EXPECT_EQ(Sent().size(), 586u);
  EXPECT_EQ(payload.size(), 586u * 56u);
}

TEST(Framing, CommandsWithoutAnOpenLinkFail) {
  tarsel::recording::Reset();
  CloseAPI();
  Packet request;
  PrepareGetPacket(request, 105);
  Bytes payload;
  EXPECT_EQ(SendGetCommand(request, payload), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(SendSetCommand(BuildSetCommand(300, Pattern(10))), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(SendSetCommand({}), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(tarsel::recording::Requests().empty());
  EXPECT_EQ(CloseAPI(), 1);  // harmless without InitAPI
}

}  // namespace
