// Link libraries that lack some of the four functions, for InitAPI's binding
// codes. Which functions exist is chosen at compile time; a call counter
// shows whether InitAPI went on to open the arm.
#include "tarsel/export.h"
#include "tarsel/packet.h"

extern "C" {

TARSEL_API int partial_link_init_calls = 0;

#ifndef OMIT_INIT
TARSEL_API int InitCommunication() {
  ++partial_link_init_calls;
  return 1;
}
#endif
#ifndef OMIT_CLOSE
TARSEL_API int CloseCommunication() {
  return 1;
}
#endif
#ifndef OMIT_COUNT
TARSEL_API int GetDeviceCount(int* count) {
  return count ? *count : 0;
}
#endif
#ifndef OMIT_SEND
TARSEL_API Packet SendPacket(const Packet&, Packet& answer, int&) {
  return answer;
}
#endif
}
