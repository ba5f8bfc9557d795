/** @file
 * Result codes returned by every Tarsel API function. */
#ifndef TARSEL_RESULT_H
#define TARSEL_RESULT_H

#include "tarsel/export.h"

/** Every exported function returns one of these codes; 1 means success. */
enum TarselResult {
  TARSEL_OK = 1,                           /**< success */
  TARSEL_ERROR_USB_INIT = 1001,            /**< libusb could not be initialised */
  TARSEL_ERROR_NO_INIT_COMM = 1002,        /**< link library lacks InitCommunication */
  TARSEL_ERROR_NO_GET_DEVICE_COUNT = 1003, /**< link library lacks GetDeviceCount */
  TARSEL_ERROR_NO_SEND_PACKET = 1006,      /**< link library lacks SendPacket */
  TARSEL_ERROR_NO_CLOSE_COMM = 1012,       /**< link library lacks CloseCommunication */
  TARSEL_ERROR_NO_ARM = 1014,              /**< no arm found on the USB bus */
  TARSEL_ERROR_CLAIM_FAILED = 1015,        /**< claiming interface 0 of the arm failed */
  TARSEL_ERROR_NO_RECENT_PACKETS = 1016,   /**< link library lacks TarselLinkSaveRecentPackets */
  TARSEL_ERROR_NOT_INITIALIZED = 2001,     /**< no open link: InitAPI has not returned 1 */
  TARSEL_ERROR_LOAD_COMM_LAYER = 2002,     /**< the link library could not be loaded */
  TARSEL_ERROR_FIRST_PACKET = 2003,        /**< negative verdict on the first packet */
  TARSEL_ERROR_ANSWER_ERROR_BIT = 2004,    /**< the answer carries the error bit 0x4000 */
  TARSEL_ERROR_LATER_PACKET = 2005,        /**< negative verdict on a later packet */
  TARSEL_ERROR_PAYLOAD_TOO_LARGE = 2006,   /**< payload of 32768 bytes or more refused */
  TARSEL_ERROR_BAD_ANSWER_SIZE = 2007,     /**< answer size negative or never reached */
  TARSEL_ERROR_NO_ANSWER = 2008,           /**< no answer from the arm (time-out, unplugged) */
  TARSEL_ERROR_CANCELLED = 2009,           /**< the caller asked the operation to stop */
  TARSEL_ERROR_TIME_LIMIT = 2010,          /**< the operation did not finish in its time limit */
  TARSEL_ERROR_ARGUMENT = 2100,            /**< argument refused before anything was sent */
  TARSEL_ERROR_FILE_OPEN = 5001,           /**< the firmware file could not be opened */
  TARSEL_ERROR_NO_MEMORY = 5002,           /**< the library ran out of memory */
  TARSEL_ERROR_FILE_READ = 5003,           /**< the firmware file could not be sized or read */
  TARSEL_ERROR_IMAGE_TOO_LARGE = 5004,     /**< the firmware image exceeds 32-bit page offsets */
  TARSEL_ERROR_FILE_WRITE = 5005           /**< a file could not be written */
};

extern "C" {

/** Returns a short English description of a result code, for logs and
 * messages. The text is a static string owned by the library; an unknown code
 * gives "unknown result code". Never fails. */
TARSEL_API const char* GetResultMessage(int code);

}  // extern "C"

#endif /* TARSEL_RESULT_H */
