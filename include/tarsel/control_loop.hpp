/// @file
/// A control loop to stand on (C++17): a thread of its own that reads the
/// arm's state and sends the latest set-point at a fixed rate.
///
/// @code
///   #include <tarsel/control_loop.hpp>
///
///   tarsel::Arm arm;
///   tarsel::LoopOptions options;
///   options.rate = 100.0;                          // cycles per second
///   options.readouts = tarsel::kReadVelocities;    // besides the joint angles
///   tarsel::ControlLoop loop(arm, options);        // starts at once
///   AngularInfo v{};
///   v.Actuator1 = 5.0f;                            // deg/s
///   loop.SetJointVelocity(v);                      // returns at once
///   tarsel::LoopState s = loop.WaitNext(loop.Latest().sequence);
///   // ... renew the set-point at least every watchdog period ...
///   loop.Stop();                                   // the arm comes to rest
/// @endcode
///
/// Every cycle runs the exports of tarsel::Arm, each under the arm's
/// per-command lock, so commands of other threads run between cycles. A
/// cycle reads the joint angles (and the read-outs chosen in
/// LoopOptions::readouts) and then sends the set-point, if the program gave
/// one: a velocity set-point every cycle, a position set-point once each
/// time it changes (a position point queues a move on the arm).
///
/// Timing: cycles start at fixed deadlines on the monotonic clock. A cycle
/// that starts late runs at once; a start a whole period late or more is
/// skipped and counted (LoopStatistics::missed), never caught up on.
///
/// Safety: when the program does not renew a velocity set-point within the
/// watchdog's deadline the loop sends zero velocity. Stop(), destroying the
/// loop and the end of the program (a loop destroyed on normal exit) bring
/// the arm to rest: zero velocity, then the trajectory queue erased; a loop
/// that was never given a set-point (Hold() counts as one) only read, and
/// leaves the arm and its queue alone. When
/// the process is killed outright nothing more is sent: the arm then holds
/// its last velocity point only for its own hold time and stops by itself.
/// Nor can anything reach an arm whose link is lost or that the program
/// closed: it stops by itself the same way.
///
/// The link: a cycle whose exchange the arm refuses (2003, 2004, 2005) is a
/// kRefused event and the loop carries on. A cycle that gets no answer
/// (2008) is a kTransient event, and the loop carries on; when the cycles
/// that follow get none either, the first of them that ends 50 ms or more
/// after the first one began is a kDisconnected event. An unplugged arm's
/// exchanges fail at once with 2008 (the USB link's code for a vanished
/// device too), so at 100 cycles per second its disconnect comes about
/// 50 ms after its first failed cycle. Then, with LoopOptions::reconnect,
/// the loop looks for the arm at its path (Arm::Info().path) every 150 ms
/// and reopens the same Arm in place; meanwhile the arm's commands from
/// other threads throw Error(2001). Once the reopened arm answers a cycle:
/// kReconnected, and from then on zero velocity every cycle until the
/// program gives a new set-point (none given before is resumed). Without
/// reconnect the loop ends at the disconnect. An arm the program closes
/// (Close(), or moved from) ends the loop: kDisconnected with code 2001.
///
/// Threads: Latest(), Running(), the Set* members and Hold() take no lock,
/// make no system call and allocate nothing (a refused set-point allocates
/// its exception), so they are safe from a real-time thread. Set* and Hold
/// called from several threads at once take turns (spinning, then
/// yielding). WaitNext, Stop, OnCycle, OnEvent, Statistics and
/// ResetStatistics take locks.
///
/// Callbacks run on the loop's thread after each cycle (OnCycle's, then the
/// cycle's events in order); an exception they throw is dropped. From them,
/// Stop() only asks the loop to end, once they return; calling WaitNext
/// from them waits in vain, and destroying the loop in them is an error.
#ifndef TARSEL_CONTROL_LOOP_HPP
#define TARSEL_CONTROL_LOOP_HPP

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tarsel/arm.hpp"

