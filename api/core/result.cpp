#include "tarsel/result.h"

const char* GetResultMessage(int code) {
  switch (code) {
    case TARSEL_OK:
      return "success";
    case TARSEL_ERROR_USB_INIT:
      return "libusb could not be initialised";
    case TARSEL_ERROR_NO_INIT_COMM:
      return "the link library lacks InitCommunication";
    case TARSEL_ERROR_NO_GET_DEVICE_COUNT:
      return "the link library lacks GetDeviceCount";
    case TARSEL_ERROR_NO_SEND_PACKET:
      return "the link library lacks SendPacket";
    case TARSEL_ERROR_NO_CLOSE_COMM:
      return "the link library lacks CloseCommunication";
    case TARSEL_ERROR_NO_ARM:
      return "no arm found, or it could not be opened (permissions?)";
    case TARSEL_ERROR_CLAIM_FAILED:
      return "claiming the arm's USB interface failed";
    case TARSEL_ERROR_NO_RECENT_PACKETS:
      return "the link library keeps no recent packets";
    case TARSEL_ERROR_NOT_INITIALIZED:
      return "the API is not initialised (call InitAPI first)";
    case TARSEL_ERROR_LOAD_COMM_LAYER:
      return "the link library could not be loaded";
    case TARSEL_ERROR_FIRST_PACKET:
      return "the arm refused the command (first packet)";
    case TARSEL_ERROR_ANSWER_ERROR_BIT:
      return "the arm reported an error";
    case TARSEL_ERROR_LATER_PACKET:
      return "the arm refused a later packet of the command";
    case TARSEL_ERROR_PAYLOAD_TOO_LARGE:
      return "the command payload is too large to send";
    case TARSEL_ERROR_BAD_ANSWER_SIZE:
      return "the arm's answer has an invalid or unreachable size";
    case TARSEL_ERROR_NO_ANSWER:
      return "no answer from the arm";
    case TARSEL_ERROR_CANCELLED:
      return "stopped at the caller's request";
    case TARSEL_ERROR_TIME_LIMIT:
      return "the operation did not finish within its time limit";
    case TARSEL_ERROR_ARGUMENT:
      return "argument refused; nothing was sent";
    case TARSEL_ERROR_FILE_OPEN:
      return "the firmware file could not be opened";
    case TARSEL_ERROR_NO_MEMORY:
      return "the library ran out of memory";
    case TARSEL_ERROR_FILE_READ:
      return "the firmware file could not be read whole";
    case TARSEL_ERROR_IMAGE_TOO_LARGE:
      return "the firmware image is too large";
    case TARSEL_ERROR_FILE_WRITE:
      return "the file could not be written";
    default:
      return "unknown result code";
  }
}
