#include "tarsel/vusb/virtual_arm.h"

#include <errno.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <spawn.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace tarsel::vusb {
namespace {

constexpr const char* kPreloadLibrary = TARSEL_VUSB_PRELOAD;
constexpr const char* kPreloadStem = "libumockdev-preload";
constexpr const char* kReexecMarker = "TARSEL_VUSB_REEXECUTED";
constexpr const char* kDeviceNode = "/dev/bus/usb/001/002";
constexpr int kPacket = TARSEL_PACKET_SIZE;
// Transfers larger than this are refused; the arm's are 64 bytes.
constexpr int kLargestTransfer = 4096;

// What the device tells libusb it can do, as a current kernel would.
constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

void Put16(Bytes& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value & 0xFFu));
  out.push_back(static_cast<unsigned char>((value >> 8) & 0xFFu));
}

// Device, configuration, interface and endpoint descriptors as on the wire.
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
  // Endpoints 0x82 (in) and 0x02 (out): interrupt, 64 bytes, every frame.
  for (unsigned char address : {TARSEL_USB_ENDPOINT_IN, TARSEL_USB_ENDPOINT_OUT}) {
    d.insert(d.end(), {7, 0x05, address, 0x03});
    Put16(d, kPacket);
    d.push_back(1);
  }
  return d;
}

// The device in umockdev's text form. Attribute values carry a literal
// backslash-n, as sysfs files end in a newline.
std::string Description(const DeviceOptions& options) {
  std::string hex;
  for (unsigned char b : Descriptors(options)) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", b);
    hex += digits;
  }
  return std::string(
             "P: /devices/tarsel-arm\n"
             "N: bus/usb/001/002\n"
             "E: DEVNAME=") +
         kDeviceNode +
         "\n"
         "E: DEVTYPE=usb_device\n"
         "E: SUBSYSTEM=usb\n"
         "E: BUSNUM=001\n"
         "E: DEVNUM=002\n"
         "A: busnum=1\\n\n"
         "A: devnum=2\\n\n"
         "A: bConfigurationValue=1\\n\n"
         "A: speed=12\\n\n"
         "H: descriptors=" +
         hex + "\n";
}

std::runtime_error UmockdevError(const char* what, GError* error) {
  std::string message = std::string("virtual USB: ") + what;
  if (error != nullptr) {
    message += ": ";
    message += error->message;
    g_error_free(error);
  }
  return std::runtime_error(message);
}

bool Contains(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

// LD_PRELOAD with the preload library first, keeping what was there.
std::string PreloadValue() {
  const char* current = std::getenv("LD_PRELOAD");
  if (Contains(current, kPreloadStem)) return current;
  std::string value = kPreloadLibrary;
  if (current != nullptr && *current != '\0') value += std::string(":") + current;
  return value;
}

// ASAN_OPTIONS that let AddressSanitizer start behind the preload library.
std::string AsanOptionsValue() {
  const char* current = std::getenv("ASAN_OPTIONS");
  if (Contains(current, "verify_asan_link_order")) return current;
  std::string value = "verify_asan_link_order=0";
  if (current != nullptr && *current != '\0') value += std::string(":") + current;
  return value;
}

// One URB handed over by the host, with the references that keep its memory
// reachable from submission until it is reaped.
struct Urb {
  UMockdevIoctlData* urb = nullptr;
  UMockdevIoctlData* buffer = nullptr;

  usbdevfs_urb* Fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
  gulong Address() const { return urb->client_addr; }
  void Finish(int status, int length) const {
    Fields()->status = status;
    Fields()->actual_length = length;
  }
  void Release() {
    if (buffer != nullptr) g_object_unref(buffer);
    if (urb != nullptr) g_object_unref(urb);
    buffer = urb = nullptr;
  }
};

// One test bed per process: the preload finds it through UMOCKDEV_DIR.
std::atomic<int> g_live_arms{0};

}  // namespace

struct VirtualArm::State {
  DeviceOptions options;
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  gulong signal = 0;
  bool attached = false;
  std::string root;

  mutable std::mutex mutex;
  Responder responder;
  RawResponder raw_responder;
  std::deque<Bytes> answers;   // waiting for an IN transfer
  std::deque<Urb> pending_in;  // IN transfers waiting for an answer
  std::deque<Urb> stalled_out;
  std::deque<Urb> finished;  // waiting to be reaped

