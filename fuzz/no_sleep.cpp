// The waits of the composite commands (home move, finger initialisation,
// firmware programming) return at once in the fuzz targets.
//
// The library calls usleep through the dynamic linker; a definition in the
// program comes first in that lookup only if the program exports it, and the
// project builds with hidden visibility by default: hence the attribute.
// Without it the home move and the firmware start really slept.
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t) {
  return 0;
}
