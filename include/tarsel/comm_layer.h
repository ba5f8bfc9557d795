/** @file
 * The USB link library "Tarsel.API.CommLayerUbuntu.so". The API library
 * loads it at run time and reaches one arm through four functions
 * (InitCommunication, CloseCommunication, GetDeviceCount, SendPacket) and the
 * process-wide state below; applications normally do not call those directly.
 * The TarselLink* functions reach any number of arms, each through a handle
 * of its own. */
#ifndef TARSEL_COMM_LAYER_H
#define TARSEL_COMM_LAYER_H

#include "tarsel/export.h"
#include "tarsel/packet.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

/** USB identity of the arm: vendor id (an experimental id), product id 0,
 * interface 0, interrupt endpoints 0x02 (out) and 0x82 (in). */
/** @{ */
#define TARSEL_USB_VENDOR_ID 0xF055
#define TARSEL_USB_PRODUCT_ID 0x0000
#define TARSEL_USB_INTERFACE 0
#define TARSEL_USB_ENDPOINT_OUT 0x02
#define TARSEL_USB_ENDPOINT_IN 0x82
#define TARSEL_USB_TIMEOUT_MS 50 /**< time-out of each transfer, in milliseconds */
/** @} */

extern "C" {

/** Initialises libusb, opens the first arm found and claims its interface 0.
 * Calling it while open closes the previous device first.
 * Returns 1 (open), 1001 (libusb_init failed), 1014 (no arm could be
 * opened) or 1015 (claiming interface 0 failed; the handle stays open until
 * CloseCommunication). */
TARSEL_API int InitCommunication();

/** Releases the interface, closes the device and ends the libusb context.
 * Harmless when nothing is open or when called twice. Returns 1. */
TARSEL_API int CloseCommunication();

/** Returns the int that count points to (0 for a null pointer); touches no
 * device. */
TARSEL_API int GetDeviceCount(int* count);

/** One exchange: writes the request to endpoint 0x02, then reads one 64-byte
 * answer from endpoint 0x82, each with a 50 ms time-out. On success the
 * answer is overwritten; if the write fails, one line naming the failure is
 * printed on standard output and nothing is read; if the read fails or
 * delivers fewer than 64 bytes, nothing is printed. In every failure case the
 * answer keeps its previous contents. The third argument is not used.
 * An answer that did not arrive within its time-out is owed: the arm
 * answers every request, in order, however late. The next exchange first
 * collects the owed answer (a read of up to 50 ms, printing nothing) and
 * sends its request only once it came, so no answer is ever taken for a
 * later request's; when it does not come, the exchange sends nothing and
 * leaves the answer untouched. After 5 s without the owed answer it is taken
 * as lost and requests go out again. What is owed when the link closes is
 * remembered for the next InitCommunication on the same arm in this process.
 * Exchanges while nothing is owed are exactly one write and one read.
 * Not thread-safe: one exchange at a time (the API library serialises its
 * commands).
 * Returns a copy of the answer as it stands on return. */
TARSEL_API Packet SendPacket(const Packet& request, Packet& answer, int& reserved);

/** State of the link: the libusb context and the open arm (null when closed). */
/** @{ */
TARSEL_API extern libusb_context* LibContext;
TARSEL_API extern libusb_device_handle* miraHandle;
/** @} */

/** Exported objects kept for binary compatibility; nothing reads them. */
/** @{ */
TARSEL_API extern unsigned char SendPaquet[TARSEL_PACKET_SIZE];
TARSEL_API extern unsigned char ReadPaquet[TARSEL_PACKET_SIZE];
TARSEL_API extern char vid_pid[18]; /**< "vid_f055&pid_0000" */
TARSEL_API extern unsigned char isGetDllVersionLoaded;
TARSEL_API extern unsigned char isGetDeviceCountLoaded;
TARSEL_API extern unsigned char isOpenLoaded;
TARSEL_API extern unsigned char isWriteLoaded;
TARSEL_API extern unsigned char isReadLoaded;
TARSEL_API extern unsigned char isReadIntLoaded;
TARSEL_API extern unsigned char isCloseLoaded;
/** @} */

/** Empty asynchronous-transfer callbacks; no transfer uses them. */
/** @{ */
TARSEL_API void cb_response_in(libusb_transfer* transfer);
TARSEL_API void cb_response_out(libusb_transfer* transfer);
/** @} */

/* --- Several arms, one handle each ---------------------------------------
 * These functions share nothing with the four above: every handle has a
 * libusb context of its own, so handles are independent of each other and of
 * InitCommunication's link (an arm open there can be opened here too only if
 * its interface is free). InitCommunication opens the first arm libusb
 * finds, which need not be the first one TarselLinkListArms lists. */

/** Sizes of the text fields of TarselArmLinkInfo, terminator included. */
/** @{ */
#define TARSEL_ARM_PATH_SIZE 32
#define TARSEL_ARM_TEXT_SIZE 64
/** @} */

/** One arm on the bus, as TarselLinkListArms reports it. */
typedef struct TarselArmLinkInfo {
  /** Where the arm is, stable while it stays plugged into the same port:
   * "usb:" then the bus number, "-" and the port numbers from the root hub
   * joined by "." (e.g. "usb:1-2.3", as Linux names the device in sysfs);
   * "usb:<bus>@<address>" when the port numbers are not known. The
   * simulated arm's link library names its arms "sim:1", "sim:2", ...
   * NUL-terminated, at most TARSEL_ARM_PATH_SIZE - 1 characters. */
  char path[TARSEL_ARM_PATH_SIZE];
  unsigned short vendorId;  /**< TARSEL_USB_VENDOR_ID */
  unsigned short productId; /**< TARSEL_USB_PRODUCT_ID */
  unsigned char bus;        /**< bus number */
  unsigned char address;    /**< device address on the bus (changes on replug) */
  /** The serial-number and product string descriptors (ASCII, NUL-terminated,
   * cut to TARSEL_ARM_TEXT_SIZE - 1 characters); "" when the device has none
   * or they cannot be read. */
  /** @{ */
  char serial[TARSEL_ARM_TEXT_SIZE];
  char product[TARSEL_ARM_TEXT_SIZE];
  /** @} */
} TarselArmLinkInfo;

/** An open arm: created by TarselLinkOpenArm, freed by TarselLinkCloseArm. */
typedef struct TarselArmLink TarselArmLink;

/** Lists the arms on the bus (vendor id TARSEL_USB_VENDOR_ID, product id
 * TARSEL_USB_PRODUCT_ID) ordered by path: by bus, then by port numbers
 * compared as numbers. Fills arms[0 .. capacity - 1] with the first ones and
 * sets *count to the number found, which may exceed capacity. arms may be
 * null when capacity is 0 (to learn the count). Opens no arm for good; a
 * device's string descriptors are read (opening it briefly) only for the
 * entries filled and only when the device announces them.
 * Returns 1 (listed; *count set), 1001 (libusb could not be initialised;
 * *count is 0), 2100 (count null, capacity negative, or arms null with
 * capacity above 0; nothing is written), 5002 (out of memory; *count is 0). */
TARSEL_API int TarselLinkListArms(TarselArmLinkInfo* arms, int capacity, int* count);

/** Opens the arm at path (a path as TarselLinkListArms reports it; null or
 * "": the first arm listed) and claims its interface 0. On success *link
 * receives a new handle, owned by the caller, who must close it with
 * TarselLinkCloseArm. On failure *link is null and nothing stays open.
 * Returns 1 (open), 1001 (libusb could not be initialised), 1014 (no arm at
 * path, or it could not be opened), 1015 (claiming interface 0 failed, e.g.
 * another handle or InitCommunication holds it), 2100 (link null),
 * 5002 (out of memory). */
TARSEL_API int TarselLinkOpenArm(const char* path, TarselArmLink** link);

/** One exchange on an open arm: writes request to endpoint 0x02, then reads
 * one 64-byte answer from endpoint 0x82, each with a 50 ms time-out, as
 * SendPacket does, answers owed to this handle collected first (see
 * SendPacket; what a closed handle left owed goes to the next handle that
 * opens the same arm in this process). Prints nothing.
 * Returns 1 (a whole answer arrived; *answer overwritten), 2008 (no whole
 * answer: the write or the read failed or timed out, the answer was short,
 * the arm is gone, or an earlier request's answer is still owed and nothing
 * was sent; *answer untouched), 2100 (link, request or answer null; nothing
 * is sent).
 * Calls on different handles may run at the same time on different threads;
 * one handle must be used by one thread at a time (the caller serialises). */
TARSEL_API int TarselLinkExchange(TarselArmLink* link, const Packet* request, Packet* answer);

/** Releases interface 0, closes the arm and frees the handle, which must not
 * be used afterwards. A null link is harmless. Returns 1. */
TARSEL_API int TarselLinkCloseArm(TarselArmLink* link);

/* --- The recent packets ------------------------------------------------- */

/** Saves the recent USB transfers to path as a pcapng capture of Linux usbmon
 * events (link type 220), the form TARSEL_TRACE writes, which Wireshark and
 * `tshark -r` open: a submit and a complete event per transfer, oldest
 * first, each with its time, bus and device numbers, endpoint, status and
 * bytes. The library keeps the last 4096 transfers of the process at all
 * times (those of SendPacket and of every handle, the reads that collect
 * late answers included: 2048 exchanges of a request and an answer), in
 * memory allocated once; keeping one costs a copy of its bytes under a lock
 * held for that copy only. The capture is taken at one moment: an exchange
 * running on another thread meanwhile is in it whole, transfer by transfer,
 * or not at all; a transfer still under way is not in it. No transfer yet
 * gives a capture that holds none. path must be a new file or a regular
 * file on a disk, which is overwritten; a FIFO, a device, a directory, a
 * symbolic link or a file of /proc or /sys is refused. The simulator's link
 * library keeps the exchanges of its arms the same way (bus 0, the arm's
 * number as the device).
 * Returns 1 (saved), 2100 (path null or ""), 5002 (out of memory),
 * 5005 (path cannot be written: refused as above, no such folder, no
 * permission, or the disk is full; a file cut short keeps the events before
 * the failure, readable). May be called from any thread at any time. */
TARSEL_API int TarselLinkSaveRecentPackets(const char* path);

}  // extern "C"

#endif /* TARSEL_COMM_LAYER_H */
