// The command catalogue: every command the arm knows, one line each. The API
// modules take their command numbers from it, the simulated arm its table of
// shapes and sizes, and the tests check both sides against it, so adding or
// checking a command touches one line here.
//
// Columns: the function that sends the command (also the name of its
// constant in tarsel::command), its number, its shape, the payload bytes the
// host sends, the payload bytes the arm answers, and what crosses: a record
// (sent in its form, tarsel::Form<Record>), another form of a record, a plain
// value or array, or void. The sizes are checked against the forms when the
// library is compiled (core/catalogue_forms.cpp).
//   kRead:  one request per answer packet; answer = the answer's payload
//   kWrite: ceil(request / 56) packets carrying the payload
//   kBare:  one packet without data
//   kPage:  a firmware page: 40 packets of a page offset and 52 image bytes
#pragma once

#include <cstddef>

#define TARSEL_COMMANDS(X)                                                                  \
  X(SetClientConfigurations, 0, kWrite, 3040, 0, ClientConfigurations)                      \
  X(GetClientConfigurations, 1, kRead, 0, 3040, ClientConfigurations)                       \
  X(GetControlType, 10, kRead, 0, 4, int)                                                   \
  X(FlashPage, 12, kPage, 2048, 0, unsigned char[2048])                                     \
  X(BeginFlash, 13, kBare, 0, 0, void)                                                      \
  X(SetJointZero, 14, kWrite, 4, 0, int)                                                    \
  X(GetSystemError, 21, kRead, 0, 235, SystemError)                                         \
  X(GetSystemErrorCount, 23, kRead, 0, 4, unsigned int)                                     \
  X(ClearErrorLog, 25, kBare, 0, 0, void)                                                   \
  X(GetCodeVersion, 36, kRead, 0, 52, CodeVersions)                                         \
  X(EraseAllProtectionZones, 37, kBare, 0, 0, void)                                         \
  X(SetProtectionZone, 38, kWrite, 4408, 0, ZoneList)                                       \
  X(GetProtectionZone, 39, kRead, 0, 4408, ZoneList)                                        \
  X(SetControlMapping, 40, kWrite, 14816, 0, ControlMappingCharts)                          \
  X(GetControlMapping, 41, kRead, 0, 14816, ControlMappingCharts)                           \
  X(RestoreFactoryDefault, 45, kBare, 0, 0, void)                                           \
  X(SetAngularControl, 47, kBare, 0, 0, void)                                               \
  X(SetCartesianControl, 49, kBare, 0, 0, void)                                             \
  X(SetActuatorAddress, 52, kWrite, 8, 0, int[2])                                           \
  X(SetActuatorPID, 53, kWrite, 16, 0, ActuatorGains)                                       \
  X(SetActuatorPIDFilter, 54, kWrite, 16, 0, ActuatorGains)                                 \
  X(SetTorqueZero, 55, kWrite, 4, 0, int)                                                   \
  X(SetTorqueGain, 56, kWrite, 8, 0, ActuatorTorqueGain)                                    \
  X(StartForceControl, 57, kBare, 0, 0, void)                                               \
  X(StopForceControl, 58, kBare, 0, 0, void)                                                \
  X(StartCurrentLimitation, 59, kBare, 0, 0, void)                                          \
  X(StopCurrentLimitation, 60, kBare, 0, 0, void)                                           \
  X(SetSerialNumber, 61, kWrite, 20, 0, char[20])                                           \
  X(GetQuickStatus, 62, kRead, 0, 15, QuickStatus)                                          \
  X(SetFrameType, 64, kWrite, 4, 0, int)                                                    \
  X(SetModel, 65, kWrite, 20, 0, char[20])                                                  \
  X(GetGripperStatus, 103, kRead, 0, 416, Gripper)                                          \
  X(GetCartesianPosition, 104, kRead, 0, 36, CartesianPosition)                             \
  X(GetAngularPosition, 105, kRead, 0, 36, AngularPosition)                                 \
  X(GetCartesianCommand, 106, kRead, 0, 36, CartesianPosition)                              \
  X(GetAngularCommand, 107, kRead, 0, 36, AngularPosition)                                  \
  X(GetCartesianForce, 108, kRead, 0, 36, CartesianPosition)                                \
  X(GetAngularForce, 109, kRead, 0, 36, AngularPosition)                                    \
  X(GetAngularCurrent, 110, kRead, 0, 36, AngularPosition)                                  \
  X(GetSensorsInfo, 111, kRead, 0, 56, SensorsInfo)                                         \
  X(GetPositionCurrentActuators, 112, kRead, 0, 48, float[12])                              \
  X(GetAngularCurrentMotor, 113, kRead, 0, 36, AngularPosition)                             \
  X(GetAngularVelocity, 114, kRead, 0, 36, AngularPosition)                                 \
  X(GetForcesInfo, 115, kRead, 0, 48, ForcesInfo)                                           \
  X(GetAngularForceGravityFree, 116, kRead, 0, 36, AngularPosition)                         \
  X(GetActuatorAcceleration, 117, kRead, 0, 72, AngularAcceleration)                        \
  X(ValidateCartesianTransition, 118, kRead, 0, 4, unsigned int)                            \
  X(GetGeneralInformations, 200, kRead, 0, 832, GeneralInformations)                        \
  X(SendAdvanceTrajectory, 300, kWrite, 148, 0, TrajectoryPoint)                            \
  X(EraseAllTrajectories, 301, kBare, 0, 0, void)                                           \
  X(StartControlAPI, 302, kBare, 0, 0, void)                                                \
  X(StopControlAPI, 303, kBare, 0, 0, void)                                                 \
  X(GetGlobalTrajectoryInfo, 304, kRead, 0, 12, TrajectoryFIFO)                             \
  X(SendJoystickCommand, 305, kWrite, 56, 0, JoystickCommand)                               \
  X(GetActualTrajectoryInfo, 307, kRead, 0, 148, ActualTrajectoryForm)                      \
  X(SendBasicTrajectory, 308, kWrite, 48, 0, BasicPointForm<PointBlock::kCoordinates>)      \
  X(GetSingularityVector, 310, kRead, 0, 56, SingularityVector)                             \
  X(MoveHome, 311, kBare, 0, 0, void)                                                       \
  X(GetPeripheralInventory, 403, kRead, 0, 300, PeripheralInfo[15])                         \
  X(SetCartesianForceMinMax, 500, kWrite, 48, 0, CartesianInfo[2])                          \
  X(SetCartesianInertiaDamping, 501, kWrite, 48, 0, CartesianInfo[2])                       \
  X(SetAngularTorqueMinMax, 502, kWrite, 48, 0, AngularInfo[2])                             \
  X(SetAngularInertiaDamping, 503, kWrite, 48, 0, AngularInfo[2])                           \
  X(SetSpasmFilterValues, 504, kWrite, 56, 0, config::SpasmFilterValues)                    \
  X(GetSpasmFilterValues, 505, kRead, 0, 56, config::SpasmFilterValues)                     \
  X(SetDevValue, 5000, kWrite, 56, 0, config::DevValues)                                    \
  X(GetDevValue, 5001, kRead, 0, 56, config::DevValues)                                    

