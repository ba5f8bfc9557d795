// The C++ interface header compiles on its own, warning-free, from C++17 on.
#include "tarsel/arm.hpp"

int main() {
  return 0;
}
