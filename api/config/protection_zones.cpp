// The protection zones: command 39 reads the list, 38 writes it, 37 erases it.
#include "core/catalogue.h"
#include "config/config_codec.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using tarsel::PayloadReader;
using tarsel::PayloadWriter;
using tarsel::config::kZoneListSize;
using tarsel::config::kZoneSize;

constexpr int kReadCommand = tarsel::command::GetProtectionZone;
constexpr int kWriteCommand = tarsel::command::SetProtectionZone;
constexpr int kEraseCommand = tarsel::command::EraseAllProtectionZones;

// A zone point, 48 bytes: 8 zero bytes, X Y Z, 12 zero bytes, the three
// rotations, 4 zero bytes.
template <typename Writer>
void WritePoint(Writer& w, const CartesianInfo& p) {
  w.Zeros(8).Field(p.X).Field(p.Y).Field(p.Z).Zeros(12);
  w.Field(p.RotationX).Field(p.RotationY).Field(p.RotationZ).Zeros(4);
}

void ReadPoint(PayloadReader& r, CartesianInfo& p) {
  r.Skip(8).Field(p.X).Field(p.Y).Field(p.Z).Skip(12);
  r.Field(p.RotationX).Field(p.RotationY).Field(p.RotationZ).Skip(4);
}

template <typename Writer>
void WriteZone(Writer& w, const Zone& zone) {
  w.Field(zone.ZoneValue1).Field(zone.ZoneValue2).Field(zone.ZoneValue3).Field(zone.ZoneValue4);
  for (const CartesianInfo& p : zone.Points) WritePoint(w, p);
  w.Field(zone.Parameters).Field(zone.ZoneValue5);
}

// The list's form from a record held by reference (the exported serializer
// takes it by value; the write below does not copy it).
template <typename Writer>
void WriteZones(Writer& w, const ZoneList& list) {
  w.Field(list.ListValue1).Field(list.ListValue2);
  for (const Zone& z : list.Zones) WriteZone(w, z);
}

}  // namespace

int DeserializeZone(int& offset, const Payload& payload, Zone& out) {
  PayloadReader r(offset, payload);
  r.Field(out.ZoneValue1).Field(out.ZoneValue2).Field(out.ZoneValue3).Field(out.ZoneValue4);
  for (CartesianInfo& p : out.Points) ReadPoint(r, p);
  r.Field(out.Parameters).Field(out.ZoneValue5);
  return 1;
}

int DeserializeZoneList(int& offset, const Payload& payload, ZoneList& out) {
  PayloadReader r(offset, payload);
  r.Field(out.ListValue1).Field(out.ListValue2);
  for (Zone& z : out.Zones) r.Nested(DeserializeZone, z);
  return 1;
}

int SerializeZone(int& offset, Payload& payload, Zone zone) {
  PayloadWriter w(payload);
  WriteZone(w, zone);
  offset = tarsel::Advance(offset, kZoneSize);
  return 1;
}

int SerializeZoneList(int& offset, Payload& payload, ZoneList list) {
  tarsel::FormWriter w(payload, kZoneListSize);
  WriteZones(w, list);
  offset = tarsel::Advance(offset, kZoneListSize);
  return 1;
}

extern "C" {

int GetProtectionZone(ZoneList* list) {
  if (list == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kReadCommand, DeserializeZoneList, *list);
}

int SetProtectionZone(ZoneList list) {
  return tarsel::StreamWrite(kWriteCommand, kZoneListSize,
                             [&](tarsel::PacketWriter& w) { WriteZones(w, list); });
}

int EraseAllProtectionZones() {
  return tarsel::SendBare(kEraseCommand);
}

}  // extern "C"