  bool stall_out = false;
  int out_error = 0;
  int in_error = 0;
  int short_in = -1;
  int claim_error = 0;
  bool unplugged = false;

  std::vector<Bytes> out_packets;
  int out_submissions = 0;
  int in_submissions = 0;
  int claims = 0;
  int requests = 0;
  std::vector<unsigned long> unknown;

  State() {
    if (g_live_arms.fetch_add(1) != 0) {
      g_live_arms.fetch_sub(1);
      throw std::logic_error("virtual USB: only one VirtualArm may exist at a time");
    }
  }

  ~State() {
    if (handler != nullptr && signal != 0) g_signal_handler_disconnect(handler, signal);
    if (testbed != nullptr && attached)
      umockdev_testbed_detach_ioctl(testbed, kDeviceNode, nullptr);
    if (testbed != nullptr) g_object_unref(testbed);
    if (handler != nullptr) g_object_unref(handler);
    for (auto* queue : {&pending_in, &stalled_out, &finished}) {
      for (Urb& u : *queue) u.Release();
    }
    g_live_arms.fetch_sub(1);
  }

  static gboolean OnIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                          gpointer self) {
    static_cast<State*>(self)->Handle(client);
    return TRUE;
  }

  // Serves one usbfs request. Every request is completed before returning:
  // the host's thread is blocked in ioctl() until then.
  void Handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    {
      std::lock_guard lock(mutex);
      ++requests;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES:
        return Capabilities(client, arg);
      case USBDEVFS_CLAIMINTERFACE:
        return Claim(client, arg);
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
      case USBDEVFS_RESET:
        return umockdev_ioctl_client_complete(client, 0, 0);
      case USBDEVFS_SUBMITURB:
        return Submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        return Reap(client, arg);
      case USBDEVFS_DISCARDURB:
        return Discard(client, arg);
      default: {
        std::lock_guard lock(mutex);
        unknown.push_back(request);
      }
        return umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
  }

  static UMockdevIoctlData* Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, size, &error);
    if (error != nullptr) g_error_free(error);
    return resolved;
  }

  void Capabilities(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* caps = Resolve(arg, 0, sizeof(std::uint32_t));
    if (caps == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(caps);
  }

  void Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* number = Resolve(arg, 0, sizeof(unsigned int));
    if (number == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    unsigned int interface = 0;
    std::memcpy(&interface, number->data, sizeof interface);
    g_object_unref(number);
    int refusal = 0;
    {
      std::lock_guard lock(mutex);
      if (unplugged) {
        refusal = ENODEV;
      } else if (claim_error != 0) {
        refusal = claim_error;
      } else if (interface != TARSEL_USB_INTERFACE) {
        refusal = EINVAL;
      } else {
        ++claims;
      }
    }
    umockdev_ioctl_client_complete(client, refusal != 0 ? -1 : 0, refusal);
  }

  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Urb u;
    u.urb = Resolve(arg, 0, sizeof(usbdevfs_urb));
    if (u.urb == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    usbdevfs_urb* fields = u.Fields();
    const bool in = (fields->endpoint & 0x80) != 0;
    const int length = fields->buffer_length;

    int refusal = 0;
    {
      std::lock_guard lock(mutex);
      ++(in ? in_submissions : out_submissions);
      if (unplugged) {
        refusal = ENODEV;
      } else if ((fields->type != USBDEVFS_URB_TYPE_INTERRUPT &&
                  fields->type != USBDEVFS_URB_TYPE_BULK) ||
                 (fields->endpoint != TARSEL_USB_ENDPOINT_IN &&
                  fields->endpoint != TARSEL_USB_ENDPOINT_OUT) ||
                 length <= 0 || length > kLargestTransfer) {
        refusal = EINVAL;
      } else if (!in) {
        refusal = out_error;
      }
    }
    if (refusal == 0) {
      u.buffer = Resolve(u.urb, offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(length));
      if (u.buffer == nullptr) refusal = EFAULT;
    }
    if (refusal != 0) {
      u.Release();
      return umockdev_ioctl_client_complete(client, -1, refusal);
    }

    if (in) {
      std::lock_guard lock(mutex);
      pending_in.push_back(u);
      DeliverLocked();
    } else {
      Accept(u);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  // Takes an OUT packet off the wire and computes the answer to it.
  void Accept(Urb u) {
    Responder cooked;
    RawResponder raw;
    Bytes request(u.buffer->data, u.buffer->data + u.buffer->data_len);
    {
      std::lock_guard lock(mutex);
      if (stall_out) {
        stalled_out.push_back(u);
        return;
      }
      out_packets.push_back(request);
      u.Finish(0, u.buffer->data_len);
      finished.push_back(u);
      cooked = responder;
      raw = raw_responder;
    }
    // The responder runs unlocked so that it may use the knobs itself; no
    // exception may cross umockdev's C frames.
    std::optional<Bytes> answer;
    try {
      if (raw) {
        answer = raw(request);
      } else if (cooked) {
        unsigned char wire[kPacket] = {};
        std::memcpy(wire, request.data(), std::min<std::size_t>(request.size(), kPacket));
        if (std::optional<Packet> reply = cooked(DecodePacket(wire))) {
          EncodePacket(*reply, wire);
          answer = Bytes(wire, wire + kPacket);
        }
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "virtual USB: responder failed: %s\n", e.what());
      answer.reset();
    } catch (...) {
      std::fprintf(stderr, "virtual USB: responder failed\n");
      answer.reset();
    }
    if (answer) {
      if (answer->size() > static_cast<std::size_t>(kPacket)) answer->resize(kPacket);
      std::lock_guard lock(mutex);
      answers.push_back(std::move(*answer));
      DeliverLocked();
    }
  }

  // Completes waiting IN transfers with waiting answers (or with the IN
  // fault, which loses the answer it meets).
  void DeliverLocked() {
    while (!pending_in.empty() && (in_error != 0 || !answers.empty())) {
      Urb u = pending_in.front();
      pending_in.pop_front();
      if (in_error != 0) {
        if (!answers.empty()) answers.pop_front();
        u.Finish(-in_error, 0);
      } else {
        const Bytes& answer = answers.front();
        std::size_t n = std::min<std::size_t>(answer.size(), u.buffer->data_len);
        if (short_in >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(short_in));
        std::memcpy(u.buffer->data, answer.data(), n);
        u.Finish(0, static_cast<int>(n));
        answers.pop_front();
      }
      finished.push_back(u);
    }
  }

  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Urb u;
    {
      std::lock_guard lock(mutex);
      DeliverLocked();
      if (finished.empty()) return umockdev_ioctl_client_complete(client, -1, EAGAIN);
      u = finished.front();
      finished.pop_front();
    }
    UMockdevIoctlData* slot = Resolve(arg, 0, sizeof(void*));
    if (slot == nullptr) {
      u.Release();
      return umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    // The host gets its own URB back; the answer in its buffer and the
    // status are written back to the host's memory on completion.
    umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    u.Release();
  }

  // A discarded URB comes back from the next reap with -ENOENT, as the
  // kernel does; libusb waits for that after a time-out.
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
    bool found = false;
    {
      std::lock_guard lock(mutex);
      for (auto* queue : {&pending_in, &stalled_out}) {
        auto it = std::find_if(queue->begin(), queue->end(),
                               [&](const Urb& u) { return u.Address() == address; });
        if (it == queue->end()) continue;
        it->Finish(-ENOENT, 0);
        finished.push_back(*it);
        queue->erase(it);
        found = true;
        break;
      }
    }
    umockdev_ioctl_client_complete(client, found ? 0 : -1, found ? 0 : EINVAL);
  }
};

VirtualArm::VirtualArm(Responder responder, DeviceOptions options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.options = options;
  s.responder = std::move(responder);
  s.testbed = umockdev_testbed_new();
  if (s.testbed == nullptr) throw UmockdevError("cannot create the test bed", nullptr);
  gchar* root = umockdev_testbed_get_root_dir(s.testbed);
  s.root = root != nullptr ? root : "";
  g_free(root);

  s.handler = umockdev_ioctl_base_new();
  s.signal = g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(&State::OnIoctl), state_.get());
  if (!options.present) return;

  // The handler goes in first, so the device answers as soon as it appears.
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(s.testbed, kDeviceNode, s.handler, &error)) {
    throw UmockdevError("cannot attach the device handler", error);
  }
  s.attached = true;
  if (!umockdev_testbed_add_from_string(s.testbed, Description(options).c_str(), &error)) {
    throw UmockdevError("cannot add the device", error);
  }
}

