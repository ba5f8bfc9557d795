// The simulated arm at the packet level: framing of reads and writes, stored
// blocks, refusals and the table of malformed requests.
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "commands.h"
#include "config/config_codec.h"
#include "environment.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using tarsel::sim::HandType;

// What the host sends for a record whose every byte is a pattern (a
// configuration carrying all its stored positions).
template <class Record>
Bytes HostForm() {
  Record record;
  const Bytes image = Pattern(sizeof record, 7, 3);
  std::memcpy(&record, image.data(), sizeof record);
  if constexpr (std::is_same_v<Record, ClientConfigurations>) record.StoredPositionCount = 20;
  Bytes b;
  tarsel::Encode(b, record);
  return b;
}

struct Block {
  int write;
  int read;
  Bytes (*written)();
};

class StoredBlocks : public SimTest, public ::testing::WithParamInterface<Block> {};

TEST_P(StoredBlocks, WrittenBytesReadBackUnchanged) {
  const Block b = GetParam();
  const Bytes written = b.written();
  const int size = static_cast<int>(written.size());
  const auto packets = WriteMessage(b.write, written);
  for (const Packet& p : packets) {
    const auto answer = arm.Handle(p);
    ASSERT_TRUE(answer);
    ASSERT_TRUE(Accepted(answer->CommandId)) << "packet " << p.PacketIndex;
  }
  const ReadResult r = Read(arm, b.read);
  ASSERT_TRUE(Accepted(r.verdict));
  EXPECT_EQ(r.announced, size);
  EXPECT_EQ(r.exchanges, (size + 55) / 56);
  ASSERT_GE(r.payload.size(), written.size());
  EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + size), written);
  EXPECT_EQ(arm.StoredBlock(b.read), written);
}

INSTANTIATE_TEST_SUITE_P(Blocks, StoredBlocks,
                         ::testing::Values(Block{0, 1, HostForm<ClientConfigurations>},
                                           Block{40, 41, HostForm<ControlMappingCharts>},
                                           Block{38, 39, HostForm<ZoneList>},
                                           Block{5000, 5001, HostForm<tarsel::config::DevValues>},
                                           Block{504, 505,
                                                 HostForm<tarsel::config::SpasmFilterValues>}));

// The arm keeps what the block's form carries: whatever else a write holds
// (fillers, unused positions, the reserved tail) reads back as the form has it.
TEST_F(SimTest, StoredBlocksKeepWhatTheirFormsCarry) {
  Bytes config = Pattern(3040, 3, 1);
  PutU32(config, 140, 2);  // two stored positions carried
  Bytes filter = Pattern(56, 5, 1);
  ASSERT_TRUE(Accepted(Write(arm, 0, config)));
  ASSERT_TRUE(Accepted(Write(arm, 504, filter)));
  const Bytes keptConfig = arm.StoredBlock(1);
  const Bytes keptFilter = arm.StoredBlock(505);
  ASSERT_EQ(keptConfig.size(), 3040u);
  ASSERT_EQ(keptFilter.size(), 56u);
  EXPECT_EQ(Bytes(keptConfig.begin(), keptConfig.begin() + 144),
            Bytes(config.begin(), config.begin() + 144));
  for (std::size_t slot : {144u, 248u}) {
    EXPECT_EQ(Bytes(keptConfig.begin() + slot, keptConfig.begin() + slot + 8),
              Bytes(config.begin() + slot, config.begin() + slot + 8));
    EXPECT_DOUBLE_EQ(F64At(keptConfig, slot + 8), 3.0);
    EXPECT_EQ(I32At(keptConfig, slot + 28), 0);
    EXPECT_DOUBLE_EQ(F64At(keptConfig, slot + 32), 3.0);
    EXPECT_DOUBLE_EQ(F64At(keptConfig, slot + 56), 6.0);
  }
  EXPECT_EQ(Bytes(keptConfig.begin() + 352, keptConfig.begin() + 2224), Bytes(1872, 0));
  EXPECT_EQ(Bytes(keptConfig.begin() + 2248, keptConfig.end()), Bytes(792, 0));
  EXPECT_EQ(Bytes(keptFilter.begin(), keptFilter.begin() + 20),
            Bytes(filter.begin(), filter.begin() + 20));
  EXPECT_EQ(Bytes(keptFilter.begin() + 20, keptFilter.end()), Bytes(36, 0));
}

