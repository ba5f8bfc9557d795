// What tarsel jog and tarsel record share: the arm opened as a tarsel::Arm
// for the control loop (tarsel/control_loop.hpp), starting the loop, and
// handing what the loop's thread reports to the command's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "session.h"
#include "tarsel/control_loop.hpp"

namespace tarsel::tool {

// The arm the command line names, opened as a tarsel::Arm: the first arm,
// the one --arm names, or with --sim a simulated one. Throws Failure naming
// the code (and where to look) when it cannot be opened.
class LoopArm {
 public:
  explicit LoopArm(const ConnectOptions& options);
  ~LoopArm();  // closes the arm, then unloads the simulator
  LoopArm(const LoopArm&) = delete;
  LoopArm& operator=(const LoopArm&) = delete;

  Arm& arm() { return *arm_; }

 private:
  void* simulator_;
  std::unique_ptr<Arm> arm_;
};

// Starts a loop on arm; throws Failure with the loop's reason (2100 for an
// option out of range, 2001 for a closed arm).
std::unique_ptr<ControlLoop> StartLoop(Arm& arm, const LoopOptions& options);

// "lost exchange", "refused", "disconnected", "reconnected", "watchdog".
const char* EventName(LoopEventKind kind);

// What the loop's thread hands the command's thread: the cycles and the
// events, in order. Holds at most 100000 cycles: beyond, it drops them and
// says so (a writer that far behind does not catch up).
class Inbox {
 public:
  void Add(const LoopState& s);
  void Add(const LoopEvent& e);
  // Waits at most wait for something, then moves all there is to states and
  // events; overflow tells whether cycles were ever dropped.
  void Take(std::chrono::steady_clock::duration wait, std::deque<LoopState>& states,
            std::vector<LoopEvent>& events, bool& overflow);

 private:
  static constexpr std::size_t kMaxQueued = 100000;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<LoopState> states_;
  std::vector<LoopEvent> events_;
  bool overflow_ = false;
};

}  // namespace tarsel::tool
