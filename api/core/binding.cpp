#include <dlfcn.h>

#include "core/framing.h"
#include "tarsel/core.h"
#include "tarsel/result.h"

void* commLayer_Handle = nullptr;
TarselInitCommFn fptrInitComm = nullptr;
TarselCloseCommFn fptrCloseComm = nullptr;
TarselGetDeviceCountFn fptrGetDeviceCount = nullptr;
TarselSendPacketFn fptrSendPacket = nullptr;
unsigned char isInitCommLoaded = 1;
unsigned char isCloseCommLoaded = 1;
unsigned char isGetDeviceCountLoaded = 1;
unsigned char isSendPacketLoaded = 1;

namespace {

constexpr const char* kCommLayerFile = "Tarsel.API.CommLayerUbuntu.so";

// True only between an InitAPI that returned 1 and the next CloseAPI: the
// one test every exchange makes before calling through fptrSendPacket.
bool g_linkOpen = false;

template <typename Fn>
Fn Bind(const char* name) {
  return reinterpret_cast<Fn>(dlsym(commLayer_Handle, name));
}

}  // namespace

namespace tarsel {
bool LinkOpen() {
  return g_linkOpen && fptrSendPacket != nullptr;
}
}  // namespace tarsel

int InitAPI() {
  if (commLayer_Handle != nullptr) CloseAPI();

  int result = TARSEL_OK;
  commLayer_Handle = dlopen(kCommLayerFile, RTLD_NOW | RTLD_GLOBAL);
  if (commLayer_Handle == nullptr) {
    isInitCommLoaded = isCloseCommLoaded = isGetDeviceCountLoaded = isSendPacketLoaded = 0;
    return TARSEL_ERROR_LOAD_COMM_LAYER;
  }

  fptrInitComm = Bind<TarselInitCommFn>("InitCommunication");
  if (fptrInitComm == nullptr) {
    isInitCommLoaded = 0;
    result = TARSEL_ERROR_NO_INIT_COMM;
  }
  fptrCloseComm = Bind<TarselCloseCommFn>("CloseCommunication");
  if (fptrCloseComm == nullptr) {
    isCloseCommLoaded = 0;
    result = TARSEL_ERROR_NO_CLOSE_COMM;
  }
  fptrGetDeviceCount = Bind<TarselGetDeviceCountFn>("GetDeviceCount");
  if (fptrGetDeviceCount == nullptr) {
    isGetDeviceCountLoaded = 0;
    result = TARSEL_ERROR_NO_GET_DEVICE_COUNT;
  }
  fptrSendPacket = Bind<TarselSendPacketFn>("SendPacket");
  if (fptrSendPacket == nullptr) {
    isSendPacketLoaded = 0;
    result = TARSEL_ERROR_NO_SEND_PACKET;
  }

  if (result != TARSEL_OK) return result;
  result = fptrInitComm();
  g_linkOpen = result == TARSEL_OK;
  return result;
}

int CloseAPI() {
  int result = TARSEL_OK;
  g_linkOpen = false;
  if (commLayer_Handle == nullptr) return result;
  if (fptrCloseComm != nullptr) result = fptrCloseComm();
  dlclose(commLayer_Handle);
  // The library is gone: drop the bindings so nothing can call through them.
  commLayer_Handle = nullptr;
  fptrInitComm = nullptr;
  fptrCloseComm = nullptr;
  fptrGetDeviceCount = nullptr;
  fptrSendPacket = nullptr;
  return result;
}
