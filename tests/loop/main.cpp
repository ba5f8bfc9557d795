// The loop's tests open the virtual arm through the real link library and
// libusb in this process, so the process must run under the umockdev preload
// library: re-execute under it when started without it.
#include <gtest/gtest.h>

#include <cstdio>

#include "tarsel/vusb/virtual_arm.h"

int main(int argc, char** argv) {
  if (!tarsel::vusb::EnsurePreloaded(argv)) {
    std::fprintf(stderr, "cannot run under the umockdev preload library\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
