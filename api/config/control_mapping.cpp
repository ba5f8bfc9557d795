// The control-mapping charts: command 41 reads them, command 40 writes them.
#include "config/config_codec.h"
#include "core/catalogue.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using Charts = tarsel::Form<ControlMappingCharts>;
constexpr int kSize = tarsel::config::kControlMappingChartsSize;

}  // namespace

int DeserializeControlMapping(int& offset, const Payload& payload, ControlMapping& out) {
  return tarsel::Decode(offset, payload, out);
}

int DeserializeControlMappingCharts(int& offset, const Payload& payload,
                                    ControlMappingCharts& out) {
  return tarsel::Decode(offset, payload, out);
}

int SerializeControlMapping(int& offset, Payload& payload, ControlMapping mapping) {
  tarsel::Encode(payload, mapping);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<ControlMapping>>());
  return 1;
}

int SerializeControlMappingCharts(int& offset, Payload& payload, ControlMappingCharts charts) {
  tarsel::Encode(payload, charts);
  offset = tarsel::Advance(offset, kSize);
  return 1;
}

extern "C" {

int GetControlMapping(ControlMappingCharts* charts) {
  if (charts == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(tarsel::command::GetControlMapping, DeserializeControlMappingCharts,
                            *charts);
}

int SetControlMapping(ControlMappingCharts charts) {
  return tarsel::StreamWrite(tarsel::command::SetControlMapping, kSize,
                             [&](tarsel::PacketWriter& w) { tarsel::WriteForm<Charts>(w, charts); });
}

}  // extern "C"
