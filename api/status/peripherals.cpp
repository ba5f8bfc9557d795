// Peripheral inventory and the host-driven finger initialisation.
#include "core/catalogue.h"
#include "core/connection.h"
#include "core/pause.h"
#include "status/status_codec.h"
#include "tarsel/result.h"

namespace {

constexpr int kPeripheralInventoryCommand = tarsel::command::GetPeripheralInventory;

// Finger initialisation: the fingers are driven closed by a repeated basic
// point of actuator kind until they report themselves initialised.
constexpr int kFingerPointType = 8;
constexpr float kThreeFingerTarget = -300.0f;
constexpr float kTwoFingerTarget = -3000.0f;
constexpr int kCycleLimit = 1000;
constexpr unsigned kCyclePauseUs = 6000;
constexpr unsigned kSettlePauseUs = 40000;

TrajectoryPoint FingerInitPoint(bool threeFingers) {
  TrajectoryPoint point;
  point.InitStruct();
  point.LimitationFlag = 0;
  UserPosition& p = point.Position;
  p.Type = kFingerPointType;
  p.Actuators.Actuator1 = p.Actuators.Actuator2 = p.Actuators.Actuator3 = 0.0f;
  p.Actuators.Actuator4 = p.Actuators.Actuator5 = p.Actuators.Actuator6 = 0.0f;
  if (threeFingers) {
    p.Fingers.Finger1 = p.Fingers.Finger2 = p.Fingers.Finger3 = kThreeFingerTarget;
  } else {
    p.Fingers.Finger1 = p.Fingers.Finger2 = kTwoFingerTarget;
  }
  return point;
}

// A two-finger hand has no third finger to wait for.
bool FingersReady(const QuickStatus& s, bool threeFingers) {
  return s.Finger1Initialized != 0 && s.Finger2Initialized != 0 &&
         (!threeFingers || s.Finger3Initialized != 0);
}

}  // namespace

PeripheralInfo::~PeripheralInfo() {}

int DeserializePeripheralInventory(int& offset, const Payload& payload,
                                   std::vector<PeripheralInfo>& list) {
  tarsel::PayloadReader in(offset, payload);
  list.reserve(list.size() + tarsel::kPeripheralCount);
  for (int k = 0; k < tarsel::kPeripheralCount; ++k) {
    PeripheralInfo entry;
    tarsel::ReadForm<tarsel::Form<PeripheralInfo>>(in, entry);
    list.push_back(entry);
  }
  return 1;
}

extern "C" {

int GetPeripheralInventory(std::vector<PeripheralInfo>& list) {
  return tarsel::Guarded([&] {
    Payload payload;
    const int code = tarsel::ReadCommand(kPeripheralInventoryCommand, payload);
    // Entries decoded from a failed answer would be indistinguishable from
    // real ones once mixed into the caller's list, so none are appended.
    if (code != TARSEL_OK) return code;
    int offset = 0;
    DeserializePeripheralInventory(offset, payload, list);
    return code;
  });
}

int InitFingers() {
  QuickStatus status;
  const int first = GetQuickStatus(status);
  // Without a status the hand type is unknown: no procedure can be chosen.
  if (first != TARSEL_OK) return first;

  const bool threeFingers = status.HandType == 0;  // read once, not during the loop
  const TrajectoryPoint point = FingerInitPoint(threeFingers);
  int result = TARSEL_OK;
  for (int cycle = 0; cycle < kCycleLimit && !FingersReady(status, threeFingers); ++cycle) {
    const int sent = SendBasicTrajectory(point);
    // Only a status that actually arrived may end the loop.
    QuickStatus next;
    const int read = GetQuickStatus(next);
    if (read == TARSEL_OK) status = next;
    // An arm that has gone silent (or a link closed meanwhile) will not
    // answer the remaining cycles either: stop instead of waiting them out.
    if (tarsel::LinkLost(sent) || tarsel::LinkLost(read)) {
      result = tarsel::LinkLost(sent) ? sent : read;
      break;
    }
    // A stop the caller asked for (none in the flat API).
    if (const int stop = tarsel::PendingStop(); stop != 0) {
      result = stop;
      break;
    }
    tarsel::Pause(kCyclePauseUs);
  }
  EraseAllTrajectories();
  tarsel::Pause(kSettlePauseUs);
  return result;
}

}  // extern "C"
