// A hardware component for a controller framework, shaped like a ros2_control
// system component but without ROS: the lifecycle callbacks (on_init,
// on_configure, on_activate, on_deactivate, on_cleanup, on_error) and the
// read()/write() pair a controller manager calls every period, over a
// tarsel::ControlLoop that keeps the arm's state fresh on its own thread.
// main() plays the controller manager: a P-controller at 100 Hz, on its own
// timer, drives joint 1 ten degrees from where it stands.
//
//   TARSEL_SIM=1 example_hardware_interface [seconds, default 2]
//   example_hardware_interface --arm sim     (a simulated arm of its own)
//
// Real-time safety, for a port to a manager running at SCHED_FIFO:
// - real-time safe (no lock, no allocation, no blocking system call):
//   ControlLoop::Latest, Running, SetJointVelocity (with values inside the
//   limits: a refused one allocates its exception) and Hold; so read() and
//   write() below are.
// - not real-time safe: opening and closing the arm, every tarsel::Arm
//   command, constructing and stopping the loop, WaitNext, OnEvent,
//   Statistics; they belong in the lifecycle callbacks only.
#include <tarsel/control_loop.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// What a lifecycle callback returns: go on, refuse the transition, or an
// error (the manager then calls on_error).
enum class CallbackReturn { kSuccess, kFailure, kError };
// What read() and write() return; kError makes the manager call on_error.
enum class ReturnType { kOk, kError };

constexpr int kJoints = 6;
constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr float AngularInfo::*kJoint[kJoints] = {&AngularInfo::Actuator1, &AngularInfo::Actuator2,
                                                 &AngularInfo::Actuator3, &AngularInfo::Actuator4,
                                                 &AngularInfo::Actuator5, &AngularInfo::Actuator6};

// Hardware parameters as a robot description hands them over: text, and
// untrusted. Returns the number in parameters[name], fallback when absent,
// or nothing when the text is not a number inside [low, high].
std::optional<double> Number(const std::map<std::string, std::string>& parameters,
                             const std::string& name, double fallback, double low, double high) {
  const auto found = parameters.find(name);
  if (found == parameters.end()) return fallback;
  const std::string& text = found->second;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < low || value > high) {
    std::fprintf(stderr, "parameter %s: \"%s\" is not a number from %g to %g\n", name.c_str(),
                 text.c_str(), low, high);
    return std::nullopt;
  }
  return value;
}

// One six-axis arm as a system component. Its interfaces, in SI units as
// controllers expect them: state position (rad) and velocity (rad/s) per
// joint, command velocity (rad/s) per joint.
class TarselArmSystem {
 public:
  std::array<double, kJoints> position{};         ///< state, rad
  std::array<double, kJoints> velocity{};         ///< state, rad/s
  std::array<double, kJoints> velocityCommand{};  ///< command, rad/s

