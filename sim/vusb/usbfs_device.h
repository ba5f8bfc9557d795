// A virtual device's side of the usbfs requests libusb makes: claims, URB
// submission, reaping and discarding, served on umockdev's worker thread.
#pragma once

#include <umockdev.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::vusb {

namespace detail {

// One URB handed over by the host, with the references that keep its memory
// reachable from submission until it is reaped.
struct Urb {
  UMockdevIoctlData* urb = nullptr;
  UMockdevIoctlData* buffer = nullptr;

  gulong Address() const { return urb->client_addr; }
  void Finish(int status, int length) const;
  void Release();
};

}  // namespace detail

struct VirtualDevice::State {
  State(int index, int number);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

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
  std::deque<detail::Urb> finished;  // waiting to be reaped

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
  void Accept(detail::Urb u);
  void QueueAnswerLocked(Bytes answer);
  void DeliverLocked();
  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
};

}  // namespace tarsel::vusb
