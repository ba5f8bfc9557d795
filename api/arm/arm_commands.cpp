// Each member of tarsel::Arm runs the flat function of the same name over the
// arm's own connection and turns its result code into an exception. The
// members of the table api/arm/exports.txt are expanded from its lists
// (arm/exports.h); the rest are written out below.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

#include "arm/arrival.h"
#include "arm/exports.h"
#include "core/connection.h"
#include "motion/motion_codec.h"
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

// Refuses value, the place-th (counted from 1) of what, when it is not finite.
void RequireFiniteAt(const char* where, const char* what, std::size_t place, float value) {
  if (!std::isfinite(value)) {
    Refuse(where, std::string(what) + " value " + std::to_string(place) + " is " +
                      (std::isnan(value) ? "NaN" : "infinite") + ": nothing was sent");
  }
}

void RequireFinite(const char* where, const char* what, const float* first, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) RequireFiniteAt(where, what, i + 1, first[i]);
}

void RequireFinite(const char* where, const char* what, std::initializer_list<float> values) {
  RequireFinite(where, what, values.begin(), values.size());
}

// The floats of record, in wire order.
template <class Record>
void RequireFinite(const char* where, const char* what, const Record& record) {
  std::size_t place = 0;
  auto check = [&](float value) { RequireFiniteAt(where, what, ++place, value); };
  ForEachFloat<Form<Record>>(record, check);
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
  RequireFinite(where, "the point's Fingers", p.Fingers);
  RequireFinite(where, "the point's Parameter", {p.Parameter});
  if (full) {
    RequireFinite(where, "the point's Limits", point.Limits);
  }
}

void RequireFinite(const char* where, const char* what, const std::vector<float>& values) {
  RequireFinite(where, what, values.data(), values.size());
}

// The checks the table names, each called as check(where, argument name,
// argument) before anything is sent.
template <typename Value>
void NoCheck(const char*, const char*, const Value&) {}

void RequireFiniteAxes(const char* where, const char*, const JoystickCommand& command) {
  RequireFinite(where, "the joystick's axis", command);
}

void RequireValidFullPoint(const char* where, const char*, const TrajectoryPoint& point) {
  RequireValidPoint(where, point, true);
}

void RequireValidBasicPoint(const char* where, const char*, const TrajectoryPoint& point) {
  RequireValidPoint(where, point, false);
}

// A written value as the member takes it: a plain number by value, a record
// by const& (as tarsel/arm.hpp declares them).
template <typename Value>
using Param = std::conditional_t<std::is_arithmetic_v<Value>, Value, const Value&>;

}  // namespace

