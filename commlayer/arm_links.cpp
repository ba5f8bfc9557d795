// Several arms at once: TarselLinkListArms, TarselLinkOpenArm,
// TarselLinkExchange, TarselLinkCloseArm. Each handle owns a libusb context,
// so nothing here touches the process-wide link of comm_layer.cpp.
#include <libusb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tarsel/comm_layer.h"
#include "tarsel/result.h"
#include "usb_exchange.h"

struct TarselArmLink {
  libusb_context* context = nullptr;
  libusb_device_handle* handle = nullptr;
  tarsel::link::OwedAnswers owed;  // see tarsel::link::ExchangePacket
};

namespace tarsel::link {
namespace {

// USB allows at most seven tiers of hubs below the root.
constexpr int kMaxPortDepth = 7;

// A libusb context that ends with its owner unless released.
class Context {
 public:
  Context() {
    if (libusb_init(&context_) < 0) context_ = nullptr;
  }
  ~Context() {
    if (context_ != nullptr) libusb_exit(context_);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  libusb_context* get() const { return context_; }
  libusb_context* release() { return std::exchange(context_, nullptr); }

 private:
  libusb_context* context_ = nullptr;
};

// The devices of a context, referenced until the list goes. Declare it after
// its Context, so that it goes first.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* context) {
    const ssize_t n = libusb_get_device_list(context, &list_);
    if (n < 0) {
      list_ = nullptr;
    } else {
      size_ = static_cast<std::size_t>(n);
    }
  }
  ~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  libusb_device* const* begin() const { return list_; }
  libusb_device* const* end() const { return list_ + size_; }

 private:
  libusb_device** list_ = nullptr;
  std::size_t size_ = 0;
};

// One arm found on the bus.
struct FoundArm {
  libusb_device* device = nullptr;
  std::vector<std::uint8_t> ports;  // from the root hub; empty when unknown
  std::uint8_t serialIndex = 0;     // string descriptor indexes (0: none)
  std::uint8_t productIndex = 0;
  TarselArmLinkInfo info{};
};

std::string PathOf(std::uint8_t bus, std::uint8_t address, const std::vector<std::uint8_t>& ports) {
  std::string path = "usb:" + std::to_string(bus);
  if (ports.empty()) return path + "@" + std::to_string(address);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
  }
  return path;
}

void CopyText(const std::string& text, char* out, std::size_t size) {
  std::snprintf(out, size, "%s", text.c_str());
}

// By bus, then port numbers compared as numbers (so 1-2 comes before 1-10),
// then address for devices whose ports are unknown.
bool ListedBefore(const FoundArm& a, const FoundArm& b) {
  if (a.info.bus != b.info.bus) return a.info.bus < b.info.bus;
  if (a.ports != b.ports) return a.ports < b.ports;
  return a.info.address < b.info.address;
}

// The arms among devices, in the listing order.
std::vector<FoundArm> FindArms(const DeviceList& devices) {
  std::vector<FoundArm> arms;
  for (libusb_device* device : devices) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        descriptor.idVendor != TARSEL_USB_VENDOR_ID ||
        descriptor.idProduct != TARSEL_USB_PRODUCT_ID) {
      continue;
    }
    FoundArm arm;
    arm.device = device;
    arm.serialIndex = descriptor.iSerialNumber;
    arm.productIndex = descriptor.iProduct;
    std::uint8_t ports[kMaxPortDepth];
    const int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
    if (depth > 0) arm.ports.assign(ports, ports + depth);
    arm.info.vendorId = descriptor.idVendor;
    arm.info.productId = descriptor.idProduct;
    arm.info.bus = libusb_get_bus_number(device);
    arm.info.address = libusb_get_device_address(device);
    CopyText(PathOf(arm.info.bus, arm.info.address, arm.ports), arm.info.path,
             sizeof arm.info.path);
    arms.push_back(arm);
  }
  std::sort(arms.begin(), arms.end(), ListedBefore);
  return arms;
}

