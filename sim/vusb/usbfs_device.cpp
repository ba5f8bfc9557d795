#include "usbfs_device.h"

#include <errno.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/prctl.h>

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

void Urb::Finish(int status, int length, BusClock::time_point at) {
  auto* fields = reinterpret_cast<usbdevfs_urb*>(urb->data);
  fields->status = status;
  fields->actual_length = length;
  completed = at;
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
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  frame_wake.notify_all();
  if (frame_thread.joinable()) frame_thread.join();
  // A host still waiting on the device learns that it is gone.
  if (deferred) {
    g_object_unref(deferred->slot);
    umockdev_ioctl_client_complete(deferred->client, -1, ENODEV);
    g_object_unref(deferred->client);
    deferred.reset();
  }
  if (handler != nullptr && signal != 0) g_signal_handler_disconnect(handler, signal);
  if (testbed != nullptr) umockdev_testbed_detach_ioctl(testbed, node.c_str(), nullptr);
  if (handler != nullptr) g_object_unref(handler);
  for (auto* queue : {&pending_in, &stalled_out, &scheduled_out, &finished}) {
    for (detail::Urb& u : *queue) u.Release();
  }
}

void VirtualDevice::State::Configure(const DeviceOptions& options) {
  bus_clock = options.bus_clock;
  const Bytes descriptors = detail::Descriptors(options);
  in_interval = std::max(1, detail::EndpointInterval(descriptors, TARSEL_USB_ENDPOINT_IN));
  out_interval = std::max(1, detail::EndpointInterval(descriptors, TARSEL_USB_ENDPOINT_OUT));
  if (bus_clock) frame_thread = std::thread([this] { RunFrames(); });
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
  u.endpoint = fields->endpoint;
  u.submitted = BusClock::now();

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
    DeliverLocked(BusClock::now());
  } else if (bus_clock) {
    // The packet goes on the wire, and to the device, at the endpoint's
    // next poll.
    std::lock_guard lock(mutex);
    u.due = NextPoll(u.submitted, out_interval);
    scheduled_out.push_back(u);
  } else {
    Accept(u, u.submitted);
  }
  umockdev_ioctl_client_complete(client, 0, 0);
}

// Takes an OUT packet off the wire at at (with the bus clock; else now) and
// computes the answer to it.
void VirtualDevice::State::Accept(detail::Urb u, BusClock::time_point at) {
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
    u.Finish(0, static_cast<int>(u.buffer->data_len), bus_clock ? at : BusClock::now());
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
  // On the bus clock the device answers at once from the moment it took
  // the packet, however late this thread got to it.
  const auto now = BusClock::now();
  const auto took = bus_clock ? at : now;
  busy_until = std::max(busy_until, took) + (stalls ? stall_delay : std::chrono::milliseconds(0));
  if (answer) {
    if (answer->size() > static_cast<std::size_t>(kPacket)) answer->resize(kPacket);
    answers.push_back(Answer{std::move(*answer), busy_until});
    DeliverLocked(now);
  }
}

void VirtualDevice::State::Advance() {
  std::lock_guard order(advance_mutex);
  for (;;) {
    detail::Urb u;
    {
      std::lock_guard lock(mutex);
      if (scheduled_out.empty() || scheduled_out.front().due > BusClock::now()) return;
      u = scheduled_out.front();
      scheduled_out.pop_front();
    }
    Accept(u, u.due);
  }
}

BusClock::time_point VirtualDevice::State::InTransaction(BusClock::time_point submitted,
                                                         BusClock::time_point ready) const {
  // Strictly after the answer is ready: a device answers in a later frame
  // than the one it took the request in.
  return bus_clock ? NextPoll(std::max(submitted, ready), in_interval) : std::max(submitted, ready);
}

// Completes waiting IN transfers whose transaction has come (now, or on the
// bus clock the poll that carries them) with waiting answers, or with the IN
// fault, which loses an answer its transaction meets.
void VirtualDevice::State::DeliverLocked(BusClock::time_point now) {
  while (!pending_in.empty()) {
    detail::Urb& u = pending_in.front();
    if (in_error != 0) {
      const auto at = bus_clock ? NextPoll(u.submitted, in_interval) : now;
      if (at > now) break;
      if (!answers.empty() && InTransaction(u.submitted, answers.front().ready) <= at) {
        answers.pop_front();
      }
      u.Finish(-in_error, 0, at);
    } else {
      if (answers.empty()) break;
      const auto at = InTransaction(u.submitted, answers.front().ready);
      if (at > now) break;
      const Bytes& answer = answers.front().bytes;
      std::size_t n = std::min<std::size_t>(answer.size(), u.buffer->data_len);
      if (short_in >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(short_in));
      std::memcpy(u.buffer->data, answer.data(), n);
      u.Finish(0, static_cast<int>(n), bus_clock ? at : now);
      answers.pop_front();
    }
    finished.push_back(u);
    pending_in.pop_front();
  }
}

