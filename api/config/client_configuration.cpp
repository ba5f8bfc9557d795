// The client configuration block: command 1 reads it, command 0 writes it.
#include "core/catalogue.h"
#include "config/config_codec.h"
#include "core/exchange.h"
#include "motion/motion_codec.h"
#include "tarsel/result.h"

namespace {

using tarsel::PayloadReader;
using tarsel::PayloadWriter;
using tarsel::config::kClientConfigurationSize;
using tarsel::config::kStoredPositionSize;

constexpr int kReadCommand = tarsel::command::GetClientConfigurations;
constexpr int kWriteCommand = tarsel::command::SetClientConfigurations;

// Slots carried for a count: the count itself, clamped to 0..20.
int CarriedSlots(int count) {
  if (count <= 0) return 0;
  return count < TARSEL_MAX_STORED_POSITIONS ? count : TARSEL_MAX_STORED_POSITIONS;
}

// A stored position travels in the 104-byte UserPosition form; its last
// float64 filler is 6.0 in this block (the other two are 3.0 as everywhere).
constexpr double kStoredPositionLastFiller = 6.0;

}  // namespace

int DeserializeClientConfiguration(int& offset, const Payload& payload, ClientConfigurations& out) {
  PayloadReader r(offset, payload);
  r.Text(out.Text1).Text(out.Text2).Text(out.Text3).Text(out.Text4).Text(out.Text5);
  r.Field(out.IntValue1);
  r.Field(out.FloatValue1).Field(out.FloatValue2).Field(out.FloatValue3).Field(out.FloatValue4);
  r.Field(out.FloatValue5).Field(out.FloatValue6).Field(out.FloatValue7);
  r.Field(out.IntValue2).Field(out.FloatValue8).Field(out.StoredPositionCount);
  const int carried = CarriedSlots(out.StoredPositionCount);
  for (int k = 0; k < TARSEL_MAX_STORED_POSITIONS; ++k) {
    if (k < carried) {
      r.Nested(DeserializeUserPosition, out.StoredPositions[k]);
    } else {
      r.Skip(kStoredPositionSize);
    }
  }
  r.Field(out.FloatValue9).Field(out.IntValue3).Field(out.FloatValue10);
  r.Field(out.IntValue4).Field(out.IntValue5).Field(out.IntValue6);
  return 1;
}

namespace {

// The block's form from a record held by reference (the exported serializer
// takes it by value; the write below does not copy it).
template <typename Writer>
void WriteConfiguration(Writer& w, const ClientConfigurations& config) {
  w.Text(config.Text1).Text(config.Text2).Text(config.Text3).Text(config.Text4).Text(config.Text5);
  w.Field(config.IntValue1);
  w.Field(config.FloatValue1).Field(config.FloatValue2).Field(config.FloatValue3);
  w.Field(config.FloatValue4).Field(config.FloatValue5).Field(config.FloatValue6);
  w.Field(config.FloatValue7).Field(config.IntValue2).Field(config.FloatValue8);
  w.Field(config.StoredPositionCount);
  const int carried = CarriedSlots(config.StoredPositionCount);
  for (int k = 0; k < TARSEL_MAX_STORED_POSITIONS; ++k) {
    if (k < carried) {
      tarsel::WriteUserPosition(w, config.StoredPositions[k], kStoredPositionLastFiller);
    } else {
      w.Zeros(kStoredPositionSize);
    }
  }
  w.Field(config.FloatValue9).Field(config.IntValue3).Field(config.FloatValue10);
  w.Field(config.IntValue4).Field(config.IntValue5).Field(config.IntValue6);
  w.PadTo(kClientConfigurationSize);  // the reserved tail goes out as zeros
}

}  // namespace

int SerializeClientConfiguration(int& offset, Payload& payload, ClientConfigurations config) {
  tarsel::FormWriter w(payload, kClientConfigurationSize);
  WriteConfiguration(w, config);
  offset = tarsel::Advance(offset, kClientConfigurationSize);
  return 1;
}

extern "C" {

int GetClientConfigurations(ClientConfigurations* config) {
  if (config == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kReadCommand, DeserializeClientConfiguration, *config);
}

int SetClientConfigurations(ClientConfigurations config) {
  return tarsel::StreamWrite(kWriteCommand, kClientConfigurationSize,
                             [&](tarsel::PacketWriter& w) { WriteConfiguration(w, config); });
}

}  // extern "C"
