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
void WriteEntry(PayloadWriter& w, const ControlMappingEntry& e) {
  w.Field(e.EntryValue1).Field(e.EntryValue2).Field(e.BytePairs).Field(e.ByteGroups).Zeros(2);
}

void ReadEntry(PayloadReader& r, ControlMappingEntry& e) {
  r.Field(e.EntryValue1).Skip(4).Field(e.BytePairs).Field(e.ByteGroups).Skip(2);
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
  w.Field(mapping.MappingValue1).Field(mapping.MappingValue2).Field(mapping.MappingValue3);
  w.Field(mapping.MappingValue4).Field(mapping.MappingValue5);
  for (const ControlMappingEntry& e : mapping.FirstEntries) WriteEntry(w, e);
  for (const ControlMappingEntry& e : mapping.SecondEntries) WriteEntry(w, e);
  offset = tarsel::Advance(offset, kControlMappingSize);
  return 1;
}

int SerializeControlMappingCharts(int& offset, Payload& payload, ControlMappingCharts charts) {
  payload.reserve(payload.size() + kControlMappingChartsSize);
  PayloadWriter(payload).Field(charts.ChartsValue1).Field(charts.ChartsValue2);
  offset = tarsel::Advance(offset, 8);
  for (const ControlMapping& m : charts.Mappings) SerializeControlMapping(offset, payload, m);
  return 1;
}

extern "C" {

int GetControlMapping(ControlMappingCharts* charts) {
  if (charts == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kReadCommand, DeserializeControlMappingCharts, *charts);
}

int SetControlMapping(ControlMappingCharts charts) {
  return tarsel::WriteRecord(kWriteCommand, SerializeControlMappingCharts, charts);
}

}  // extern "C"
