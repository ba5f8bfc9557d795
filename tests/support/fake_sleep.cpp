#include "fake_sleep.h"

#include <unistd.h>

namespace tarsel::testing {
std::vector<unsigned>& Sleeps() {
  static std::vector<unsigned> sleeps;
  return sleeps;
}
}  // namespace tarsel::testing

// Defined in the program, this usleep comes first in symbol lookup, so the
// API library's waits land here. It must be exported from the program (the
// build hides symbols by default), or the library would bind libc's usleep.
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
  tarsel::testing::Sleeps().push_back(static_cast<unsigned>(microseconds));
  return 0;
}
