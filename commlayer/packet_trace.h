// The link library's transfers, recorded. Every USB transfer of SendPacket
// and TarselLinkExchange (the reads that collect late answers included) goes
// through InterruptTransfer, which keeps it among the recent transfers
// (recent_packets.h, always on) and, when the environment variable
// TARSEL_TRACE names a file as the library loads, writes it to that file as
// it happens: the field trace, a pcapng capture of Linux usbmon events
// (capture_file.h) with a submit and a complete event per transfer, written
// unbuffered so that a program that does not end well leaves its trace.
// Internal to the link library.
#pragma once

#include <libusb.h>

namespace tarsel::link {

// Makes this library stay loaded until the process ends, however often the
// API library loads and unloads it: a trace stays one file, and what closed
// links left owed (usb_exchange.h) is not forgotten.
void KeepLoaded();

// libusb_interrupt_transfer, recorded as above. Returns what
// libusb_interrupt_transfer returns.
int InterruptTransfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                      int length, int* transferred, unsigned timeout);

}  // namespace tarsel::link
