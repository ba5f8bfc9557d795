#include <gtest/gtest.h>

#include <array>

#include "status/status_codec.h"
#include "status_test_util.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bits;
using tarsel::testing::Bytes;
using tarsel::testing::LeAt;
using tarsel::testing::LinkTest;
using tarsel::testing::Pattern;
using tarsel::testing::PutU32;
using tarsel::testing::RandomBytes;
using Kind = Step::Kind;

std::array<unsigned char, 14> RecordBytes(const QuickStatus& s) {
  std::array<unsigned char, 14> out;
  std::memcpy(out.data(), &s, 14);
  return out;
}

QuickStatus DecodeQuick(const Bytes& payload, int& offset) {
  QuickStatus s;
  std::memset(&s, 0xA5, sizeof s);
  EXPECT_EQ(DeserializeQuickStatus(offset, payload, s), 1);
  return s;
}

TEST(QuickStatusForm, RecordBytesSkipPayloadByteThree) {
  const Bytes wire = Pattern(56, 1, 100);
  for (int start : {0, 20, -4}) {  // the offset is neither used nor moved
    int offset = start;
    const auto rec = RecordBytes(DecodeQuick(wire, offset));
    EXPECT_EQ(offset, start);
    for (int k = 0; k < 14; ++k) EXPECT_EQ(rec[k], wire[k < 3 ? k : k + 1]) << "record byte " << k;
  }
}

TEST(QuickStatusForm, NamedBytes) {
  Bytes wire(56, 0);
  wire[0] = 1;
  wire[2] = 3;
  wire[11] = 0x77;
  wire[12] = 2;
  wire[14] = 0x99;
  wire[15] = 0xEE;  // past the form: ignored
  int offset = 0;
  const QuickStatus s = DecodeQuick(wire, offset);
  EXPECT_EQ(s.Finger1Initialized, 1);
  EXPECT_EQ(s.Finger2Initialized, 0);
  EXPECT_EQ(s.Finger3Initialized, 3);
  EXPECT_EQ(s.StatusByte10, 0x77);
  EXPECT_EQ(s.HandType, 2);
  EXPECT_EQ(s.StatusByte13, 0x99);
}

TEST(QuickStatusForm, ByteThreeHasNoEffectAndShortPayloadsReadZero) {
  Bytes a = RandomBytes(56, 3);
  Bytes b = a;
  b[3] = static_cast<unsigned char>(~a[3]);
  int oa = 0, ob = 0;
  EXPECT_EQ(RecordBytes(DecodeQuick(a, oa)), RecordBytes(DecodeQuick(b, ob)));

  const Bytes shortWire = {9, 8, 7, 6, 5};
  int offset = 0;
  const auto rec = RecordBytes(DecodeQuick(shortWire, offset));
  const std::array<unsigned char, 14> expected = {9, 8, 7, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(rec, expected);
}

TEST(ForcesForm, BitPatternsPassUnchanged) {
  Bytes wire = RandomBytes(56, 4);
  // Signalling and quiet NaNs with payloads, negative zero, a denormal.
  const std::uint32_t patterns[] = {0x7F800001u, 0xFFC00001u, 0x7FBFFFFFu,
                                    0x80000000u, 0x00000001u, 0xFF800000u};
  for (std::size_t i = 0; i < std::size(patterns); ++i) PutU32(wire, 4 * i, patterns[i]);
  ForcesInfo f;
  int offset = 0;
  EXPECT_EQ(DeserializeForcesInfo(offset, wire, f), 1);
  EXPECT_EQ(offset, 48);
  std::uint32_t words[12];
  std::memcpy(words, &f, sizeof words);
  for (int n = 0; n < 12; ++n) EXPECT_EQ(words[n], LeAt(wire, 4 * n, 4)) << "Force" << n + 1;
}

TEST(SensorsForm, FourteenFloats) {
  const Bytes wire = RandomBytes(56, 5);
  SensorsInfo s;
  int offset = 0;
  EXPECT_EQ(DeserializeSensorsInfo(offset, wire, s), 1);
  EXPECT_EQ(offset, 56);
  EXPECT_EQ(Bits(s.Sensor1), LeAt(wire, 0, 4));
  EXPECT_EQ(Bits(s.Sensor14), LeAt(wire, 52, 4));
}

class SnapshotReads : public LinkTest {};

TEST_F(SnapshotReads, EachExportReadsItsCommandInOnePacket) {
  struct Case {
    int command;
    std::function<int(const Bytes&)> read;  // runs the export, checks the record
  };
  const std::vector<Case> cases = {
      {62,
       [](const Bytes& wire) {
         QuickStatus s;
         const int code = GetQuickStatus(s);
         EXPECT_EQ(s.HandType, wire[12]);
         EXPECT_EQ(s.StatusByte3, wire[4]);
         return code;
       }},
      {115,
       [](const Bytes& wire) {
         ForcesInfo f;
         const int code = GetForcesInfo(f);
         EXPECT_EQ(Bits(f.Force12), LeAt(wire, 44, 4));
         return code;
       }},
      {111,
       [](const Bytes& wire) {
         SensorsInfo s;
         const int code = GetSensorsInfo(s);
         EXPECT_EQ(Bits(s.Sensor14), LeAt(wire, 52, 4));
         return code;
       }},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    const Bytes wire = RandomBytes(56, static_cast<unsigned>(c.command));
    tarsel::recording::ServeRead(c.command, wire);
    EXPECT_EQ(c.read(wire), TARSEL_OK) << c.command;
    ASSERT_EQ(Sent().size(), 1u);
    const Packet& p = Sent()[0];
    EXPECT_EQ(p.PacketIndex, 1);
    EXPECT_EQ(p.PacketCount, 1);
    EXPECT_EQ(p.CommandId, c.command);
    EXPECT_EQ(p.PayloadSize, 1);
    EXPECT_EQ(p.Data[0], 1);
    for (int i = 1; i < 56; ++i) EXPECT_EQ(p.Data[i], 0) << c.command;
  }
}

TEST_F(SnapshotReads, FailedReadsReturnTheirCodeWithZeroedRecords) {
  tarsel::recording::ServeRead(62, Bytes(56, 0xFF));
  tarsel::recording::Script({Step{Kind::kVerdict, -1}});
  QuickStatus s;
  std::memset(&s, 0xA5, sizeof s);
  EXPECT_EQ(GetQuickStatus(s), TARSEL_ERROR_FIRST_PACKET);
  EXPECT_EQ(RecordBytes(s), (std::array<unsigned char, 14>{}));

  CloseAPI();
  ForcesInfo f;
  EXPECT_EQ(GetForcesInfo(f), TARSEL_ERROR_NOT_INITIALIZED);
  SensorsInfo se;
  EXPECT_EQ(GetSensorsInfo(se), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(Sent().size(), 1u);  // only the refused status read reached the link
}

}  // namespace
