/** @file
 * Actuator maintenance and firmware: per-actuator zeroing and tuning, version
 * queries, and programming the arm's firmware from an image file. */
#ifndef TARSEL_MAINTENANCE_H
#define TARSEL_MAINTENANCE_H

#include <vector>

#include "tarsel/export.h"
#include "tarsel/motion.h"

/** @file
 * @details Unless stated otherwise, every function below returns 1 on success, 2001
 * when InitAPI has not opened the arm (nothing is sent), or the exchange codes
 * 2003 (the arm refused the first packet), 2004 (the arm reported an error),
 * 2005 (the arm refused a later packet) and 2008 (no answer from the arm: a
 * time-out, an unplugged cable). Each command's packets go out together even
 * when other threads call in at the same time (see tarsel/core.h).
 * Reads also return 2007 for an answer whose size is invalid. Any function
 * may also return 5002 (TARSEL_ERROR_NO_MEMORY) when the library runs out of
 * memory while building a command or collecting an answer (a write then sends
 * nothing). A read appends its values to the caller's vector even when it
 * fails (values that did not arrive read as 0); trust them only when the
 * result is 1. Vectors passed by reference stay owned by the caller, and the
 * library keeps no reference to them once it returns.
 *
 * Actuator addresses are the arm's bus addresses, chosen by the caller and
 * sent unchanged as unsigned 32-bit values (a negative int goes out as its
 * two's-complement bits). No argument is checked. */
extern "C" {

/* --- Actuator tuning and zeroing: one write command each. --- */

/** Takes the actuator's present position as its joint zero. */
TARSEL_API int SetJointZero(int address);

/** Moves the actuator at address to the bus address newAddress. */
TARSEL_API int SetActuatorAddress(int address, int newAddress);

/** Sets the actuator's three PID gains, sent in argument order. */
TARSEL_API int SetActuatorPID(int address, float p, float i, float d);

/** Sets the actuator's three PID filter values, sent in argument order. */
TARSEL_API int SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD);

/** Takes the actuator's present torque reading as its torque zero. */
TARSEL_API int SetTorqueZero(int address);

/** Sets the actuator's torque gain; the integer is sent as a float. */
TARSEL_API int SetTorqueGain(int address, int gain);

/** Reads the actuators' positions and currents: appends the twelve values the
 * arm sends, in its order, to values. The vector is not cleared first. */
TARSEL_API int GetPositionCurrentActuators(std::vector<float>& values);

/* --- Versions. --- */

/** Replaces the contents of version with this library's version: major,
 * minor, release (5, 0, 6). Needs no InitAPI and no arm.
 * Returns 1, or 5002 when the vector cannot hold three values. */
TARSEL_API int GetAPIVersion(std::vector<int>& version);

/** Reads the versions of the code running on the arm and appends 37 numbers
 * (each 0 to 255) to versions, which is not cleared first: for each of ten
 * version words its three numbers, most significant first; then one single
 * number; then the three numbers of two further version words. */
TARSEL_API int GetCodeVersion(std::vector<int>& versions);

/* --- Firmware programming. --- */

/** Progress of a firmware transfer, called by ProgramFlashWithProgress: once
 * with (0, pagesTotal, 1) just before the first page, then after each page
 * with page = the number of pages sent so far (1 to pagesTotal) and
 * pageResult = that page's code (1 when the arm accepted it, otherwise 2003,
 * 2004, 2005, 2008 or 5002). user is the pointer given to
 * ProgramFlashWithProgress. Return nonzero to go on, 0 to stop before the
 * next page. The callback must not throw and must not call any other function
 * of this library. */
typedef int (*TarselFlashProgressFn)(int page, int pagesTotal, int pageResult, void* user);

/** Writes the firmware image in the file at path into the arm. The file's
 * bytes are read whole first; then the arm is told that programming begins,
 * given 2 seconds (plus 10 ms more once it has accepted), and sent the image
 * in pages of 2048 bytes, file size / 2048 + 1 pages in all (an image whose
 * size is a multiple of 2048, an empty one included, ends with a page of
 * zeros). A page the arm refuses does not stop the pages after it; a page
 * that gets no answer at all does (a silent arm would let every later page
 * time out too). Blocks for the whole transfer; another thread's commands may
 * run between pages.
 *
 * progress, when not null, is told about each page and may stop the transfer
 * between pages (see TarselFlashProgressFn). It is never called when no page
 * is sent (a file problem or a refused start). A transfer that stops early
 * leaves the arm holding an incomplete image.
 *
 * The file and the image memory are released before the function returns,
 * on every path. The caller keeps ownership of path and user.
 * Returns:
 *   1    every page was accepted;
 *   5001 path is null or the file cannot be opened for reading;
 *   5002 no memory for the image (nothing is sent), or later for the packets
 *        of a command (the transfer stops there);
 *   5003 the file is not a regular file, cannot be sized, or delivered fewer
 *        bytes than its size;
 *   5004 the image is larger than 4 GiB - 1 byte (page offsets are 32-bit);
 *        for 5001, 5003 and 5004 nothing is sent to the arm;
 *   2001, 2003, 2004, 2008 the arm did not accept the start of programming
 *        (no page is sent; the 2-second wait still happens, except after
 *        2008 and 2001);
 *   2003, 2004, 2005 the first page the arm refused (the code of that page's
 *        exchange; later pages are still sent unless progress stops them);
 *   2008, 2001 a page got no answer, or the link was closed from another
 *        thread: the transfer stopped there;
 *   2009 progress asked to stop and every page sent so far was accepted. */
TARSEL_API int ProgramFlashWithProgress(const char* path, TarselFlashProgressFn progress,
                                        void* user);

/** ProgramFlashWithProgress without a progress callback; same results. */
TARSEL_API int ProgramFlash(const char* path);

}  // extern "C"

#endif /* TARSEL_MAINTENANCE_H */
