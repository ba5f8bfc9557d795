// Display JSON of the records the tool reports (positions, statuses, error
// entries): every field under its record name, in record order.
#pragma once

#include "display.h"
#include "tarsel/motion.h"
#include "tarsel/status.h"

namespace tarsel::tool {

Json ToDisplay(const AngularInfo& a);
Json ToDisplay(const CartesianInfo& c);
Json ToDisplay(const FingersPosition& f);
Json ToDisplay(const AngularPosition& p);
Json ToDisplay(const CartesianPosition& p);
Json ToDisplay(const UserPosition& p);
Json ToDisplay(const TrajectoryFIFO& fifo);
Json ToDisplay(const QuickStatus& s);
Json ToDisplay(const GeneralInformations& g);
Json ToDisplay(const SystemError& e);

}  // namespace tarsel::tool
