// The arm's trajectory queue: feeding it points, emptying it, reading its
// state and the point being executed.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "motion/motion_codec.h"

namespace {

constexpr int kSendAdvanceTrajectory = tarsel::command::SendAdvanceTrajectory;
constexpr int kEraseAllTrajectories = tarsel::command::EraseAllTrajectories;
constexpr int kGetGlobalTrajectoryInfo = tarsel::command::GetGlobalTrajectoryInfo;
constexpr int kGetActualTrajectoryInfo = tarsel::command::GetActualTrajectoryInfo;
constexpr int kSendBasicTrajectory = tarsel::command::SendBasicTrajectory;

// The point being executed comes back in the full 148-byte form, except that
// LimitationFlag is carried as a float there and is truncated toward zero.
int DecodeActualTrajectory(int& offset, const Payload& payload, TrajectoryPoint& out) {
  tarsel::PayloadReader r(offset, payload);
  r.Nested(DeserializeUserPosition, out.Position).Truncated(out.LimitationFlag).Skip(4);
  tarsel::ReadLimits(r, out.Limits);
  return 1;
}

}  // namespace

int SendAdvanceTrajectory(TrajectoryPoint point) {
  return tarsel::StreamWrite(kSendAdvanceTrajectory, tarsel::kTrajectoryPointSize,
                             [&](tarsel::PacketWriter& w) { tarsel::WriteTrajectoryPoint(w, point); });
}

int SendBasicTrajectory(TrajectoryPoint point) {
  return tarsel::WriteRecord(kSendBasicTrajectory, SerializeBasicTrajectoryPoint, point);
}

int EraseAllTrajectories() {
  return tarsel::SendBare(kEraseAllTrajectories);
}

int GetGlobalTrajectoryInfo(TrajectoryFIFO& fifo) {
  return tarsel::ReadRecord(kGetGlobalTrajectoryInfo, DeserializeGlobalTrajectory, fifo);
}

int GetActualTrajectoryInfo(TrajectoryPoint& point) {
  return tarsel::ReadRecord(kGetActualTrajectoryInfo, DecodeActualTrajectory, point);
}