namespace tarsel {

/// The read-outs a cycle can add to the joint angles (bits of
/// LoopOptions::readouts and LoopState::readouts).
enum LoopReadout : unsigned {
  kReadVelocities = 1u << 0,   ///< GetAngularVelocity: joint velocities (deg/s)
  kReadForces = 1u << 1,       ///< GetAngularForce: joint torques (N m)
  kReadCartesian = 1u << 2,    ///< GetCartesianPosition: the hand's pose (m, rad)
  kReadQuickStatus = 1u << 3,  ///< GetQuickStatus: the status bytes
  /// GetAngularPosition: the joint angles, read every cycle. Set in
  /// LoopState::readouts when they are the cycle's; ignored in
  /// LoopOptions::readouts.
  kReadJoints = 1u << 4,
};

struct LoopState;
struct LoopEvent;

/// How a loop runs. Checked when the loop starts (Error(2100) names the value
/// out of range).
struct LoopOptions {
  double rate = 100.0;    ///< cycles per second, above 0 and at most 1000
  unsigned readouts = 0;  ///< LoopReadout bits read each cycle besides the joint angles
  /// A velocity set-point not renewed within this time is replaced by zero
  /// velocity; zero means three periods.
  std::chrono::nanoseconds watchdog{0};
  float maxJointSpeed = 25.0f;   ///< deg/s: a joint velocity beyond it is refused
  float maxLinearSpeed = 0.15f;  ///< m/s: a Cartesian linear velocity beyond it is refused
  float maxAngularSpeed = 0.6f;  ///< rad/s: a Cartesian angular velocity beyond it is refused
  /// After a disconnect, reopen the arm by its path when it returns (else
  /// the loop ends).
  bool reconnect = true;
  /// When not empty, the link's recent packets are saved there (pcapng, as
  /// ::SaveRecentPackets writes them) on a disconnect, before the arm is
  /// looked for again; the kDisconnected event's message says whether they
  /// were.
  std::string traceOnDisconnect;
  /// Called after each cycle from the first on, as OnCycle sets it (which
  /// may replace it later).
  std::function<void(const LoopState&)> onCycle;
  /// Called for each event from the first cycle on, as OnEvent sets it (which
  /// may replace it later): an event of the first cycle (the arm refusing the
  /// first set-point, a link already gone) reaches it.
  std::function<void(const LoopEvent&)> onEvent;
};

/// One cycle's state, as the loop hands it out.
struct LoopState {
  std::uint64_t sequence = 0;  ///< the cycle's number, counted from 1; 0: no cycle yet
  /// The host's monotonic time when the cycle's first exchange began.
  std::chrono::steady_clock::time_point time{};
  /// How long the cycle's exchanges took: the reads and the set-point.
  std::chrono::nanoseconds exchange{0};
  /// Every exchange of the cycle succeeded. A failed cycle is handed out
  /// too, with what it did read (readouts).
  bool ok = false;
  unsigned readouts = 0;   ///< the LoopReadout bits whose values below are this cycle's
  AngularPosition joints{};       ///< joint angles (deg) and finger positions
  AngularPosition velocities{};   ///< with kReadVelocities
  AngularPosition forces{};       ///< with kReadForces
  CartesianPosition pose{};       ///< with kReadCartesian
  QuickStatus status{};           ///< with kReadQuickStatus
};

/// What happened to the link, as the loop reports it.
enum class LoopEventKind {
  /// A cycle got no answer (2008), the first of a run; or an exchange failed
  /// otherwise. The loop carries on.
  kTransient,
  kRefused,  ///< the arm refused a command (its verdict: 2003, 2004, 2005)
  /// Answers stopped (2008: the device may be gone), or the program closed
  /// the arm (2001: the loop ends).
  kDisconnected,
  kReconnected,  ///< the arm is back and reopened; the set-point is zero
  kWatchdog,      ///< the velocity set-point was not renewed in time: zero velocity sent
};

/// One event: its kind, the result code behind it (1 for kReconnected and
/// kWatchdog), the cycle it happened in, when the loop noticed it and a
/// message.
struct LoopEvent {
  LoopEventKind kind = LoopEventKind::kTransient;  ///< what happened
  int code = 1;                ///< the result code behind it (1 for kReconnected and kWatchdog)
  std::uint64_t sequence = 0;  ///< the cycle it happened in
  std::chrono::steady_clock::time_point time{};  ///< the host's monotonic time
  std::string message;         ///< what happened, in words
};

/// The loop's figures since it started (or since ResetStatistics). Times in
/// seconds. The period is the time between the starts of successive cycles
/// (not across a reconnect); rate is the number of periods over their sum;
/// jitter is the mean of |t(n) - t(n-1) - T|. The quantiles come from a
/// histogram of constant size and are within 1% of the exact ones; the
/// maxima are exact.
struct LoopStatistics {
  std::uint64_t cycles = 0;  ///< cycles run
  std::uint64_t missed = 0;  ///< cycle starts skipped because a cycle overran
  double rate = 0;           ///< achieved cycles per second
  double jitter = 0;         ///< mean |period - T|
  double periodP50 = 0;    ///< median period
  double periodP99 = 0;    ///< 99th percentile of the period
  double periodMax = 0;    ///< longest period
  double exchangeP50 = 0;  ///< median time of a cycle's exchanges
  double exchangeP99 = 0;  ///< 99th percentile of a cycle's exchange time
  double exchangeMax = 0;  ///< longest exchange time of a cycle
  std::uint64_t transient = 0;     ///< kTransient events
  std::uint64_t refused = 0;       ///< kRefused events
  std::uint64_t disconnected = 0;  ///< kDisconnected events
  std::uint64_t reconnected = 0;   ///< kReconnected events
  std::uint64_t watchdog = 0;      ///< kWatchdog events
};

/// A loop on one open arm. The arm must outlive the loop. The loop's own
/// members may be called from any thread; none of them waits for a cycle
/// except WaitNext and Stop.
class TARSEL_API ControlLoop {
 public:
  /// Starts the loop's thread on arm. Throws Error(2100) for options out of
  /// range, Error(2001) when arm is closed.
  explicit ControlLoop(Arm& arm, const LoopOptions& options = {});
  /// Stop(); never throws.
  ~ControlLoop();
  ControlLoop(const ControlLoop&) = delete;
  ControlLoop& operator=(const ControlLoop&) = delete;

