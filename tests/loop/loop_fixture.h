// A control loop over the real link library and libusb, on the virtual bus,
// with the simulated arm answering behind it; and what the loop handed out,
// as its callbacks saw it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include "simulated_arm.h"
#include "tarsel/control_loop.hpp"
#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How much longer than on a machine of its own a wait may take: the loop's
// thread runs twenty times slower under valgrind.
inline int Slowness() {
#ifdef RUNNING_ON_VALGRIND
  if (RUNNING_ON_VALGRIND) return 20;
#endif
  return 1;
}

// The states and events of a loop, recorded on its thread.
class Recorder {
 public:
  // In place from the loop's first cycle on.
  void Attach(LoopOptions& options) {
    options.onCycle = [this](const LoopState& s) {
      std::lock_guard lock(mutex_);
      states_.push_back(s);
      changed_.notify_all();
    };
    options.onEvent = [this](const LoopEvent& e) {
      std::lock_guard lock(mutex_);
      events_.push_back(e);
      changed_.notify_all();
    };
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    states_.clear();
    events_.clear();
  }

  std::vector<LoopEvent> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  int Count(LoopEventKind kind) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const LoopEvent& e : events_) n += e.kind == kind ? 1 : 0;
    return n;
  }

  // The count-th event of kind (1: the first), once it came; nothing when
  // limit passed first.
  std::optional<LoopEvent> WaitEvent(LoopEventKind kind, int count = 1,
                                     std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(mutex_);
    std::optional<LoopEvent> found;
    changed_.wait_for(lock, limit * Slowness(), [&] {
      int n = 0;
      for (const LoopEvent& e : events_) {
        if (e.kind == kind && ++n == count) found = e;
      }
      return found.has_value();
    });
    return found;
  }

  // The state of cycle sequence, once recorded.
  std::optional<LoopState> StateOf(std::uint64_t sequence) const {
    std::lock_guard lock(mutex_);
    for (const LoopState& s : states_) {
      if (s.sequence == sequence) return s;
    }
    return std::nullopt;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LoopState> states_;
  std::vector<LoopEvent> events_;
};

class LoopOnTheBus : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<vusb::VirtualArm>(
        [this](const Packet& request) { return sim_.Handle(request); });
    arm_ = std::make_unique<Arm>();
  }
  void TearDown() override {
    loop_.reset();
    arm_.reset();
    bus_.reset();
  }

  ControlLoop& Start(LoopOptions options = {}) {
    loop_.reset();
    recorder_.Clear();
    recorder_.Attach(options);
    loop_ = std::make_unique<ControlLoop>(*arm_, options);
    return *loop_;
  }

  // Waits for count more cycles of the loop.
  void Cycles(int count) {
    for (int i = 0; i < count; ++i) loop_->WaitNext(loop_->Latest().sequence, 1s * Slowness());
  }

  static AngularInfo Joints(float a1, float a2 = 0, float a3 = 0, float a4 = 0, float a5 = 0,
                            float a6 = 0) {
    return AngularInfo{a1, a2, a3, a4, a5, a6};
  }

  sim::SimulatedArm sim_;
  std::unique_ptr<vusb::VirtualArm> bus_;
  std::unique_ptr<Arm> arm_;
  Recorder recorder_;
  std::unique_ptr<ControlLoop> loop_;
};

}  // namespace tarsel::testing
