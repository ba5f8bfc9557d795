// Each member of tarsel::Arm runs the flat function of the same name over the
// arm's own connection and turns its result code into an exception.
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/connection.h"
#include "tarsel/arm.hpp"

namespace tarsel {

namespace {

template <typename Record>
Record ReadInto(Arm& arm, const char* where, int (*read)(Record&)) {
  Record record{};
  arm.Call(where, [&] { return read(record); });
  return record;
}

template <typename Record>
Record ReadThrough(Arm& arm, const char* where, int (*read)(Record*)) {
  Record record{};
  arm.Call(where, [&] { return read(&record); });
  return record;
}

// A text of at most 20 bytes in the zero-padded form the arm stores.
struct Text20 {
  Text20(std::string_view text, const char* where) {
    if (text.size() > sizeof chars) throw Error(TARSEL_ERROR_ARGUMENT, where);
    std::memcpy(chars, text.data(), text.size());
  }
  char chars[20] = {};
};

// Refusals of what the arm could only answer with a bare error (2004): each
// throws Error(2100) naming what is wrong, before anything is sent. The flat
// functions send what they are given, as they always have.
[[noreturn]] void Refuse(const char* where, const std::string& why) {
  throw Error(TARSEL_ERROR_ARGUMENT, where, why);
}

// The count values from first: the first that is not finite is refused,
// named by its place counted from 1.
void RequireFinite(const char* where, const char* what, const float* first, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(first[i])) {
      Refuse(where, std::string(what) + " value " + std::to_string(i + 1) + " is " +
                        (std::isnan(first[i]) ? "NaN" : "infinite") + ": nothing was sent");
    }
  }
}

void RequireFinite(const char* where, const char* what, std::initializer_list<float> values) {
  RequireFinite(where, what, values.begin(), values.size());
}

void RequireFinite(const char* where, const char* what, const CartesianInfo& c) {
  RequireFinite(where, what, {c.X, c.Y, c.Z, c.RotationX, c.RotationY, c.RotationZ});
}

void RequireFinite(const char* where, const char* what, const AngularInfo& a) {
  RequireFinite(where, what,
                {a.Actuator1, a.Actuator2, a.Actuator3, a.Actuator4, a.Actuator5, a.Actuator6});
}

// What the point's form carries: a known type, and finite numbers in the
// block its type sends, the fingers and the parameter (and the limits in the
// full form).
void RequireValidPoint(const char* where, const TrajectoryPoint& point, bool full) {
  const UserPosition& p = point.Position;
  switch (p.Type) {
    case TARSEL_CARTESIAN_POSITION:
    case TARSEL_CARTESIAN_VELOCITY:
      RequireFinite(where, "the point's Coordinates", p.Coordinates);
      break;
    case TARSEL_ANGULAR_POSITION:
    case TARSEL_ANGULAR_VELOCITY:
      RequireFinite(where, "the point's Actuators", p.Actuators);
      break;
    default:
      Refuse(where, "point type " + std::to_string(p.Type) +
                        " is none the arm knows (1 Cartesian position, 2 angular position, 7 "
                        "Cartesian velocity, 8 angular velocity): nothing was sent");
  }
  RequireFinite(where, "the point's Fingers",
                {p.Fingers.Finger1, p.Fingers.Finger2, p.Fingers.Finger3});
  RequireFinite(where, "the point's Parameter", {p.Parameter});
  if (full) {
    const Limitation& l = point.Limits;
    RequireFinite(
        where, "the point's Limits",
        {l.Limit1, l.Limit2, l.Limit3, l.Limit4, l.Limit5, l.Limit6, l.Limit7, l.Limit8, l.Limit9});
  }
}

void RequireFinite(const char* where, const char* what, const std::vector<float>& values) {
  RequireFinite(where, what, values.data(), values.size());
}

}  // namespace

