// The simulated arm at the packet level: framing of reads and writes, stored
// blocks, refusals and the table of malformed requests.
#include <random>

#include "commands.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using tarsel::sim::HandType;

struct Block {
  int write;
  int read;
  int size;
};

class StoredBlocks : public SimTest, public ::testing::WithParamInterface<Block> {};

TEST_P(StoredBlocks, WrittenBytesReadBackUnchanged) {
  const Block b = GetParam();
  const Bytes written = Pattern(static_cast<std::size_t>(b.size), 7, 3);
  const auto packets = WriteMessage(b.write, written);
  for (const Packet& p : packets) {
    const auto answer = arm.Handle(p);
    ASSERT_TRUE(answer);
    ASSERT_TRUE(Accepted(answer->CommandId)) << "packet " << p.PacketIndex;
  }
  const ReadResult r = Read(arm, b.read);
  ASSERT_TRUE(Accepted(r.verdict));
  EXPECT_EQ(r.announced, b.size);
  EXPECT_EQ(r.exchanges, (b.size + 55) / 56);
  ASSERT_GE(r.payload.size(), written.size());
  EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + b.size), written);
  EXPECT_EQ(arm.StoredBlock(b.read), written);
}

INSTANTIATE_TEST_SUITE_P(Blocks, StoredBlocks,
                         ::testing::Values(Block{0, 1, 3040}, Block{40, 41, 14816},
                                           Block{38, 39, 4408}, Block{5000, 5001, 56},
                                           Block{504, 505, 56}));

TEST_F(SimTest, MultiPacketWriteTakesEffectOnlyWithItsLastPacket) {
  const Bytes before = arm.StoredBlock(1);
  const auto packets = WriteMessage(0, Pattern(3040, 3, 1));
  ASSERT_EQ(packets.size(), 55u);
  for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
    ASSERT_TRUE(Accepted(Send(arm, {packets[i]}))) << "packet " << i + 1;
  }
  EXPECT_EQ(arm.StoredBlock(1), before);
  EXPECT_TRUE(Accepted(Send(arm, {packets.back()})));
  EXPECT_EQ(arm.StoredBlock(1), Pattern(3040, 3, 1));
}

}  // namespace
}  // namespace simtest
