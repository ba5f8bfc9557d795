#include "environment.h"

#include <cstdio>

#include "commands.h"

namespace tarsel::sim {

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

std::string TraceLine(const Packet& request, const std::optional<Packet>& answer,
                      const char* why) {
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
  if (why != nullptr) return std::string(line) + ": refused, " + why;
  return line;
}

}  // namespace tarsel::sim
