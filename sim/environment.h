// Configuration of a simulated arm from environment variables, shared by
// every way of attaching the simulator (sim/README.md lists the variables).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulated_arm.h"

namespace tarsel::sim {

// Most arms the simulator puts on one bus (TARSEL_SIM_ARMS).
constexpr int kMaxSimulatedArms = 32;

// The settings the variables give. A variable that is not set (or is
// malformed) leaves its optional empty, so that Configure keeps what the arm
// has; options holds the given settings over the defaults, for a new arm.
struct SimEnvironment {
  Options options;                      // for a new arm (clock left empty)
  std::optional<HandType> hand;         // TARSEL_SIM_HAND
  std::optional<double> timeScale;      // TARSEL_SIM_TIME_SCALE
  std::optional<int> fingerInitPoints;  // TARSEL_SIM_FINGER_POINTS
  std::optional<int> arms;              // TARSEL_SIM_ARMS: arms on the bus
  // TARSEL_SIM_FAULT, when set (even empty), replaces every fault and the
  // unplugging with its list.
  bool faultsGiven = false;
  std::vector<Fault> faults;
  long unplugAfter = -1;              // "unplug:N"
  bool absent = false;                // "absent": no arm on the bus at all
  bool trace = false;                 // TARSEL_SIM_TRACE set, and not to 0
  std::vector<std::string> problems;  // settings that were ignored, and why
};

// The forms a fault takes, for messages.
inline constexpr const char* kFaultForms =
    "error, negative or noanswer, each [:COMMAND[:PACKET[:TIMES]]], unplug:N or absent";

// Reads the TARSEL_SIM_* variables through lookup (std::getenv by default).
// A malformed setting is ignored and described in problems, each problem
// starting with the setting's name as nameOf gives it for its variable (by
// default the variable's own name), so that a message names what the user
// typed (a command-line option, a keyword).
SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup);
SimEnvironment ReadEnvironment(const std::function<const char*(const char*)>& lookup,
                               const std::function<std::string(const std::string&)>& nameOf);
SimEnvironment ReadEnvironment();

// Reads the same settings from an option text, e.g.
// "hand=2,time_scale=10,finger_points=5,fault=error:105,noanswer:200:3:1".
// The keys hand, time_scale, finger_points, fault and trace take the values
// of TARSEL_SIM_HAND, _TIME_SCALE, _FINGER_POINTS, _FAULT and _TRACE. Items
// are separated by commas; an item without "=" goes on with the fault list
// before it. An unknown key, a key given twice or an item without "=" that
// follows no fault list is described in problems, as is every malformed value,
// each named by its key ("hand: expected 2 or 3, got \"4\""), or by what
// nameOf gives for the key.
SimEnvironment ReadOptionText(const std::string& text);
SimEnvironment ReadOptionText(const std::string& text,
                              const std::function<std::string(const std::string&)>& nameOf);

// Parses a fault list such as "error:105,noanswer:304:*:2,unplug:50" into env;
// an item that is no fault is described in problems, named name.
void ParseFaults(const std::string& text, SimEnvironment& env,
                 const std::string& name = "TARSEL_SIM_FAULT");

// Applies the settings env gives to arm; the others stay as they are.
void Configure(SimulatedArm& arm, const SimEnvironment& env);

// One line describing an exchange, for traces; why, when given, says why
// the arm refused it.
std::string TraceLine(const Packet& request, const std::optional<Packet>& answer,
                      const char* why = nullptr);

}  // namespace tarsel::sim
