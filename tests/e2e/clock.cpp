#include <unistd.h>

#include "sim_session.h"

namespace tarsel::e2e {
sim::ManualClock& Clock() {
  static sim::ManualClock clock;
  return clock;
}
}  // namespace tarsel::e2e

// Defined in the program, this usleep takes the place of the C library's for
// the API library too: its waits become simulated time.
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
  tarsel::e2e::Clock().Advance(static_cast<double>(microseconds) / 1e6);
  return 0;
}