TEST_F(SimTest, MultiPacketWriteTakesEffectOnlyWithItsLastPacket) {
  const Bytes before = arm.StoredBlock(1);
  const Bytes written = HostForm<ClientConfigurations>();
  const auto packets = WriteMessage(0, written);
  ASSERT_EQ(packets.size(), 55u);
  for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
    ASSERT_TRUE(Accepted(Send(arm, {packets[i]}))) << "packet " << i + 1;
  }
  EXPECT_EQ(arm.StoredBlock(1), before);
  EXPECT_TRUE(Accepted(Send(arm, {packets.back()})));
  EXPECT_EQ(arm.StoredBlock(1), written);
}

// The trace says why the arm refused: each refusal names its reason, and an
// accepted exchange none.
TEST_F(SimTest, RefusalsSayWhyToTheObserver) {
  std::vector<std::string> reasons;
  arm.SetObserver([&](const Packet&, const std::optional<Packet>&, const char* why) {
    reasons.emplace_back(why != nullptr ? why : "");
  });
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float joints[6] = {10, 200, 40, 240, 80, 90};
  const float nanJoints[6] = {nan, 200, 40, 240, 80, 90};
  const float fingers[3] = {0, 0, 0};
  const struct {
    std::function<short()> exchange;
    const char* why;
  } cases[] = {
      {[&] { return Write(arm, 308, BasicPoint(5, joints, fingers)); }, "type is none of"},
      {[&] { return Write(arm, 308, BasicPoint(2, nanJoints, fingers)); }, "is NaN or infinite"},
      {[&] { return Read(arm, 21, 1000).verdict; }, "no entry at that index"},
      {[&] { return Send(arm, {ReadRequest(999)}); }, "no command of this arm has that number"},
      {[&] { return Write(arm, 308, BasicPoint(2, joints, fingers)); }, ""},
  };
  for (const auto& c : cases) {
    reasons.clear();
    const short verdict = c.exchange();
    ASSERT_FALSE(reasons.empty());
    EXPECT_EQ(*c.why == '\0', Accepted(verdict)) << c.why;
    EXPECT_NE(reasons.back().find(c.why), std::string::npos) << reasons.back();
    if (*c.why == '\0') {
      EXPECT_EQ(reasons.back(), "");
    }
  }
  EXPECT_NE(tarsel::sim::TraceLine(ReadRequest(100), std::nullopt, "why").find(": refused, why"),
            std::string::npos);
}

TEST_F(SimTest, ProtectionZonesEraseToZeros) {
  ASSERT_TRUE(Accepted(Write(arm, 38, Pattern(4408, 5, 1))));
  ASSERT_TRUE(Accepted(Bare(arm, 37)));
  const ReadResult r = Read(arm, 39);
  ASSERT_TRUE(Accepted(r.verdict));
  EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + 4408), Bytes(4408, 0));
}

TEST_F(SimTest, FactoryRestoreResetsSettingsButKeepsIdentity) {
  const SimulatedArm fresh(ManualOptions(clock));
  const int blocks[][2] = {{0, 1}, {40, 41}, {38, 39}, {5000, 5001}, {504, 505}};
  for (const auto& b : blocks) {
    const std::size_t size = fresh.StoredBlock(b[1]).size();
    ASSERT_TRUE(Accepted(Write(arm, b[0], Pattern(size, 11, 5)))) << b[0];
    ASSERT_NE(arm.StoredBlock(b[1]), fresh.StoredBlock(b[1])) << b[1];
  }
  ASSERT_TRUE(Accepted(Write(arm, 500, Pattern(48))));
  Bytes serial = Pattern(20, 1, 'A');
  ASSERT_TRUE(Accepted(Write(arm, 61, serial)));

  ASSERT_TRUE(Accepted(Bare(arm, 45)));
  for (const auto& b : blocks) {
    const ReadResult r = Read(arm, b[1]);
    const Bytes expected = fresh.StoredBlock(b[1]);
    ASSERT_GE(r.payload.size(), expected.size());
    EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + static_cast<long>(expected.size())),
              expected)
        << "block of command " << b[1];
  }
  EXPECT_EQ(arm.ForceSetting(500), fresh.ForceSetting(500));
  const auto kept = arm.Snapshot().serial;
  EXPECT_EQ(Bytes(kept.begin(), kept.end()), serial);
}

