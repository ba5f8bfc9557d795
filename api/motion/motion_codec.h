// Payload forms of the motion records. Decoders read from offset and leave it
// just past the form; encoders append the whole form to the payload's end and
// treat the offset as each one documents.
#pragma once

#include "core/form.h"
#include "core/payload.h"
#include "tarsel/motion.h"

// 36 bytes: six actuator floats, then three finger floats.
TARSEL_API int DeserializeAngularPosition(int& offset, const Payload& payload,
                                          AngularPosition& out);
// 36 bytes: six Cartesian floats, then three finger floats.
TARSEL_API int DeserializeCartesianPosition(int& offset, const Payload& payload,
                                            CartesianPosition& out);
// 72 bytes: eighteen floats.
TARSEL_API int DeserializeActuatorAcceleration(int& offset, const Payload& payload,
                                               AngularAcceleration& out);
// 104 bytes, fillers skipped.
TARSEL_API int DeserializeUserPosition(int& offset, const Payload& payload, UserPosition& out);

// 24 bytes; offset advanced by 24.
TARSEL_API int SerializeCartesianInfo(int& offset, Payload& payload, CartesianInfo info);
// 24 bytes; offset advanced by 24.
TARSEL_API int SerializeAngularInfo(int& offset, Payload& payload, AngularInfo info);
// 148 bytes (full form with fillers 3.0, 0, 3.0, 0, 3.0); offset unchanged.
TARSEL_API int SerializeTrajectoryPoint(int& offset, Payload& payload, TrajectoryPoint point);
// 48 bytes (basic form); offset set to 48 for Type 1, 2, 7, 8, else 24.
TARSEL_API int SerializeBasicTrajectoryPoint(int& offset, Payload& payload, TrajectoryPoint point);
// 56 bytes; offset unchanged.
TARSEL_API int SerializeJoystickCommand(int& offset, Payload& payload, JoystickCommand command);

// 12 bytes.
TARSEL_API int DeserializeGlobalTrajectory(int& offset, const Payload& payload,
                                           TrajectoryFIFO& out);
// 56 bytes.
TARSEL_API int DeserializeSingularityVector(int& offset, const Payload& payload,
                                            SingularityVector& out);
// 4 bytes.
TARSEL_API int DeserializeCartesianValidation(int& offset, const Payload& payload,
                                              unsigned int& out);

