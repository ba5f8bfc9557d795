// Payload forms of the motion records. Decoders read from offset and leave it
// just past the form; encoders append the whole form to the payload's end and
// treat the offset as each one documents.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

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

// Field lists of the read-out forms, in wire order. One list serves both
// directions: with a PayloadReader it decodes (the host), with a
// PayloadWriter it encodes (the simulated arm), so each form is written once.
// These three records are runs of floats in memory as on the wire (X, Y, Z,
// RotationX, RotationY, RotationZ; Actuator1 to 6; Finger1 to 3), so each
// goes as one run.
static_assert(sizeof(CartesianInfo) == 24 && offsetof(CartesianInfo, RotationZ) == 20);
static_assert(sizeof(AngularInfo) == 24 && offsetof(AngularInfo, Actuator6) == 20);
static_assert(sizeof(FingersPosition) == 12 && offsetof(FingersPosition, Finger3) == 8);
template <int N, typename Io, typename Record>
void FloatRun(Io& io, Record& record) {
  static_assert(sizeof(Record) == 4 * N, "a record of N floats and nothing else");
  float run[N];
  std::memcpy(run, &record, sizeof run);
  io.Floats(run, N);
  if constexpr (!std::is_const_v<Record>) std::memcpy(&record, run, sizeof run);
}
template <typename Io, typename Info>
void CartesianInfoForm(Io& io, Info& c) {
  FloatRun<6>(io, c);
}
template <typename Io, typename Info>
void AngularInfoForm(Io& io, Info& a) {
  FloatRun<6>(io, a);
}
template <typename Io, typename Fingers>
void FingersForm(Io& io, Fingers& f) {
  FloatRun<3>(io, f);
}
// 36 bytes: six actuator floats, then three finger floats.
template <typename Io, typename Position>
void AngularPositionForm(Io& io, Position& p) {
  AngularInfoForm(io, p.Actuators);
  FingersForm(io, p.Fingers);
}
// 36 bytes: six Cartesian floats, then three finger floats.
template <typename Io, typename Position>
void CartesianPositionForm(Io& io, Position& p) {
  CartesianInfoForm(io, p.Coordinates);
  FingersForm(io, p.Fingers);
}
// 12 bytes: points queued, progress, free places.
template <typename Io, typename Fifo>
void TrajectoryFifoForm(Io& io, Fifo& f) {
  io.Field(f.PointCount).Field(f.StatusFloat).Field(f.StatusInt);
}

// The float64 filler the arm expects in the gaps of a stored position.
constexpr double kPositionFiller = 3.0;

// The UserPosition form's writer (PayloadWriter or FormWriter), shared with
// the other records that embed it: the first two float64 fillers are 3.0, the
// last one is lastFiller.
template <typename Writer>
void WriteUserPosition(Writer& w, const UserPosition& p, double lastFiller) {
  const CartesianInfo& c = p.Coordinates;
  w.Field(p.Type).Field(p.Parameter).Filler(kPositionFiller);
  w.Field(c.X).Field(c.Y).Field(c.Z).Zeros(4).Filler(kPositionFiller);
  w.Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ).Zeros(4).Filler(lastFiller);
  AngularInfoForm(w, p.Actuators);
  w.Field(p.FingersMode);
  FingersForm(w, p.Fingers);
}
// Limit1 ... Limit9 as nine floats.
template <typename Writer>
void WriteLimits(Writer& w, const Limitation& l) {
  w.Field(l.Limit1).Field(l.Limit2).Field(l.Limit3).Field(l.Limit4).Field(l.Limit5);
  w.Field(l.Limit6).Field(l.Limit7).Field(l.Limit8).Field(l.Limit9);
}
// The full trajectory point, 148 bytes: the position (fillers 3.0, 3.0,
// 3.0), the limitation flag, 4 zero bytes, the nine limits.
constexpr int kTrajectoryPointSize = 148;
template <typename Writer>
void WriteTrajectoryPoint(Writer& w, const TrajectoryPoint& point) {
  WriteUserPosition(w, point.Position, kPositionFiller);
  w.Field(point.LimitationFlag).Zeros(4);
  WriteLimits(w, point.Limits);
}
void ReadLimits(PayloadReader& reader, Limitation& limits);

}  // namespace tarsel
