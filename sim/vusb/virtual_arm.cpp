// The virtual bus: a umockdev test bed holding the devices.
#include "tarsel/vusb/virtual_arm.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <utility>

#include "device_description.h"
#include "usbfs_device.h"

namespace tarsel::vusb {
namespace {

// One test bed per process: the preload finds it through UMOCKDEV_DIR.
std::atomic<int> g_live_arms{0};
// Devices plugged in by this process so far: the next one's number follows.
std::atomic<int> g_plugged{0};

}  // namespace

struct VirtualArm::State {
  UMockdevTestbed* testbed = nullptr;
  std::string root;
  std::vector<std::unique_ptr<VirtualDevice>> devices;

  State() {
    if (g_live_arms.fetch_add(1) != 0) {
      g_live_arms.fetch_sub(1);
      throw std::logic_error("virtual USB: only one VirtualArm may exist at a time");
    }
  }

  ~State() {
    devices.clear();  // each detaches its handler from the test bed
    if (testbed != nullptr) g_object_unref(testbed);
    g_live_arms.fetch_sub(1);
  }
};

VirtualArm::VirtualArm(Responder responder, DeviceOptions options)
    : VirtualArm(std::vector<Responder>{std::move(responder)}, options) {}

VirtualArm::VirtualArm(std::vector<Responder> responders, DeviceOptions options)
    : state_(std::make_unique<State>()) {
  if (responders.empty() || responders.size() > kMaxDevices) {
    throw std::invalid_argument("virtual USB: a bus holds 1 to 126 devices");
  }
  if (options.in_interval == 0 || options.out_interval == 0) {
    throw std::invalid_argument("virtual USB: an endpoint is polled every 1 to 255 frames");
  }
  State& s = *state_;
  s.testbed = umockdev_testbed_new();
  if (s.testbed == nullptr) throw std::runtime_error("virtual USB: cannot create the test bed");
  gchar* root = umockdev_testbed_get_root_dir(s.testbed);
  s.root = root != nullptr ? root : "";
  g_free(root);

  const int first = g_plugged.fetch_add(static_cast<int>(responders.size()));
  for (std::size_t i = 0; i < responders.size(); ++i) {
    const int index = static_cast<int>(i);
    s.devices.emplace_back(new VirtualDevice(index, detail::DeviceNumber(first + index)));
    s.devices.back()->state_->responder = std::move(responders[i]);
    s.devices.back()->state_->Configure(options);
  }
  if (!options.present) return;

  // Each handler goes in first, so that its device answers as soon as it
  // appears.
  for (const auto& device : s.devices) {
    device->state_->Attach(s.testbed);
    GError* error = nullptr;
    const std::string description =
        detail::Description(options, device->Index(), device->Address());
    if (!umockdev_testbed_add_from_string(s.testbed, description.c_str(), &error)) {
      std::string message = "virtual USB: cannot add the device";
      if (error != nullptr) {
        message += std::string(": ") + error->message;
        g_error_free(error);
      }
      throw std::runtime_error(message);
    }
  }
}

VirtualArm::~VirtualArm() = default;

std::size_t VirtualArm::DeviceCount() const {
  return state_->devices.size();
}

VirtualDevice& VirtualArm::Device(std::size_t i) {
  return *state_->devices.at(i);
}

const VirtualDevice& VirtualArm::Device(std::size_t i) const {
  return *state_->devices.at(i);
}

std::string VirtualArm::RootDir() const {
  return state_->root;
}

}  // namespace tarsel::vusb
