// Compiled on its own with -std=c++11 and later: every public header must be
// usable by applications on older toolchains.
#include "tarsel/comm_layer.h"
#include "tarsel/tarsel.h"

int main() {
  return GetResultMessage(TARSEL_OK) != nullptr ? 0 : 1;
}
