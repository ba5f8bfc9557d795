// Waits of the composite commands (home move, finger initialisation, firmware
// programming). They go through usleep so that tests can replace the clock by
// defining usleep in the test program.
#pragma once

#include <unistd.h>

namespace tarsel {
inline void Pause(unsigned microseconds) {
  ::usleep(microseconds);
}
}  // namespace tarsel
