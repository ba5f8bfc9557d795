#include "maintenance/maintenance_codec.h"

int SerializeActuatorAddress(int& offset, Payload& payload, unsigned int address) {
  tarsel::PayloadWriter(payload).Field(address);
  offset = tarsel::Advance(offset, 4);
  return 1;
}

namespace {

// Appends record in its form and advances offset by the form's size.
template <class Record>
int EncodeAdvancing(int& offset, Payload& payload, const Record& record) {
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<Record>>());
  return tarsel::Encode(payload, record);
}

}  // namespace

int SerializeTorqueGain(int& offset, Payload& payload, unsigned int address, float gain) {
  return EncodeAdvancing(offset, payload, tarsel::ActuatorTorqueGain{address, gain});
}

int SerializeActuatorPID(int& offset, Payload& payload, unsigned int address, float p, float i,
                         float d) {
  return EncodeAdvancing(offset, payload, tarsel::ActuatorGains{address, p, i, d});
}

int SerializeActuatorPIDFilter(int& offset, Payload& payload, unsigned int address, float filterP,
                               float filterI, float filterD) {
  return EncodeAdvancing(offset, payload, tarsel::ActuatorGains{address, filterP, filterI, filterD});
}

int DeserializePositionCurrentActuators(int& offset, const Payload& payload,
                                        std::vector<float>& values) {
  float read[12];
  tarsel::PayloadReader(offset, payload).Field(read);
  values.insert(values.end(), read, read + 12);
  return 1;
}
