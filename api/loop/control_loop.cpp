// tarsel::ControlLoop: the loop's thread, its cycle, the watchdog, the link's
// failures as events, and reconnecting.
#include "tarsel/control_loop.hpp"

#include <pthread.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loop/link_trace.h"
#include "loop/published.h"
#include "loop/set_point.h"
#include "loop/statistics.h"

namespace tarsel {

namespace {

using Clock = std::chrono::steady_clock;
using loop::SetPoint;
using loop::SetPointKind;

// Consecutive cycles without an answer over at least this long are a lost
// link: far beyond one late answer (the link waits 50 ms for each), short of
// what a program would notice as a stall.
constexpr std::chrono::milliseconds kSilence{50};
// How often a lost arm is looked for again.
constexpr std::chrono::milliseconds kRetry{150};

bool IsRefusal(int code) {
  return code == TARSEL_ERROR_FIRST_PACKET || code == TARSEL_ERROR_ANSWER_ERROR_BIT ||
         code == TARSEL_ERROR_LATER_PACKET;
}

std::string Milliseconds(Clock::duration d) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

// A callback as the loop keeps it (shared, so that a cycle runs the one it
// took even when the program replaces it meanwhile), or null for none.
template <class Arg>
std::shared_ptr<const std::function<void(const Arg&)>> Kept(std::function<void(const Arg&)> f) {
  return f ? std::make_shared<const std::function<void(const Arg&)>>(std::move(f)) : nullptr;
}

// The options as the loop keeps them: the callbacks are kept apart (and
// replaced by OnCycle and OnEvent), so no copy of a replaced one lingers.
LoopOptions WithoutCallbacks(LoopOptions o) {
  o.onCycle = nullptr;
  o.onEvent = nullptr;
  return o;
}

// How a cycle left the link.
enum class After {
  kRunning,       // go on
  kDisconnected,  // the link is lost: reconnect, or end
  kClosed,        // the program closed the arm: end
};

}  // namespace

// Hidden: a class nested in an exported one is exported with it otherwise.
struct __attribute__((visibility("hidden"))) ControlLoop::Impl {
  Impl(Arm& a, const LoopOptions& o)
      : arm(a),
        options(WithoutCallbacks(o)),
        period(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate))),
        watchdog(o.watchdog.count() > 0 ? std::chrono::duration_cast<Clock::duration>(o.watchdog)
                                        : 3 * period),
        figures(period),
        onCycle(Kept(o.onCycle)),
        onEvent(Kept(o.onEvent)) {
    events.reserve(8);
  }

  void Main() noexcept;
  bool WaitUntil(Clock::time_point deadline);
  After Cycle(Clock::time_point start, bool follows, bool reconnecting);
  void SendSetPoint(Clock::time_point start, const FingersPosition& fingers);
  After Classify(Clock::time_point start);
  bool Reconnect();
  void BringToRest() noexcept;
  void AddEvent(LoopEventKind kind, int code, std::string message);
  void Deliver(const LoopState& state);
  void Publish(const LoopState& state);

  // One exchange of the cycle, unless one before it lost the link: returns
  // 1, the code it failed with, or 0 when it was not run. A lost link (2008,
  // 2001) ends the cycle; a refusal or other failure is an event.
  template <typename Exchange>
  int Try(Exchange&& exchange);

  Arm& arm;
  const LoopOptions options;
  const Clock::duration period;
  const Clock::duration watchdog;

  loop::Published<LoopState> state;
  loop::Published<SetPoint> setPoint;
  loop::Writers setters;                   // taken by Set* and Hold
  std::atomic<std::uint64_t> generation{0};  // of the latest set-point; written under setters
  loop::LoopFigures figures;

  std::mutex callbackMutex;
  std::shared_ptr<const std::function<void(const LoopState&)>> onCycle;
  std::shared_ptr<const std::function<void(const LoopEvent&)>> onEvent;

  std::mutex wakeMutex;
  std::condition_variable wakeLoop;  // Stop() for the loop's thread
  mutable std::condition_variable newState;  // a cycle or the end, for WaitNext
  bool stopping = false;                     // guarded by wakeMutex
  std::atomic<bool> running{true};
  std::mutex joinMutex;
  std::thread thread;
  std::atomic<std::thread::id> loopThread{};  // set by the thread itself

  // The loop thread's own.
  std::uint64_t sequence = 0;
  int lostCycles = 0;              // consecutive cycles that lost the link
  Clock::time_point firstLost{};   // when the first of them started
  int lostCode = 0;                // this cycle's: 2008 or 2001, else 0
  int failures = 0;                // this cycle's failed exchanges
  std::uint64_t sentPosition = 0;  // generation of the position set-point sent
  std::uint64_t lapsed = 0;        // generation of the velocity set-point the watchdog replaced
  std::uint64_t heldThrough = 0;   // set-points up to this generation came before a reconnect
  FingersPosition fingers{};       // as last read
  std::vector<LoopEvent> events;   // this cycle's
};

