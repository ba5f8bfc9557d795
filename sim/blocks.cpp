#include "blocks.h"

namespace tarsel::sim {

void WriteUserPosition(tarsel::PayloadWriter& w, const PointRecord& point, double lastFiller) {
  const auto& c = point.coordinates;
  w.Field(point.type).Field(point.parameter).Filler(3.0);
  w.Field(c[0]).Field(c[1]).Field(c[2]).Zeros(4).Filler(3.0);
  w.Field(c[3]).Field(c[4]).Field(c[5]).Zeros(4).Filler(lastFiller);
  for (float a : point.actuators) w.Field(a);
  w.Field(point.fingersMode);
  for (float f : point.fingers) w.Field(f);
}

PointRecord RecordOfPose(const Motion& motion, const kinematics::Joints& q,
                         const Motion::FingerValues& f) {
  PointRecord r;
  r.type = 2;
  const kinematics::Pose pose = motion.PoseOf(q);
  r.coordinates = {static_cast<float>(pose.x),  static_cast<float>(pose.y),
                   static_cast<float>(pose.z),  static_cast<float>(pose.rx),
                   static_cast<float>(pose.ry), static_cast<float>(pose.rz)};
  for (int i = 0; i < 6; ++i) r.actuators[i] = static_cast<float>(q[i]);
  for (int i = 0; i < 3; ++i) r.fingers[i] = static_cast<float>(f[i]);
  return r;
}

}  // namespace tarsel::sim
