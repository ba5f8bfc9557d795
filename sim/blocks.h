// Payload pieces shared by several of the arm's answers.
#pragma once

#include <array>
#include <cstdint>

#include "core/payload.h"
#include "motion.h"

namespace tarsel::sim {

// The 104-byte position form: Type, Parameter, Cartesian coordinates and
// actuator values with their fillers (float64 3.0, zero, 3.0, zero, then
// lastFiller), FingersMode and the three finger values.
void WriteUserPosition(tarsel::PayloadWriter& w, const PointRecord& point, double lastFiller = 3.0);

// A Type 2 point record describing joints q and fingers f of the arm, with
// the Cartesian coordinates of that pose filled in too.
PointRecord RecordOfPose(const Motion& motion, const kinematics::Joints& q,
                         const Motion::FingerValues& f);

template <std::size_t N>
void WriteFloats(tarsel::PayloadWriter& w, const std::array<double, N>& values) {
  for (double v : values) w.Field(static_cast<float>(v));
}

}  // namespace tarsel::sim