template <typename Exchange>
int ControlLoop::Impl::Try(Exchange&& exchange) {
  if (lostCode != 0) return 0;
  try {
    exchange();
    return TARSEL_OK;
  } catch (const Error& e) {
    ++failures;
    const int code = e.code();
    if (code == TARSEL_ERROR_NO_ANSWER || code == TARSEL_ERROR_NOT_INITIALIZED) {
      lostCode = code;
    } else {
      AddEvent(IsRefusal(code) ? LoopEventKind::kRefused : LoopEventKind::kTransient, code,
               e.where() + ": " + e.what());
    }
    return code;
  } catch (const std::bad_alloc&) {
    ++failures;
    AddEvent(LoopEventKind::kTransient, TARSEL_ERROR_NO_MEMORY, "out of memory");
    return TARSEL_ERROR_NO_MEMORY;
  }
}

void ControlLoop::Impl::AddEvent(LoopEventKind kind, int code, std::string message) {
  LoopEvent event;
  event.kind = kind;
  event.code = code;
  event.sequence = sequence;
  event.time = Clock::now();
  event.message = std::move(message);
  events.push_back(std::move(event));
}

bool ControlLoop::Impl::WaitUntil(Clock::time_point deadline) {
  // An absolute deadline on the monotonic clock (the steady clock's wait is
  // pthread_cond_clockwait on CLOCK_MONOTONIC): oversleeping one cycle never
  // shifts the later ones.
  std::unique_lock lock(wakeMutex);
  return !wakeLoop.wait_until(lock, deadline, [this] { return stopping; });
}

void ControlLoop::Impl::SendSetPoint(Clock::time_point start, const FingersPosition& at) {
  const SetPoint set = setPoint.Latest();
  const auto send = [this](const TrajectoryPoint& point) {
    return Try([&] { arm.SendBasicTrajectory(point); });
  };
  if (set.kind == SetPointKind::kNone) return;
  if (set.kind == SetPointKind::kHold || set.generation <= heldThrough) {
    send(loop::ZeroVelocity());
    return;
  }
  if (loop::IsVelocity(set.kind)) {
    if (start - set.time <= watchdog) {
      send(loop::PointOf(set, at));
    } else if (send(loop::ZeroVelocity()) != 0 && lapsed != set.generation) {
      lapsed = set.generation;
      AddEvent(LoopEventKind::kWatchdog, TARSEL_OK,
               "the velocity set-point was not renewed for " + Milliseconds(start - set.time) +
                   ": zero velocity sent");
    }
    return;
  }
  // A position point queues a move: once per set-point, and again only when
  // its answer was lost (the arm's refusal is final).
  if (set.generation == sentPosition) return;
  const int code = send(loop::PointOf(set, at));
  if (code != 0 && code != TARSEL_ERROR_NO_ANSWER) sentPosition = set.generation;
}

After ControlLoop::Impl::Classify(Clock::time_point start) {
  if (lostCode == TARSEL_ERROR_NOT_INITIALIZED) {
    AddEvent(LoopEventKind::kDisconnected, lostCode,
             "the arm was closed (Close(), or moved from): the loop ends");
    return After::kClosed;
  }
  if (lostCode == 0) {
    lostCycles = 0;
    return After::kRunning;
  }
  if (++lostCycles == 1) {
    firstLost = start;
    AddEvent(LoopEventKind::kTransient, lostCode, "no answer from the arm: carrying on");
  }
  const Clock::duration silent = Clock::now() - firstLost;
  if (lostCycles < 2 || silent < kSilence) return After::kRunning;
  std::string message = "no answer from the arm in " + std::to_string(lostCycles) +
                        " cycles over " + Milliseconds(silent) +
                        (options.reconnect ? ": looking for it" : ": the loop ends");
  // Before the arm is looked for again, which closes its link.
  if (!options.traceOnDisconnect.empty()) {
    message += "; " + loop::SaveLinkTrace(arm, options.traceOnDisconnect);
  }
  AddEvent(LoopEventKind::kDisconnected, lostCode, std::move(message));
  return After::kDisconnected;
}

void ControlLoop::Impl::Publish(const LoopState& s) {
  state.Publish(s);
  {
    // Taken so that a WaitNext between its check and its wait cannot miss
    // the notification.
    std::lock_guard lock(wakeMutex);
  }
  newState.notify_all();
}

