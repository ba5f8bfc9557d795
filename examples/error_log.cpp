// Lists the arm's error log, then clears it.
#include <tarsel/tarsel.h>

#include <cstdio>

int main() {
  int code = InitAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "InitAPI failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  unsigned int count = 0;
  code = GetSystemErrorCount(count);
  if (code == TARSEL_OK) std::printf("%u entries in the error log\n", count);
  for (unsigned int i = 0; code == TARSEL_OK && i < count; ++i) {
    SystemError entry;
    code = GetSystemError(i, entry);
    if (code == TARSEL_OK) {
      // The code, the device (0 the controller, 1-6 actuators, 7-9 fingers),
      // the severity (0 information, 1 warning, 2 error), how often.
      std::printf("  #%u: code 0x%04x, device %d, severity %d, %d times\n", i, entry.UIntValue1,
                  entry.IntValue1, entry.IntValue2, entry.IntValue3);
    }
  }
  if (code == TARSEL_OK) code = ClearErrorLog();
  if (code == TARSEL_OK) code = GetSystemErrorCount(count);
  if (code == TARSEL_OK) std::printf("after clearing: %u entries\n", count);
  CloseAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "error log failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  return 0;
}