VirtualArm::~VirtualArm() = default;

void VirtualArm::SetResponder(Responder responder) {
  std::lock_guard lock(state_->mutex);
  state_->responder = std::move(responder);
  state_->raw_responder = nullptr;
}

void VirtualArm::SetRawResponder(RawResponder responder) {
  std::lock_guard lock(state_->mutex);
  state_->raw_responder = std::move(responder);
  state_->responder = nullptr;
}

void VirtualArm::PushAnswer(const Packet& answer) {
  unsigned char wire[kPacket];
  EncodePacket(answer, wire);
  std::lock_guard lock(state_->mutex);
  state_->answers.emplace_back(wire, wire + kPacket);
}

void VirtualArm::StallOut() {
  std::lock_guard lock(state_->mutex);
  state_->stall_out = true;
}

void VirtualArm::FailOut(int error) {
  std::lock_guard lock(state_->mutex);
  state_->out_error = error;
}

void VirtualArm::FailIn(int error) {
  std::lock_guard lock(state_->mutex);
  state_->in_error = error;
}

void VirtualArm::ShortIn(int length) {
  std::lock_guard lock(state_->mutex);
  state_->short_in = std::clamp(length, 0, kPacket);
}

void VirtualArm::RefuseClaim(int error) {
  std::lock_guard lock(state_->mutex);
  state_->claim_error = error;
}

