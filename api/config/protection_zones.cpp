// The protection zones: command 39 reads the list, 38 writes it, 37 erases it.
#include "config/config_codec.h"
#include "core/catalogue.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using List = tarsel::Form<ZoneList>;
constexpr int kSize = tarsel::config::kZoneListSize;

}  // namespace

int DeserializeZone(int& offset, const Payload& payload, Zone& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeZoneList(int& offset, const Payload& payload, ZoneList& out) {
  return tarsel::Decode(offset, payload, out);
}

int SerializeZone(int& offset, Payload& payload, Zone zone) {
  tarsel::Encode(payload, zone);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<Zone>>());
  return 1;
}

int SerializeZoneList(int& offset, Payload& payload, ZoneList list) {
  tarsel::Encode(payload, list);
  offset = tarsel::Advance(offset, kSize);
  return 1;
}

extern "C" {

int GetProtectionZone(ZoneList* list) {
  if (list == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(tarsel::command::GetProtectionZone, DeserializeZoneList, *list);
}

int SetProtectionZone(ZoneList list) {
  return tarsel::StreamWrite(tarsel::command::SetProtectionZone, kSize,
                             [&](tarsel::PacketWriter& w) { tarsel::WriteForm<List>(w, list); });
}

int EraseAllProtectionZones() {
  return tarsel::SendBare(tarsel::command::EraseAllProtectionZones);
}

}  // extern "C"
