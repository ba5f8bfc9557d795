// Per-actuator zeroing and tuning, and the actuators' position and current
// read-out. Each is one write or read command.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "maintenance/maintenance_codec.h"
#include "tarsel/maintenance.h"

namespace {

constexpr int kSetJointZero = tarsel::command::SetJointZero;
constexpr int kSetActuatorAddress = tarsel::command::SetActuatorAddress;
constexpr int kSetActuatorPID = tarsel::command::SetActuatorPID;
constexpr int kSetActuatorPIDFilter = tarsel::command::SetActuatorPIDFilter;
constexpr int kSetTorqueZero = tarsel::command::SetTorqueZero;
constexpr int kSetTorqueGain = tarsel::command::SetTorqueGain;
constexpr int kGetPositionCurrentActuators = tarsel::command::GetPositionCurrentActuators;

// Addresses travel as the unsigned 32-bit form of the caller's int.
unsigned int Address(int address) {
  return static_cast<unsigned int>(address);
}

// The address change: the present address, then the new one.
int EncodeAddressChange(int& offset, Payload& payload, unsigned int address,
                        unsigned int newAddress) {
  SerializeActuatorAddress(offset, payload, address);
  return SerializeActuatorAddress(offset, payload, newAddress);
}

}  // namespace

int SetJointZero(int address) {
  return tarsel::WriteRecord(kSetJointZero, SerializeActuatorAddress, Address(address));
}

int SetTorqueZero(int address) {
  return tarsel::WriteRecord(kSetTorqueZero, SerializeActuatorAddress, Address(address));
}

int SetActuatorAddress(int address, int newAddress) {
  return tarsel::WriteRecord(kSetActuatorAddress, EncodeAddressChange, Address(address),
                             Address(newAddress));
}

int SetActuatorPID(int address, float p, float i, float d) {
  return tarsel::WriteRecord(kSetActuatorPID, SerializeActuatorPID, Address(address), p, i, d);
}

int SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD) {
  return tarsel::WriteRecord(kSetActuatorPIDFilter, SerializeActuatorPIDFilter, Address(address),
                             filterP, filterI, filterD);
}

// The gain travels as a float.
int SetTorqueGain(int address, int gain) {
  return tarsel::WriteRecord(kSetTorqueGain, SerializeTorqueGain, Address(address),
                             static_cast<float>(gain));
}

int GetPositionCurrentActuators(std::vector<float>& values) {
  return tarsel::ReadRecord(kGetPositionCurrentActuators, DeserializePositionCurrentActuators,
                            values);
}
