#include "core/payload.h"

using tarsel::ReadLe;

short GetShortFromVector(int& offset, const Payload& payload) {
  return static_cast<short>(ReadLe<std::uint16_t>(offset, payload));
}

unsigned short GetUShortFromVector(int& offset, const Payload& payload) {
  return ReadLe<std::uint16_t>(offset, payload);
}

int GetIntFromVector(int& offset, const Payload& payload) {
  return static_cast<int>(ReadLe<std::uint32_t>(offset, payload));
}

unsigned int GetUIntFromVector(int& offset, const Payload& payload) {
  return ReadLe<std::uint32_t>(offset, payload);
}

float GetFloatFromVector(int& offset, const Payload& payload) {
  const std::uint32_t bits = ReadLe<std::uint32_t>(offset, payload);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double GetDoubleFromVector(int& offset, const Payload& payload) {
  const std::uint64_t bits = ReadLe<std::uint64_t>(offset, payload);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

int SerializeString(int& offset, Payload& payload, const char* text) {
  payload.insert(payload.end(), reinterpret_cast<const unsigned char*>(text),
                 reinterpret_cast<const unsigned char*>(text) + 20);
  offset = tarsel::Advance(offset, 20);
  return 1;
}
