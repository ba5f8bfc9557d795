// Identity, factory and filter settings: serial number, model, frame type,
// factory reset, the dev values and the spasm filter.
#include <cstring>
#include <iterator>

#include "core/catalogue.h"
#include "config/config_codec.h"
#include "core/exchange.h"
#include "maintenance/maintenance_codec.h"
#include "tarsel/result.h"

namespace {

using tarsel::config::DevValues;
using tarsel::config::SpasmFilterValues;
constexpr std::size_t kDevValueCount = std::size(DevValues{}.Values);
constexpr std::size_t kSpasmFilterValueCount = std::size(SpasmFilterValues{}.Values);

constexpr int kSerialNumberCommand = tarsel::command::SetSerialNumber;
constexpr int kModelCommand = tarsel::command::SetModel;
constexpr int kFrameTypeCommand = tarsel::command::SetFrameType;
constexpr int kFactoryDefaultCommand = tarsel::command::RestoreFactoryDefault;
constexpr int kSetDevValueCommand = tarsel::command::SetDevValue;
constexpr int kGetDevValueCommand = tarsel::command::GetDevValue;
constexpr int kSetSpasmFilterCommand = tarsel::command::SetSpasmFilterValues;
constexpr int kGetSpasmFilterCommand = tarsel::command::GetSpasmFilterValues;

// The model access code, stored masked so that it never lies in the library
// as readable text; it is unmasked one character at a time when needed.
constexpr unsigned char kAccessCodeMask = 0xA5;
constexpr unsigned char kMaskedAccessCode[] = {0xE8, 0x92, 0xF4, 0x91, 0xFF, 0xEE, 0x97};

void BuildModelAccessCode(char (&code)[20]) {
  std::memset(code, 0, sizeof code);
  // Read at run time, so the compiler cannot fold the code into constants.
  volatile unsigned char mask = kAccessCodeMask;
  for (std::size_t i = 0; i < sizeof kMaskedAccessCode; ++i) {
    code[i] = static_cast<char>(kMaskedAccessCode[i] ^ mask);
  }
}

// Exact match: the caller's text must be the code's characters followed by
// a NUL. The comparison stops at the first difference, so at most 8 bytes of
// the caller's text are read.
bool AccessCodeMatches(const char* text) {
  if (text == nullptr) return false;
  char code[20];
  BuildModelAccessCode(code);
  const bool match = std::strcmp(text, code) == 0;
  std::memset(code, 0, sizeof code);
  return match;
}

// The first N values, zeros for those the vector lacks.
template <std::size_t N>
void CopyIn(const std::vector<float>& values, float (&out)[N]) {
  for (std::size_t i = 0; i < N; ++i) out[i] = i < values.size() ? values[i] : 0.0f;
}

// Stores the N values read into the elements the vector already has.
template <std::size_t N>
void CopyOut(const float (&in)[N], std::vector<float>& values) {
  for (std::size_t i = 0; i < N && i < values.size(); ++i) values[i] = in[i];
}

}  // namespace

int SerializeDevValue(int& offset, Payload& payload, std::vector<float> values) {
  DevValues record;
  CopyIn(values, record.Values);
  tarsel::Encode(payload, record);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<DevValues>>());
  return 1;
}

int DeserializeDevValue(int& offset, const Payload& payload, std::vector<float>& values) {
  DevValues record;
  tarsel::Decode(offset, payload, record);
  CopyOut(record.Values, values);
  return 1;
}

int SerializeSpasmFilterValue(int& offset, Payload& payload, std::vector<float> values,
                              int filterSetting) {
  SpasmFilterValues record;
  record.FilterSetting = filterSetting;
  CopyIn(values, record.Values);
  tarsel::Encode(payload, record);
  offset = tarsel::Advance(offset, tarsel::FormSize<tarsel::Form<SpasmFilterValues>>());
  return 1;
}

int DeserializeSpasmFilterValue(int& offset, const Payload& payload, std::vector<float>& values,
                                int& filterSetting) {
  SpasmFilterValues record;
  tarsel::Decode(offset, payload, record);
  filterSetting = record.FilterSetting;
  CopyOut(record.Values, values);
  return 1;
}

extern "C" {

int SetSerialNumber(char* serialNumber) {
  if (serialNumber == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::WriteRecord(kSerialNumberCommand, SerializeString, serialNumber);
}

int SetModel(char* model, char* accessCode) {
  if (!AccessCodeMatches(accessCode) || model == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::WriteRecord(kModelCommand, SerializeString, model);
}

// The frame type travels in the 4-byte form of an actuator address.
int SetFrameType(int frameType) {
  return tarsel::WriteRecord(kFrameTypeCommand, SerializeActuatorAddress,
                             static_cast<unsigned int>(frameType));
}

int RestoreFactoryDefault() {
  return tarsel::SendBare(kFactoryDefaultCommand);
}

int SetDevValue(std::vector<float> values) {
  if (values.size() != kDevValueCount) return TARSEL_ERROR_ARGUMENT;
  return tarsel::WriteRecord(kSetDevValueCommand, SerializeDevValue, values);
}

int GetDevValue(std::vector<float>& values) {
  if (values.size() < kDevValueCount) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kGetDevValueCommand, DeserializeDevValue, values);
}

int SetSpasmFilterValues(std::vector<float> values, int filterSetting) {
  if (values.size() != kSpasmFilterValueCount) return TARSEL_ERROR_ARGUMENT;
  return tarsel::WriteRecord(kSetSpasmFilterCommand, SerializeSpasmFilterValue, values,
                             filterSetting);
}

int GetSpasmFilterValues(std::vector<float>& values, int& filterSetting) {
  if (values.size() < kSpasmFilterValueCount) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(kGetSpasmFilterCommand, DeserializeSpasmFilterValue, values,
                            filterSetting);
}

}  // extern "C"