TEST_F(SimTest, DefaultClientConfigurationHoldsTheHomePosition) {
  const Bytes config = arm.StoredBlock(1);
  ASSERT_EQ(config.size(), 3040u);
  EXPECT_EQ(I32At(config, 140), 1);                     // one stored position
  EXPECT_EQ(I32At(config, 144), 2);                     // of Type 2
  EXPECT_FLOAT_EQ(F32At(config, 144 + 64 + 4), 20.0f);  // joint 2 of home
  EXPECT_DOUBLE_EQ(F64At(config, 144 + 56), 6.0);       // the stored-position filler
  EXPECT_EQ(Bytes(config.begin() + 2248, config.end()), Bytes(792, 0));
}

TEST_F(SimTest, IdentityWritesAreKept) {
  const Bytes serial = Pattern(20, 3, 'a');
  const Bytes model = Pattern(20, 1, 'M');
  ASSERT_TRUE(Accepted(Write(arm, 61, serial)));
  ASSERT_TRUE(Accepted(Write(arm, 65, model)));
  ASSERT_TRUE(Accepted(Write(arm, 64, {0xFF, 0xFF, 0xFF, 0xFF})));
  const auto s = arm.Snapshot().serial;
  const auto m = arm.Snapshot().model;
  EXPECT_EQ(Bytes(s.begin(), s.end()), serial);
  EXPECT_EQ(Bytes(m.begin(), m.end()), model);
  EXPECT_EQ(arm.Snapshot().frameType, -1);
  // The frame type is reported in the general information.
  EXPECT_EQ(U32At(Read(arm, 200).payload, 20), 0xFFFFFFFFu);
}

