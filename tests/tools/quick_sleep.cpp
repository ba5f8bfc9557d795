// usleep for a preloaded test run: sleeps a hundredth of what is asked, so
// the API's fixed waits pass quickly while the order of events stays real.
#include <errno.h>
#include <time.h>
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
  const useconds_t shortened = microseconds / 100;
  timespec wait{static_cast<time_t>(shortened / 1000000),
                static_cast<long>(shortened % 1000000) * 1000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  return 0;
}
