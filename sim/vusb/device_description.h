// What a virtual device looks like to the host: its descriptors and its place
// on the bus, in umockdev's text form.
#pragma once

#include <string>

#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::vusb::detail {

// Device number on bus 1 (2 to 127) of the plugged-th device plugged in
// this process, counted from 0: 2, 3, ... and round again after 127. As on a
// real bus, a device plugged in again (a new test bed) gets a new number.
int DeviceNumber(int plugged);
// The node of device number, e.g. "/dev/bus/usb/001/002".
std::string DeviceNode(int number);
// Its sysfs name, port index + 1 of the root hub: "1-1", "1-2", ...
std::string PortPath(int index);

// Device, configuration, interface and endpoint descriptors as on the wire.
Bytes Descriptors(const DeviceOptions& options);

// bInterval of the endpoint descriptor of address in descriptors (as
// Descriptors gives them); 0 when there is none.
int EndpointInterval(const Bytes& descriptors, unsigned char address);

// Device index with device number in umockdev's text form, for
// umockdev_testbed_add_from_string.
std::string Description(const DeviceOptions& options, int index, int number);

}  // namespace tarsel::vusb::detail