// Reads the serial-number and product strings the device announces. A device
// that announces none is not opened (nor asked anything on endpoint 0).
void ReadStrings(FoundArm& arm) {
  if (arm.serialIndex == 0 && arm.productIndex == 0) return;
  libusb_device_handle* handle = nullptr;
  if (libusb_open(arm.device, &handle) != 0) return;
  const auto read = [handle](std::uint8_t index, char* out, int size) {
    if (index == 0) return;
    if (libusb_get_string_descriptor_ascii(handle, index, reinterpret_cast<unsigned char*>(out),
                                           size) < 0) {
      out[0] = '\0';
    }
  };
  read(arm.serialIndex, arm.info.serial, TARSEL_ARM_TEXT_SIZE);
  read(arm.productIndex, arm.info.product, TARSEL_ARM_TEXT_SIZE);
  libusb_close(handle);
}

int ListArms(TarselArmLinkInfo* arms, int capacity, int* count) {
  if (count == nullptr || capacity < 0 || (arms == nullptr && capacity > 0)) {
    return TARSEL_ERROR_ARGUMENT;
  }
  *count = 0;
  Context context;
  if (context.get() == nullptr) return TARSEL_ERROR_USB_INIT;
  try {
    const DeviceList devices(context.get());
    std::vector<FoundArm> found = FindArms(devices);
    const std::size_t filled = std::min(found.size(), static_cast<std::size_t>(capacity));
    for (std::size_t i = 0; i < filled; ++i) {
      ReadStrings(found[i]);
      arms[i] = found[i].info;
    }
    *count = static_cast<int>(found.size());
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
  return TARSEL_OK;
}

int OpenArm(const char* path, TarselArmLink** link) {
  if (link == nullptr) return TARSEL_ERROR_ARGUMENT;
  *link = nullptr;
  std::unique_ptr<TarselArmLink> made(new (std::nothrow) TarselArmLink);
  if (made == nullptr) return TARSEL_ERROR_NO_MEMORY;
  Context context;
  if (context.get() == nullptr) return TARSEL_ERROR_USB_INIT;
  try {
    const DeviceList devices(context.get());
    const std::vector<FoundArm> found = FindArms(devices);
    const bool first = path == nullptr || *path == '\0';
    const auto arm = std::find_if(found.begin(), found.end(), [&](const FoundArm& a) {
      return first || std::strcmp(a.info.path, path) == 0;
    });
    if (arm == found.end()) return TARSEL_ERROR_NO_ARM;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(arm->device, &handle) != 0) return TARSEL_ERROR_NO_ARM;
    if (libusb_claim_interface(handle, TARSEL_USB_INTERFACE) < 0) {
      libusb_close(handle);
      return TARSEL_ERROR_CLAIM_FAILED;
    }
    made->handle = handle;
    made->owed = TakeOwed(handle);
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
  made->context = context.release();
  *link = made.release();
  return TARSEL_OK;
}

int Exchange(TarselArmLink* link, const Packet* request, Packet* answer) {
  if (link == nullptr || request == nullptr || answer == nullptr) return TARSEL_ERROR_ARGUMENT;
  return ExchangePacket(link->handle, link->owed, *request, *answer).answered
             ? TARSEL_OK
             : TARSEL_ERROR_NO_ANSWER;
}

int CloseArm(TarselArmLink* link) {
  if (link == nullptr) return TARSEL_OK;
  KeepOwed(link->handle, link->owed);
  libusb_release_interface(link->handle, TARSEL_USB_INTERFACE);
  libusb_close(link->handle);
  libusb_exit(link->context);
  delete link;
  return TARSEL_OK;
}

}  // namespace
}  // namespace tarsel::link

// The exported names only forward, so that no call inside the library goes
// through them.
int TarselLinkListArms(TarselArmLinkInfo* arms, int capacity, int* count) {
  return tarsel::link::ListArms(arms, capacity, count);
}

int TarselLinkOpenArm(const char* path, TarselArmLink** link) {
  return tarsel::link::OpenArm(path, link);
}

int TarselLinkExchange(TarselArmLink* link, const Packet* request, Packet* answer) {
  return tarsel::link::Exchange(link, request, answer);
}

int TarselLinkCloseArm(TarselArmLink* link) {
  return tarsel::link::CloseArm(link);
}
