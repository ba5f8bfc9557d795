#include "tarsel/comm_layer.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>

#include "usb_exchange.h"

libusb_context* LibContext = nullptr;
libusb_device_handle* miraHandle = nullptr;

unsigned char SendPaquet[TARSEL_PACKET_SIZE] = {};
unsigned char ReadPaquet[TARSEL_PACKET_SIZE] = {};
char vid_pid[18] = "vid_f055&pid_0000";
unsigned char isGetDllVersionLoaded = 0;
unsigned char isGetDeviceCountLoaded = 0;
unsigned char isOpenLoaded = 0;
unsigned char isWriteLoaded = 0;
unsigned char isReadLoaded = 0;
unsigned char isReadIntLoaded = 0;
unsigned char isCloseLoaded = 0;

static_assert(sizeof(vid_pid) == 18, "vid_pid is 17 characters and a terminator");

void cb_response_in(libusb_transfer* /*transfer*/) {}
void cb_response_out(libusb_transfer* /*transfer*/) {}

namespace {

bool g_claimed = false;

// The answers the arm still owes this link (see ExchangePacket).
tarsel::link::OwedAnswers g_owed;

void PrintWriteFailure(int rc) {
  switch (rc) {
    case LIBUSB_ERROR_NO_DEVICE:
      std::puts("LIBUSB_ERROR_NO_DEVICE returned by the Write operation.");
      break;
    case LIBUSB_ERROR_BUSY:
      std::puts("LIBUSB_ERROR_BUSY returned by the Write operation.");
      break;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      std::puts("LIBUSB_ERROR_NOT_SUPPORTED returned by the Write operation.");
      break;
    default:
      std::puts("default case while the Write operation.");
      break;
  }
  std::fflush(stdout);
}

}  // namespace

int InitCommunication() {
  CloseCommunication();
  if (libusb_init(&LibContext) < 0) {
    LibContext = nullptr;
    return 1001;
  }
  miraHandle =
      libusb_open_device_with_vid_pid(LibContext, TARSEL_USB_VENDOR_ID, TARSEL_USB_PRODUCT_ID);
  if (miraHandle == nullptr) return 1014;
  // The handle stays open after a refused claim; CloseCommunication closes it.
  if (libusb_claim_interface(miraHandle, TARSEL_USB_INTERFACE) < 0) return 1015;
  g_claimed = true;
  g_owed = tarsel::link::TakeOwed(miraHandle);
  return 1;
}

int CloseCommunication() {
  if (miraHandle != nullptr) {
    tarsel::link::KeepOwed(miraHandle, g_owed);
    if (g_claimed) libusb_release_interface(miraHandle, TARSEL_USB_INTERFACE);
    libusb_close(miraHandle);
    miraHandle = nullptr;
  }
  g_claimed = false;
  g_owed = {};
  if (LibContext != nullptr) {
    libusb_exit(LibContext);
    LibContext = nullptr;
  }
  return 1;
}

int GetDeviceCount(int* count) {
  return count != nullptr ? *count : 0;
}

Packet SendPacket(const Packet& request, Packet& answer, int& /*reserved*/) {
  if (miraHandle == nullptr) {
    PrintWriteFailure(LIBUSB_ERROR_NO_DEVICE);
    return answer;
  }
  const tarsel::link::ExchangeOutcome outcome =
      tarsel::link::ExchangePacket(miraHandle, g_owed, request, answer);
  if (outcome.writeError != 0) PrintWriteFailure(outcome.writeError);
  return answer;
}
