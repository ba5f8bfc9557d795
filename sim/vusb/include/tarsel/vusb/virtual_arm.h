// A virtual arm on a virtual USB bus, for running the real link library and
// an unmodified libusb without hardware.
//
// VirtualArm builds a umockdev test bed holding one or more USB devices with
// the arm's identity (vendor id, product id 0, interface 0 of class 0xFF,
// interrupt endpoints 0x02 out and 0x82 in, 64 bytes each) and serves the
// usbfs requests libusb makes on them. Every packet the host writes to a
// device goes to that device's responder, whose answer is what the host's
// next read from it returns. Fault knobs make a device refuse or fail
// transfers the way a real one can.
//
// Device i (counted from 0) sits on bus 1 at port i + 1 of the root hub
// (sysfs name "1-<i + 1>"). Device numbers count up from 2 over all the
// devices a process plugs in, as a real bus numbers them: the first
// VirtualArm's device i has number i + 2, and a device of a later VirtualArm
// (plugged in again) a new number (Address()). It serves no control
// transfers; its descriptors announce no strings.
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
//
// Time: by default a transfer completes as soon as the device has done its
// part (an answer is read as soon as it is computed). With the bus clock
// (DeviceOptions::bus_clock) transfers complete only on the frame
// boundaries of a full-speed bus, each endpoint on its own polling interval
// (bus_clock.h; sim/README.md, "Time on the bus").
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarsel/comm_layer.h"
#include "tarsel/packet.h"
#include "tarsel/vusb/bus_clock.h"

namespace tarsel::vusb {

using Bytes = std::vector<unsigned char>;

// OUT packets a device keeps in its log unless told otherwise.
inline constexpr std::size_t kDefaultLogLimit = 65536;

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
  bool present = true;  // false: an empty bus (the devices exist, unplugged)
  // Transfers complete on frame boundaries: an OUT transfer at the first
  // poll of endpoint 0x02 after it was submitted (the device takes the
  // packet then), an IN transfer at the first poll of 0x82 after both its
  // submission and its answer. false: each completes as soon as it can.
  bool bus_clock = false;
  // bInterval of the endpoint descriptors 0x82 and 0x02: frames between
  // polls (1 to 255; VirtualArm refuses 0). The bus clock reads them back
  // from the descriptors the device presents.
  std::uint8_t in_interval = kDefaultInterval;
  std::uint8_t out_interval = kDefaultInterval;
};

// One transfer as the device side saw it, on the monotonic clock
// (BusClock).
struct Transfer {
  unsigned char endpoint = 0;  // 0x02 or 0x82
  int status = 0;              // 0, or -errno (-ENOENT: discarded)
  int length = 0;              // bytes moved
  BusClock::time_point submitted;  // the host handed it over
  // The bus finished it: with the bus clock a frame start on the endpoint's
  // polling schedule (a discarded transfer: when it was discarded).
  BusClock::time_point completed;
  BusClock::time_point delivered;  // the host took it back (reaped it)
};

// One arm on the virtual bus: its responder, its fault knobs and what the
// host did to it. Owned by its VirtualArm.
class VirtualDevice {
 public:
  ~VirtualDevice();
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  // Where it sits: its place on the bus (0 for the first device), its
  // device number on bus 1, its port path ("1-1" for the first, the sysfs
  // name).
  int Index() const;
  int Address() const;
  std::string PortPath() const;

  void SetResponder(Responder responder);
  void SetRawResponder(RawResponder responder);

  // Queues an answer that no request asked for, as if one arrived late: the
  // host's next read returns it (before any answer computed afterwards).
  void PushAnswer(const Packet& answer);

  // The answer to the request-th packet the device takes from now on (1:
  // the next one) becomes readable only delay after the device took that
  // packet, as from an arm busy with it; every later answer waits behind it,
  // so answers still come one per request, in order. Holds once; not
  // undone by ClearFaults.
  void StallAnswer(int request, std::chrono::milliseconds delay);

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
  // Bytes of the OUT transfers the device accepted, oldest first: the
  // newest kDefaultLogLimit, or as many as SetLogLimit allows (0: none), so
  // that a device serving for hours keeps a bounded log.
  void SetLogLimit(std::size_t packets);
  std::vector<Bytes> OutPackets() const;
  int OutSubmissions() const;  // OUT transfers submitted, accepted or not
  int InSubmissions() const;   // IN transfers submitted
  int Claims() const;          // successful claims of interface 0
  int Requests() const;        // usbfs requests of any kind
  // usbfs request numbers the device did not know (answered ENOTTY).
  std::vector<unsigned long> UnknownRequests() const;
  std::size_t QueuedAnswers() const;  // answers not yet read by the host
  // The transfers the host has taken back, oldest first, as many as the OUT
  // packet log keeps (SetLogLimit).
  std::vector<Transfer> Transfers() const;
  void ClearLog();  // forgets all of the above but the queue

 private:
  friend class VirtualArm;
  struct State;
  VirtualDevice(int index, int number);
  std::unique_ptr<State> state_;
};

class VirtualArm {
 public:
  // Most devices one bus holds (device numbers 2 to 127).
  static constexpr std::size_t kMaxDevices = 126;

  // Creates the test bed and plugs one device in. Throws std::runtime_error
  // when umockdev cannot build it, std::logic_error while another VirtualArm
  // exists, std::invalid_argument for a polling interval of 0. Without a
  // responder the device accepts every packet and never answers.
  explicit VirtualArm(Responder responder = {}, DeviceOptions options = {});
  // The same with one device per responder (1 to kMaxDevices; otherwise
  // std::invalid_argument), all with options' identity.
  explicit VirtualArm(std::vector<Responder> responders, DeviceOptions options = {});
  ~VirtualArm();
  VirtualArm(const VirtualArm&) = delete;
  VirtualArm& operator=(const VirtualArm&) = delete;

  std::size_t DeviceCount() const;
  // Device i, counted from 0 (std::out_of_range beyond DeviceCount()). With
  // options.present false the devices exist but are not on the bus.
  VirtualDevice& Device(std::size_t i);
  const VirtualDevice& Device(std::size_t i) const;

  // --- Running another program against the devices. ------------------------
  // The test bed's root folder (what the preload finds through UMOCKDEV_DIR).
  std::string RootDir() const;
  // The variables a child needs to see the devices: LD_PRELOAD (the preload
  // library first), UMOCKDEV_DIR, and ASAN_OPTIONS with
  // verify_asan_link_order=0 (AddressSanitizer refuses the preload otherwise).
  std::vector<std::string> ChildEnvironment() const;
  // Starts argv (argv[0] looked up in PATH) with the current environment
  // plus ChildEnvironment(). Returns its pid, or -1 (errno set).
  pid_t Spawn(const std::vector<std::string>& argv) const;
  // Spawn, then wait: returns the child's exit status, 128 + signal number
  // when a signal ended it, or -1 when it could not be started. The devices
  // keep serving while this waits.
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
