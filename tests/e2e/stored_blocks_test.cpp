// Every block the arm stores survives a write and a read back through the
// whole stack: API codecs, framing, the link and the simulated arm.
#include <cstring>
#include <vector>

#include "sim_session.h"

namespace {

using tarsel::e2e::SimSession;

// Fills a record's bytes with a pattern, so every field is distinct and a
// field that travels to the wrong place shows.
template <typename T>
void Scribble(T& record, unsigned seed) {
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    // Keep every float finite: no byte of 0x7F/0xFF in exponent position.
    bytes[i] = static_cast<unsigned char>((i * 37u + seed) % 0x7Fu);
  }
}

class StoredBlocks : public SimSession {};

TEST_F(StoredBlocks, ClientConfigurationRoundTrip) {
  for (int count : {0, 3, 20, 25}) {
    ClientConfigurations sent;
    Scribble(sent, 5u + static_cast<unsigned>(count));
    sent.StoredPositionCount = count;
    ASSERT_EQ(SetClientConfigurations(sent), TARSEL_OK);

    ClientConfigurations back;
    std::memset(&back, 0x5A, sizeof back);
    ASSERT_EQ(GetClientConfigurations(&back), TARSEL_OK);

    // What the arm does not carry stays as the caller had it: the reserved
    // tail and the stored-position slots beyond the count.
    ClientConfigurations expected = sent;
    std::memset(expected.Reserved, 0x5A, sizeof expected.Reserved);
    for (int k = count < 0 ? 0 : (count > 20 ? 20 : count); k < 20; ++k) {
      std::memset(&expected.StoredPositions[k], 0x5A, sizeof expected.StoredPositions[k]);
    }
    EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0) << "count " << count;
  }
}

TEST_F(StoredBlocks, ControlMappingRoundTrip) {
  static ControlMappingCharts sent, back;
  Scribble(sent, 11);
  ASSERT_EQ(SetControlMapping(sent), TARSEL_OK);
  std::memset(&back, 0x5A, sizeof back);
  ASSERT_EQ(GetControlMapping(&back), TARSEL_OK);

  EXPECT_EQ(back.ChartsValue1, 0x5A5A5A5A);  // written, never read back
  EXPECT_EQ(back.ChartsValue2, sent.ChartsValue2);
  for (int m = 0; m < 6; ++m) {
    const ControlMapping& s = sent.Mappings[m];
    const ControlMapping& b = back.Mappings[m];
    EXPECT_EQ(b.MappingValue1, s.MappingValue1);
    EXPECT_EQ(b.MappingValue5, s.MappingValue5);
    for (int e = 0; e < 12; ++e) {
      const ControlMappingEntry& se = e < 6 ? s.FirstEntries[e] : s.SecondEntries[e - 6];
      const ControlMappingEntry& be = e < 6 ? b.FirstEntries[e] : b.SecondEntries[e - 6];
      EXPECT_EQ(be.EntryValue1, se.EntryValue1);
      EXPECT_EQ(be.EntryValue2, 0x5A5A5A5A);
      EXPECT_EQ(std::memcmp(be.BytePairs, se.BytePairs, sizeof se.BytePairs), 0);
      EXPECT_EQ(std::memcmp(be.ByteGroups, se.ByteGroups, sizeof se.ByteGroups), 0)
          << "mapping " << m << " entry " << e;
    }
  }
}

TEST_F(StoredBlocks, ProtectionZonesRoundTripAndErase) {
  ZoneList sent, back;
  Scribble(sent, 3);
  ASSERT_EQ(SetProtectionZone(sent), TARSEL_OK);
  std::memset(&back, 0x5A, sizeof back);
  ASSERT_EQ(GetProtectionZone(&back), TARSEL_OK);
  EXPECT_EQ(std::memcmp(&back, &sent, sizeof back), 0);

  ASSERT_EQ(EraseAllProtectionZones(), TARSEL_OK);
  ASSERT_EQ(GetProtectionZone(&back), TARSEL_OK);
  ZoneList zeros;
  std::memset(&zeros, 0, sizeof zeros);
  EXPECT_EQ(std::memcmp(&back, &zeros, sizeof back), 0);
}

TEST_F(StoredBlocks, DevValuesAndSpasmFilterRoundTrip) {
  std::vector<float> dev(14);
  for (int i = 0; i < 14; ++i) dev[static_cast<std::size_t>(i)] = 0.5f * static_cast<float>(i) - 3;
  ASSERT_EQ(SetDevValue(dev), TARSEL_OK);
  std::vector<float> devBack(14, -1.0f);
  ASSERT_EQ(GetDevValue(devBack), TARSEL_OK);
  EXPECT_EQ(devBack, dev);

  const std::vector<float> spasm = {1.5f, -2.25f, 3.0f, 4.125f};
  ASSERT_EQ(SetSpasmFilterValues(spasm, 7), TARSEL_OK);
  std::vector<float> spasmBack(4, 0.0f);
  int setting = 0;
  ASSERT_EQ(GetSpasmFilterValues(spasmBack, setting), TARSEL_OK);
  EXPECT_EQ(spasmBack, spasm);
  EXPECT_EQ(setting, 7);
}

TEST_F(StoredBlocks, IdentityReachesTheArm) {
  char serial[20] = "TS-000042";
  ASSERT_EQ(SetSerialNumber(serial), TARSEL_OK);
  EXPECT_EQ(std::memcmp(arm().Snapshot().serial.data(), serial, 20), 0);

  char model[20] = "Tarsel six-axis";
  char wrong[] = "M7Q4ZK";
  ASSERT_EQ(SetModel(model, wrong), TARSEL_ERROR_ARGUMENT);
  char code[] = "M7Q4ZK2";
  ASSERT_EQ(SetModel(model, code), TARSEL_OK);
  EXPECT_EQ(std::memcmp(arm().Snapshot().model.data(), model, 20), 0);

  ASSERT_EQ(SetFrameType(-1), TARSEL_OK);
  EXPECT_EQ(arm().Snapshot().frameType, -1);
}

}  // namespace
