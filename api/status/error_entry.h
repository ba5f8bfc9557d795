// One entry of an arm's error log by meaning: what each value of a
// SystemError stands for, and the names people read for them. The one
// decoding `tarsel errors list` and the live view both use; header only, so
// that neither needs the other, nor the API library the simulator.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tarsel/status.h"

namespace tarsel::status {

// An entry of the error log. A SystemError carries the values in this
// order: UIntValue1 the code, IntValue1 the device, IntValue2 the severity,
// IntValue3 how often it happened, UIntValue2 when, Flags, IntValue4 and
// IntValue5 the two values the code reports (a temperature reached and its
// limit, a finger position), UIntArray further data. Any value may come:
// an arm's answer is untrusted, and the names below cover every number.
struct ErrorView {
  std::uint32_t code = 0;
  int device = 0;    // 0: the controller, 1-6: actuators, 7-9: fingers 1-3
  int severity = 0;  // 0: information, 1: warning, 2: error
  int occurrences = 0;
  std::uint32_t timeSeconds = 0;  // the arm's time when it was logged
  std::array<bool, 7> flags{};
  std::array<int, 2> values{};
  std::array<std::uint32_t, 50> data{};
};

// The entry e holds, by meaning. Takes any values; owns nothing.
inline ErrorView DecodeError(const SystemError& e) {
  ErrorView v;
  v.code = e.UIntValue1;
  v.device = e.IntValue1;
  v.severity = e.IntValue2;
  v.occurrences = e.IntValue3;
  v.timeSeconds = e.UIntValue2;
  for (std::size_t i = 0; i < v.flags.size(); ++i) v.flags[i] = e.Flags[i];
  v.values = {e.IntValue4, e.IntValue5};
  for (std::size_t i = 0; i < v.data.size(); ++i) v.data[i] = e.UIntArray[i];
  return v;
}

// The code as it is written: "0x" and at least four hex digits ("0x0102",
// "0x12345").
inline std::string ErrorCodeText(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned int>(code));
  return text;
}

// "controller", "actuator 1" to "actuator 6", "finger 1" to "finger 3";
// any other number as "device N".
inline std::string DeviceName(int device) {
  if (device == 0) return "controller";
  if (device >= 1 && device <= 6) return "actuator " + std::to_string(device);
  if (device >= 7 && device <= 9) return "finger " + std::to_string(device - 6);
  return "device " + std::to_string(device);
}

// "information", "warning", "error"; any other number as "severity N".
inline std::string SeverityName(int severity) {
  switch (severity) {
    case 0:
      return "information";
    case 1:
      return "warning";
    case 2:
      return "error";
    default:
      return "severity " + std::to_string(severity);
  }
}

}  // namespace tarsel::status
