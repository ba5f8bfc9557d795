/* The USB link library "Tarsel.API.CommLayerUbuntu.so": one arm, one packet
 * exchange at a time. The API library loads it at run time; applications
 * normally do not call it directly. */
#ifndef TARSEL_COMM_LAYER_H
#define TARSEL_COMM_LAYER_H

#include "tarsel/export.h"
#include "tarsel/packet.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

/* USB identity of the arm: vendor id (an experimental id), product id 0,
 * interface 0, interrupt endpoints 0x02 (out) and 0x82 (in). */
#define TARSEL_USB_VENDOR_ID 0xF055
#define TARSEL_USB_PRODUCT_ID 0x0000
#define TARSEL_USB_INTERFACE 0
#define TARSEL_USB_ENDPOINT_OUT 0x02
#define TARSEL_USB_ENDPOINT_IN 0x82
#define TARSEL_USB_TIMEOUT_MS 50

extern "C" {

/* Initialises libusb, opens the first arm found and claims its interface 0.
 * Calling it while open closes the previous device first.
 * Returns 1 (open), 1001 (libusb_init failed), 1014 (no arm could be
 * opened) or 1015 (claiming interface 0 failed; the handle stays open until
 * CloseCommunication). */
TARSEL_API int InitCommunication();

/* Releases the interface, closes the device and ends the libusb context.
 * Harmless when nothing is open or when called twice. Returns 1. */
TARSEL_API int CloseCommunication();

/* Returns the int that count points to (0 for a null pointer); touches no
 * device. */
TARSEL_API int GetDeviceCount(int* count);

/* One exchange: writes the request to endpoint 0x02, then reads one 64-byte
 * answer from endpoint 0x82, each with a 50 ms time-out. On success the
 * answer is overwritten; if the write fails, one line naming the failure is
 * printed on standard output and nothing is read; if the read fails or
 * delivers fewer than 64 bytes, nothing is printed. In every failure case the
 * answer keeps its previous contents. The third argument is not used.
 * After an exchange whose answer did not arrive, the next exchange first
 * empties the IN endpoint of that late answer (at most three reads of 2 ms,
 * printing nothing), so it cannot be taken for the next request's answer.
 * Exchanges that follow a complete one are exactly one write and one read.
 * Not thread-safe: one exchange at a time (the API library serialises its
 * commands).
 * Returns a copy of the answer as it stands on return. */
TARSEL_API Packet SendPacket(const Packet& request, Packet& answer, int& reserved);

/* State of the link: the libusb context and the open arm (null when closed). */
TARSEL_API extern libusb_context* LibContext;
TARSEL_API extern libusb_device_handle* miraHandle;

/* Exported objects kept for binary compatibility; nothing reads them. */
TARSEL_API extern unsigned char SendPaquet[TARSEL_PACKET_SIZE];
TARSEL_API extern unsigned char ReadPaquet[TARSEL_PACKET_SIZE];
TARSEL_API extern char vid_pid[18]; /* "vid_f055&pid_0000" */
TARSEL_API extern unsigned char isGetDllVersionLoaded;
TARSEL_API extern unsigned char isGetDeviceCountLoaded;
TARSEL_API extern unsigned char isOpenLoaded;
TARSEL_API extern unsigned char isWriteLoaded;
TARSEL_API extern unsigned char isReadLoaded;
TARSEL_API extern unsigned char isReadIntLoaded;
TARSEL_API extern unsigned char isCloseLoaded;

/* Empty asynchronous-transfer callbacks; no transfer uses them. */
TARSEL_API void cb_response_in(libusb_transfer* transfer);
TARSEL_API void cb_response_out(libusb_transfer* transfer);

}  // extern "C"

#endif /* TARSEL_COMM_LAYER_H */
