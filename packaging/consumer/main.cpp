// Built against the installed package: includes the public header only.
#include <tarsel/tarsel.h>

#include <cstdio>

int main() {
  const int code = InitAPI();
  std::printf("InitAPI: %d (%s)\n", code, GetResultMessage(code));
  CloseAPI();
  return 0;
}
