#include "usb_exchange.h"

#include <libusb.h>

#include "packet_trace.h"
#include "tarsel/comm_layer.h"

namespace tarsel::link {

namespace {

// Reads that empty the IN endpoint of a late answer before the next request.
// Bounded: at most kDrainReads reads of kDrainTimeoutMs each, and only after
// an exchange that lost its answer, so a healthy exchange pays nothing.
constexpr int kDrainReads = 3;
constexpr unsigned kDrainTimeoutMs = 2;

void DrainLateAnswers(libusb_device_handle* handle) {
  unsigned char discard[TARSEL_PACKET_SIZE];
  for (int i = 0; i < kDrainReads; ++i) {
    int transferred = 0;
    if (InterruptTransfer(handle, TARSEL_USB_ENDPOINT_IN, discard, TARSEL_PACKET_SIZE, &transferred,
                          kDrainTimeoutMs) != 0) {
      break;
    }
  }
}

}  // namespace

ExchangeOutcome ExchangePacket(libusb_device_handle* handle, bool& answerOwed,
                               const Packet& request, Packet& answer) {
  unsigned char out[TARSEL_PACKET_SIZE] = {};
  unsigned char in[TARSEL_PACKET_SIZE] = {};
  EncodePacket(request, out);

  if (answerOwed) {
    DrainLateAnswers(handle);
    answerOwed = false;
  }
  ExchangeOutcome outcome;
  int transferred = 0;
  outcome.writeError = InterruptTransfer(handle, TARSEL_USB_ENDPOINT_OUT, out, TARSEL_PACKET_SIZE,
                                         &transferred, TARSEL_USB_TIMEOUT_MS);
  if (outcome.writeError != 0) return outcome;
  transferred = 0;
  const int read = InterruptTransfer(handle, TARSEL_USB_ENDPOINT_IN, in, TARSEL_PACKET_SIZE,
                                     &transferred, TARSEL_USB_TIMEOUT_MS);
  // A truncated answer is a failed read: the arm always sends whole packets,
  // and zero-filled bytes must not pass for data.
  outcome.answered = read == 0 && transferred == TARSEL_PACKET_SIZE;
  if (outcome.answered) {
    answer = DecodePacket(in);
  } else {
    answerOwed = true;
  }
  return outcome;
}

}  // namespace tarsel::link
