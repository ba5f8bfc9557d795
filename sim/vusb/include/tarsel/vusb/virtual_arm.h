// A virtual arm on a virtual USB bus, for running the real link library and
// an unmodified libusb without hardware.
//
// VirtualArm builds a umockdev test bed holding one USB device with the arm's
// identity (vendor id, product id 0, interface 0 of class 0xFF, interrupt
// endpoints 0x02 out and 0x82 in, 64 bytes each) and serves the usbfs
// requests libusb makes on it. Every packet the host writes goes to a
// responder, whose answer is what the host's next read returns. Fault knobs
// make the device refuse or fail transfers the way a real one can.
//
// Two ways to use it:
//  - In-process: the program itself runs under the umockdev preload library
//    (EnsurePreloaded re-executes it so) and creates a VirtualArm before
//    opening the link.
//  - As a host for another program: a process creates a VirtualArm and runs
//    any libusb program as its child with Run or Spawn; only the child runs
//    under the preload, and the device lives in the parent.
//
// Only one VirtualArm may exist in a process at a time (the test bed is
// announced to the preload through the process environment).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarsel/comm_layer.h"
#include "tarsel/packet.h"

namespace tarsel::vusb {

using Bytes = std::vector<unsigned char>;

// Computes the device's answer to one packet written by the host. nullopt
// means the device never answers it: the host's read times out. Called on
// umockdev's worker thread, one packet at a time; it must not block for long
// (the host waits 50 ms for an answer). An exception it throws counts as no
// answer.
using Responder = std::function<std::optional<Packet>(const Packet& request)>;

// The same on the raw bytes of the transfers: the request as written (64
// bytes from the link library), the answer as it goes on the wire. An answer
// shorter than 64 bytes is delivered as a short transfer; a longer one is cut
// to 64 bytes.
using RawResponder = std::function<std::optional<Bytes>(const Bytes& request)>;

// What the virtual bus holds.
struct DeviceOptions {
  std::uint16_t vendor_id = TARSEL_USB_VENDOR_ID;
  std::uint16_t product_id = TARSEL_USB_PRODUCT_ID;
  bool present = true;  // false: an empty bus, no device at all
};

class VirtualArm {
 public:
  // Creates the test bed and plugs the device in. Throws std::runtime_error
  // when umockdev cannot build it, std::logic_error while another VirtualArm
  // exists. Without a responder the device accepts every packet and never
  // answers.
  explicit VirtualArm(Responder responder = {}, DeviceOptions options = {});
  ~VirtualArm();
  VirtualArm(const VirtualArm&) = delete;
  VirtualArm& operator=(const VirtualArm&) = delete;

  void SetResponder(Responder responder);
  void SetRawResponder(RawResponder responder);

  // Queues an answer that no request asked for, as if one arrived late: the
  // host's next read returns it (before any answer computed afterwards).
  void PushAnswer(const Packet& answer);

  // --- Fault knobs. Each holds until ClearFaults. -------------------------
  // The device never takes packets from the OUT endpoint: the host's write
  // times out. The packet does not reach the responder.
  void StallOut();
  // Submitting an OUT transfer fails at once with error (an errno value);
  // ENODEV is what libusb reports as a vanished device.
  void FailOut(int error);
  // IN transfers complete with status -error (EPIPE: a stalled endpoint);
  // an answer waiting for the read is lost with it.
  void FailIn(int error);
  // Answers are delivered cut to length bytes (0 to 63).
  void ShortIn(int length);
  // Claiming the interface fails with error (EBUSY: held by someone else).
  void RefuseClaim(int error);
  // The device is gone: every submission and claim fails with ENODEV.
  void Unplug();
  void ClearFaults();

  // --- What the host did. -------------------------------------------------
  // Bytes of every OUT transfer the device accepted, oldest first.
  std::vector<Bytes> OutPackets() const;
  int OutSubmissions() const;  // OUT transfers submitted, accepted or not
  int InSubmissions() const;   // IN transfers submitted
  int Claims() const;          // successful claims of interface 0
  int Requests() const;        // usbfs requests of any kind
  // usbfs request numbers the device did not know (answered ENOTTY).
  std::vector<unsigned long> UnknownRequests() const;
  std::size_t QueuedAnswers() const;  // answers not yet read by the host
  void ClearLog();                    // forgets all of the above but the queue

  // --- Running another program against the device. -------------------------
  // The test bed's root folder (what the preload finds through UMOCKDEV_DIR).
  std::string RootDir() const;
  // The variables a child needs to see this device: LD_PRELOAD (the preload
  // library first), UMOCKDEV_DIR, and ASAN_OPTIONS with
  // verify_asan_link_order=0 (AddressSanitizer refuses the preload otherwise).
  std::vector<std::string> ChildEnvironment() const;
  // Starts argv (argv[0] looked up in PATH) with the current environment
  // plus ChildEnvironment(). Returns its pid, or -1 (errno set).
  pid_t Spawn(const std::vector<std::string>& argv) const;
  // Spawn, then wait: returns the child's exit status, 128 + signal number
  // when a signal ended it, or -1 when it could not be started. The device
  // keeps serving while this waits.
  int Run(const std::vector<std::string>& argv) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether this process runs under the umockdev preload library.
bool PreloadActive();

// Makes sure the running program is under the preload: if it is not,
// re-executes /proc/self/exe with argv and LD_PRELOAD (and ASAN_OPTIONS) set,
// and does not return. Returns true when the preload is active, false when
// re-executing failed or did not bring the preload in.
bool EnsurePreloaded(char** argv);

}  // namespace tarsel::vusb
