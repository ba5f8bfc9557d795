#include "maintenance/maintenance_codec.h"

int SerializeActuatorAddress(int& offset, Payload& payload, unsigned int address) {
  tarsel::PayloadWriter(payload).Field(address);
  offset = tarsel::Advance(offset, 4);
  return 1;
}

int SerializeTorqueGain(int& offset, Payload& payload, unsigned int address, float gain) {
  tarsel::PayloadWriter(payload).Field(address).Field(gain);
  offset = tarsel::Advance(offset, 8);
  return 1;
}

int SerializeActuatorPID(int& offset, Payload& payload, unsigned int address, float p, float i,
                         float d) {
  tarsel::PayloadWriter(payload).Field(address).Field(p).Field(i).Field(d);
  offset = tarsel::Advance(offset, 16);
  return 1;
}

int SerializeActuatorPIDFilter(int& offset, Payload& payload, unsigned int address, float filterP,
                               float filterI, float filterD) {
  tarsel::PayloadWriter(payload).Field(address).Field(filterP).Field(filterI).Field(filterD);
  offset = tarsel::Advance(offset, 16);
  return 1;
}

int DeserializePositionCurrentActuators(int& offset, const Payload& payload,
                                        std::vector<float>& values) {
  float read[12];
  tarsel::PayloadReader(offset, payload).Field(read);
  values.insert(values.end(), read, read + 12);
  return 1;
}
