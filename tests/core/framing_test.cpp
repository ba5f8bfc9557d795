#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

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

// --- The writer over its three sinks ---------------------------------------------

// A connection that keeps every request and answers each with the next reply
// of its script, then with success.
class CaptureLink : public tarsel::Connection {
 public:
  struct Reply {
    short verdict = 1;
    bool answered = true;
  };
  explicit CaptureLink(std::vector<Reply> script = {}) : script_(std::move(script)) {}
  bool IsOpen() const override { return true; }
  int Exchange(const Packet& request, Packet& answer) override {
    const std::size_t k = sent.size();
    sent.push_back(request);
    const Reply reply = k < script_.size() ? script_[k] : Reply{};
    answer = request;
    answer.CommandId = reply.verdict;
    return reply.answered ? TARSEL_OK : TARSEL_ERROR_NO_ANSWER;
  }
  std::vector<Packet> sent;

 private:
  std::vector<Reply> script_;
};

// One field list, run through each writer.
struct WriteCase {
  const char* name;
  int size;  // the form's size, announced to the in-place and packet writers
  void (*append)(tarsel::PayloadWriter&);
  void (*form)(tarsel::FormWriter&);
  void (*packets)(tarsel::PacketWriter&);
};

template <auto Encode>
WriteCase Case(const char* name, int size) {
  return {name, size, [](tarsel::PayloadWriter& w) { Encode(w); },
          [](tarsel::FormWriter& w) { Encode(w); }, [](tarsel::PacketWriter& w) { Encode(w); }};
}

// The same calls give the same bytes whichever sink takes them, and the
// packet writer's packets are those BuildSetCommand cuts from those bytes,
// wherever a field, a run or the message's end meets a packet's.
TEST(Writer, EverySinkWritesTheSameBytes) {
  static const Bytes kRun = Pattern(130, 3, 1);
  const WriteCase cases[] = {
      // A float of the run straddles bytes 55-58.
      Case<[](auto& w) {
        const std::uint8_t grid[2][3] = {{1, 2, 3}, {4, 5, 6}};
        const char text[20] = "nineteen characters";
        const float run[3] = {1.5f, -2.25f, 1e30f};
        w.Field(std::int16_t{-2}).Field(std::uint16_t{0xBEEF}).Field(std::int32_t{-70000});
        w.Field(std::uint32_t{0xDEADBEEF}).Field(std::uint8_t{0x7F}).Field(0.1f).Field(-3.5);
        w.Field(grid).Text(text).Floats(run, 3).Filler(3.0).Zeros(5).PadTo(100);
      }>("every field kind", 100),
      Case<[](auto& w) { w.Zeros(53).Field(std::uint32_t{0x01020304}).Field(6.0).PadTo(112); }>(
          "a word and a double across the boundary, two full packets", 112),
      Case<[](auto& w) {
        w.Field(std::uint8_t{9}).Field(std::uint8_t{8}).Field(std::uint8_t{7});
        w.Bytes(kRun.data(), kRun.size()).Zeros(120).Field(std::uint16_t{0xA55A});
      }>("runs over several packets", 300),
      Case<[](auto& w) { w.Zeros(48).Field(-1.0); }>("a full packet, the rest left to the end", 60),
      Case<[](auto& w) { w.Field(1.0f).Field(2.0f); }>("written past the announced size", 4),
  };
  const Bytes prefix{0xEE, 0xEE, 0xEE};
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes appended = prefix;
    tarsel::PayloadWriter append(appended);
    c.append(append);
    Bytes expected(appended.begin() + 3, appended.end());
    ASSERT_EQ(append.Written(), expected.size());
    if (expected.size() < static_cast<std::size_t>(c.size))
      expected.resize(static_cast<std::size_t>(c.size));

    Bytes formed = prefix;
    tarsel::FormWriter form(formed, static_cast<std::size_t>(c.size));
    c.form(form);
    EXPECT_EQ(form.Written(), append.Written());
    EXPECT_EQ(Bytes(formed.begin() + 3, formed.end()), expected);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), formed.begin()));

    // What the message announces is what goes out (the form grown past its
    // size goes out as the appended bytes would).
    CaptureLink link;
    tarsel::PacketWriter packets(link, 40, static_cast<int>(expected.size()));
    c.packets(packets);
    EXPECT_EQ(packets.Written(), append.Written());
    EXPECT_EQ(packets.Finish(), TARSEL_OK);
    const auto want = BuildSetCommand(40, expected);
    ASSERT_EQ(link.sent.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(std::memcmp(&link.sent[k], &want[k], sizeof(Packet)), 0) << "packet " << k + 1;
    }
  }
}

// After a packet whose answer fails nothing more goes out, and Finish gives
// that packet's code.
TEST(Writer, PacketsStopAtTheFirstFailedAnswer) {
  using Reply = CaptureLink::Reply;
  struct Case {
    std::vector<Reply> script;
    int expected;
    std::size_t sent;
  };
  const Case cases[] = {
      {{}, TARSEL_OK, 4},
      {{Reply{-1}}, TARSEL_ERROR_FIRST_PACKET, 1},
      {{Reply{}, Reply{0x4000}}, TARSEL_ERROR_ANSWER_ERROR_BIT, 2},
      {{Reply{}, Reply{}, Reply{-5}}, TARSEL_ERROR_LATER_PACKET, 3},
      {{Reply{}, Reply{1, false}}, TARSEL_ERROR_NO_ANSWER, 2},
      // The last packet, sent by Finish.
      {{Reply{}, Reply{}, Reply{}, Reply{-1}}, TARSEL_ERROR_LATER_PACKET, 4},
  };
  const Bytes payload = Pattern(200, 5);
  for (const Case& c : cases) {
    CaptureLink link(c.script);
    tarsel::PacketWriter writer(link, 300, 200);
    writer.Bytes(payload.data(), 150).Field(std::uint8_t{1});
    EXPECT_EQ(writer.Finish(), c.expected);
    EXPECT_EQ(link.sent.size(), c.sent);
    for (std::size_t k = 0; k < link.sent.size(); ++k)
      EXPECT_EQ(link.sent[k].PacketIndex, static_cast<short>(k + 1));
  }
}

}  // namespace
