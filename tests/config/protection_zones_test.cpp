#include <gtest/gtest.h>

#include "config/config_codec.h"
#include "config_test_util.h"

namespace {

using namespace tarsel::testing;

constexpr std::size_t kListSize = 4408;

std::size_t ZoneAt(std::size_t z) {
  return 8 + 440 * z;
}
std::size_t PointAt(std::size_t z, std::size_t p) {
  return ZoneAt(z) + 16 + 48 * p;
}

// Where each value of a point travels, relative to the point's entry (point 0
// of a zone: X, Y, Z at 24, 28, 32 and the rotations at 48, 52, 56 of the
// zone entry).
struct PointField {
  float CartesianInfo::*member;
  std::size_t at;
};
const PointField kPointFields[] = {
    {&CartesianInfo::X, 8},          {&CartesianInfo::Y, 12},
    {&CartesianInfo::Z, 16},         {&CartesianInfo::RotationX, 32},
    {&CartesianInfo::RotationY, 36}, {&CartesianInfo::RotationZ, 40}};
// The point entry's fillers: [from, to).
const std::pair<std::size_t, std::size_t> kPointFillers[] = {{0, 8}, {20, 32}, {44, 48}};

// Every value distinct; ListValue1 0 does not limit the zones carried.
ZoneList NumberedList() {
  ZoneList list;
  list.ListValue1 = 0;
  list.ListValue2 = -2;
  for (int z = 0; z < 10; ++z) {
    Zone& zone = list.Zones[z];
    const int base = z * 1000;
    zone.ZoneValue1 = base + 1;
    zone.ZoneValue2 = base + 2;
    zone.ZoneValue3 = base + 3;
    zone.ZoneValue4 = base + 4;
    for (int p = 0; p < 8; ++p)
      for (int i = 0; i < 6; ++i)
        zone.Points[p].*kPointFields[i].member = static_cast<float>(base + 10 * p + i + 100);
    for (int i = 0; i < 9; ++i) zone.Parameters[i] = static_cast<float>(base) + 0.5f * i;
    zone.ZoneValue5 = base + 5;
  }
  return list;
}

class ProtectionZonesTest : public LinkTest {};

TEST_F(ProtectionZonesTest, SetPlacesEveryValueAndZeroFillers) {
  const ZoneList list = NumberedList();
  ASSERT_EQ(SetProtectionZone(list), TARSEL_OK);
  for (const Packet& p : Sent()) ASSERT_EQ(p.CommandId, 38);
  const Framing f = FramingOf(Sent());
  EXPECT_EQ(f.packets, 79u);
  EXPECT_EQ(f.lastCarries, 40);
  const Bytes wire = tarsel::recording::WrittenPayload();
  ASSERT_EQ(wire.size(), kListSize);

  EXPECT_EQ(static_cast<int>(U32At(wire, 4)), -2);
  for (std::size_t z = 0; z < 10; ++z) {
    const Zone& zone = list.Zones[z];
    const std::size_t at = ZoneAt(z);
    EXPECT_EQ(static_cast<int>(U32At(wire, at)), zone.ZoneValue1);
    EXPECT_EQ(static_cast<int>(U32At(wire, at + 12)), zone.ZoneValue4);
    for (std::size_t p = 0; p < 8; ++p) {
      for (const auto& field : kPointFields)
        EXPECT_EQ(F32At(wire, PointAt(z, p) + field.at), zone.Points[p].*field.member)
            << z << " " << p << " " << field.at;
      for (const auto& [from, to] : kPointFillers)
        EXPECT_TRUE(AllZero(wire, PointAt(z, p) + from, PointAt(z, p) + to)) << z << " " << p;
    }
    EXPECT_EQ(F32At(wire, at + 400 + 32), zone.Parameters[8]);
    EXPECT_EQ(static_cast<int>(U32At(wire, at + 436)), zone.ZoneValue5);
  }
}

TEST_F(ProtectionZonesTest, AllZeroListIsStillTenZones) {
  ASSERT_EQ(SetProtectionZone(Filled<ZoneList>(0)), TARSEL_OK);
  EXPECT_EQ(tarsel::recording::WrittenPayload(), Bytes(kListSize, 0));
  EXPECT_EQ(Sent().size(), 79u);
}

TEST_F(ProtectionZonesTest, RoundTripIgnoresWhatTheFillersHold) {
  const ZoneList sent = NumberedList();
  ASSERT_EQ(SetProtectionZone(sent), TARSEL_OK);
  Bytes wire = tarsel::recording::WrittenPayload();
  for (std::size_t z = 0; z < 10; ++z)
    for (std::size_t p = 0; p < 8; ++p)
      for (const auto& [from, to] : kPointFillers)
        std::fill(wire.begin() + PointAt(z, p) + from, wire.begin() + PointAt(z, p) + to, 0xEE);
  tarsel::recording::Reset();
  tarsel::recording::ServeRead(39, wire);
  auto back = Filled<ZoneList>(0xCD);
  ASSERT_EQ(GetProtectionZone(&back), TARSEL_OK);
  EXPECT_EQ(Sent().front().CommandId, 39);
  EXPECT_EQ(ImageOf(back), ImageOf(sent));
}

TEST(ProtectionZoneCodecs, MoveTheOffsetAndStayInsideTheirPayload) {
  const Payload payload = Pattern(2 + kListSize);
  Zone zone;
  int offset = 2;
  EXPECT_EQ(DeserializeZone(offset, payload, zone), 1);
  EXPECT_EQ(offset, 442);
  Payload out{1, 2, 3};
  offset = 0;  // appended at the end, whatever the offset
  EXPECT_EQ(SerializeZone(offset, out, zone), 1);
  EXPECT_EQ(offset, 440);
  EXPECT_EQ(out.size(), 443u);
  EXPECT_EQ(static_cast<unsigned>(zone.ZoneValue1), U32At(out, 3));

  const Payload shortPayload = Pattern(30, 1, 1);
  auto list = Filled<ZoneList>(0xCD);
  offset = 0;
  EXPECT_EQ(DeserializeZoneList(offset, shortPayload, list), 1);
  EXPECT_EQ(offset, static_cast<int>(kListSize));
  EXPECT_EQ(static_cast<unsigned>(list.Zones[0].ZoneValue1), U32At(shortPayload, 8));
  EXPECT_EQ(list.Zones[0].Points[0].X, 0.0f);  // byte 32 is past the end
  EXPECT_EQ(list.Zones[9].ZoneValue5, 0);
}

TEST_F(ProtectionZonesTest, EraseSendsOneEmptyCommand) {
  ASSERT_EQ(EraseAllProtectionZones(), TARSEL_OK);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 37);
  EXPECT_EQ(Sent()[0].PayloadSize, 0);
  EXPECT_EQ(Bytes(Sent()[0].Data, Sent()[0].Data + 56), Bytes(56, 0));
}

}  // namespace
