// Runs the hand's finger initialisation from the host and reports whether
// every finger came up.
#include <tarsel/tarsel.h>

#include <cstdio>

int main() {
  int code = InitAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "InitAPI failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  std::puts("initialising fingers...");
  code = InitFingers();
  QuickStatus status;
  if (code == TARSEL_OK) code = GetQuickStatus(status);
  CloseAPI();
  if (code != TARSEL_OK) {
    std::fprintf(stderr, "finger initialisation failed: %d (%s)\n", code, GetResultMessage(code));
    return 1;
  }
  const bool twoFingers = status.HandType != 0;
  const bool ready = status.Finger1Initialized && status.Finger2Initialized &&
                     (twoFingers || status.Finger3Initialized);
  std::printf("%s-finger hand: fingers %s\n", twoFingers ? "two" : "three",
              ready ? "initialised" : "NOT initialised");
  return ready ? 0 : 1;
}