namespace tarsel {

enum class Shape { kRead, kWrite, kBare, kPage };

// One line of the catalogue.
struct CommandEntry {
  const char* name;  // the function that sends it
  int number;
  Shape shape;
  int requestBytes;
  int answerBytes;
  const char* form;  // what crosses, as the catalogue names it ("void" for nothing)
};

// The command numbers, by the name of the function that sends each:
// tarsel::command::MoveHome is 311.
namespace command {
#define TARSEL_COMMAND_NUMBER(name, number, shape, request, answer, form) \
  constexpr int name = number;
TARSEL_COMMANDS(TARSEL_COMMAND_NUMBER)
#undef TARSEL_COMMAND_NUMBER
}  // namespace command

// The whole catalogue, in number order.
inline constexpr CommandEntry kCommands[] = {
#define TARSEL_COMMAND_SPEC(name, number, shape, request, answer, form) \
  {#name, number, Shape::shape, request, answer, #form},
    TARSEL_COMMANDS(TARSEL_COMMAND_SPEC)
#undef TARSEL_COMMAND_SPEC
};

// The line of command number, or nullptr for a number the arm does not know.
constexpr const CommandEntry* FindCommand(int number) {
  for (const CommandEntry& c : kCommands) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

namespace detail {
constexpr bool InNumberOrder() {
  for (std::size_t i = 1; i < sizeof kCommands / sizeof kCommands[0]; ++i) {
    if (kCommands[i - 1].number >= kCommands[i].number) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::InNumberOrder(), "the catalogue lists each number once, in order");

}  // namespace tarsel
