#include "maintenance/maintenance_codec.h"

int SerializeActuatorAddress(int& offset, Payload& payload, unsigned int address) {
  tarsel::PayloadWriter(payload).Field(address);
  offset += 4;
  return 1;
}
