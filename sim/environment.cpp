#include "environment.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "commands.h"

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

void ParseFaults(const std::string& text, SimEnvironment& env) {
  for (const std::string& raw : Split(text, ",;")) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    if (!ParseFault(item, env))
      env.problems.push_back("TARSEL_SIM_FAULT: ignored \"" + item + "\"");
  }
}

SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup) {
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
      env.problems.push_back("TARSEL_SIM_HAND: expected 2 or 3, got \"" + *hand + "\"");
    }
  }
  if (auto scale = get("TARSEL_SIM_TIME_SCALE"); scale && !scale->empty()) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(scale->c_str(), &end);
    if (errno == 0 && end != nullptr && *end == '\0' && std::isfinite(v) && v > 0 && v <= 1e6) {
      env.timeScale = v;
    } else {
      env.problems.push_back("TARSEL_SIM_TIME_SCALE: expected a number above 0, got \"" + *scale +
                             "\"");
    }
  }
  if (auto points = get("TARSEL_SIM_FINGER_POINTS"); points && !points->empty()) {
    int n = 0;
    if (ParseInteger(*points, n) && n >= 0) {
      env.fingerInitPoints = n;
    } else {
      env.problems.push_back("TARSEL_SIM_FINGER_POINTS: expected a count, got \"" + *points + "\"");
    }
  }
  if (auto arms = get("TARSEL_SIM_ARMS"); arms && !arms->empty()) {
    int n = 0;
    if (ParseInteger(*arms, n) && n >= 1 && n <= kMaxSimulatedArms) {
      env.arms = n;
    } else {
      env.problems.push_back("TARSEL_SIM_ARMS: expected 1 to " + std::to_string(kMaxSimulatedArms) +
                             ", got \"" + *arms + "\"");
    }
  }
  if (auto faults = get("TARSEL_SIM_FAULT")) {
    env.faultsGiven = true;
    ParseFaults(*faults, env);
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
      problems.push_back("unknown option \"" + key + "\"");
      continue;
    }
    const auto [entry, added] = values.emplace(variable->second, Trim(item.substr(equals + 1)));
    if (!added) {
      problems.push_back("option \"" + key + "\" given twice");
      continue;
    }
    if (key == "fault") faultList = &entry->second;
  }
  SimEnvironment env = ReadEnvironment([&values](const char* name) -> const char* {
    const auto it = values.find(name);
    return it == values.end() ? nullptr : it->second.c_str();
  });
  env.problems.insert(env.problems.begin(), problems.begin(), problems.end());
  return env;
}

void Configure(SimulatedArm& arm, const SimEnvironment& env) {
  if (env.hand) arm.SetHandType(*env.hand);
  if (env.timeScale) arm.SetTimeScale(*env.timeScale);
  if (env.fingerInitPoints) arm.SetFingerInitPoints(*env.fingerInitPoints);
  if (env.faultsGiven) {
    arm.ClearFaults();
    for (const Fault& f : env.faults) arm.AddFault(f);
    arm.UnplugAfter(env.unplugAfter);
  }
}

std::string TraceLine(const Packet& request, const std::optional<Packet>& answer) {
  const CommandInfo* info = FindCommand(request.CommandId);
  char line[200];
  int n = std::snprintf(line, sizeof line, "sim: %5d %-32s %3d/%-3d size %5d -> ",
                        request.CommandId, info != nullptr ? info->name : "(unknown)",
                        request.PacketIndex, request.PacketCount, request.PayloadSize);
  if (n < 0) return {};
  if (!answer) {
    std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "no answer");
  } else {
    std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "verdict %d (%d/%d size %d)",
                  answer->CommandId, answer->PacketIndex, answer->PacketCount, answer->PayloadSize);
  }
  return line;
}

}  // namespace tarsel::sim