void VirtualArm::Unplug() {
  std::lock_guard lock(state_->mutex);
  state_->unplugged = true;
}

void VirtualArm::ClearFaults() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.stall_out = false;
  s.out_error = s.in_error = s.claim_error = 0;
  s.short_in = -1;
  s.unplugged = false;
}

std::vector<Bytes> VirtualArm::OutPackets() const {
  std::lock_guard lock(state_->mutex);
  return state_->out_packets;
}

int VirtualArm::OutSubmissions() const {
  std::lock_guard lock(state_->mutex);
  return state_->out_submissions;
}

int VirtualArm::InSubmissions() const {
  std::lock_guard lock(state_->mutex);
  return state_->in_submissions;
}

int VirtualArm::Claims() const {
  std::lock_guard lock(state_->mutex);
  return state_->claims;
}

int VirtualArm::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::vector<unsigned long> VirtualArm::UnknownRequests() const {
  std::lock_guard lock(state_->mutex);
  return state_->unknown;
}

std::size_t VirtualArm::QueuedAnswers() const {
  std::lock_guard lock(state_->mutex);
  return state_->answers.size();
}

void VirtualArm::ClearLog() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.out_packets.clear();
  s.out_submissions = s.in_submissions = s.claims = s.requests = 0;
  s.unknown.clear();
}

std::string VirtualArm::RootDir() const {
  return state_->root;
}

std::vector<std::string> VirtualArm::ChildEnvironment() const {
  return {"LD_PRELOAD=" + PreloadValue(), "UMOCKDEV_DIR=" + state_->root,
          "ASAN_OPTIONS=" + AsanOptionsValue()};
}

pid_t VirtualArm::Spawn(const std::vector<std::string>& argv) const {
  if (argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> env = ChildEnvironment();
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return mine.compare(0, key.size() + 1, key + "=") == 0;
    });
    if (!replaced) env.push_back(entry);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data());
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

int VirtualArm::Run(const std::vector<std::string>& argv) const {
  const pid_t pid = Spawn(argv);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool PreloadActive() {
  // LD_PRELOAD alone does not prove the loader took the library.
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(kPreloadStem) != std::string::npos) return true;
  }
  return false;
}

bool EnsurePreloaded(char** argv) {
  if (PreloadActive()) return true;
  // Once re-executed without the preload coming in, give up instead of
  // looping.
  if (std::getenv(kReexecMarker) != nullptr) return false;
  if (setenv("LD_PRELOAD", PreloadValue().c_str(), 1) != 0 ||
      setenv("ASAN_OPTIONS", AsanOptionsValue().c_str(), 1) != 0 ||
      setenv(kReexecMarker, "1", 1) != 0) {
    return false;
  }
  execv("/proc/self/exe", argv);
  return false;
}

}  // namespace tarsel::vusb