  /// Ends the loop and brings the arm to rest (zero velocity, queue erased),
  /// then returns; nothing is sent to a lost or closed arm. Calling it again
  /// does nothing. From the loop's callbacks it returns at once and the loop
  /// ends when they return.
  void Stop() noexcept;
  /// false once stopped, or ended by a closed arm or a disconnect without
  /// reconnect.
  bool Running() const noexcept;

  /// The latest cycle's state, without waiting and without taking a lock
  /// (sequence 0 before the first cycle). Safe from a real-time thread.
  LoopState Latest() const noexcept;
  /// Waits until a cycle newer than after has run and returns its state
  /// (failed cycles included). Throws Error(2010) when limit passes first
  /// (as it does while the arm is disconnected), Error(2001) when the loop
  /// has stopped.
  LoopState WaitNext(std::uint64_t after,
                     std::chrono::milliseconds limit = std::chrono::seconds(1)) const;

  /// Replace the set-point and return at once (safe from a real-time
  /// thread). A non-finite value or a velocity beyond the options' limits (a
  /// joint's speed; the length of the linear, or of the angular, part of a
  /// Cartesian velocity) is refused with Error(2100) naming it, and the
  /// set-point is left as it was. A position set-point leaves the fingers
  /// where the latest cycle read them.
  /// @{
  void SetJointVelocity(const AngularInfo& degreesPerSecond);  ///< point type 8
  void SetCartesianVelocity(const CartesianInfo& velocity);    ///< point type 7 (m/s, rad/s)
  void SetJointPosition(const AngularInfo& degrees);           ///< point type 2
  void SetCartesianPosition(const CartesianInfo& pose);        ///< point type 1 (m, rad)
  /// No set-point: zero velocity is sent every cycle (a queued position
  /// move goes on; Stop() erases it).
  void Hold() noexcept;
  /// @}

  /// Called on the loop's thread after each cycle with its state; keep it
  /// short (it delays the next cycle). An empty function removes it.
  void OnCycle(std::function<void(const LoopState&)> callback);
  /// Called on the loop's thread for each event. An empty function removes it.
  void OnEvent(std::function<void(const LoopEvent&)> callback);

  /// The figures so far.
  LoopStatistics Statistics() const;
  /// Starts the figures afresh.
  void ResetStatistics();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarsel

#endif  // TARSEL_CONTROL_LOOP_HPP
