#include "usb_exchange.h"

#include <libusb.h>

#include <array>
#include <cstdint>
#include <mutex>

#include "packet_trace.h"
#include "tarsel/comm_layer.h"

namespace tarsel::link {

namespace {

using Clock = std::chrono::steady_clock;

// Whether a read delivered the answer the IN endpoint had to give. A read
// that ran into its time-out just as the answer came is reported as a
// time-out with the bytes moved: the answer was still taken off the wire.
bool Delivered(int code, int transferred) {
  return code == 0 || code == LIBUSB_ERROR_OVERFLOW || code == LIBUSB_ERROR_PIPE || transferred > 0;
}

// Collects owed answers, oldest first. True when nothing is owed any more
// (collected, or given up after kOwedSilence); false when an answer did not
// come in time or the arm cannot be read: nothing may be sent then.
bool CollectOwed(libusb_device_handle* handle, OwedAnswers& owed) {
  unsigned char discard[TARSEL_PACKET_SIZE];
  while (owed.count > 0) {
    int transferred = 0;
    const int code = InterruptTransfer(handle, TARSEL_USB_ENDPOINT_IN, discard, TARSEL_PACKET_SIZE,
                                       &transferred, TARSEL_USB_TIMEOUT_MS);
    if (Delivered(code, transferred)) {
      --owed.count;
      owed.lastHeard = Clock::now();
    } else if (code != LIBUSB_ERROR_TIMEOUT) {
      return false;  // unplugged or broken: the arm owes nothing it can send
    } else if (Clock::now() - owed.lastHeard >= kOwedSilence) {
      owed.count = 0;  // silent for so long that the answers are lost
    } else {
      return false;
    }
  }
  return true;
}

// What closed links left owed, by the arm's place on the bus. An arm that is
// unplugged and plugged in again gets a new address, so its record (of
// answers the new session will never send) is not found again.
struct KeptOwed {
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  OwedAnswers owed;
};

constexpr std::size_t kKeptArms = 32;
std::mutex g_keptMutex;
std::array<KeptOwed, kKeptArms> g_kept{};

KeptOwed PlaceOf(libusb_device_handle* handle) {
  libusb_device* device = libusb_get_device(handle);
  return KeptOwed{libusb_get_bus_number(device), libusb_get_device_address(device), {}};
}

// The record kept for place's arm, or null. Called with g_keptMutex held.
KeptOwed* KeptFor(const KeptOwed& place) {
  for (KeptOwed& kept : g_kept) {
    if (kept.owed.count > 0 && kept.bus == place.bus && kept.address == place.address) {
      return &kept;
    }
  }
  return nullptr;
}

}  // namespace

ExchangeOutcome ExchangePacket(libusb_device_handle* handle, OwedAnswers& owed,
                               const Packet& request, Packet& answer) {
  ExchangeOutcome outcome;
  if (owed.count > 0 && !CollectOwed(handle, owed)) [[unlikely]] {
    return outcome;
  }
  unsigned char out[TARSEL_PACKET_SIZE] = {};
  unsigned char in[TARSEL_PACKET_SIZE] = {};
  EncodePacket(request, out);

  int transferred = 0;
  outcome.writeError = InterruptTransfer(handle, TARSEL_USB_ENDPOINT_OUT, out, TARSEL_PACKET_SIZE,
                                         &transferred, TARSEL_USB_TIMEOUT_MS);
  if (outcome.writeError != 0) return outcome;
  transferred = 0;
  const int read = InterruptTransfer(handle, TARSEL_USB_ENDPOINT_IN, in, TARSEL_PACKET_SIZE,
                                     &transferred, TARSEL_USB_TIMEOUT_MS);
  // A truncated answer is a failed read: the arm always sends whole packets,
  // and zero-filled bytes must not pass for data.
  outcome.answered =
      (read == 0 || read == LIBUSB_ERROR_TIMEOUT) && transferred == TARSEL_PACKET_SIZE;
  if (outcome.answered) {
    answer = DecodePacket(in);
  } else if (read == LIBUSB_ERROR_TIMEOUT && transferred == 0) {
    ++owed.count;
    owed.lastHeard = Clock::now();
  }
  return outcome;
}

void KeepOwed(libusb_device_handle* handle, const OwedAnswers& owed) {
  if (owed.count <= 0 || handle == nullptr) return;
  KeptOwed place = PlaceOf(handle);
  // The records live in this library: unloaded, it would forget them.
  KeepLoaded();
  std::lock_guard lock(g_keptMutex);
  KeptOwed* slot = KeptFor(place);
  if (slot == nullptr) {
    // A free slot (whose time is the clock's epoch), else the oldest record.
    slot = &g_kept[0];
    for (KeptOwed& kept : g_kept) {
      if (slot->owed.count > 0 && kept.owed.lastHeard < slot->owed.lastHeard) slot = &kept;
    }
  }
  place.owed = owed;
  *slot = place;
}

OwedAnswers TakeOwed(libusb_device_handle* handle) {
  if (handle == nullptr) return {};
  std::lock_guard lock(g_keptMutex);
  KeptOwed* kept = KeptFor(PlaceOf(handle));
  if (kept == nullptr) return {};
  const OwedAnswers owed = kept->owed;
  *kept = KeptOwed{};
  return owed;
}

}  // namespace tarsel::link
