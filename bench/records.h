// The records every benchmark command reads into or writes from, made once
// so that no benchmark counts their construction.
#pragma once

#include "core/payload.h"
#include "tarsel/tarsel.h"

namespace tarsel::bench {

struct Records {
  AngularPosition angular{};
  GeneralInformations general{};
  ControlMappingCharts charts{};
  ZoneList zones{};
  TrajectoryPoint point{};
  ClientConfigurations config{};
  Zone zone{};
  Payload form;  // what the serializers write into, emptied before each
  Packet request{};
  Packet answer{};
};

}  // namespace tarsel::bench