  // Reads the parameters: "arm" (empty: the first arm, or the first
  // simulated one with TARSEL_SIM=N; "sim": a simulated arm of this
  // process; else a path from ListArms such as "usb:1-2"), "loop_rate"
  // (Hz), "max_joint_velocity" (rad/s), "command_timeout" (s) and
  // "reconnect_wait" (s). kError for a value out of range.
  CallbackReturn on_init(const std::map<std::string, std::string>& parameters) {
    const auto arm = parameters.find("arm");
    armPath_ = arm == parameters.end() ? "" : arm->second;
    const auto rate = Number(parameters, "loop_rate", 100, 1, 1000);
    const auto speed = Number(parameters, "max_joint_velocity", 0.35, 0.01, 0.6);
    const auto timeout = Number(parameters, "command_timeout", 0.05, 0.005, 1);
    const auto wait = Number(parameters, "reconnect_wait", 2, 0, 60);
    if (!rate || !speed || !timeout || !wait) return CallbackReturn::kError;
    options_.rate = *rate;
    options_.readouts = tarsel::kReadVelocities;
    options_.maxJointSpeed = static_cast<float>(*speed / kRadPerDeg);
    options_.watchdog = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(*timeout));
    options_.reconnect = true;
    reconnectWait_ =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*wait));
    return CallbackReturn::kSuccess;
  }

  // Opens the arm and reads it once: from here on the state is readable.
  // An arm still open (after on_error) is kept. kError when the arm cannot
  // be opened or read.
  CallbackReturn on_configure() {
    try {
      if (!arm_ || !arm_->IsOpen()) arm_.emplace(Open());
      const AngularPosition joints = arm_->GetAngularPosition();
      for (int j = 0; j < kJoints; ++j) position[j] = joints.Actuators.*kJoint[j] * kRadPerDeg;
      velocity.fill(0);
      std::printf("configured: %s\n", arm_->Info().path.c_str());
      return CallbackReturn::kSuccess;
    } catch (const tarsel::Error& e) {
      std::fprintf(stderr, "configure: %s failed: %d (%s)\n", e.where().c_str(), e.code(),
                   e.what());
      arm_.reset();
      return CallbackReturn::kError;
    }
  }

  // Closes the arm.
  CallbackReturn on_cleanup() {
    arm_.reset();
    return CallbackReturn::kSuccess;
  }

  // Starts the loop and seeds state and commands from the first cycle's
  // measurement: the command is to hold (zero velocity) until the
  // controller writes one. kError when the arm does not answer that cycle.
  CallbackReturn on_activate() {
    if (!arm_) return CallbackReturn::kError;
    linkLost_ = false;
    reconnected_ = false;
    try {
      arm_->StartControlAPI();
      loop_ = std::make_unique<tarsel::ControlLoop>(*arm_, options_);
      loop_->OnEvent([this](const tarsel::LoopEvent& event) { OnLinkEvent(event); });
      loop_->Hold();
      const tarsel::LoopState first = loop_->WaitNext(0);
      if (!first.ok)
        throw tarsel::Error(TARSEL_ERROR_NO_ANSWER, "on_activate", "the first cycle failed");
    } catch (const tarsel::Error& e) {
      std::fprintf(stderr, "activate: %s failed: %d (%s)\n", e.where().c_str(), e.code(), e.what());
      loop_.reset();
      return CallbackReturn::kError;
    }
    lastSequence_ = 0;
    read(Clock::now(), Clock::duration::zero());
    velocityCommand.fill(0);
    return CallbackReturn::kSuccess;
  }

  // Stops the loop, which brings the arm to rest (zero velocity, queue
  // erased), and prints its figures.
  CallbackReturn on_deactivate() {
    if (loop_) {
      loop_->Stop();
      const tarsel::LoopStatistics s = loop_->Statistics();
      std::printf(
          "loop: %llu cycles at %.1f Hz, jitter %.3f ms, exchanges p99 %.3f ms, %llu missed\n",
          static_cast<unsigned long long>(s.cycles), s.rate, s.jitter * 1e3, s.exchangeP99 * 1e3,
          static_cast<unsigned long long>(s.missed));
      loop_.reset();
    }
    try {
      if (arm_) arm_->StopControlAPI();
    } catch (const tarsel::Error&) {
      // A lost arm takes no command; it stops by itself.
    }
    return CallbackReturn::kSuccess;
  }

  // After read() or write() failed. A lost link: waits up to the
  // reconnect_wait for the loop to find the arm again; then the arm is at
  // rest and open, and kSuccess leaves the component configured (a manager
  // that takes it to unconfigured instead calls on_configure, which keeps
  // the open arm); the next on_activate seeds afresh. The arm not back in
  // time, or closed: kError, the arm closed (finalized). Any other failure
  // (a refused command): the arm is brought to rest, kSuccess.
  CallbackReturn on_error() {
    if (!loop_) return arm_ ? CallbackReturn::kSuccess : CallbackReturn::kError;
    if (linkLost_) {
      std::printf("link lost (%d): waiting up to %.1f s for the arm\n", lostCode_.load(),
                  std::chrono::duration<double>(reconnectWait_).count());
      const Clock::time_point end = Clock::now() + reconnectWait_;
      while (!reconnected_ && loop_->Running() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!reconnected_) {
        std::fprintf(stderr, "the arm did not come back within %.1f s\n",
                     std::chrono::duration<double>(reconnectWait_).count());
        loop_.reset();  // stops it; nothing reaches a lost arm
        arm_.reset();
        return CallbackReturn::kError;
      }
      std::printf("the arm is back\n");
    }
    on_deactivate();
    return CallbackReturn::kSuccess;
  }

  // Copies the latest cycle's joint positions and velocities into the state
  // interfaces; a cycle that did not read them leaves them as they were.
  // Never waits: real-time safe. kError once the link is lost or the loop
  // has ended.
  ReturnType read(Clock::time_point /*time*/, Clock::duration /*period*/) {
    if (!loop_ || linkLost_.load(std::memory_order_acquire) || !loop_->Running()) {
      return ReturnType::kError;
    }
    const tarsel::LoopState s = loop_->Latest();
    if (s.sequence == lastSequence_) return ReturnType::kOk;
    lastSequence_ = s.sequence;
    if ((s.readouts & tarsel::kReadJoints) != 0) {
      for (int j = 0; j < kJoints; ++j) position[j] = s.joints.Actuators.*kJoint[j] * kRadPerDeg;
    }
    if ((s.readouts & tarsel::kReadVelocities) != 0) {
      for (int j = 0; j < kJoints; ++j)
        velocity[j] = s.velocities.Actuators.*kJoint[j] * kRadPerDeg;
    }
    return ReturnType::kOk;
  }

  // Hands the velocity commands to the loop, each clamped to
  // max_joint_velocity. A command that is not a finite number is refused:
  // the arm is held (zero velocity) and kError returned. Real-time safe.
  ReturnType write(Clock::time_point /*time*/, Clock::duration /*period*/) {
    if (!loop_ || linkLost_.load(std::memory_order_acquire)) return ReturnType::kError;
    AngularInfo degreesPerSecond{};
    for (int j = 0; j < kJoints; ++j) {
      if (!std::isfinite(velocityCommand[j])) {
        loop_->Hold();
        return ReturnType::kError;
      }
      // Clamped against the loop's own float limit, so that the loop never
      // refuses it (a refusal would allocate its exception).
      const double limit = options_.maxJointSpeed;
      degreesPerSecond.*kJoint[j] =
          static_cast<float>(std::clamp(velocityCommand[j] / kRadPerDeg, -limit, limit));
    }
    try {
      loop_->SetJointVelocity(degreesPerSecond);
    } catch (const tarsel::Error&) {
      loop_->Hold();
      return ReturnType::kError;
    }
    return ReturnType::kOk;
  }

 private:
  tarsel::Arm Open() const {
    if (armPath_.empty()) return tarsel::Arm();
    if (armPath_ == "sim") return tarsel::Arm::Simulated();
    for (const tarsel::ArmInfo& info : tarsel::ListArms()) {
      if (info.path == armPath_) return tarsel::Arm(info);
    }
    throw tarsel::Error(TARSEL_ERROR_NO_ARM, "on_configure", "no arm at " + armPath_);
  }

  // On the loop's thread: notes what read() and on_error need. Kept short;
  // it delays the next cycle.
  void OnLinkEvent(const tarsel::LoopEvent& event) {
    if (event.kind == tarsel::LoopEventKind::kDisconnected) {
      lostCode_.store(event.code, std::memory_order_relaxed);
      linkLost_.store(true, std::memory_order_release);
    } else if (event.kind == tarsel::LoopEventKind::kReconnected) {
      reconnected_.store(true, std::memory_order_release);
    }
  }

  std::string armPath_;
  tarsel::LoopOptions options_;
  Clock::duration reconnectWait_{};
  std::optional<tarsel::Arm> arm_;
  std::unique_ptr<tarsel::ControlLoop> loop_;  // while active
  std::uint64_t lastSequence_ = 0;             // the cycle read() copied last
  std::atomic<bool> linkLost_{false};
  std::atomic<int> lostCode_{0};  // the disconnect's: 2008 no answer, 2001 closed
  std::atomic<bool> reconnected_{false};
};

}  // namespace

