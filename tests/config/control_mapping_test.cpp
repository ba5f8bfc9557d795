#include <gtest/gtest.h>

#include "config/config_codec.h"
#include "config_test_util.h"

namespace {

using namespace tarsel::testing;

constexpr std::size_t kChartsSize = 14816;
constexpr std::size_t kEntryData = 202;  // an entry's bytes before its 2-byte tail

// Wire and record offsets of entry e of group second of mapping block m.
std::size_t EntryAt(std::size_t m, bool second, std::size_t e) {
  return 8 + 2468 * m + (second ? 1244 : 20) + 204 * e;
}
std::size_t EntryInRecord(std::size_t m, bool second, std::size_t e) {
  return offsetof(ControlMappingCharts, Mappings) + m * sizeof(ControlMapping) +
         (second ? offsetof(ControlMapping, SecondEntries)
                 : offsetof(ControlMapping, FirstEntries)) +
         e * sizeof(ControlMappingEntry);
}

template <typename Fn>
void ForEachEntry(Fn fn) {
  for (std::size_t m = 0; m < 6; ++m)
    for (bool second : {false, true})
      for (std::size_t e = 0; e < 6; ++e) fn(m, second, e);
}

class ControlMappingTest : public LinkTest {};

TEST_F(ControlMappingTest, SetSendsEveryFieldAndZeroEntryTails) {
  const auto charts = FromImage<ControlMappingCharts>(Pattern(kChartsSize, 7, 3));
  ASSERT_EQ(SetControlMapping(charts), TARSEL_OK);
  for (const Packet& p : Sent()) ASSERT_EQ(p.CommandId, 40);
  const Framing f = FramingOf(Sent());
  EXPECT_EQ(f.packets, 265u);
  EXPECT_EQ(f.lastCarries, 32);
  const Bytes wire = tarsel::recording::WrittenPayload();
  ASSERT_EQ(wire.size(), kChartsSize);

  const Bytes record = ImageOf(charts);
  EXPECT_TRUE(SameBytes(wire.data(), record.data(), 8));  // ChartsValue1 goes out too
  for (std::size_t m = 0; m < 6; ++m)
    EXPECT_TRUE(SameBytes(
        wire.data() + 8 + 2468 * m,
        record.data() + offsetof(ControlMappingCharts, Mappings) + m * sizeof(ControlMapping), 20));
  ForEachEntry([&](std::size_t m, bool second, std::size_t e) {
    const std::size_t at = EntryAt(m, second, e);
    EXPECT_TRUE(
        SameBytes(wire.data() + at, record.data() + EntryInRecord(m, second, e), kEntryData))
        << m << second << e;
    EXPECT_TRUE(AllZero(wire, at + kEntryData, at + 204)) << m << second << e;
  });
}

TEST_F(ControlMappingTest, NamedBytesLandAtTheirOffsets) {
  auto charts = Filled<ControlMappingCharts>(0);
  for (auto& mapping : charts.Mappings)
    for (auto* group : {mapping.FirstEntries, mapping.SecondEntries})
      for (int e = 0; e < 6; ++e) std::memcpy(&group[e].EntryValue2, "\x01\x02\x03\x04", 4);
  const unsigned char last[7] = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
  std::memcpy(charts.Mappings[5].SecondEntries[5].ByteGroups[25], last, 7);
  ASSERT_EQ(SetControlMapping(charts), TARSEL_OK);
  const Bytes wire = tarsel::recording::WrittenPayload();
  ASSERT_EQ(wire.size(), kChartsSize);
  ForEachEntry([&](std::size_t m, bool second, std::size_t e) {
    EXPECT_EQ(U32At(wire, EntryAt(m, second, e) + 4), 0x04030201u) << m << second << e;
  });
  EXPECT_EQ(Bytes(wire.begin() + 14807, wire.end()),
            (Bytes{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0, 0}));
}

TEST_F(ControlMappingTest, RoundTripKeepsAllButWhatTheReaderSkips) {
  const auto sent = FromImage<ControlMappingCharts>(Pattern(kChartsSize, 7, 3));
  ASSERT_EQ(SetControlMapping(sent), TARSEL_OK);
  const Bytes wire = tarsel::recording::WrittenPayload();
  tarsel::recording::Reset();
  tarsel::recording::ServeRead(41, wire);
  auto back = Filled<ControlMappingCharts>(0xCD);
  ASSERT_EQ(GetControlMapping(&back), TARSEL_OK);
  EXPECT_EQ(Sent().front().CommandId, 41);

  // ChartsValue1 and every EntryValue2 stay as they were; the entries'
  // memory padding is not compared.
  Bytes expected = ImageOf(sent), actual = ImageOf(back);
  std::memset(expected.data(), 0xCD, 4);
  ForEachEntry([&](std::size_t m, bool second, std::size_t e) {
    const std::size_t at = EntryInRecord(m, second, e);
    std::memset(expected.data() + at + 4, 0xCD, 4);
    for (Bytes* image : {&expected, &actual}) std::memset(image->data() + at + kEntryData, 0, 2);
  });
  EXPECT_EQ(actual, expected);
}

TEST(ControlMappingCodecs, MoveTheOffsetByTheirForms) {
  const Payload payload = Pattern(3 + kChartsSize, 3);
  ControlMapping mapping;
  int offset = 3;
  EXPECT_EQ(DeserializeControlMapping(offset, payload, mapping), 1);
  EXPECT_EQ(offset, 3 + 2468);
  ControlMappingCharts charts;
  offset = 3;
  EXPECT_EQ(DeserializeControlMappingCharts(offset, payload, charts), 1);
  EXPECT_EQ(offset, 3 + static_cast<int>(kChartsSize));

  Payload out{7, 7};
  offset = 100;  // appended at the end whatever the offset holds
  EXPECT_EQ(SerializeControlMapping(offset, out, mapping), 1);
  EXPECT_EQ(offset, 2568);
  EXPECT_EQ(out.size(), 2u + 2468u);
  EXPECT_EQ(U32At(out, 2), static_cast<unsigned>(mapping.MappingValue1));
}

TEST_F(ControlMappingTest, ShortAnswerReadsAsZeroBeyondItsEnd) {
  const Bytes answer = Pattern(100, 9, 2);
  tarsel::recording::ServeRead(41, answer);  // two packets: 112 bytes
  auto charts = Filled<ControlMappingCharts>(0xCD);
  ASSERT_EQ(GetControlMapping(&charts), TARSEL_OK);
  EXPECT_EQ(static_cast<unsigned>(charts.Mappings[0].FirstEntries[0].EntryValue1),
            U32At(answer, 28));
  // A run of bytes the answer's end cuts keeps the bytes that arrived.
  EXPECT_EQ(charts.Mappings[0].FirstEntries[0].ByteGroups[0][0], answer[48]);
  EXPECT_EQ(charts.Mappings[0].FirstEntries[0].ByteGroups[25][6], 0);
  EXPECT_EQ(charts.Mappings[5].SecondEntries[5].ByteGroups[25][6], 0);
}

}  // namespace
