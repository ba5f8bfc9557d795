#include "usbfs_device.h"

#include <errno.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "device_description.h"

namespace tarsel::vusb {

namespace detail {

void Urb::Finish(int status, int length) const {
  auto* fields = reinterpret_cast<usbdevfs_urb*>(urb->data);
  fields->status = status;
  fields->actual_length = length;
}

void Urb::Release() {
  if (buffer != nullptr) g_object_unref(buffer);
  if (urb != nullptr) g_object_unref(urb);
  buffer = urb = nullptr;
}

}  // namespace detail

namespace {

constexpr int kPacket = TARSEL_PACKET_SIZE;
// Transfers larger than this are refused; the arm's are 64 bytes.
constexpr int kLargestTransfer = 4096;

// What the device tells libusb it can do, as a current kernel would.
constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

usbdevfs_urb* Fields(const detail::Urb& u) {
  return reinterpret_cast<usbdevfs_urb*>(u.urb->data);
}

UMockdevIoctlData* Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
  GError* error = nullptr;
  UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, size, &error);
  if (error != nullptr) g_error_free(error);
  return resolved;
}

}  // namespace

VirtualDevice::State::State(int index, int number)
    : index(index), number(number), node(detail::DeviceNode(number)) {
  handler = umockdev_ioctl_base_new();
  signal = g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&State::OnIoctl), this);
}

VirtualDevice::State::~State() {
  if (handler != nullptr && signal != 0) g_signal_handler_disconnect(handler, signal);
  if (testbed != nullptr) umockdev_testbed_detach_ioctl(testbed, node.c_str(), nullptr);
  if (handler != nullptr) g_object_unref(handler);
  for (auto* queue : {&pending_in, &stalled_out, &finished}) {
    for (detail::Urb& u : *queue) u.Release();
  }
}

void VirtualDevice::State::Attach(UMockdevTestbed* bed) {
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(bed, node.c_str(), handler, &error)) {
    std::string message = "virtual USB: cannot attach the handler of " + node;
    if (error != nullptr) {
      message += std::string(": ") + error->message;
      g_error_free(error);
    }
    throw std::runtime_error(message);
  }
  testbed = bed;
}

gboolean VirtualDevice::State::OnIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                                       gpointer self) {
  static_cast<State*>(self)->Handle(client);
  return TRUE;
}

