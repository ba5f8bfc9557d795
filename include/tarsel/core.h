/** @file
 * Library lifecycle: loading the link library and opening the arm. */
#ifndef TARSEL_CORE_H
#define TARSEL_CORE_H

#include "tarsel/export.h"
#include "tarsel/packet.h"
#include "tarsel/result.h"

/** @file
 * @details Threading. Every function may be called from any thread. Each command
 * (a read, a write, a bare command, one firmware page, each step of MoveHome,
 * InitFingers and ProgramFlash) holds one process-wide lock while its packets
 * are exchanged, so the packets of two commands never interleave and each
 * command gets its own answer. The composite operations release the lock
 * during their pauses: another thread's reads run while the arm moves home or
 * its fingers initialise. InitAPI and CloseAPI take the same lock: a command
 * running in another thread finishes before the link closes, and one that
 * starts after CloseAPI returns 2001.
 * What stays the caller's business: the meaning of interleaved commands.
 * Two threads that both feed trajectory points fill one queue in whatever
 * order their calls happen to run; a thread that changes the control mode
 * changes it for all. Give each such job to one thread. */

extern "C" {

/** Signatures of the four functions bound from the link library. */
/** @{ */
typedef int (*TarselInitCommFn)();
typedef int (*TarselCloseCommFn)();
typedef int (*TarselGetDeviceCountFn)(int* count);
typedef Packet (*TarselSendPacketFn)(const Packet& request, Packet& answer, int& reserved);
/** @} */

/** Loads the link library "Tarsel.API.CommLayerUbuntu.so" through the dynamic
 * loader's ordinary search path (LD_LIBRARY_PATH first, then the folder of
 * this library), binds its four functions and opens the arm. Call it before
 * any other function except GetAPIVersion and GetResultMessage. Calling it
 * again while open closes the previous session first.
 * Returns:
 *   1    the arm is open;
 *   2002 the link library could not be loaded (all four is...Loaded flags 0);
 *   1002, 1012, 1003, 1006 the library lacks InitCommunication,
 *        CloseCommunication, GetDeviceCount or SendPacket (the last missing
 *        one in that order decides; the arm is not opened);
 *   1001, 1014, 1015 from opening the arm: libusb failed, no arm found or
 *        it could not be opened (often missing permissions on the device
 *        node), claiming its interface failed (held by another program).
 * Waits for a command running in another thread to finish first. */
TARSEL_API int InitAPI();

/** Closes the arm and unloads the link library. Harmless without a prior
 * InitAPI or when called twice. Afterwards every command returns 2001 until
 * InitAPI succeeds again.
 * Waits for a command running in another thread to finish first.
 * Returns what the link library's CloseCommunication returns (1 for the
 * shipped link library), or 1 when no link library is loaded. */
TARSEL_API int CloseAPI();

/** Why the last load of the link library failed: copies the dynamic loader's
 * own message (which names the file and what was wrong with it) from the
 * last InitAPI that returned 2002 into text, cut to size - 1 bytes and
 * terminated. An empty text when the last load succeeded or none was tried.
 * The caller owns text. Returns 1, or 2100 when text is null or size < 1. */
TARSEL_API int GetLinkLoadError(char* text, int size);

/** Saves the packets recently exchanged with the arm to path, as a pcapng
 * capture that Wireshark and `tshark -r` open (the form TARSEL_TRACE
 * writes): the link library keeps its last 4096 USB transfers (2048
 * exchanges) in memory at all times, and this writes them, oldest first,
 * each as a submit and a complete event with its time, endpoint, status and
 * bytes. For when a command failed or the arm went silent: the packets that
 * led there. The packets are those of the link library the calling thread's
 * commands go through (InitAPI's, or the arm tarsel::FlatCallsTo routes them
 * to), of every arm it reaches; the simulator's link library keeps its
 * arms' exchanges the same way. The capture is taken at one moment while
 * exchanges go on: each transfer in it is whole. Does not wait for a command
 * running in another thread. Works from InitAPI (even one that found no
 * arm) until CloseAPI; path must be a new file or a regular file on a disk,
 * which is overwritten (not a FIFO, a device, a directory, a symbolic link,
 * a file of /proc or /sys).
 * Returns 1 (saved; before any exchange the capture holds no packet),
 * 2001 (no link library loaded: InitAPI not called, or CloseAPI since),
 * 2100 (path null or ""), 1016 (the link library keeps no recent packets:
 * it lacks TarselLinkSaveRecentPackets), 5002 (out of memory), 5005 (path
 * cannot be written: refused as above, no such folder, no permission, a full
 * disk; a file cut short holds the packets before the failure, readable).
 * The caller owns path. */
TARSEL_API int SaveRecentPackets(const char* path);

/** Binding state, written only by InitAPI and CloseAPI. The is...Loaded flags
 * start at 1 and are cleared when the matching function cannot be bound. */
/** @{ */
TARSEL_API extern void* commLayer_Handle;
TARSEL_API extern TarselInitCommFn fptrInitComm;
TARSEL_API extern TarselCloseCommFn fptrCloseComm;
TARSEL_API extern TarselGetDeviceCountFn fptrGetDeviceCount;
TARSEL_API extern TarselSendPacketFn fptrSendPacket;
TARSEL_API extern unsigned char isInitCommLoaded;
TARSEL_API extern unsigned char isCloseCommLoaded;
TARSEL_API extern unsigned char isGetDeviceCountLoaded;
TARSEL_API extern unsigned char isSendPacketLoaded;
/** @} */

}  // extern "C"

#endif /* TARSEL_CORE_H */