class UnknownCommands : public SimTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnknownCommands, GetANegativeVerdict) {
  for (const Packet& p : {ReadRequest(GetParam()), BareRequest(GetParam())}) {
    const auto answer = arm.Handle(p);
    ASSERT_TRUE(answer);
    EXPECT_LT(answer->CommandId, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, UnknownCommands,
                         ::testing::Values(2, 11, 15, 99, 102, 119, 201, 306, 309, 312, 404, 499,
                                           506, 4999, 5002, 16384, 32767, -1, -32768));

struct SizeCase {
  int command;
  int size;
};

class WrongWriteSizes : public SimTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(WrongWriteSizes, GetTheErrorBitAndChangeNothing) {
  const auto [command, size] = GetParam();
  const long queued = arm.Snapshot().queueSize;
  const Bytes config = arm.StoredBlock(1);
  const auto packets = WriteMessage(command, Pattern(static_cast<std::size_t>(size), 13, 1));
  const auto answer = arm.Handle(packets.front());
  ASSERT_TRUE(answer);
  EXPECT_TRUE(ErrorBit(answer->CommandId)) << "verdict " << answer->CommandId;
  // The rest of the message is refused too: it has no valid start.
  if (packets.size() > 1) {
    EXPECT_TRUE(ErrorBit(arm.Handle(packets[1])->CommandId));
  }
  EXPECT_EQ(arm.Snapshot().queueSize, queued);
  EXPECT_EQ(arm.StoredBlock(1), config);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WrongWriteSizes,
                         ::testing::Values(SizeCase{0, 3039}, SizeCase{0, 3041}, SizeCase{0, 2248},
                                           SizeCase{38, 4407}, SizeCase{40, 14815},
                                           SizeCase{300, 48}, SizeCase{308, 148}, SizeCase{308, 47},
                                           SizeCase{305, 55}, SizeCase{61, 19}, SizeCase{65, 21},
                                           SizeCase{64, 8}, SizeCase{5000, 52}, SizeCase{504, 20},
                                           SizeCase{14, 8}, SizeCase{52, 4}, SizeCase{500, 24},
                                           SizeCase{12, 100}));

TEST_F(SimTest, BareCommandWithDataSizeIsRefused) {
  Packet p = BareRequest(301);
  p.PayloadSize = 1;
  EXPECT_TRUE(ErrorBit(arm.Handle(p)->CommandId));
  Packet q = BareRequest(45);
  q.PacketCount = 2;
  EXPECT_TRUE(ErrorBit(arm.Handle(q)->CommandId));
}

// Messages whose packets do not follow one another.
enum class Break { kSkipPacket, kStartsLate, kRepeatPacket, kOtherCommandBetween, kCountChanges };

class BrokenMessages : public SimTest, public ::testing::WithParamInterface<Break> {};

TEST_P(BrokenMessages, AreRefusedAndNeverApplied) {
  const Bytes before = arm.StoredBlock(39);
  auto packets = WriteMessage(38, Pattern(4408, 9, 2));
  std::vector<Packet> sent;
  switch (GetParam()) {
    case Break::kSkipPacket:
      packets.erase(packets.begin() + 5);
      break;
    case Break::kStartsLate:
      packets.erase(packets.begin());
      break;
    case Break::kRepeatPacket:
      packets.insert(packets.begin() + 3, packets[2]);
      break;
    case Break::kOtherCommandBetween:
      packets.insert(packets.begin() + 3, ReadRequest(105));
      break;
    case Break::kCountChanges:
      packets[4].PacketCount = 80;
      break;
  }
  bool refused = false;
  for (const Packet& p : packets) {
    const auto answer = arm.Handle(p);
    ASSERT_TRUE(answer);
    if (p.CommandId == 38 && ErrorBit(answer->CommandId)) refused = true;
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(arm.StoredBlock(39), before);
}

INSTANTIATE_TEST_SUITE_P(Breaks, BrokenMessages,
                         ::testing::Values(Break::kSkipPacket, Break::kStartsLate,
                                           Break::kRepeatPacket, Break::kOtherCommandBetween,
                                           Break::kCountChanges));

TEST_F(SimTest, ReadAnswersCarryIndexCountAndSize) {
  Packet request = ReadRequest(200);
  for (short index = 1; index <= 15; ++index) {
    request.PacketIndex = index;
    const auto a = arm.Handle(request);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->PacketIndex, index);
    EXPECT_EQ(a->PacketCount, 15);
    EXPECT_EQ(a->PayloadSize, 832);
    EXPECT_TRUE(Accepted(a->CommandId));
  }
  for (short index : {short{0}, short{16}, short{-1}, short{32767}}) {
    request.PacketIndex = index;
    EXPECT_TRUE(ErrorBit(arm.Handle(request)->CommandId)) << index;
  }
}

TEST_F(SimTest, MultiPacketAnswerIsOneSnapshotWhileTheArmMoves) {
  const float joints[6] = {90, 20, 100, 0, 60, 0};
  const float fingers[3] = {0, 0, 0};
  ASSERT_TRUE(Accepted(Write(arm, 308, BasicPoint(2, joints, fingers))));
  Advance(0.5);
  Packet request = ReadRequest(200);
  const auto atFirstPacket = arm.Snapshot().joints;
  Bytes payload;
  for (short index = 1; index <= 15; ++index) {
    request.PacketIndex = index;
    const auto a = arm.Handle(request);
    ASSERT_TRUE(a);
    payload.insert(payload.end(), a->Data, a->Data + 56);
    Advance(0.1);
  }
  ASSERT_NE(arm.Snapshot().joints[0], atFirstPacket[0]);  // the arm did move meanwhile
  // Position1 (the actual position) at 152: actuators at +64.
  for (int i = 0; i < 6; ++i) {
    EXPECT_FLOAT_EQ(F32At(payload, 152 + 64 + 4 * static_cast<std::size_t>(i)), atFirstPacket[i]);
  }
}

TEST_F(SimTest, ErrorLogCountsReadsByIndexAndClears) {
  const ReadResult count = Read(arm, 23);
  ASSERT_TRUE(Accepted(count.verdict));
  ASSERT_EQ(U32At(count.payload, 0), 3u);
  const std::uint32_t codes[] = {0x0102, 0x0201, 0x0305};
  for (std::uint32_t i = 0; i < 3; ++i) {
    const ReadResult entry = Read(arm, 21, i);
    ASSERT_TRUE(Accepted(entry.verdict));
    EXPECT_EQ(entry.announced, 235);
    EXPECT_EQ(entry.exchanges, 5);
    EXPECT_EQ(U32At(entry.payload, 0), codes[i]);
    EXPECT_EQ(U32At(entry.payload, 35), i + 1);  // first data word
  }
  const Bytes stall = Read(arm, 21, 2).payload;  // flags are bytes 20..26
  EXPECT_EQ(Bytes(stall.begin() + 20, stall.begin() + 27), (Bytes{1, 1, 0, 0, 0, 0, 0}));
  // An entry added from code is answered as it was given, in the record's form.
  SystemError added{};
  added.UIntValue1 = 0x0abc;
  added.Flags[6] = true;
  added.IntValue5 = -7;
  added.UIntArray[49] = 0xdeadbeef;
  arm.AddError(added);
  const Bytes last = Read(arm, 21, 3).payload;
  EXPECT_EQ(U32At(last, 0), 0x0abcu);
  EXPECT_EQ(Bytes(last.begin() + 20, last.begin() + 27), (Bytes{0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(I32At(last, 31), -7);
  EXPECT_EQ(U32At(last, 231), 0xdeadbeefu);
  EXPECT_TRUE(ErrorBit(Read(arm, 21, 4).verdict));
  EXPECT_TRUE(ErrorBit(Read(arm, 21, 0xFFFFFFFFu).verdict));
  ASSERT_TRUE(Accepted(Bare(arm, 25)));
  EXPECT_EQ(U32At(Read(arm, 23).payload, 0), 0u);
  EXPECT_TRUE(ErrorBit(Read(arm, 21, 0).verdict));
}

class Hands : public ::testing::TestWithParam<HandType> {
 protected:
  tarsel::sim::ManualClock clock;
};

TEST_P(Hands, QuickStatusLayout) {
  tarsel::sim::Options o;
  o.clock = clock.Source();
  o.hand = GetParam();
  SimulatedArm arm(o);
  ASSERT_TRUE(Accepted(Bare(arm, 302)));
  ASSERT_TRUE(Accepted(Bare(arm, 59)));
  const ReadResult r = Read(arm, 62);
  ASSERT_TRUE(Accepted(r.verdict));
  EXPECT_EQ(r.announced, 15);
  const Bytes& q = r.payload;
  EXPECT_EQ(q[0] | q[1] | q[2], 0);  // fingers not initialised yet
  EXPECT_EQ(q[3], 0);                // unused
  EXPECT_EQ(q[4], 1);                // API control
  EXPECT_EQ(q[5], 0);                // force control
  EXPECT_EQ(q[6], 1);                // current limitation
  EXPECT_EQ(q[10], 3);               // error log entries
  EXPECT_EQ(q[12], GetParam() == HandType::kThreeFingers ? 0 : 2);
}

TEST_P(Hands, GripperStatusDescribesTheFingersPresent) {
  tarsel::sim::Options o;
  o.clock = clock.Source();
  o.hand = GetParam();
  SimulatedArm arm(o);
  const ReadResult r = Read(arm, 103);
  ASSERT_EQ(r.announced, 416);
  const int fingers = GetParam() == HandType::kThreeFingers ? 3 : 2;
  for (int f = 0; f < 3; ++f) {
    const std::size_t block = 20 + 132 * static_cast<std::size_t>(f);
    const std::string text(reinterpret_cast<const char*>(&r.payload[block]));
    if (f < fingers) {
      EXPECT_EQ(text, "Finger " + std::to_string(f + 1));
      EXPECT_FLOAT_EQ(F32At(r.payload, block + 36), 6800.0f);  // travel
      EXPECT_EQ(U32At(r.payload, block + 116), 0x30u + static_cast<unsigned>(f));
    } else {
      EXPECT_EQ(text, "absent");
      EXPECT_EQ(U32At(r.payload, block + 116), 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Both, Hands,
                         ::testing::Values(HandType::kThreeFingers, HandType::kTwoFingers));

TEST_F(SimTest, StatusBlocksPlaceTheirFieldsAtTheirOffsets) {
  const Bytes info = Read(arm, 200).payload;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(U32At(info, 104 + 4 * static_cast<std::size_t>(i)), 16u + static_cast<unsigned>(i));
  }
  EXPECT_EQ(I32At(info, 360), 2);                      // Position3: home, Type 2
  EXPECT_FLOAT_EQ(F32At(info, 360 + 64 + 8), 100.0f);  // its joint 3
  EXPECT_FLOAT_EQ(F32At(info, 464 + 64 + 8), 140.0f);  // Position4: power-on joint 3
  EXPECT_EQ(I32At(info, 812), 3);                      // error log entries
  EXPECT_DOUBLE_EQ(F64At(info, 824), 1.0);             // time scale

  const Bytes versions = Read(arm, 36).payload;
  EXPECT_EQ(versions[2], 6);
  EXPECT_EQ(versions[1], 1);
  EXPECT_EQ(versions[0], 2);
  EXPECT_EQ(versions[40], 3);

  const Bytes inventory = Read(arm, 403).payload;
  EXPECT_EQ(U32At(inventory, 0), 1u);  // the controller
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(U32At(inventory, 20 * (1 + static_cast<std::size_t>(i)) + 4),
              16u + static_cast<unsigned>(i));
  }
  EXPECT_EQ(U32At(inventory, 20 * 10), 0u);  // nothing after the three fingers

  const Bytes queue = Read(arm, 304).payload;
  EXPECT_EQ(I32At(queue, 0), 0);
  EXPECT_EQ(I32At(queue, 8), 128);  // free slots
}

struct FaultCase {
  const char* name;
  tarsel::sim::Fault fault;
  int command;                // read to run
  std::vector<int> expected;  // per exchange: 0 answered, 1 silent, 2 error bit, 3 negative
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class Faults : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, ApplyToMatchingRequests) {
  const FaultCase& c = GetParam();
  arm.AddFault(c.fault);
  Packet request = ReadRequest(c.command);
  for (std::size_t k = 0; k < c.expected.size(); ++k) {
    // Packet index k % 2 + 1 of the read: alternate between packets 1 and 2.
    request.PacketIndex = static_cast<short>(k % 2 + 1);
    const auto a = arm.Handle(request);
    int got = 0;
    if (!a) {
      got = 1;
    } else if (a->CommandId < 0) {
      got = 3;
    } else if (a->CommandId & 0x4000) {
      got = 2;
    }
    EXPECT_EQ(got, c.expected[k]) << "exchange " << k;
  }
}

using tarsel::sim::Fault;
using tarsel::sim::FaultKind;

INSTANTIATE_TEST_SUITE_P(
    Table, Faults,
    ::testing::Values(
        FaultCase{
            "silent_always", Fault{FaultKind::kNoAnswer, 200, Fault::kAny, -1}, 200, {1, 1, 1, 1}},
        FaultCase{
            "silent_twice", Fault{FaultKind::kNoAnswer, 200, Fault::kAny, 2}, 200, {1, 1, 0, 0}},
        FaultCase{"error_on_packet_2", Fault{FaultKind::kErrorBit, 200, 2, -1}, 200, {0, 2, 0, 2}},
        FaultCase{"negative_once",
                  Fault{FaultKind::kNegativeVerdict, Fault::kAny, 1, 1},
                  200,
                  {3, 0, 0, 0}},
        FaultCase{
            "other_command", Fault{FaultKind::kErrorBit, 105, Fault::kAny, -1}, 200, {0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(SimTest, FaultedRequestsHaveNoEffect) {
  arm.AddFault({FaultKind::kNoAnswer, 302, Fault::kAny, 1});
  EXPECT_FALSE(arm.Handle(BareRequest(302)));
  EXPECT_FALSE(arm.Snapshot().apiControl);
  arm.AddFault({FaultKind::kErrorBit, 38, 3, 1});
  EXPECT_TRUE(ErrorBit(Write(arm, 38, Pattern(4408, 1, 1))));
  EXPECT_EQ(arm.StoredBlock(39), Bytes(4408, 0));
  EXPECT_TRUE(Accepted(Write(arm, 38, Pattern(4408, 1, 1))));  // the fault is used up
}

TEST_F(SimTest, UnpluggedArmAnswersNothingMore) {
  arm.UnplugAfter(3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(arm.Handle(ReadRequest(105))) << i;
  EXPECT_TRUE(arm.Snapshot().unplugged);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(arm.Handle(ReadRequest(105)));
  EXPECT_FALSE(arm.Handle(BareRequest(302)));
  EXPECT_FALSE(arm.Snapshot().apiControl);
  arm.UnplugAfter(-1);
  EXPECT_TRUE(arm.Handle(ReadRequest(105)));
}

// The host's page framing of a firmware image.
std::vector<Packet> ImagePages(const Bytes& image) {
  std::vector<Packet> packets;
  for (std::size_t page = 0; page <= image.size(); page += 2048) {
    for (int i = 1; i <= 40; ++i) {
      Packet p = Blank();
      p.PacketIndex = static_cast<short>(i);
      p.PacketCount = 40;
      p.CommandId = 12;
      p.PayloadSize = 2048;
      for (int b = 0; b < 4; ++b) p.Data[b] = static_cast<unsigned char>(page >> (8 * b));
      for (int b = 0; b < 52; ++b) {
        const std::size_t at = page + static_cast<std::size_t>((i - 1) * 52 + b);
        p.Data[4 + b] = at < image.size() ? image[at] : 0;
      }
      packets.push_back(p);
    }
  }
  return packets;
}

TEST(Crc32, MatchesTheStandardCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(tarsel::sim::Crc32(reinterpret_cast<const unsigned char*>(text), 9), 0xCBF43926u);
  EXPECT_EQ(tarsel::sim::Crc32(nullptr, 0), 0u);
}

class FirmwareImages : public SimTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FirmwareImages, AreReassembledPageByPage) {
  const Bytes image = Pattern(GetParam(), 31, 7);
  ASSERT_TRUE(Accepted(Bare(arm, 13)));
  EXPECT_TRUE(arm.Snapshot().firmwareSession);
  for (const Packet& p : ImagePages(image)) {
    const auto a = arm.Handle(p);
    ASSERT_TRUE(a && Accepted(a->CommandId))
        << "page at " << p.Data[1] * 256 << " packet " << p.PacketIndex;
  }
  EXPECT_EQ(arm.Snapshot().firmwarePages, static_cast<int>(image.size() / 2048 + 1));
  EXPECT_EQ(arm.FirmwareChecksum(image.size()), tarsel::sim::Crc32(image.data(), image.size()));
  const Bytes received = arm.FirmwareImage();
  ASSERT_EQ(received.size(), (image.size() / 2048 + 1) * 2048);
  EXPECT_EQ(Bytes(received.begin(), received.begin() + static_cast<long>(image.size())), image);
  EXPECT_EQ(Bytes(received.begin() + static_cast<long>(image.size()), received.end()),
            Bytes(received.size() - image.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FirmwareImages,
                         ::testing::Values(0, 1, 100, 2047, 2048, 2049, 5000, 3 * 2048 + 52));

TEST_F(SimTest, FirmwarePagesNeedTheOpeningCommandAndTheirOwnFraming) {
  const auto pages = ImagePages(Pattern(100));
  EXPECT_TRUE(ErrorBit(arm.Handle(pages[0])->CommandId));  // no command 13 yet
  ASSERT_TRUE(Accepted(Bare(arm, 13)));
  Packet misaligned = pages[0];
  misaligned.Data[0] = 1;  // offset 1
  EXPECT_TRUE(ErrorBit(arm.Handle(misaligned)->CommandId));
  ASSERT_TRUE(Accepted(arm.Handle(pages[0])->CommandId));
  EXPECT_TRUE(ErrorBit(arm.Handle(pages[2])->CommandId));  // packet 2 skipped
  Packet otherOffset = pages[1];
  otherOffset.Data[1] = 8;  // offset 2048 inside the page at 0
  ASSERT_TRUE(Accepted(arm.Handle(pages[0])->CommandId));
  EXPECT_TRUE(ErrorBit(arm.Handle(otherOffset)->CommandId));
  EXPECT_EQ(arm.Snapshot().firmwarePages, 0);
  // A second opening command starts over with an empty image.
  EXPECT_TRUE(Accepted(Send(arm, ImagePages(Pattern(10)))));
  EXPECT_EQ(arm.Snapshot().firmwarePages, 1);
  ASSERT_TRUE(Accepted(Bare(arm, 13)));
  EXPECT_EQ(arm.Snapshot().firmwarePages, 0);
  EXPECT_TRUE(arm.FirmwareImage().empty());
}

// The flash takes a page at any offset the library sends: the page that ends
// an 8 MiB image, and the last page of the largest image the library reads
// (4 GiB - 1 bytes).
class FlashOffsets : public SimTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(FlashOffsets, TakeThePage) {
  std::vector<Packet> page(ImagePages(Pattern(2047, 5, 1)));  // one page
  for (Packet& p : page) {
    for (int b = 0; b < 4; ++b) p.Data[b] = static_cast<unsigned char>(GetParam() >> (8 * b));
  }
  ASSERT_TRUE(Accepted(Bare(arm, 13)));
  EXPECT_TRUE(Accepted(Send(arm, page)));
  EXPECT_EQ(arm.Snapshot().firmwarePages, 1);
  // The flash before the page reads as zeros.
  const Bytes zeros(2048, 0);
  EXPECT_EQ(arm.FirmwareChecksum(2048), tarsel::sim::Crc32(zeros.data(), zeros.size()));
}

INSTANTIATE_TEST_SUITE_P(Pages, FlashOffsets, ::testing::Values(8u << 20, 0xFFFFF800u));

// Malformed requests: headers the host never sends, for every command.
TEST_F(SimTest, MalformedRequestsAreAnsweredAndNeverCrash) {
  int count = 0;
  const tarsel::sim::CommandInfo* table = tarsel::sim::CommandTable(count);
  const short odd[] = {-32768, -1, 0, 1, 2, 40, 41, 32767};
  std::mt19937 random(12345);
  for (int c = 0; c < count; ++c) {
    for (short index : odd) {
      for (short packets : odd) {
        for (short size : {short{-32768}, short{-1}, short{0}, short{1}, short{56},
                           static_cast<short>(table[c].size), short{32767}}) {
          Packet p = Blank();
          p.CommandId = static_cast<short>(table[c].id);
          p.PacketIndex = index;
          p.PacketCount = packets;
          p.PayloadSize = size;
          for (auto& b : p.Data) b = static_cast<unsigned char>(random());
          const auto a = arm.Handle(p);
          ASSERT_TRUE(a);
          ASSERT_EQ(a->PacketIndex, index);
        }
      }
    }
  }
  for (int i = 0; i < 20000; ++i) {
    unsigned char wire[64];
    for (auto& b : wire) b = static_cast<unsigned char>(random());
    // Mostly known command numbers, so the garbage reaches the handlers.
    if (i % 4 != 0) {
      const int id = table[random() % static_cast<unsigned>(count)].id;
      wire[4] = static_cast<unsigned char>(id);
      wire[5] = static_cast<unsigned char>(id >> 8);
    }
    if (i % 3 == 0) wire[0] = 1, wire[1] = 0;  // a first packet
    Advance(0.01);
    ASSERT_TRUE(arm.Handle(tarsel::DecodePacket(wire)));
  }
  // Well-framed messages full of garbage reach every write handler.
  ASSERT_TRUE(Accepted(Bare(arm, 13)));
  for (int c = 0; c < count; ++c) {
    if (table[c].shape != tarsel::sim::Shape::kWrite &&
        table[c].shape != tarsel::sim::Shape::kPage) {
      continue;
    }
    for (int i = 0; i < 300; ++i) {
      Bytes payload(static_cast<std::size_t>(table[c].size));
      for (auto& b : payload) b = static_cast<unsigned char>(random());
      const std::uint32_t types[] = {1, 2, 7, 8};
      if (table[c].id == 300 && i % 2 == 0) PutU32(payload, 0, types[random() % 4]);
      if (table[c].id == 308 && i % 2 == 0) PutU32(payload, 44, types[random() % 4]);
      std::vector<Packet> packets = WriteMessage(table[c].id, payload);
      if (table[c].shape == tarsel::sim::Shape::kPage) {
        packets = ImagePages(Bytes(payload.begin(), payload.begin() + 2000));
        if (i % 2 == 0) packets[0].Data[2] = static_cast<unsigned char>(random());
      }
      Advance(0.05);
      for (const Packet& p : packets) ASSERT_TRUE(arm.Handle(p));
      for (int id : {105, 104, 200, 307, 310}) ASSERT_TRUE(Accepted(Read(arm, id).verdict));
    }
  }
  // Still a working arm afterwards.
  arm.PowerCycle();
  ASSERT_TRUE(Accepted(Bare(arm, 301)));
  EXPECT_TRUE(Accepted(Read(arm, 105).verdict));
  for (float j : arm.Snapshot().joints) EXPECT_TRUE(std::isfinite(j));
}

}  // namespace
}  // namespace simtest
