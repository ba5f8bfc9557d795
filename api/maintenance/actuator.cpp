// Per-actuator zeroing and tuning, and the actuators' position and current
// read-out. Each is one write or read command.
#include "core/framing.h"
#include "maintenance/guard.h"
#include "maintenance/maintenance_codec.h"
#include "tarsel/maintenance.h"

namespace {

constexpr int kSetJointZero = 14;
constexpr int kSetActuatorAddress = 52;
constexpr int kSetActuatorPID = 53;
constexpr int kSetActuatorPIDFilter = 54;
constexpr int kSetTorqueZero = 55;
constexpr int kSetTorqueGain = 56;
constexpr int kGetPositionCurrentActuators = 112;

// Addresses travel as the unsigned 32-bit form of the caller's int.
unsigned int Address(int address) {
  return static_cast<unsigned int>(address);
}

int SendAddressOnly(int command, int address) {
  return tarsel::Guarded([&] {
    Payload payload;
    int offset = 0;
    SerializeActuatorAddress(offset, payload, Address(address));
    return tarsel::SendPayload(command, payload);
  });
}

}  // namespace

int SetJointZero(int address) {
  return SendAddressOnly(kSetJointZero, address);
}

int SetTorqueZero(int address) {
  return SendAddressOnly(kSetTorqueZero, address);
}

int SetActuatorAddress(int address, int newAddress) {
  return tarsel::Guarded([&] {
    Payload payload;
    int offset = 0;
    SerializeActuatorAddress(offset, payload, Address(address));
    SerializeActuatorAddress(offset, payload, Address(newAddress));
    return tarsel::SendPayload(kSetActuatorAddress, payload);
  });
}

int SetActuatorPID(int address, float p, float i, float d) {
  return tarsel::Guarded([&] {
    Payload payload;
    int offset = 0;
    SerializeActuatorPID(offset, payload, Address(address), p, i, d);
    return tarsel::SendPayload(kSetActuatorPID, payload);
  });
}

int SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD) {
  return tarsel::Guarded([&] {
    Payload payload;
    int offset = 0;
    SerializeActuatorPIDFilter(offset, payload, Address(address), filterP, filterI, filterD);
    return tarsel::SendPayload(kSetActuatorPIDFilter, payload);
  });
}

int SetTorqueGain(int address, int gain) {
  return tarsel::Guarded([&] {
    Payload payload;
    int offset = 0;
    SerializeTorqueGain(offset, payload, Address(address), static_cast<float>(gain));
    return tarsel::SendPayload(kSetTorqueGain, payload);
  });
}

int GetPositionCurrentActuators(std::vector<float>& values) {
  return tarsel::Guarded([&] {
    Payload payload;
    const int result = tarsel::ReadCommand(kGetPositionCurrentActuators, payload);
    int offset = 0;
    DeserializePositionCurrentActuators(offset, payload, values);
    return result;
  });
}
