// A virtual device's side of the usbfs requests libusb makes: claims, URB
// submission, reaping and discarding, served on umockdev's worker thread;
// with the bus clock, a reap that has to wait for the next frame is
// answered from the device's frame thread.
#pragma once

#include <umockdev.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::vusb {

namespace detail {

// One URB handed over by the host, with the references that keep its memory
// reachable from submission until it is reaped.
struct Urb {
  UMockdevIoctlData* urb = nullptr;
  UMockdevIoctlData* buffer = nullptr;
  unsigned char endpoint = 0;
  BusClock::time_point submitted;
  BusClock::time_point completed;  // set by Finish
  BusClock::time_point due;        // an OUT transfer's frame, with the bus clock

  gulong Address() const { return urb->client_addr; }
  // Writes status and length into the host's URB, completed at at.
  void Finish(int status, int length, BusClock::time_point at);
  void Release();
};

}  // namespace detail

struct VirtualDevice::State {
  State(int index, int number);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // Takes the bus clock setting and the polling intervals the descriptors
  // announce (a missing endpoint counts as polled every frame); with the
  // bus clock, starts the thread that answers reaps on frame boundaries.
  // Called once, before Attach.
  void Configure(const DeviceOptions& options);

  // Serves the device node on testbed from now on. Throws std::runtime_error
  // when umockdev refuses.
  void Attach(UMockdevTestbed* testbed);

  const int index;
  const int number;  // device number on the bus
  const std::string node;
  UMockdevTestbed* testbed = nullptr;  // set while attached; not owned
  UMockdevIoctlBase* handler = nullptr;
  gulong signal = 0;

  mutable std::mutex mutex;
  Responder responder;
  RawResponder raw_responder;
  // An answer the device has computed, readable by the host from ready on.
  struct Answer {
    Bytes bytes;
    std::chrono::steady_clock::time_point ready;
  };
  std::deque<Answer> answers;          // waiting for an IN transfer
  std::deque<detail::Urb> pending_in;  // IN transfers waiting for an answer
  std::deque<detail::Urb> stalled_out;
  std::deque<detail::Urb> scheduled_out;  // OUT transfers waiting for their frame
  std::deque<detail::Urb> finished;       // waiting to be reaped

  // The bus clock (set by Configure, then only read).
  bool bus_clock = false;
  int in_interval = kDefaultInterval;
  int out_interval = kDefaultInterval;
  // A reap that found nothing finished while transfers were in flight: it is
  // answered at the next frame start, the first moment anything can finish.
  struct Deferred {
    UMockdevIoctlClient* client = nullptr;  // referenced
    UMockdevIoctlData* slot = nullptr;      // where the URB's address goes
  };
  std::optional<Deferred> deferred;
  std::condition_variable frame_wake;
  bool stopping = false;
  std::thread frame_thread;
  // Held while due OUT packets go to the responder, one at a time, whichever
  // thread takes them there.
  std::mutex advance_mutex;

  bool stall_out = false;
  int out_error = 0;
  int in_error = 0;
  int short_in = -1;
  int claim_error = 0;
  bool unplugged = false;
  int stall_request = 0;  // counts down to the packet whose answer is late
  std::chrono::milliseconds stall_delay{0};
  // When the device is done with the packets it took: answers are readable
  // from then on.
  std::chrono::steady_clock::time_point busy_until{};

  std::size_t log_limit = kDefaultLogLimit;

  std::deque<Bytes> out_packets;  // the newest log_limit
  std::deque<Transfer> transfers;  // the newest log_limit
  int out_submissions = 0;
  int in_submissions = 0;
  int claims = 0;
  int requests = 0;
  std::vector<unsigned long> unknown;

 private:
  static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  void Handle(UMockdevIoctlClient* client);
  void Capabilities(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Accept(detail::Urb u, BusClock::time_point at);
  void DeliverLocked(BusClock::time_point now);
  // With the bus clock: takes the OUT packets whose frame has come.
  void Advance();
  // When an IN transfer submitted at submitted can have its transaction,
  // given what it is to carry is there from ready on: the first poll of the
  // IN endpoint after both with the bus clock, at once without.
  BusClock::time_point InTransaction(BusClock::time_point submitted,
                                     BusClock::time_point ready) const;
  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  // Hands a finished URB back through slot, or fails the reap with EAGAIN.
  // (slot: resolved already, and taken over; null: resolved from arg).
  void HandBack(UMockdevIoctlClient* client, UMockdevIoctlData* arg, UMockdevIoctlData* slot);
  void RunFrames();
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
};

}  // namespace tarsel::vusb
