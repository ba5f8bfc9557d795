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

using FullPointForm = tarsel::Form<TrajectoryPoint>;

}  // namespace

int SendAdvanceTrajectory(TrajectoryPoint point) {
  return tarsel::StreamWrite(
      kSendAdvanceTrajectory, tarsel::FormSize<FullPointForm>(),
      [&](tarsel::PacketWriter& w) { tarsel::WriteForm<FullPointForm>(w, point); });
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
  return tarsel::ReadRecord(kGetActualTrajectoryInfo,
                            tarsel::Decode<TrajectoryPoint, tarsel::ActualTrajectoryForm>, point);
}
