#include "device_description.h"

#include <cstdio>

namespace tarsel::vusb::detail {

namespace {

void Put16(Bytes& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value & 0xFFu));
  out.push_back(static_cast<unsigned char>((value >> 8) & 0xFFu));
}

}  // namespace

int DeviceNumber(int plugged) {
  return 2 + plugged % static_cast<int>(VirtualArm::kMaxDevices);
}

std::string DeviceNode(int number) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", number);
  return node;
}

std::string PortPath(int index) {
  return "1-" + std::to_string(index + 1);
}

Bytes Descriptors(const DeviceOptions& options) {
  Bytes d;
  // Device: USB 2.0, class per interface, endpoint 0 of 64 bytes, one
  // configuration, no strings.
  d.insert(d.end(), {18, 0x01});
  Put16(d, 0x0200);
  d.insert(d.end(), {0x00, 0x00, 0x00, 64});
  Put16(d, options.vendor_id);
  Put16(d, options.product_id);
  Put16(d, 0x0100);
  d.insert(d.end(), {0, 0, 0, 1});
  // Configuration 1: one interface, bus powered, 100 mA; 32 bytes in all.
  d.insert(d.end(), {9, 0x02});
  Put16(d, 9 + 9 + 7 + 7);
  d.insert(d.end(), {1, 1, 0, 0x80, 50});
  // Interface 0: two endpoints, vendor-specific class.
  d.insert(d.end(), {9, 0x04, 0, 0, 2, 0xFF, 0x00, 0x00, 0});
  // Endpoints 0x82 (in) and 0x02 (out): interrupt, 64 bytes, polled every
  // in_interval and out_interval frames.
  for (unsigned char address : {TARSEL_USB_ENDPOINT_IN, TARSEL_USB_ENDPOINT_OUT}) {
    d.insert(d.end(), {7, 0x05, address, 0x03});
    Put16(d, TARSEL_PACKET_SIZE);
    d.push_back(address == TARSEL_USB_ENDPOINT_IN ? options.in_interval : options.out_interval);
  }
  return d;
}

int EndpointInterval(const Bytes& descriptors, unsigned char address) {
  constexpr unsigned char kEndpoint = 0x05;
  for (std::size_t at = 0; at + 1 < descriptors.size();) {
    const std::size_t length = descriptors[at];
    if (length < 2 || at + length > descriptors.size()) break;
    if (descriptors[at + 1] == kEndpoint && length >= 7 && descriptors[at + 2] == address) {
      return descriptors[at + 6];
    }
    at += length;
  }
  return 0;
}

// Attribute values carry a literal backslash-n, as sysfs files end in a
// newline. libusb takes the port number from the sysfs name.
std::string Description(const DeviceOptions& options, int index, int number) {
  std::string hex;
  for (unsigned char b : Descriptors(options)) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", b);
    hex += digits;
  }
  const std::string node = DeviceNode(number);
  return "P: /devices/tarsel-vusb/usb1/" + PortPath(index) +
         "\n"
         "N: " +
         node.substr(5) +
         "\n"
         "E: DEVNAME=" +
         node +
         "\n"
         "E: DEVTYPE=usb_device\n"
         "E: SUBSYSTEM=usb\n"
         "E: BUSNUM=001\n"
         "E: DEVNUM=" +
         node.substr(node.size() - 3) +
         "\n"
         "A: busnum=1\\n\n"
         "A: devnum=" +
         std::to_string(number) +
         "\\n\n"
         "A: bConfigurationValue=1\\n\n"
         "A: speed=12\\n\n"
         "H: descriptors=" +
         hex + "\n";
}

}  // namespace tarsel::vusb::detail