namespace tarsel {

// --- Runs of floats -------------------------------------------------------------
// These records are floats and nothing else, in memory as on the wire, so
// each is read and written as one run.

TARSEL_FLOAT_RUN_FORM(CartesianInfo) {
  TARSEL_FIELDS(X, Y, Z, RotationX, RotationY, RotationZ);
}

TARSEL_FLOAT_RUN_FORM(AngularInfo) {
  TARSEL_FIELDS(Actuator1, Actuator2, Actuator3, Actuator4, Actuator5, Actuator6);
}

TARSEL_FLOAT_RUN_FORM(FingersPosition) {
  TARSEL_FIELDS(Finger1, Finger2, Finger3);
}

// 36 bytes: six actuator floats, then three finger floats.
TARSEL_FLOAT_RUN_FORM(AngularPosition) {
  TARSEL_FIELDS(Actuators, Fingers);
}

// 36 bytes: six Cartesian floats, then three finger floats.
TARSEL_FLOAT_RUN_FORM(CartesianPosition) {
  TARSEL_FIELDS(Coordinates, Fingers);
}

// 72 bytes: eighteen floats.
TARSEL_FLOAT_RUN_FORM(AngularAcceleration) {
  TARSEL_FIELDS(Values);
}

// 36 bytes: Limit1 to Limit9. Written field by field: only ever inside a
// point, where a run's copy costs more than it saves.
TARSEL_FORM(Limitation) {
  TARSEL_FIELDS(Limit1, Limit2, Limit3, Limit4, Limit5, Limit6, Limit7, Limit8, Limit9);
}

// --- Positions --------------------------------------------------------------------

// The float64 filler the arm expects in the gaps of a stored position.
constexpr double kPositionFiller = 3.0;

// The Cartesian coordinates inside a stored position, 48 bytes: X, Y, Z,
// 4 zero bytes, the filler 3.0, RotationX, RotationY, RotationZ, 4 zero bytes.
struct PositionCoordinatesForm {
  using Record = CartesianInfo;
  static constexpr const char* kName = "CartesianInfo";
  template <class Io>
  static constexpr void Fields(Io& io) {
    TARSEL_FIELDS(X, Y, Z);
    io.Gap(4);
    io.Filler(kPositionFiller);
    TARSEL_FIELDS(RotationX, RotationY, RotationZ);
    io.Gap(4);
  }
};

// A stored position, 104 bytes: Type, Parameter, the filler 3.0, the
// coordinates (above), the filler LastFiller, the actuators, FingersMode and
// the fingers. Points travel with LastFiller 3.0 (Form<UserPosition>); the
// client configuration's stored positions with 6.0.
template <int LastFiller>
struct UserPositionForm {
  using Record = UserPosition;
  static constexpr const char* kName = "UserPosition";
  template <class Io>
  static constexpr void Fields(Io& io) {
    TARSEL_FIELDS(Type, Parameter);
    io.Filler(kPositionFiller);
    io.Field(TARSEL_NAMED(Coordinates), PositionCoordinatesForm{});
    io.Filler(static_cast<double>(LastFiller));
    TARSEL_FIELDS(Actuators, FingersMode, Fingers);
  }
};
template <>
struct Form<UserPosition> : UserPositionForm<3> {};

// --- Trajectory points ----------------------------------------------------------

// The full point, 148 bytes: the position, LimitationFlag, 4 zero bytes, the
// nine limits. SendAdvanceTrajectory's form.
TARSEL_FORM(TrajectoryPoint) {
  TARSEL_FIELDS(Position, LimitationFlag);
  io.Gap(4);
  TARSEL_FIELDS(Limits);
}

// The point being executed as the arm reports it: the full form, except that
// LimitationFlag is carried as a float.
struct ActualTrajectoryForm {
  using Record = TrajectoryPoint;
  static constexpr const char* kName = "TrajectoryPoint";
  template <class Io>
  static constexpr void Fields(Io& io) {
    TARSEL_FIELDS(Position);
    io.AsFloat(TARSEL_NAMED(LimitationFlag));
    io.Gap(4);
    TARSEL_FIELDS(Limits);
  }
};

// Which six values a point in the basic form carries, chosen by its Type:
// Coordinates for the Cartesian Types (1, 7), Actuators for the angular ones
// (2, 8), none for any other Type.
enum class PointBlock { kCoordinates, kActuators, kNone };
constexpr PointBlock BlockOf(int type) {
  if (type == TARSEL_CARTESIAN_POSITION || type == TARSEL_CARTESIAN_VELOCITY) {
    return PointBlock::kCoordinates;
  }
  if (type == TARSEL_ANGULAR_POSITION || type == TARSEL_ANGULAR_VELOCITY) {
    return PointBlock::kActuators;
  }
  return PointBlock::kNone;
}

// The position in the basic form: the block, Fingers, Parameter, FingersMode,
// Type (48 bytes, 24 without a block).
template <PointBlock Block>
struct BasicPositionForm {
  using Record = UserPosition;
  static constexpr const char* kName = "UserPosition";
  template <class Io>
  static constexpr void Fields(Io& io) {
    if constexpr (Block == PointBlock::kCoordinates) io.Field(TARSEL_NAMED(Coordinates));
    if constexpr (Block == PointBlock::kActuators) io.Field(TARSEL_NAMED(Actuators));
    TARSEL_FIELDS(Fingers, Parameter, FingersMode, Type);
  }
};

// The basic point, SendBasicTrajectory's form: the position as above, zero
// bytes up to 48. Since Type comes last, the form is chosen from the Type by
// the writer (WithBasicForm); a reader reads the Type where a point with a
// block has it and then reads the point again in the form that Type names.
constexpr int kBasicPointSize = 48;
template <PointBlock Block>
struct BasicPointForm {
  using Record = TrajectoryPoint;
  using PositionForm = BasicPositionForm<Block>;
  static constexpr const char* kName = "TrajectoryPoint";
  template <class Io>
  static constexpr void Fields(Io& io) {
    io.Field(TARSEL_NAMED(Position), BasicPositionForm<Block>{});
    io.PadTo(kBasicPointSize);
  }
};
static_assert(FormSize<BasicPointForm<PointBlock::kNone>>() == kBasicPointSize);

// Calls visit(BasicPointForm<B>{}) with the B that type names; returns what
// visit returns.
template <class Visit>
constexpr auto WithBasicForm(int type, Visit&& visit) {
  switch (BlockOf(type)) {
    case PointBlock::kCoordinates:
      return visit(BasicPointForm<PointBlock::kCoordinates>{});
    case PointBlock::kActuators:
      return visit(BasicPointForm<PointBlock::kActuators>{});
    case PointBlock::kNone:
      break;
  }
  return visit(BasicPointForm<PointBlock::kNone>{});
}

// --- Commands and state -------------------------------------------------------------

// 56 bytes: the sixteen buttons, then the six axes.
TARSEL_FORM(JoystickCommand) {
  TARSEL_FIELDS(Buttons, Axis1, Axis2, Axis3, Axis4, Axis5, Axis6);
}

// 12 bytes: points queued, progress, free places.
TARSEL_FORM(TrajectoryFIFO) {
  TARSEL_FIELDS(PointCount, StatusFloat, StatusInt);
}

// The singularity vector's components, 40 bytes: 8 zero bytes, X, Y, Z,
// 8 zero bytes, RotationX, RotationY, RotationZ.
struct SingularityCoordinatesForm {
  using Record = CartesianInfo;
  static constexpr const char* kName = "CartesianInfo";
  template <class Io>
  static constexpr void Fields(Io& io) {
    io.Gap(8);
    TARSEL_FIELDS(X, Y, Z);
    io.Gap(8);
    TARSEL_FIELDS(RotationX, RotationY, RotationZ);
  }
};

// 56 bytes: Indicator1, Indicator2 as a float, Measure1, Measure2, the vector.
TARSEL_FORM(SingularityVector) {
  TARSEL_FIELDS(Indicator1);
  io.AsFloat(TARSEL_NAMED(Indicator2));
  TARSEL_FIELDS(Measure1, Measure2);
  io.Field(TARSEL_NAMED(Vector), SingularityCoordinatesForm{});
}

}  // namespace tarsel
