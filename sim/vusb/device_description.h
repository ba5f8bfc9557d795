// What a virtual device looks like to the host: its descriptors and its place
// on the bus, in umockdev's text form.
#pragma once

#include <string>

#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::vusb::detail {

// Device number of device index on bus 1: 2, 3, ...
int DeviceNumber(int index);
// Its node, e.g. "/dev/bus/usb/001/002".
std::string DeviceNode(int index);
// Its sysfs name, port index + 1 of the root hub: "1-1", "1-2", ...
std::string PortPath(int index);

// Device, configuration, interface and endpoint descriptors as on the wire.
Bytes Descriptors(const DeviceOptions& options);

// Device index in umockdev's text form, for umockdev_testbed_add_from_string.
std::string Description(const DeviceOptions& options, int index);

}  // namespace tarsel::vusb::detail
