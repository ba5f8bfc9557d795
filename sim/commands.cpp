#include "commands.h"

#include <algorithm>
#include <iterator>

namespace tarsel::sim {

namespace {

// Sorted by number.
constexpr CommandInfo kCommands[] = {
    {0, Shape::kWrite, 3040, "client configuration (write)"},
    {1, Shape::kRead, 3040, "client configuration"},
    {10, Shape::kRead, 4, "control type"},
    {12, Shape::kPage, kPageBytes, "firmware page"},
    {13, Shape::kBare, 0, "open firmware programming"},
    {14, Shape::kWrite, 4, "set joint zero"},
    {21, Shape::kRead, 235, "error log entry"},
    {23, Shape::kRead, 4, "error log count"},
    {25, Shape::kBare, 0, "clear error log"},
    {36, Shape::kRead, 52, "code versions"},
    {37, Shape::kBare, 0, "erase protection zones"},
    {38, Shape::kWrite, 4408, "protection zones (write)"},
    {39, Shape::kRead, 4408, "protection zones"},
    {40, Shape::kWrite, 14816, "control mapping (write)"},
    {41, Shape::kRead, 14816, "control mapping"},
    {45, Shape::kBare, 0, "restore factory defaults"},
    {47, Shape::kBare, 0, "angular control"},
    {49, Shape::kBare, 0, "Cartesian control"},
    {52, Shape::kWrite, 8, "set actuator address"},
    {53, Shape::kWrite, 16, "set actuator PID"},
    {54, Shape::kWrite, 16, "set actuator PID filter"},
    {55, Shape::kWrite, 4, "set torque zero"},
    {56, Shape::kWrite, 8, "set torque gain"},
    {57, Shape::kBare, 0, "start force control"},
    {58, Shape::kBare, 0, "stop force control"},
    {59, Shape::kBare, 0, "start current limitation"},
    {60, Shape::kBare, 0, "stop current limitation"},
    {61, Shape::kWrite, 20, "serial number"},
    {62, Shape::kRead, 15, "quick status"},
    {64, Shape::kWrite, 4, "frame type"},
    {65, Shape::kWrite, 20, "model"},
    {103, Shape::kRead, 416, "gripper status"},
    {104, Shape::kRead, 36, "Cartesian position"},
    {105, Shape::kRead, 36, "angular position"},
    {106, Shape::kRead, 36, "Cartesian command"},
    {107, Shape::kRead, 36, "angular command"},
    {108, Shape::kRead, 36, "Cartesian force"},
    {109, Shape::kRead, 36, "angular force"},
    {110, Shape::kRead, 36, "angular current"},
    {111, Shape::kRead, 56, "sensors"},
    {112, Shape::kRead, 48, "actuator positions and currents"},
    {113, Shape::kRead, 36, "angular motor current"},
    {114, Shape::kRead, 36, "angular velocity"},
    {115, Shape::kRead, 48, "forces"},
    {116, Shape::kRead, 36, "gravity-free angular force"},
    {117, Shape::kRead, 72, "actuator accelerations"},
    {118, Shape::kRead, 4, "Cartesian transition check"},
    {200, Shape::kRead, 832, "general information"},
    {300, Shape::kWrite, 148, "trajectory point (full)"},
    {301, Shape::kBare, 0, "erase trajectories"},
    {302, Shape::kBare, 0, "start API control"},
    {303, Shape::kBare, 0, "stop API control"},
    {304, Shape::kRead, 12, "trajectory queue"},
    {305, Shape::kWrite, 56, "joystick sample"},
    {307, Shape::kRead, 148, "actual trajectory point"},
    {308, Shape::kWrite, 48, "trajectory point (basic)"},
    {310, Shape::kRead, 56, "singularity vector"},
    {311, Shape::kBare, 0, "move home"},
    {403, Shape::kRead, 300, "peripheral inventory"},
    {500, Shape::kWrite, 48, "Cartesian force bounds"},
    {501, Shape::kWrite, 48, "Cartesian inertia and damping"},
    {502, Shape::kWrite, 48, "angular torque bounds"},
    {503, Shape::kWrite, 48, "angular inertia and damping"},
    {504, Shape::kWrite, 56, "spasm filter (write)"},
    {505, Shape::kRead, 56, "spasm filter"},
    {5000, Shape::kWrite, 56, "dev values (write)"},
    {5001, Shape::kRead, 56, "dev values"},
};

}  // namespace

const CommandInfo* FindCommand(int id) {
  const auto* end = std::end(kCommands);
  const auto* it = std::lower_bound(std::begin(kCommands), end, id,
                                    [](const CommandInfo& c, int v) { return c.id < v; });
  return it != end && it->id == id ? it : nullptr;
}

const CommandInfo* CommandTable(int& count) {
  count = static_cast<int>(std::size(kCommands));
  return kCommands;
}

}  // namespace tarsel::sim