// The controller manager's part: the lifecycle, then read, update, write
// every 10 ms on its own timer until the time is up. Exits 0 when joint 1
// ended within half a degree of its target.
int main(int argc, char** argv) {
  double seconds = 2.0;
  std::map<std::string, std::string> parameters{{"loop_rate", "100"}};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--arm") == 0 && i + 1 < argc) {
      parameters["arm"] = argv[++i];
    } else {
      const char* end = argv[i] + std::strlen(argv[i]);
      if (std::from_chars(argv[i], end, seconds).ptr != end || !(seconds > 0 && seconds <= 600)) {
        std::fprintf(stderr, "usage: %s [--arm PATH|sim] [seconds]\n", argv[0]);
        return 2;
      }
    }
  }

  TarselArmSystem arm;
  if (arm.on_init(parameters) != CallbackReturn::kSuccess ||
      arm.on_configure() != CallbackReturn::kSuccess ||
      arm.on_activate() != CallbackReturn::kSuccess) {
    return 1;
  }

  constexpr double kGain = 4.0;  // 1/s: the error closes by e^-1 each quarter second
  const double target = arm.position[0] + 10 * kRadPerDeg;
  std::printf("joint 1 from %.2f to %.2f deg\n", arm.position[0] / kRadPerDeg, target / kRadPerDeg);

  const Clock::duration period = std::chrono::milliseconds(10);
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(seconds));
  Clock::time_point next = Clock::now();
  int overruns = 0;
  while (Clock::now() < end) {
    next += period;
    // A manager that falls behind logs an overrun and starts afresh rather
    // than running a burst of late periods.
    if (Clock::now() > next) {
      ++overruns;
      next = Clock::now() + period;
    }
    std::this_thread::sleep_until(next);
    const Clock::time_point now = Clock::now();
    bool ok = arm.read(now, period) == ReturnType::kOk;
    if (ok) {
      arm.velocityCommand.fill(0);
      arm.velocityCommand[0] = kGain * (target - arm.position[0]);
      ok = arm.write(now, period) == ReturnType::kOk;
    }
    if (!ok) {
      std::printf("read or write failed: on_error\n");
      if (arm.on_error() != CallbackReturn::kSuccess) return 1;  // finalized
      if (arm.on_activate() != CallbackReturn::kSuccess) return 1;
    }
  }

  const double error = (target - arm.position[0]) / kRadPerDeg;
  const bool reached = std::fabs(error) < 0.5;
  std::printf(
      "joint 1 at %.2f deg, %.2f deg from the target: %s; %d overruns of the 10 ms period\n",
      arm.position[0] / kRadPerDeg, error, reached ? "reached" : "missed", overruns);
  arm.on_deactivate();
  arm.on_cleanup();
  return reached ? 0 : 1;
}
