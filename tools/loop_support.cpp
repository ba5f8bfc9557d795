#include "loop_support.h"

#include <dlfcn.h>

#include <string>

#include <fmt/core.h>

namespace tarsel::tool {

LoopArm::LoopArm(const ConnectOptions& options) : simulator_(LoadSimulator(options)) {
  ArmInfo info;
  info.path = options.arm;
  info.simulated = options.sim;
  try {
    arm_ = options.arm.empty() ? std::make_unique<Arm>() : std::make_unique<Arm>(info);
  } catch (const Error& e) {
    if (simulator_ != nullptr) ::dlclose(simulator_);
    std::string message = DescribeFailure(
        options.arm.empty() ? std::string("opening the arm") : "opening arm " + options.arm,
        e.code());
    if (e.code() == TARSEL_ERROR_NO_ARM || e.code() == TARSEL_ERROR_CLAIM_FAILED ||
        e.code() == TARSEL_ERROR_LOAD_COMM_LAYER) {
      message += options.arm.empty() ? "\n`tarsel doctor` tells why and what to do."
                                     : "\n`tarsel arms` lists the arms there are.";
    }
    throw Failure(message);
  }
}

LoopArm::~LoopArm() {
  arm_.reset();
  if (simulator_ != nullptr) ::dlclose(simulator_);
}

std::unique_ptr<ControlLoop> StartLoop(Arm& arm, const LoopOptions& options) {
  try {
    return std::make_unique<ControlLoop>(arm, options);
  } catch (const Error& e) {
    throw Failure(fmt::format("starting the control loop failed: {} ({})", e.code(), e.what()));
  }
}

const char* EventName(LoopEventKind kind) {
  switch (kind) {
    case LoopEventKind::kTransient:
      return "lost exchange";
    case LoopEventKind::kRefused:
      return "refused";
    case LoopEventKind::kDisconnected:
      return "disconnected";
    case LoopEventKind::kReconnected:
      return "reconnected";
    case LoopEventKind::kWatchdog:
      return "watchdog";
  }
  return "event";
}

void Inbox::Add(const LoopState& s) {
  {
    std::lock_guard lock(mutex_);
    if (states_.size() >= kMaxQueued) {
      overflow_ = true;
      return;
    }
    states_.push_back(s);
  }
  ready_.notify_one();
}

void Inbox::Add(const LoopEvent& e) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
  }
  ready_.notify_one();
}

void Inbox::Take(std::chrono::steady_clock::duration wait, std::deque<LoopState>& states,
                 std::vector<LoopEvent>& events, bool& overflow) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return !states_.empty() || !events_.empty(); });
  states.swap(states_);
  states_.clear();
  events.swap(events_);
  events_.clear();
  overflow = overflow_;
}

}  // namespace tarsel::tool
