// Payload forms of the motion records. Decoders read from offset and leave it
// just past the form; encoders append the whole form to the payload's end and
// treat the offset as each one documents.
#pragma once

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
template <typename Io, typename Info>
void CartesianInfoForm(Io& io, Info& c) {
  io.Field(c.X).Field(c.Y).Field(c.Z).Field(c.RotationX).Field(c.RotationY).Field(c.RotationZ);
}
template <typename Io, typename Info>
void AngularInfoForm(Io& io, Info& a) {
  io.Field(a.Actuator1).Field(a.Actuator2).Field(a.Actuator3);
  io.Field(a.Actuator4).Field(a.Actuator5).Field(a.Actuator6);
}
template <typename Io, typename Fingers>
void FingersForm(Io& io, Fingers& f) {
  io.Field(f.Finger1).Field(f.Finger2).Field(f.Finger3);
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

// The UserPosition form's writer, shared with the other records that embed
// it: the first two float64 fillers are 3.0, the last one is lastFiller.
void WriteUserPosition(PayloadWriter& writer, const UserPosition& position, double lastFiller);
// Limit1 ... Limit9 as nine floats.
void WriteLimits(PayloadWriter& writer, const Limitation& limits);
void ReadLimits(PayloadReader& reader, Limitation& limits);

}  // namespace tarsel