// Serves one usbfs request. Every request is completed before returning:
// the host's thread is blocked in ioctl() until then.
void VirtualDevice::State::Handle(UMockdevIoctlClient* client) {
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

void VirtualDevice::State::Capabilities(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* caps = Resolve(arg, 0, sizeof(std::uint32_t));
  if (caps == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
  std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
  umockdev_ioctl_client_complete(client, 0, 0);
  g_object_unref(caps);
}

void VirtualDevice::State::Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

void VirtualDevice::State::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  detail::Urb u;
  u.urb = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (u.urb == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
  usbdevfs_urb* fields = Fields(u);
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
void VirtualDevice::State::Accept(detail::Urb u) {
  Responder cooked;
  RawResponder raw;
  Bytes request(u.buffer->data, u.buffer->data + u.buffer->data_len);
  {
    std::lock_guard lock(mutex);
    if (stall_out) {
      stalled_out.push_back(u);
      return;
    }
    if (log_limit > 0) {
      if (out_packets.size() >= log_limit) out_packets.pop_front();
      out_packets.push_back(request);
    }
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
  std::lock_guard lock(mutex);
  // The device works on one packet at a time: a stalled one holds back the
  // answers to every later packet, silent ones included.
  const bool stalls = stall_request > 0 && --stall_request == 0;
  const auto now = std::chrono::steady_clock::now();
  busy_until = std::max(busy_until, now) + (stalls ? stall_delay : std::chrono::milliseconds(0));
  if (answer) {
    if (answer->size() > static_cast<std::size_t>(kPacket)) answer->resize(kPacket);
    answers.push_back(Answer{std::move(*answer), busy_until});
    DeliverLocked();
  }
}

// Completes waiting IN transfers with waiting answers (or with the IN
// fault, which loses the answer it meets).
void VirtualDevice::State::DeliverLocked() {
  const auto now = std::chrono::steady_clock::now();
  const auto readable = [&] { return !answers.empty() && answers.front().ready <= now; };
  while (!pending_in.empty() && (in_error != 0 || readable())) {
    detail::Urb u = pending_in.front();
    pending_in.pop_front();
    if (in_error != 0) {
      if (readable()) answers.pop_front();
      u.Finish(-in_error, 0);
    } else {
      const Bytes& answer = answers.front().bytes;
      std::size_t n = std::min<std::size_t>(answer.size(), u.buffer->data_len);
      if (short_in >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(short_in));
      std::memcpy(u.buffer->data, answer.data(), n);
      u.Finish(0, static_cast<int>(n));
      answers.pop_front();
    }
    finished.push_back(u);
  }
}

void VirtualDevice::State::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  detail::Urb u;
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
void VirtualDevice::State::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  gulong address = 0;
  std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
  bool found = false;
  {
    std::lock_guard lock(mutex);
    for (auto* queue : {&pending_in, &stalled_out}) {
      auto it = std::find_if(queue->begin(), queue->end(),
                             [&](const detail::Urb& u) { return u.Address() == address; });
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

VirtualDevice::VirtualDevice(int index, int number)
    : state_(std::make_unique<State>(index, number)) {}

VirtualDevice::~VirtualDevice() = default;

int VirtualDevice::Index() const {
  return state_->index;
}

int VirtualDevice::Address() const {
  return state_->number;
}

std::string VirtualDevice::PortPath() const {
  return detail::PortPath(state_->index);
}

void VirtualDevice::SetResponder(Responder responder) {
  std::lock_guard lock(state_->mutex);
  state_->responder = std::move(responder);
  state_->raw_responder = nullptr;
}

void VirtualDevice::SetRawResponder(RawResponder responder) {
  std::lock_guard lock(state_->mutex);
  state_->raw_responder = std::move(responder);
  state_->responder = nullptr;
}

void VirtualDevice::PushAnswer(const Packet& answer) {
  unsigned char wire[kPacket];
  EncodePacket(answer, wire);
  std::lock_guard lock(state_->mutex);
  state_->answers.push_back(
      State::Answer{Bytes(wire, wire + kPacket), std::chrono::steady_clock::now()});
}

void VirtualDevice::StallAnswer(int request, std::chrono::milliseconds delay) {
  std::lock_guard lock(state_->mutex);
  state_->stall_request = request;
  state_->stall_delay = delay;
}

void VirtualDevice::SetLogLimit(std::size_t packets) {
  std::lock_guard lock(state_->mutex);
  state_->log_limit = packets;
  while (state_->out_packets.size() > packets) state_->out_packets.pop_front();
}

void VirtualDevice::StallOut() {
  std::lock_guard lock(state_->mutex);
  state_->stall_out = true;
}

void VirtualDevice::FailOut(int error) {
  std::lock_guard lock(state_->mutex);
  state_->out_error = error;
}

void VirtualDevice::FailIn(int error) {
  std::lock_guard lock(state_->mutex);
  state_->in_error = error;
}

void VirtualDevice::ShortIn(int length) {
  std::lock_guard lock(state_->mutex);
  state_->short_in = std::clamp(length, 0, kPacket);
}

void VirtualDevice::RefuseClaim(int error) {
  std::lock_guard lock(state_->mutex);
  state_->claim_error = error;
}

void VirtualDevice::Unplug() {
  std::lock_guard lock(state_->mutex);
  state_->unplugged = true;
}

void VirtualDevice::ClearFaults() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.stall_out = false;
  s.out_error = s.in_error = s.claim_error = 0;
  s.short_in = -1;
  s.unplugged = false;
}

std::vector<Bytes> VirtualDevice::OutPackets() const {
  std::lock_guard lock(state_->mutex);
  return {state_->out_packets.begin(), state_->out_packets.end()};
}

int VirtualDevice::OutSubmissions() const {
  std::lock_guard lock(state_->mutex);
  return state_->out_submissions;
}

int VirtualDevice::InSubmissions() const {
  std::lock_guard lock(state_->mutex);
  return state_->in_submissions;
}

int VirtualDevice::Claims() const {
  std::lock_guard lock(state_->mutex);
  return state_->claims;
}

int VirtualDevice::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::vector<unsigned long> VirtualDevice::UnknownRequests() const {
  std::lock_guard lock(state_->mutex);
  return state_->unknown;
}

std::size_t VirtualDevice::QueuedAnswers() const {
  std::lock_guard lock(state_->mutex);
  return state_->answers.size();
}

void VirtualDevice::ClearLog() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.out_packets.clear();
  s.out_submissions = s.in_submissions = s.claims = s.requests = 0;
  s.unknown.clear();
}

}  // namespace tarsel::vusb