#define TARSEL_ARM_READ(Name, Record)               \
  Record Arm::Name() {                              \
    return ReadInto<Record>(*this, #Name, &::Name); \
  }
#define TARSEL_ARM_READ_THROUGH(Name, Record)          \
  Record Arm::Name() {                                 \
    return ReadThrough<Record>(*this, #Name, &::Name); \
  }
#define TARSEL_ARM_BARE(Name)             \
  void Arm::Name() {                      \
    Call(#Name, [] { return ::Name(); }); \
  }

TARSEL_ARM_READ(GetCartesianPosition, CartesianPosition)
TARSEL_ARM_READ(GetAngularPosition, AngularPosition)
TARSEL_ARM_READ(GetCartesianCommand, CartesianPosition)
TARSEL_ARM_READ(GetAngularCommand, AngularPosition)
TARSEL_ARM_READ(GetCartesianForce, CartesianPosition)
TARSEL_ARM_READ(GetAngularForce, AngularPosition)
TARSEL_ARM_READ(GetAngularCurrent, AngularPosition)
TARSEL_ARM_READ(GetAngularCurrentMotor, AngularPosition)
TARSEL_ARM_READ(GetAngularVelocity, AngularPosition)
TARSEL_ARM_READ(GetAngularForceGravityFree, AngularPosition)
TARSEL_ARM_READ(GetActuatorAcceleration, AngularAcceleration)
TARSEL_ARM_READ(GetControlType, int)
TARSEL_ARM_READ(GetSingularityVector, SingularityVector)
TARSEL_ARM_READ(ValidateCartesianTransition, unsigned int)
TARSEL_ARM_READ(GetGlobalTrajectoryInfo, TrajectoryFIFO)
TARSEL_ARM_READ(GetActualTrajectoryInfo, TrajectoryPoint)
TARSEL_ARM_READ_THROUGH(GetClientConfigurations, ClientConfigurations)
TARSEL_ARM_READ_THROUGH(GetControlMapping, ControlMappingCharts)
TARSEL_ARM_READ_THROUGH(GetProtectionZone, ZoneList)
TARSEL_ARM_READ(GetGeneralInformations, GeneralInformations)
TARSEL_ARM_READ(GetGripperStatus, Gripper)
TARSEL_ARM_READ(GetQuickStatus, QuickStatus)
TARSEL_ARM_READ(GetForcesInfo, ForcesInfo)
TARSEL_ARM_READ(GetSensorsInfo, SensorsInfo)
TARSEL_ARM_READ(GetSystemErrorCount, unsigned int)
TARSEL_ARM_READ(GetPeripheralInventory, std::vector<PeripheralInfo>)
TARSEL_ARM_READ(GetPositionCurrentActuators, std::vector<float>)
TARSEL_ARM_READ(GetAPIVersion, std::vector<int>)
TARSEL_ARM_READ(GetCodeVersion, std::vector<int>)

TARSEL_ARM_BARE(StartControlAPI)
TARSEL_ARM_BARE(StopControlAPI)
TARSEL_ARM_BARE(SetAngularControl)
TARSEL_ARM_BARE(SetCartesianControl)
TARSEL_ARM_BARE(EraseAllTrajectories)
TARSEL_ARM_BARE(StartForceControl)
TARSEL_ARM_BARE(StopForceControl)
TARSEL_ARM_BARE(StartCurrentLimitation)
TARSEL_ARM_BARE(StopCurrentLimitation)
TARSEL_ARM_BARE(EraseAllProtectionZones)
TARSEL_ARM_BARE(RestoreFactoryDefault)
TARSEL_ARM_BARE(ClearErrorLog)

#undef TARSEL_ARM_READ
#undef TARSEL_ARM_READ_THROUGH
#undef TARSEL_ARM_BARE

void Arm::SendJoystickCommand(const JoystickCommand& command) {
  RequireFinite(
      "SendJoystickCommand", "the joystick's axis",
      {command.Axis1, command.Axis2, command.Axis3, command.Axis4, command.Axis5, command.Axis6});
  Call("SendJoystickCommand", [&] { return ::SendJoystickCommand(command); });
}

void Arm::MoveHome(std::chrono::milliseconds limit) {
  StopScope stop(StopCheckFor(limit));
  Call("MoveHome", [] { return ::MoveHome(); });
}

void Arm::SendAdvanceTrajectory(const TrajectoryPoint& point) {
  RequireValidPoint("SendAdvanceTrajectory", point, true);
  Call("SendAdvanceTrajectory", [&] { return ::SendAdvanceTrajectory(point); });
}

void Arm::SendBasicTrajectory(const TrajectoryPoint& point) {
  RequireValidPoint("SendBasicTrajectory", point, false);
  Call("SendBasicTrajectory", [&] { return ::SendBasicTrajectory(point); });
}

void Arm::SetCartesianForceMinMax(const CartesianInfo& min, const CartesianInfo& max) {
  RequireFinite("SetCartesianForceMinMax", "min", min);
  RequireFinite("SetCartesianForceMinMax", "max", max);
  Call("SetCartesianForceMinMax", [&] { return ::SetCartesianForceMinMax(min, max); });
}

void Arm::SetCartesianInertiaDamping(const CartesianInfo& inertia, const CartesianInfo& damping) {
  RequireFinite("SetCartesianInertiaDamping", "inertia", inertia);
  RequireFinite("SetCartesianInertiaDamping", "damping", damping);
  Call("SetCartesianInertiaDamping",
       [&] { return ::SetCartesianInertiaDamping(inertia, damping); });
}

void Arm::SetAngularTorqueMinMax(const AngularInfo& min, const AngularInfo& max) {
  RequireFinite("SetAngularTorqueMinMax", "min", min);
  RequireFinite("SetAngularTorqueMinMax", "max", max);
  Call("SetAngularTorqueMinMax", [&] { return ::SetAngularTorqueMinMax(min, max); });
}

void Arm::SetAngularInertiaDamping(const AngularInfo& inertia, const AngularInfo& damping) {
  RequireFinite("SetAngularInertiaDamping", "inertia", inertia);
  RequireFinite("SetAngularInertiaDamping", "damping", damping);
  Call("SetAngularInertiaDamping", [&] { return ::SetAngularInertiaDamping(inertia, damping); });
}

void Arm::SetClientConfigurations(const ClientConfigurations& config) {
  Call("SetClientConfigurations", [&] { return ::SetClientConfigurations(config); });
}

void Arm::SetControlMapping(const ControlMappingCharts& charts) {
  Call("SetControlMapping", [&] { return ::SetControlMapping(charts); });
}

void Arm::SetProtectionZone(const ZoneList& zones) {
  Call("SetProtectionZone", [&] { return ::SetProtectionZone(zones); });
}

void Arm::SetSerialNumber(std::string_view serial) {
  Text20 text(serial, "SetSerialNumber");
  Call("SetSerialNumber", [&] { return ::SetSerialNumber(text.chars); });
}

void Arm::SetModel(std::string_view model, std::string_view accessCode) {
  Text20 text(model, "SetModel");
  Text20 code(accessCode, "SetModel");
  Call("SetModel", [&] { return ::SetModel(text.chars, code.chars); });
}

void Arm::SetFrameType(int frameType) {
  Call("SetFrameType", [&] { return ::SetFrameType(frameType); });
}

void Arm::SetDevValue(const std::vector<float>& values) {
  RequireFinite("SetDevValue", "the dev", values);
  Call("SetDevValue", [&] { return ::SetDevValue(values); });
}

void Arm::SetSpasmFilterValues(const std::vector<float>& values, int filterSetting) {
  RequireFinite("SetSpasmFilterValues", "the filter's", values);
  Call("SetSpasmFilterValues", [&] { return ::SetSpasmFilterValues(values, filterSetting); });
}

std::vector<float> Arm::GetDevValue() {
  std::vector<float> values(14);
  Call("GetDevValue", [&] { return ::GetDevValue(values); });
  return values;
}

SpasmFilter Arm::GetSpasmFilterValues() {
  SpasmFilter filter;
  filter.values.resize(4);
  Call("GetSpasmFilterValues",
       [&] { return ::GetSpasmFilterValues(filter.values, filter.setting); });
  return filter;
}

SystemError Arm::GetSystemError(unsigned int index) {
  SystemError error{};
  try {
    Call("GetSystemError", [&] { return ::GetSystemError(index, error); });
  } catch (const Error& e) {
    // The arm refuses an entry past the end of its log with a bare error:
    // say so when the count shows it.
    if (e.code() != TARSEL_ERROR_ANSWER_ERROR_BIT) throw;
    unsigned int count = 0;
    try {
      count = GetSystemErrorCount();
    } catch (const Error&) {
      throw e;
    }
    if (index < count) throw;
    throw Error(e.code(), e.where(),
                "entry " + std::to_string(index) + " is past the end of the error log" +
                    (count == 0 ? std::string(", which is empty")
                                : ", whose entries are 0 to " + std::to_string(count - 1)));
  }
  return error;
}

void Arm::InitFingers(std::chrono::milliseconds limit) {
  StopScope stop(StopCheckFor(limit));
  Call("InitFingers", [] { return ::InitFingers(); });
}

void Arm::SetJointZero(int address) {
  Call("SetJointZero", [&] { return ::SetJointZero(address); });
}

void Arm::SetActuatorAddress(int address, int newAddress) {
  Call("SetActuatorAddress", [&] { return ::SetActuatorAddress(address, newAddress); });
}

void Arm::SetActuatorPID(int address, float p, float i, float d) {
  RequireFinite("SetActuatorPID", "the gain", {p, i, d});
  Call("SetActuatorPID", [&] { return ::SetActuatorPID(address, p, i, d); });
}

void Arm::SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD) {
  RequireFinite("SetActuatorPIDFilter", "the filter", {filterP, filterI, filterD});
  Call("SetActuatorPIDFilter",
       [&] { return ::SetActuatorPIDFilter(address, filterP, filterI, filterD); });
}

void Arm::SetTorqueZero(int address) {
  Call("SetTorqueZero", [&] { return ::SetTorqueZero(address); });
}

void Arm::SetTorqueGain(int address, int gain) {
  Call("SetTorqueGain", [&] { return ::SetTorqueGain(address, gain); });
}

namespace {

struct FlashContext {
  const FlashProgress* progress;
  std::exception_ptr failure;
};

int OnFlashPage(int page, int total, int /*pageResult*/, void* user) {
  auto* context = static_cast<FlashContext*>(user);
  if (!*context->progress) return 1;
  try {
    return (*context->progress)(page, total) ? 1 : 0;
  } catch (...) {
    context->failure = std::current_exception();
    return 0;
  }
}

}  // namespace

void Arm::ProgramFlash(const std::string& path, FlashProgress progress) {
  FlashContext context{&progress, nullptr};
  StopScope stop(StopCheckFor(std::chrono::hours(24 * 365)));
  int code = TARSEL_OK;
  Call("ProgramFlash", [&] {
    code = ::ProgramFlashWithProgress(path.c_str(), OnFlashPage, &context);
    return context.failure ? TARSEL_OK : code;
  });
  if (context.failure) std::rethrow_exception(context.failure);
}

}  // namespace tarsel