void ControlLoop::Impl::Deliver(const LoopState& s) {
  std::shared_ptr<const std::function<void(const LoopState&)>> cycleCallback;
  std::shared_ptr<const std::function<void(const LoopEvent&)>> eventCallback;
  {
    std::lock_guard lock(callbackMutex);
    cycleCallback = onCycle;
    if (!events.empty()) eventCallback = onEvent;
  }
  // A callback's exception has nowhere to go on this thread: it is dropped.
  if (cycleCallback) {
    try {
      (*cycleCallback)(s);
    } catch (...) {
    }
  }
  for (const LoopEvent& event : events) {
    figures.Event(event.kind);
    if (!eventCallback) continue;
    try {
      (*eventCallback)(event);
    } catch (...) {
    }
  }
  events.clear();
}

After ControlLoop::Impl::Cycle(Clock::time_point start, bool follows, bool reconnecting) {
  LoopState s;
  s.sequence = ++sequence;
  s.time = start;
  lostCode = 0;
  failures = 0;
  if (Try([&] { s.joints = arm.GetAngularPosition(); }) == TARSEL_OK) {
    s.readouts |= kReadJoints;
    fingers = s.joints.Fingers;
  }
  struct Readout {
    LoopReadout bit;
    void (*read)(Arm&, LoopState&);
  };
  static constexpr Readout kReadouts[] = {
      {kReadVelocities, [](Arm& a, LoopState& t) { t.velocities = a.GetAngularVelocity(); }},
      {kReadForces, [](Arm& a, LoopState& t) { t.forces = a.GetAngularForce(); }},
      {kReadCartesian, [](Arm& a, LoopState& t) { t.pose = a.GetCartesianPosition(); }},
      {kReadQuickStatus, [](Arm& a, LoopState& t) { t.status = a.GetQuickStatus(); }},
  };
  for (const Readout& r : kReadouts) {
    if ((options.readouts & r.bit) != 0 && Try([&] { r.read(arm, s); }) == TARSEL_OK) {
      s.readouts |= r.bit;
    }
  }
  SendSetPoint(start, fingers);
  s.exchange = Clock::now() - start;
  s.ok = failures == 0;
  Publish(s);
  figures.Cycle(start, s.exchange, follows);

  After after = After::kRunning;
  if (!reconnecting) {
    after = Classify(start);
  } else if (lostCode == TARSEL_ERROR_NOT_INITIALIZED) {
    after = After::kClosed;
  } else if (lostCode != 0) {
    after = After::kDisconnected;  // not back yet: no event, the search goes on
  } else {
    lostCycles = 0;
    AddEvent(LoopEventKind::kReconnected, TARSEL_OK,
             "the arm " + arm.Info().path + " is back: the set-point is zero until a new one");
  }
  Deliver(s);
  return after;
}

bool ControlLoop::Impl::Reconnect() {
  while (WaitUntil(Clock::now() + kRetry)) {
    try {
      arm.Reopen();
    } catch (const Error& e) {
      if (e.code() == TARSEL_ERROR_NOT_INITIALIZED) return false;  // closed by the program
      continue;
    } catch (const std::bad_alloc&) {
      continue;
    }
    // Whatever the program asked for before the arm came back is not resumed.
    heldThrough = generation.load(std::memory_order_acquire);
    switch (Cycle(Clock::now(), false, true)) {
      case After::kRunning:
        return true;
      case After::kClosed:
        return false;
      case After::kDisconnected:
        break;
    }
  }
  return false;
}

void ControlLoop::Impl::BringToRest() noexcept {
  // Each on its own: the queue is erased even when the zero velocity fails.
  try {
    arm.SendBasicTrajectory(loop::ZeroVelocity());
  } catch (...) {
  }
  try {
    arm.EraseAllTrajectories();
  } catch (...) {
  }
}

void ControlLoop::Impl::Main() noexcept {
  loopThread = std::this_thread::get_id();
  pthread_setname_np(pthread_self(), "tarsel-loop");
  // The kernel may wake a sleeping thread up to its timer slack (50 us by
  // default) after the deadline; the loop wants its deadlines, so the slack
  // is the least there is.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  Clock::time_point deadline = Clock::now();
  bool follows = false;
  bool rest = true;
  while (WaitUntil(deadline)) {
    const Clock::time_point now = Clock::now();
    // A start a whole period late or more is skipped, not caught up on.
    if (now - deadline >= period) {
      const auto skipped = (now - deadline) / period;
      figures.Missed(static_cast<std::uint64_t>(skipped));
      deadline += skipped * period;
    }
    const After after = Cycle(now, follows, false);
    follows = true;
    deadline += period;
    if (after == After::kRunning) continue;
    // A lost or closed arm takes nothing more: it stops by itself after its
    // hold time.
    rest = false;
    if (after == After::kClosed) break;
    if (!options.reconnect || !Reconnect()) break;
    rest = true;
    follows = true;  // the reconnecting cycle just ran: the schedule starts from it
    deadline = state.Latest().time + period;
  }
  // A loop that never commanded the arm leaves it alone: bringing it to rest
  // would stop a move another program queued (a recording, a monitor).
  if (rest && generation.load(std::memory_order_acquire) > 0) BringToRest();
  {
    std::lock_guard lock(wakeMutex);
    running = false;
  }
  newState.notify_all();
}

