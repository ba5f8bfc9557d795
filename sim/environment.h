// Configuration of a simulated arm from environment variables, shared by
// every way of attaching the simulator (sim/README.md lists the variables).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulated_arm.h"

namespace tarsel::sim {

struct SimEnvironment {
  Options options;                    // hand, time scale, finger points (clock left empty)
  std::vector<Fault> faults;          // from TARSEL_SIM_FAULT
  long unplugAfter = -1;              // "unplug:N"
  bool absent = false;                // "absent": no arm on the bus at all
  bool trace = false;                 // TARSEL_SIM_TRACE
  std::vector<std::string> problems;  // settings that were ignored, and why
};

// Reads the TARSEL_SIM_* variables through lookup (std::getenv by default).
// A malformed setting is ignored and described in problems.
SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup);
SimEnvironment ReadEnvironment();

// Parses a fault list such as "error:105,noanswer:304:*:2,unplug:50" into env.
void ParseFaults(const std::string& text, SimEnvironment& env);

// Applies env's hand, time scale, finger points, faults and unplugging.
void Configure(SimulatedArm& arm, const SimEnvironment& env);

// One line describing an exchange, for traces.
std::string TraceLine(const Packet& request, const std::optional<Packet>& answer);

}  // namespace tarsel::sim