void VirtualDevice::State::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  if (bus_clock) {
    Advance();
    bool defer = false;
    {
      std::lock_guard lock(mutex);
      DeliverLocked(BusClock::now());
      defer = finished.empty() && !deferred && !stopping &&
              !(pending_in.empty() && scheduled_out.empty() && stalled_out.empty());
    }
    // Nothing in flight can finish before the next frame starts, so the
    // host waits for it here instead of asking again and again (libusb
    // takes an emulated device for always ready). The answer comes from
    // the frame thread; umockdev's thread serves other requests meanwhile.
    if (defer) {
      UMockdevIoctlData* slot = Resolve(arg, 0, sizeof(void*));
      if (slot == nullptr) return umockdev_ioctl_client_complete(client, -1, EFAULT);
      g_object_ref(client);
      {
        std::lock_guard lock(mutex);
        deferred = Deferred{client, slot};
      }
      frame_wake.notify_all();
      return;
    }
  }
  HandBack(client, arg, nullptr);
}

void VirtualDevice::State::HandBack(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                                    UMockdevIoctlData* slot) {
  detail::Urb u;
  {
    std::lock_guard lock(mutex);
    DeliverLocked(BusClock::now());
    if (finished.empty()) {
      if (slot != nullptr) g_object_unref(slot);
      return umockdev_ioctl_client_complete(client, -1, EAGAIN);
    }
    u = finished.front();
    finished.pop_front();
  }
  if (slot == nullptr) slot = Resolve(arg, 0, sizeof(void*));
  if (slot == nullptr) {
    u.Release();
    return umockdev_ioctl_client_complete(client, -1, EFAULT);
  }
  {
    // Logged before the host can see it, so that the log keeps the order in
    // which the host had its transfers back.
    const usbdevfs_urb* fields = Fields(u);
    std::lock_guard lock(mutex);
    if (log_limit > 0) {
      if (transfers.size() >= log_limit) transfers.pop_front();
      transfers.push_back(Transfer{u.endpoint, fields->status, fields->actual_length, u.submitted,
                                   u.completed, BusClock::now()});
    }
  }
  // The host gets its own URB back; the answer in its buffer and the
  // status are written back to the host's memory on completion.
  umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
  umockdev_ioctl_client_complete(client, 0, 0);
  g_object_unref(slot);
  u.Release();
}

// Answers the deferred reap at each frame start.
void VirtualDevice::State::RunFrames() {
  // Frame starts are the bus's clock: no timer slack on them.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::unique_lock lock(mutex);
  for (;;) {
    frame_wake.wait(lock, [this] { return stopping || deferred.has_value(); });
    if (stopping) return;
    const auto frame = NextPoll(BusClock::now(), 1);
    if (frame_wake.wait_until(lock, frame, [this] { return stopping; })) return;
    const Deferred reap = *deferred;
    deferred.reset();
    lock.unlock();
    Advance();
    HandBack(reap.client, nullptr, reap.slot);
    g_object_unref(reap.client);
    lock.lock();
  }
}

// A discarded URB comes back from the next reap with -ENOENT, as the
// kernel does; libusb waits for that after a time-out.
void VirtualDevice::State::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  gulong address = 0;
  std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
  bool found = false;
  {
    std::lock_guard lock(mutex);
    for (auto* queue : {&pending_in, &stalled_out, &scheduled_out}) {
      auto it = std::find_if(queue->begin(), queue->end(),
                             [&](const detail::Urb& u) { return u.Address() == address; });
      if (it == queue->end()) continue;
      it->Finish(-ENOENT, 0, BusClock::now());
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
  state_->answers.push_back(State::Answer{Bytes(wire, wire + kPacket), BusClock::now()});
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
  while (state_->transfers.size() > packets) state_->transfers.pop_front();
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

std::vector<Transfer> VirtualDevice::Transfers() const {
  std::lock_guard lock(state_->mutex);
  return {state_->transfers.begin(), state_->transfers.end()};
}

void VirtualDevice::ClearLog() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.out_packets.clear();
  s.transfers.clear();
  s.out_submissions = s.in_submissions = s.claims = s.requests = 0;
  s.unknown.clear();
}

}  // namespace tarsel::vusb
