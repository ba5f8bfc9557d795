// The simulator's settings as text: the TARSEL_SIM_* variables, the option
// text of a created arm and the fault lists. Depends on no simulated arm, so
// that the tool can check its --sim-* values with the same parser.
#include "environment.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace tarsel::sim {

namespace {

std::string Trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const auto end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

std::vector<std::string> Split(const std::string& s, const std::string& separators) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : s) {
    if (separators.find(c) != std::string::npos) {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

template <typename T>
bool ParseInteger(const std::string& text, T& out) {
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && !text.empty();
}

// An integer, or "*" for any.
bool ParseSelector(const std::string& text, int& out) {
  if (text == "*") {
    out = Fault::kAny;
    return true;
  }
  return ParseInteger(text, out) && out >= 0;
}

bool ParseFault(const std::string& item, SimEnvironment& env) {
  const auto fields = Split(item, ":");
  const std::string kind = fields[0];
  if (kind == "absent" && fields.size() == 1) {
    env.absent = true;
    return true;
  }
  if (kind == "unplug") {
    long n = 0;
    if (fields.size() != 2 || !ParseInteger(fields[1], n) || n < 0) return false;
    env.unplugAfter = n;
    return true;
  }
  Fault fault;
  if (kind == "noanswer") {
    fault.kind = FaultKind::kNoAnswer;
  } else if (kind == "error") {
    fault.kind = FaultKind::kErrorBit;
  } else if (kind == "negative") {
    fault.kind = FaultKind::kNegativeVerdict;
  } else {
    return false;
  }
  if (fields.size() > 4) return false;
  if (fields.size() > 1 && !ParseSelector(fields[1], fault.command)) return false;
  if (fields.size() > 2 && !ParseSelector(fields[2], fault.packetIndex)) return false;
  if (fields.size() > 3 && (!ParseInteger(fields[3], fault.times) || fault.times <= 0)) {
    return false;
  }
  env.faults.push_back(fault);
  return true;
}

}  // namespace

void ParseFaults(const std::string& text, SimEnvironment& env, const std::string& name) {
  for (const std::string& raw : Split(text, ",;")) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    if (!ParseFault(item, env)) {
      env.problems.push_back(name + ": \"" + item + "\" is not a fault (expected " + kFaultForms +
                             ")");
    }
  }
}

SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup) {
  return ReadEnvironment(lookup, [](const std::string& variable) { return variable; });
}

SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup,
                               const std::function<std::string(const std::string&)>& nameOf) {
  SimEnvironment env;
  auto get = [&](const char* name) -> std::optional<std::string> {
    const char* value = lookup(name);
    if (value == nullptr) return std::nullopt;
    return Trim(value);
  };
  if (auto hand = get("TARSEL_SIM_HAND"); hand && !hand->empty()) {
    if (*hand == "3") {
      env.hand = HandType::kThreeFingers;
    } else if (*hand == "2") {
      env.hand = HandType::kTwoFingers;
    } else {
      env.problems.push_back(nameOf("TARSEL_SIM_HAND") + ": expected 2 or 3, got \"" + *hand + "\"");
    }
  }
  if (auto scale = get("TARSEL_SIM_TIME_SCALE"); scale && !scale->empty()) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(scale->c_str(), &end);
    if (errno == 0 && end != nullptr && *end == '\0' && std::isfinite(v) && v > 0 && v <= 1e6) {
      env.timeScale = v;
    } else {
      env.problems.push_back(nameOf("TARSEL_SIM_TIME_SCALE") + ": expected a number above 0, got \"" + *scale +
                             "\"");
    }
  }
  if (auto points = get("TARSEL_SIM_FINGER_POINTS"); points && !points->empty()) {
    int n = 0;
    if (ParseInteger(*points, n) && n >= 0) {
      env.fingerInitPoints = n;
    } else {
      env.problems.push_back(nameOf("TARSEL_SIM_FINGER_POINTS") + ": expected a count, got \"" + *points + "\"");
    }
  }
  if (auto arms = get("TARSEL_SIM_ARMS"); arms && !arms->empty()) {
    int n = 0;
    if (ParseInteger(*arms, n) && n >= 1 && n <= kMaxSimulatedArms) {
      env.arms = n;
    } else {
      env.problems.push_back(nameOf("TARSEL_SIM_ARMS") + ": expected 1 to " + std::to_string(kMaxSimulatedArms) +
                             ", got \"" + *arms + "\"");
    }
  }
  if (auto faults = get("TARSEL_SIM_FAULT")) {
    env.faultsGiven = true;
    ParseFaults(*faults, env, nameOf("TARSEL_SIM_FAULT"));
  }
  if (auto trace = get("TARSEL_SIM_TRACE")) env.trace = !trace->empty() && *trace != "0";
  if (env.hand) env.options.hand = *env.hand;
  if (env.timeScale) env.options.timeScale = *env.timeScale;
  if (env.fingerInitPoints) env.options.fingerInitPoints = *env.fingerInitPoints;
  return env;
}

SimEnvironment ReadEnvironment() {
  return ReadEnvironment([](const char* name) { return std::getenv(name); });
}

SimEnvironment ReadOptionText(const std::string& text) {
  return ReadOptionText(text, [](const std::string& key) { return key; });
}

SimEnvironment ReadOptionText(const std::string& text,
                              const std::function<std::string(const std::string&)>& nameOf) {
  static const std::map<std::string, std::string> kVariables = {
      {"hand", "TARSEL_SIM_HAND"},
      {"time_scale", "TARSEL_SIM_TIME_SCALE"},
      {"finger_points", "TARSEL_SIM_FINGER_POINTS"},
      {"fault", "TARSEL_SIM_FAULT"},
      {"trace", "TARSEL_SIM_TRACE"}};
  std::map<std::string, std::string> values;  // by variable name
  std::vector<std::string> problems;
  std::string* faultList = nullptr;  // the fault list an item without "=" goes on with
  for (const std::string& raw : Split(text, ",")) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    const auto equals = item.find('=');
    if (equals == std::string::npos) {
      if (faultList != nullptr) {
        *faultList += "," + item;
      } else {
        problems.push_back("expected key=value, got \"" + item + "\"");
      }
      continue;
    }
    const std::string key = Trim(item.substr(0, equals));
    faultList = nullptr;
    const auto variable = kVariables.find(key);
    if (variable == kVariables.end()) {
      problems.push_back("unknown option \"" + key +
                         "\" (expected hand, time_scale, finger_points, fault or trace)");
      continue;
    }
    const auto [entry, added] = values.emplace(variable->second, Trim(item.substr(equals + 1)));
    if (!added) {
      problems.push_back("option \"" + key + "\" given twice");
      continue;
    }
    if (key == "fault") faultList = &entry->second;
  }
  // Problems name each setting by its key, as the text gave it.
  SimEnvironment env = ReadEnvironment(
      [&values](const char* name) -> const char* {
        const auto it = values.find(name);
        return it == values.end() ? nullptr : it->second.c_str();
      },
      [&nameOf](const std::string& variable) {
        for (const auto& [key, name] : kVariables) {
          if (name == variable) return nameOf(key);
        }
        return variable;
      });
  env.problems.insert(env.problems.begin(), problems.begin(), problems.end());
  return env;
}

}  // namespace tarsel::sim
