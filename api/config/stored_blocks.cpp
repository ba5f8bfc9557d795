// The blocks the arm stores whole: the client configuration (commands 1 and
// 0), the control-mapping charts (41 and 40) and the protection zones (39
// and 38; 37 erases them). Their codecs and flat functions all go through
// the records' forms.
#include "config/config_codec.h"
#include "core/catalogue.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

template <class Record>
int ReadBlock(int command, Record* record) {
  if (record == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(command, tarsel::Decode<Record>, *record);
}

// Written straight into the packets from the caller's record.
template <class Record>
int WriteBlock(int command, const Record& record) {
  using F = tarsel::Form<Record>;
  return tarsel::StreamWrite(command, tarsel::FormSize<F>(),
                             [&](tarsel::PacketWriter& w) { tarsel::WriteForm<F>(w, record); });
}

// Appends record's form to payload; offset moves by the form's size.
template <class Record>
int EncodeAt(int& offset, Payload& payload, const Record& record) {
  tarsel::Encode(payload, record);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<Record>>());
  return 1;
}

}  // namespace

int DeserializeClientConfiguration(int& offset, const Payload& payload, ClientConfigurations& out) {
  return tarsel::Decode(offset, payload, out);
}
int SerializeClientConfiguration(int& offset, Payload& payload, ClientConfigurations config) {
  return EncodeAt(offset, payload, config);
}
int DeserializeControlMappingCharts(int& offset, const Payload& payload,
                                    ControlMappingCharts& out) {
  return tarsel::Decode(offset, payload, out);
}
int DeserializeControlMapping(int& offset, const Payload& payload, ControlMapping& out) {
  return tarsel::Decode(offset, payload, out);
}
int SerializeControlMappingCharts(int& offset, Payload& payload, ControlMappingCharts charts) {
  return EncodeAt(offset, payload, charts);
}
int SerializeControlMapping(int& offset, Payload& payload, ControlMapping mapping) {
  return EncodeAt(offset, payload, mapping);
}
int DeserializeZoneList(int& offset, const Payload& payload, ZoneList& out) {
  return tarsel::Decode(offset, payload, out);
}
int DeserializeZone(int& offset, const Payload& payload, Zone& out) {
  return tarsel::Decode(offset, payload, out);
}
int SerializeZoneList(int& offset, Payload& payload, ZoneList list) {
  return EncodeAt(offset, payload, list);
}
int SerializeZone(int& offset, Payload& payload, Zone zone) {
  return EncodeAt(offset, payload, zone);
}

extern "C" {

#define TARSEL_BLOCK_FUNCTIONS(Record, Get, Set)     \
  int Get(Record* record) {                          \
    return ReadBlock(tarsel::command::Get, record);  \
  }                                                  \
  int Set(Record record) {                           \
    return WriteBlock(tarsel::command::Set, record); \
  }
TARSEL_CONFIG_BLOCKS(TARSEL_BLOCK_FUNCTIONS)
#undef TARSEL_BLOCK_FUNCTIONS

int EraseAllProtectionZones() {
  return tarsel::SendBare(tarsel::command::EraseAllProtectionZones);
}

}  // extern "C"