ControlLoop::ControlLoop(Arm& arm, const LoopOptions& options) {
  const char* where = "ControlLoop";
  loop::CheckOptions(options, where);
  if (!arm.IsOpen()) throw Error(TARSEL_ERROR_NOT_INITIALIZED, where, "the arm is closed");
  impl_ = std::make_unique<Impl>(arm, options);
  impl_->thread = std::thread([impl = impl_.get()] { impl->Main(); });
}

ControlLoop::~ControlLoop() {
  Stop();
}

void ControlLoop::Stop() noexcept {
  {
    std::lock_guard lock(impl_->wakeMutex);
    impl_->stopping = true;
  }
  impl_->wakeLoop.notify_all();
  // From the loop's own callbacks the loop ends once they return.
  if (std::this_thread::get_id() == impl_->loopThread.load()) return;
  std::lock_guard lock(impl_->joinMutex);
  if (impl_->thread.joinable()) impl_->thread.join();
}

bool ControlLoop::Running() const noexcept {
  return impl_->running.load();
}

LoopState ControlLoop::Latest() const noexcept {
  return impl_->state.Latest();
}

LoopState ControlLoop::WaitNext(std::uint64_t after, std::chrono::milliseconds limit) const {
  const char* where = "ControlLoop::WaitNext";
  const Clock::time_point end = Clock::now() + limit;
  std::unique_lock lock(impl_->wakeMutex);
  for (;;) {
    const LoopState s = impl_->state.Latest();
    if (s.sequence > after) return s;
    if (!impl_->running.load()) throw Error(TARSEL_ERROR_NOT_INITIALIZED, where, "the loop has stopped");
    if (impl_->newState.wait_until(lock, end) == std::cv_status::timeout) {
      const LoopState last = impl_->state.Latest();
      if (last.sequence > after) return last;
      throw Error(TARSEL_ERROR_TIME_LIMIT, where,
                  "no cycle after " + std::to_string(after) + " within " +
                      std::to_string(limit.count()) + " ms");
    }
  }
}

namespace {

void Replace(loop::Published<SetPoint>& published, loop::Writers& setters,
             std::atomic<std::uint64_t>& generation, SetPoint set) {
  std::lock_guard lock(setters);
  set.generation = generation.load(std::memory_order_relaxed) + 1;
  published.Publish(set);
  generation.store(set.generation, std::memory_order_release);
}

}  // namespace

void ControlLoop::SetJointVelocity(const AngularInfo& v) {
  loop::CheckJointVelocity(v, impl_->options, "ControlLoop::SetJointVelocity");
  Replace(impl_->setPoint, impl_->setters, impl_->generation,
          loop::MakeSetPoint(SetPointKind::kJointVelocity, v));
}

void ControlLoop::SetCartesianVelocity(const CartesianInfo& v) {
  loop::CheckCartesianVelocity(v, impl_->options, "ControlLoop::SetCartesianVelocity");
  Replace(impl_->setPoint, impl_->setters, impl_->generation,
          loop::MakeSetPoint(SetPointKind::kCartesianVelocity, v));
}

void ControlLoop::SetJointPosition(const AngularInfo& degrees) {
  loop::CheckJointPosition(degrees, "ControlLoop::SetJointPosition");
  Replace(impl_->setPoint, impl_->setters, impl_->generation,
          loop::MakeSetPoint(SetPointKind::kJointPosition, degrees));
}

void ControlLoop::SetCartesianPosition(const CartesianInfo& pose) {
  loop::CheckCartesianPosition(pose, "ControlLoop::SetCartesianPosition");
  Replace(impl_->setPoint, impl_->setters, impl_->generation,
          loop::MakeSetPoint(SetPointKind::kCartesianPosition, pose));
}

void ControlLoop::Hold() noexcept {
  SetPoint hold;
  hold.kind = SetPointKind::kHold;
  hold.time = Clock::now();
  Replace(impl_->setPoint, impl_->setters, impl_->generation, hold);
}

void ControlLoop::OnCycle(std::function<void(const LoopState&)> callback) {
  auto kept = Kept(std::move(callback));
  std::lock_guard lock(impl_->callbackMutex);
  impl_->onCycle = std::move(kept);
}

void ControlLoop::OnEvent(std::function<void(const LoopEvent&)> callback) {
  auto kept = Kept(std::move(callback));
  std::lock_guard lock(impl_->callbackMutex);
  impl_->onEvent = std::move(kept);
}

LoopStatistics ControlLoop::Statistics() const {
  return impl_->figures.Get();
}

void ControlLoop::ResetStatistics() {
  impl_->figures.Reset();
}

}  // namespace tarsel
