// The control-mapping charts: command 41 reads them, command 40 writes them.
// The payload is nearly a byte image of the records; the reader passes over
// ChartsValue1, every EntryValue2 and the last 2 bytes of each entry.
#include "core/catalogue.h"
#include "config/config_codec.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using tarsel::PayloadReader;
using tarsel::PayloadWriter;
using tarsel::config::kControlMappingChartsSize;
using tarsel::config::kControlMappingSize;

constexpr int kReadCommand = tarsel::command::GetControlMapping;
constexpr int kWriteCommand = tarsel::command::SetControlMapping;

// One entry, 204 bytes: the record's 202 bytes of data, then 2 zero bytes.
template <typename Writer>
void WriteEntry(Writer& w, const ControlMappingEntry& e) {
  w.Field(e.EntryValue1).Field(e.EntryValue2).Field(e.BytePairs).Field(e.ByteGroups).Zeros(2);
}

void ReadEntry(PayloadReader& r, ControlMappingEntry& e) {
  r.Field(e.EntryValue1).Skip(4).Field(e.BytePairs).Field(e.ByteGroups).Skip(2);
}

// The mapping and charts forms from records held by reference: the exported
// serializers take their records by value, the write below does not copy.
template <typename Writer>
void WriteMapping(Writer& w, const ControlMapping& m) {
  w.Field(m.MappingValue1).Field(m.MappingValue2).Field(m.MappingValue3);
  w.Field(m.MappingValue4).Field(m.MappingValue5);
  for (const ControlMappingEntry& e : m.FirstEntries) WriteEntry(w, e);
  for (const ControlMappingEntry& e : m.SecondEntries) WriteEntry(w, e);
}

template <typename Writer>
void WriteCharts(Writer& w, const ControlMappingCharts& charts) {
  w.Field(charts.ChartsValue1).Field(charts.ChartsValue2);
  for (const ControlMapping& m : charts.Mappings) WriteMapping(w, m);
}

}  // namespace

int DeserializeControlMapping(int& offset, const Payload& payload, ControlMapping& out) {
  PayloadReader r(offset, payload);
  r.Field(out.MappingValue1).Field(out.MappingValue2).Field(out.MappingValue3);
  r.Field(out.MappingValue4).Field(out.MappingValue5);
  for (ControlMappingEntry& e : out.FirstEntries) ReadEntry(r, e);
  for (ControlMappingEntry& e : out.SecondEntries) ReadEntry(r, e);
  return 1;
}

int DeserializeControlMappingCharts(int& offset, const Payload& payload,
                                    ControlMappingCharts& out) {
  PayloadReader r(offset, payload);
  r.Skip(4).Field(out.ChartsValue2);
  for (ControlMapping& m : out.Mappings) r.Nested(DeserializeControlMapping, m);
  return 1;
}

int SerializeControlMapping(int& offset, Payload& payload, ControlMapping mapping) {
  PayloadWriter w(payload);
  WriteMapping(w, mapping);
  offset = tarsel::Advance(offset, kControlMappingSize);
  return 1;
}

int SerializeControlMappingCharts(int& offset, Payload& payload, ControlMappingCharts charts) {
  tarsel::FormWriter w(payload, kControlMappingChartsSize);
  WriteCharts(w, charts);
  offset = tarsel::Advance(offset, kControlMappingChartsSize);
  return 1;
}

extern "C" {

int GetControlMapping(ControlMappingCharts* charts) {
  if (charts == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kReadCommand, DeserializeControlMappingCharts, *charts);
}

int SetControlMapping(ControlMappingCharts charts) {
  return tarsel::StreamWrite(kWriteCommand, kControlMappingChartsSize,
                             [&](tarsel::PacketWriter& w) { WriteCharts(w, charts); });
}

}  // extern "C"
