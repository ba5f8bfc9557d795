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

template <>
struct Form<CartesianInfo> {
  using Record = CartesianInfo;
  static constexpr const char* kName = "CartesianInfo";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(X), TARSEL_NAMED(Y), TARSEL_NAMED(Z), TARSEL_NAMED(RotationX),
                 TARSEL_NAMED(RotationY), TARSEL_NAMED(RotationZ));
  }
};

template <>
struct Form<AngularInfo> {
  using Record = AngularInfo;
  static constexpr const char* kName = "AngularInfo";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Actuator1), TARSEL_NAMED(Actuator2), TARSEL_NAMED(Actuator3),
                 TARSEL_NAMED(Actuator4), TARSEL_NAMED(Actuator5), TARSEL_NAMED(Actuator6));
  }
};

template <>
struct Form<FingersPosition> {
  using Record = FingersPosition;
  static constexpr const char* kName = "FingersPosition";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Finger1), TARSEL_NAMED(Finger2), TARSEL_NAMED(Finger3));
  }
};

// 36 bytes: six actuator floats, then three finger floats.
template <>
struct Form<AngularPosition> {
  using Record = AngularPosition;
  static constexpr const char* kName = "AngularPosition";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Actuators), TARSEL_NAMED(Fingers));
  }
};

// 36 bytes: six Cartesian floats, then three finger floats.
template <>
struct Form<CartesianPosition> {
  using Record = CartesianPosition;
  static constexpr const char* kName = "CartesianPosition";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Coordinates), TARSEL_NAMED(Fingers));
  }
};

// 72 bytes: eighteen floats.
template <>
struct Form<AngularAcceleration> {
  using Record = AngularAcceleration;
  static constexpr const char* kName = "AngularAcceleration";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Values));
  }
};

// 36 bytes: Limit1 to Limit9. Written field by field: only ever inside a
// point, where a run's copy costs more than it saves.
template <>
struct Form<Limitation> {
  using Record = Limitation;
  static constexpr const char* kName = "Limitation";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Limit1), TARSEL_NAMED(Limit2), TARSEL_NAMED(Limit3),
                 TARSEL_NAMED(Limit4), TARSEL_NAMED(Limit5), TARSEL_NAMED(Limit6),
                 TARSEL_NAMED(Limit7), TARSEL_NAMED(Limit8), TARSEL_NAMED(Limit9));
  }
};

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
    using R = Record;
    FieldRun(io, TARSEL_NAMED(X), TARSEL_NAMED(Y), TARSEL_NAMED(Z));
    io.Gap(4);
    io.Filler(kPositionFiller);
    FieldRun(io, TARSEL_NAMED(RotationX), TARSEL_NAMED(RotationY), TARSEL_NAMED(RotationZ));
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
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Type), TARSEL_NAMED(Parameter));
    io.Filler(kPositionFiller);
    io.Field(TARSEL_NAMED(Coordinates), PositionCoordinatesForm{});
    io.Filler(static_cast<double>(LastFiller));
    FieldRun(io, TARSEL_NAMED(Actuators), TARSEL_NAMED(FingersMode), TARSEL_NAMED(Fingers));
  }
};
template <>
struct Form<UserPosition> : UserPositionForm<3> {};

// --- Trajectory points ----------------------------------------------------------

// The full point, 148 bytes: the position, LimitationFlag, 4 zero bytes, the
// nine limits. SendAdvanceTrajectory's form.
template <>
struct Form<TrajectoryPoint> {
  using Record = TrajectoryPoint;
  static constexpr const char* kName = "TrajectoryPoint";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Position), TARSEL_NAMED(LimitationFlag));
    io.Gap(4);
    io.Field(TARSEL_NAMED(Limits));
  }
};

// The point being executed as the arm reports it: the full form, except that
// LimitationFlag is carried as a float.
struct ActualTrajectoryForm {
  using Record = TrajectoryPoint;
  static constexpr const char* kName = "TrajectoryPoint";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Position));
    io.AsFloat(TARSEL_NAMED(LimitationFlag));
    io.Gap(4);
    io.Field(TARSEL_NAMED(Limits));
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
    using R = Record;
    if constexpr (Block == PointBlock::kCoordinates) io.Field(TARSEL_NAMED(Coordinates));
    if constexpr (Block == PointBlock::kActuators) io.Field(TARSEL_NAMED(Actuators));
    FieldRun(io, TARSEL_NAMED(Fingers), TARSEL_NAMED(Parameter), TARSEL_NAMED(FingersMode),
                 TARSEL_NAMED(Type));
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
    using R = Record;
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
template <>
struct Form<JoystickCommand> {
  using Record = JoystickCommand;
  static constexpr const char* kName = "JoystickCommand";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(Buttons), TARSEL_NAMED(Axis1), TARSEL_NAMED(Axis2),
                 TARSEL_NAMED(Axis3), TARSEL_NAMED(Axis4), TARSEL_NAMED(Axis5),
                 TARSEL_NAMED(Axis6));
  }
};

// 12 bytes: points queued, progress, free places.
template <>
struct Form<TrajectoryFIFO> {
  using Record = TrajectoryFIFO;
  static constexpr const char* kName = "TrajectoryFIFO";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    FieldRun(io, TARSEL_NAMED(PointCount), TARSEL_NAMED(StatusFloat), TARSEL_NAMED(StatusInt));
  }
};

// The singularity vector's components, 40 bytes: 8 zero bytes, X, Y, Z,
// 8 zero bytes, RotationX, RotationY, RotationZ.
struct SingularityCoordinatesForm {
  using Record = CartesianInfo;
  static constexpr const char* kName = "CartesianInfo";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Gap(8);
    FieldRun(io, TARSEL_NAMED(X), TARSEL_NAMED(Y), TARSEL_NAMED(Z));
    io.Gap(8);
    FieldRun(io, TARSEL_NAMED(RotationX), TARSEL_NAMED(RotationY), TARSEL_NAMED(RotationZ));
  }
};

// 56 bytes: Indicator1, Indicator2 as a float, Measure1, Measure2, the vector.
template <>
struct Form<SingularityVector> {
  using Record = SingularityVector;
  static constexpr const char* kName = "SingularityVector";
  template <class Io>
  static constexpr void Fields(Io& io) {
    using R = Record;
    io.Field(TARSEL_NAMED(Indicator1));
    io.AsFloat(TARSEL_NAMED(Indicator2));
    FieldRun(io, TARSEL_NAMED(Measure1), TARSEL_NAMED(Measure2));
    io.Field(TARSEL_NAMED(Vector), SingularityCoordinatesForm{});
  }
};

}  // namespace tarsel
