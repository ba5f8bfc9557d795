// Loads the API library from the path given, runs InitAPI and CloseAPI and
// prints what happened on one line, for tests that need a fresh process with
// their own loader search path:
//   init=<code> flags=<InitComm><CloseComm><GetDeviceCount><SendPacket>
//   calls=<InitCommunication calls or -1> close=<code>
// and, on a second line, the loader's reason for the last failed load:
//   loader=<text>
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <api library path>\n", argv[0]);
    return 2;
  }
  void* api = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (api == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 3;
  }
  auto init = reinterpret_cast<int (*)()>(dlsym(api, "InitAPI"));
  auto close = reinterpret_cast<int (*)()>(dlsym(api, "CloseAPI"));
  const char* names[] = {"isInitCommLoaded", "isCloseCommLoaded", "isGetDeviceCountLoaded",
                         "isSendPacketLoaded"};
  const int code = init();
  std::printf("init=%d flags=", code);
  for (const char* name : names) {
    std::printf("%d", *static_cast<unsigned char*>(dlsym(api, name)));
  }
  const auto* calls = static_cast<int*>(dlsym(RTLD_DEFAULT, "partial_link_init_calls"));
  std::printf(" calls=%d", calls ? *calls : -1);
  std::printf(" close=%d\n", close());
  auto reason = reinterpret_cast<int (*)(char*, int)>(dlsym(api, "GetLinkLoadError"));
  char text[512] = "";
  if (reason != nullptr) reason(text, sizeof text);
  std::printf("loader=%s\n", text);
  return 0;
}
