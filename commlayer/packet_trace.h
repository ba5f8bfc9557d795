// The field trace of the link library: when the environment variable
// TARSEL_TRACE names a file as the library loads, every USB transfer of
// SendPacket and TarselLinkExchange (the reads that collect late answers included) is
// written to it as a pcapng capture of Linux usbmon events (link type 220,
// LINKTYPE_USB_LINUX_MMAPPED): a submit and a complete event per transfer,
// with the bus and device numbers, the endpoint, the time, the status and the
// bytes, as Wireshark and tshark show any USB capture. Off by default, and
// then each transfer pays one test of a pointer that is always null.
// Internal to the link library.
#pragma once

#include <libusb.h>

namespace tarsel::link {

class PacketTrace;

// Makes this library stay loaded until the process ends, however often the
// API library loads and unloads it: a trace stays one file, and what closed
// links left owed (usb_exchange.h) is not forgotten.
void KeepLoaded();

// The open trace, or null when tracing is off (decided once, at load).
extern PacketTrace* const g_trace;

// libusb_interrupt_transfer with its submit and complete events written to
// trace. Returns what libusb_interrupt_transfer returns.
int TracedTransfer(PacketTrace& trace, libusb_device_handle* handle, unsigned char endpoint,
                   unsigned char* data, int length, int* transferred, unsigned timeout);

// One interrupt transfer, traced when tracing is on.
inline int InterruptTransfer(libusb_device_handle* handle, unsigned char endpoint,
                             unsigned char* data, int length, int* transferred, unsigned timeout) {
  if (g_trace != nullptr) [[unlikely]] {
    return TracedTransfer(*g_trace, handle, endpoint, data, length, transferred, timeout);
  }
  return libusb_interrupt_transfer(handle, endpoint, data, length, transferred, timeout);
}

}  // namespace tarsel::link