#define TARSEL_ARM_READ(Name, python, module, Record, doc) \
  Record Arm::Name() {                                     \
    return ReadInto<Record>(*this, #Name, &::Name);        \
  }
#define TARSEL_ARM_POINTER_READ(Name, python, module, Record, doc) \
  Record Arm::Name() {                                            \
    return ReadThrough<Record>(*this, #Name, &::Name);            \
  }
#define TARSEL_ARM_BARE(Name, python, module, doc) \
  void Arm::Name() {                               \
    Call(#Name, [] { return ::Name(); });          \
  }
#define TARSEL_ARM_WRITE(Name, python, module, Record, Check, doc, a, pythonA) \
  void Arm::Name(Param<Record> a) {                                            \
    Check(#Name, #a, a);                                                       \
    Call(#Name, [&] { return ::Name(a); });                                    \
  }
#define TARSEL_ARM_PAIR_WRITE(Name, python, module, Record, Check, doc, a, pythonA, b, pythonB) \
  void Arm::Name(Param<Record> a, Param<Record> b) {                                           \
    Check(#Name, #a, a);                                                                       \
    Check(#Name, #b, b);                                                                       \
    Call(#Name, [&] { return ::Name(a, b); });                                                 \
  }

TARSEL_ARM_READS(TARSEL_ARM_READ)
TARSEL_ARM_POINTER_READS(TARSEL_ARM_POINTER_READ)
TARSEL_ARM_BARE_COMMANDS(TARSEL_ARM_BARE)
TARSEL_ARM_WRITES(TARSEL_ARM_WRITE)
TARSEL_ARM_PAIR_WRITES(TARSEL_ARM_PAIR_WRITE)

#undef TARSEL_ARM_READ
#undef TARSEL_ARM_POINTER_READ
#undef TARSEL_ARM_BARE
#undef TARSEL_ARM_WRITE
#undef TARSEL_ARM_PAIR_WRITE

void Arm::MoveHome(std::chrono::milliseconds limit) {
  StopScope stop(StopCheckFor(limit));
  Call("MoveHome", [] { return ::MoveHome(); });
}

namespace {

// How far the arm stood from the point when MoveTo gave up.
std::string Stayed(const MoveResult& reached, const UserPosition& target) {
  char text[160];
  if (const auto* joints = std::get_if<AngularPosition>(&reached)) {
    const arrival::JointGap gap = arrival::LargestJointGap(joints->Actuators, target.Actuators);
    std::snprintf(text, sizeof text, "the arm stayed %.3f deg from the point (joint %d)",
                  gap.degrees, gap.joint + 1);
  } else {
    const arrival::PoseGap gap =
        arrival::PoseGapOf(std::get<CartesianPosition>(reached).Coordinates, target.Coordinates);
    std::snprintf(text, sizeof text, "the arm stayed %.1f mm and %.3f rad from the point",
                  gap.millimetres, gap.radians);
  }
  return text;
}

bool Arrived(const MoveResult& reached, const UserPosition& target, const MoveTolerance& t) {
  if (const auto* joints = std::get_if<AngularPosition>(&reached)) {
    return arrival::Within(arrival::LargestJointGap(joints->Actuators, target.Actuators).degrees,
                           t.degrees);
  }
  const arrival::PoseGap gap =
      arrival::PoseGapOf(std::get<CartesianPosition>(reached).Coordinates, target.Coordinates);
  return arrival::Within(gap.millimetres, t.millimetres) && arrival::Within(gap.radians, t.radians);
}

}  // namespace

MoveResult Arm::MoveTo(const TrajectoryPoint& point, const MoveTolerance& tolerance,
                       std::chrono::milliseconds limit) {
  const char* where = "MoveTo";
  RequireValidPoint(where, point, false);
  const UserPosition& target = point.Position;
  const bool cartesian = target.Type == TARSEL_CARTESIAN_POSITION;
  if (!cartesian && target.Type != TARSEL_ANGULAR_POSITION) {
    Refuse(where, "point type " + std::to_string(target.Type) +
                      " is a velocity: MoveTo takes a position (1 Cartesian, 2 angular): "
                      "nothing was sent");
  }
  for (const double t : {tolerance.degrees, tolerance.millimetres, tolerance.radians}) {
    if (!(std::isfinite(t) && t >= 0)) {
      Refuse(where, "a tolerance must be a finite number, 0 or more: nothing was sent");
    }
  }
  const std::function<int()> stop = StopCheckFor(limit);
  Call(where, [&] { return ::SendBasicTrajectory(point); });
  for (;;) {
    TrajectoryFIFO fifo{};
    Call(where, [&] { return ::GetGlobalTrajectoryInfo(fifo); });
    // The queue first: once it is empty, the position read next is where
    // the arm settled.
    MoveResult reached;
    if (cartesian) {
      CartesianPosition pose{};
      Call(where, [&] { return ::GetCartesianPosition(pose); });
      reached = pose;
    } else {
      AngularPosition joints{};
      Call(where, [&] { return ::GetAngularPosition(joints); });
      reached = joints;
    }
    if (fifo.PointCount == 0 && Arrived(reached, target, tolerance)) return reached;
    if (const int code = stop(); code != 0) {
      Call(where, [] { return ::EraseAllTrajectories(); });
      throw Error(code, where,
                  std::string(GetResultMessage(code)) + ": " + Stayed(reached, target) +
                      "; the trajectory queue was erased and the arm stopped");
    }
    // A few polls per step of the arm's control; each poll is two exchanges.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

MoveResult Arm::MoveTo(const UserPosition& position, const MoveTolerance& tolerance,
                       std::chrono::milliseconds limit) {
  TrajectoryPoint point;
  point.InitStruct();
  point.Position = position;
  return MoveTo(point, tolerance, limit);
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

void Arm::SetActuatorPID(int address, float p, float i, float d) {
  RequireFinite("SetActuatorPID", "the gain", {p, i, d});
  Call("SetActuatorPID", [&] { return ::SetActuatorPID(address, p, i, d); });
}

void Arm::SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD) {
  RequireFinite("SetActuatorPIDFilter", "the filter", {filterP, filterI, filterD});
  Call("SetActuatorPIDFilter",
       [&] { return ::SetActuatorPIDFilter(address, filterP, filterI, filterD); });
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
