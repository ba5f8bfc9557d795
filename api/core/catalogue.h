// The command catalogue: every command the arm knows, one line each. The API
// modules take their command numbers from it, the simulated arm its table of
// shapes and sizes, and the tests check both sides against it, so adding or
// checking a command touches one line here.
//
// Columns: the function that sends the command (also the name of its
// constant in tarsel::command), its number, its shape, the payload bytes the
// host sends, the payload bytes the arm answers, and the record form that
// crosses (the codec that encodes or decodes it).
//   kRead:  one request per answer packet; answer = the answer's payload
//   kWrite: ceil(request / 56) packets carrying the payload
//   kBare:  one packet without data
//   kPage:  a firmware page: 40 packets of a page offset and 52 image bytes
#pragma once

#include <cstddef>

#define TARSEL_COMMANDS(X)                                                                  \
  X(SetClientConfigurations, 0, kWrite, 3040, 0, "ClientConfigurations")                   \
  X(GetClientConfigurations, 1, kRead, 0, 3040, "ClientConfigurations")                    \
  X(GetControlType, 10, kRead, 0, 4, "int")                                                \
  X(FlashPage, 12, kPage, 2048, 0, "firmware page")                                        \
  X(BeginFlash, 13, kBare, 0, 0, "")                                                       \
  X(SetJointZero, 14, kWrite, 4, 0, "int")                                                 \
  X(GetSystemError, 21, kRead, 0, 235, "SystemError")                                      \
  X(GetSystemErrorCount, 23, kRead, 0, 4, "unsigned int")                                  \
  X(ClearErrorLog, 25, kBare, 0, 0, "")                                                    \
  X(GetCodeVersion, 36, kRead, 0, 52, "version words")                                     \
  X(EraseAllProtectionZones, 37, kBare, 0, 0, "")                                          \
  X(SetProtectionZone, 38, kWrite, 4408, 0, "ZoneList")                                    \
  X(GetProtectionZone, 39, kRead, 0, 4408, "ZoneList")                                     \
  X(SetControlMapping, 40, kWrite, 14816, 0, "ControlMappingCharts")                       \
  X(GetControlMapping, 41, kRead, 0, 14816, "ControlMappingCharts")                        \
  X(RestoreFactoryDefault, 45, kBare, 0, 0, "")                                            \
  X(SetAngularControl, 47, kBare, 0, 0, "")                                                \
  X(SetCartesianControl, 49, kBare, 0, 0, "")                                              \
  X(SetActuatorAddress, 52, kWrite, 8, 0, "two ints")                                      \
  X(SetActuatorPID, 53, kWrite, 16, 0, "int and three floats")                             \
  X(SetActuatorPIDFilter, 54, kWrite, 16, 0, "int and three floats")                       \
  X(SetTorqueZero, 55, kWrite, 4, 0, "int")                                                \
  X(SetTorqueGain, 56, kWrite, 8, 0, "two ints")                                           \
  X(StartForceControl, 57, kBare, 0, 0, "")                                                \
  X(StopForceControl, 58, kBare, 0, 0, "")                                                 \
  X(StartCurrentLimitation, 59, kBare, 0, 0, "")                                           \
  X(StopCurrentLimitation, 60, kBare, 0, 0, "")                                            \
  X(SetSerialNumber, 61, kWrite, 20, 0, "20-byte text")                                    \
  X(GetQuickStatus, 62, kRead, 0, 15, "QuickStatus")                                       \
  X(SetFrameType, 64, kWrite, 4, 0, "int")                                                 \
  X(SetModel, 65, kWrite, 20, 0, "20-byte text")                                           \
  X(GetGripperStatus, 103, kRead, 0, 416, "Gripper")                                       \
  X(GetCartesianPosition, 104, kRead, 0, 36, "CartesianPosition")                          \
  X(GetAngularPosition, 105, kRead, 0, 36, "AngularPosition")                              \
  X(GetCartesianCommand, 106, kRead, 0, 36, "CartesianPosition")                           \
  X(GetAngularCommand, 107, kRead, 0, 36, "AngularPosition")                               \
  X(GetCartesianForce, 108, kRead, 0, 36, "CartesianPosition")                             \
  X(GetAngularForce, 109, kRead, 0, 36, "AngularPosition")                                 \
  X(GetAngularCurrent, 110, kRead, 0, 36, "AngularPosition")                               \
  X(GetSensorsInfo, 111, kRead, 0, 56, "SensorsInfo")                                      \
  X(GetPositionCurrentActuators, 112, kRead, 0, 48, "twelve floats")                       \
  X(GetAngularCurrentMotor, 113, kRead, 0, 36, "AngularPosition")                          \
  X(GetAngularVelocity, 114, kRead, 0, 36, "AngularPosition")                              \
  X(GetForcesInfo, 115, kRead, 0, 48, "ForcesInfo")                                        \
  X(GetAngularForceGravityFree, 116, kRead, 0, 36, "AngularPosition")                      \
  X(GetActuatorAcceleration, 117, kRead, 0, 72, "AngularAcceleration")                     \
  X(ValidateCartesianTransition, 118, kRead, 0, 4, "unsigned int")                         \
  X(GetGeneralInformations, 200, kRead, 0, 832, "GeneralInformations")                     \
  X(SendAdvanceTrajectory, 300, kWrite, 148, 0, "TrajectoryPoint (full)")                  \
  X(EraseAllTrajectories, 301, kBare, 0, 0, "")                                            \
  X(StartControlAPI, 302, kBare, 0, 0, "")                                                 \
  X(StopControlAPI, 303, kBare, 0, 0, "")                                                  \
  X(GetGlobalTrajectoryInfo, 304, kRead, 0, 12, "TrajectoryFIFO")                          \
  X(SendJoystickCommand, 305, kWrite, 56, 0, "JoystickCommand")                            \
  X(GetActualTrajectoryInfo, 307, kRead, 0, 148, "TrajectoryPoint (full)")                 \
  X(SendBasicTrajectory, 308, kWrite, 48, 0, "TrajectoryPoint (basic)")                    \
  X(GetSingularityVector, 310, kRead, 0, 56, "SingularityVector")                          \
  X(MoveHome, 311, kBare, 0, 0, "")                                                        \
  X(GetPeripheralInventory, 403, kRead, 0, 300, "PeripheralInfo list")                     \
  X(SetCartesianForceMinMax, 500, kWrite, 48, 0, "two CartesianInfo")                      \
  X(SetCartesianInertiaDamping, 501, kWrite, 48, 0, "two CartesianInfo")                   \
  X(SetAngularTorqueMinMax, 502, kWrite, 48, 0, "two AngularInfo")                         \
  X(SetAngularInertiaDamping, 503, kWrite, 48, 0, "two AngularInfo")                       \
  X(SetSpasmFilterValues, 504, kWrite, 56, 0, "spasm filter")                              \
  X(GetSpasmFilterValues, 505, kRead, 0, 56, "spasm filter")                               \
  X(SetDevValue, 5000, kWrite, 56, 0, "dev values")                                        \
  X(GetDevValue, 5001, kRead, 0, 56, "dev values")

namespace tarsel {

enum class Shape { kRead, kWrite, kBare, kPage };

// One line of the catalogue.
struct CommandEntry {
  const char* name;  // the function that sends it
  int number;
  Shape shape;
  int requestBytes;
  int answerBytes;
  const char* form;  // the record form that crosses, "" for none
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
  {#name, number, Shape::shape, request, answer, form},
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
