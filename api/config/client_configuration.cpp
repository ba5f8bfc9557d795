// The client configuration block: command 1 reads it, command 0 writes it.
#include "config/config_codec.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using tarsel::PayloadReader;
using tarsel::PayloadWriter;
using tarsel::config::kClientConfigurationSize;
using tarsel::config::kStoredPositionSize;

constexpr int kReadCommand = 1;
constexpr int kWriteCommand = 0;

// Slots carried for a count: the count itself, clamped to 0..20.
int CarriedSlots(int count) {
  if (count <= 0) return 0;
  return count < TARSEL_MAX_STORED_POSITIONS ? count : TARSEL_MAX_STORED_POSITIONS;
}

// A stored position, 104 bytes. The float64 fillers of this block are 3.0,
// 3.0 and 6.0, unlike those of a trajectory point.
void WriteStoredPosition(PayloadWriter& w, const UserPosition& p) {
  const CartesianInfo& c = p.Coordinates;
  const AngularInfo& a = p.Actuators;
  w.Field(p.Type).Field(p.Parameter).Filler(3.0);
  w.Field(c.X).Field(c.Y).Field(c.Z).Zeros(4).Filler(3.0);
  w.Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ).Zeros(4).Filler(6.0);
  w.Field(a.Actuator1).Field(a.Actuator2).Field(a.Actuator3);
  w.Field(a.Actuator4).Field(a.Actuator5).Field(a.Actuator6);
  w.Field(p.FingersMode).Field(p.Fingers.Finger1).Field(p.Fingers.Finger2).Field(p.Fingers.Finger3);
}

void ReadStoredPosition(PayloadReader& r, UserPosition& p) {
  CartesianInfo& c = p.Coordinates;
  AngularInfo& a = p.Actuators;
  r.Field(p.Type).Field(p.Parameter).Skip(8);
  r.Field(c.X).Field(c.Y).Field(c.Z).Skip(12);
  r.Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ).Skip(12);
  r.Field(a.Actuator1).Field(a.Actuator2).Field(a.Actuator3);
  r.Field(a.Actuator4).Field(a.Actuator5).Field(a.Actuator6);
  r.Field(p.FingersMode).Field(p.Fingers.Finger1).Field(p.Fingers.Finger2).Field(p.Fingers.Finger3);
}

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
      ReadStoredPosition(r, out.StoredPositions[k]);
    } else {
      r.Skip(kStoredPositionSize);
    }
  }
  r.Field(out.FloatValue9).Field(out.IntValue3).Field(out.FloatValue10);
  r.Field(out.IntValue4).Field(out.IntValue5).Field(out.IntValue6);
  return 1;
}

int SerializeClientConfiguration(int& offset, Payload& payload, ClientConfigurations config) {
  payload.reserve(payload.size() + kClientConfigurationSize);
  PayloadWriter w(payload);
  w.Text(config.Text1).Text(config.Text2).Text(config.Text3).Text(config.Text4).Text(config.Text5);
  w.Field(config.IntValue1);
  w.Field(config.FloatValue1).Field(config.FloatValue2).Field(config.FloatValue3);
  w.Field(config.FloatValue4).Field(config.FloatValue5).Field(config.FloatValue6);
  w.Field(config.FloatValue7).Field(config.IntValue2).Field(config.FloatValue8);
  w.Field(config.StoredPositionCount);
  const int carried = CarriedSlots(config.StoredPositionCount);
  for (int k = 0; k < TARSEL_MAX_STORED_POSITIONS; ++k) {
    if (k < carried) {
      WriteStoredPosition(w, config.StoredPositions[k]);
    } else {
      w.Zeros(kStoredPositionSize);
    }
  }
  w.Field(config.FloatValue9).Field(config.IntValue3).Field(config.FloatValue10);
  w.Field(config.IntValue4).Field(config.IntValue5).Field(config.IntValue6);
  w.PadTo(kClientConfigurationSize);  // the reserved tail goes out as zeros
  offset += kClientConfigurationSize;
  return 1;
}

extern "C" {

int GetClientConfigurations(ClientConfigurations* config) {
  if (config == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kReadCommand, DeserializeClientConfiguration, *config);
}

int SetClientConfigurations(ClientConfigurations config) {
  return tarsel::WriteRecord(kWriteCommand, SerializeClientConfiguration, config);
}

}  // extern "C"
