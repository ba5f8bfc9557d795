// The simulated arm controller: the arm's side of the packet protocol.
//
// SimulatedArm takes one request Packet and gives the one answer Packet the
// arm would send (or none, when a fault says the arm stays silent). It keeps
// the state an arm keeps: joints and fingers that move at bounded speed in
// real time, the trajectory queue, control flags, the stored configuration
// blocks, the error log, actuator settings and a received firmware image.
// sim/README.md describes what it models and its defaults.
//
// Every request is untrusted: any 64 bytes give a well-formed answer (or a
// refusal) and never undefined behaviour. All members are safe to call from
// several threads (one lock guards the whole arm).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarsel/export.h"
#include "tarsel/packet.h"

namespace tarsel::sim {

// A source of monotonic time in seconds. The arm advances its simulated time
// by the difference between two readings times the time scale.
using ClockSource = std::function<double()>;

// A clock that moves only when told to: tests advance time without sleeping.
class ManualClock {
 public:
  void Advance(double seconds) { now_->store(now_->load() + seconds); }
  double Now() const { return now_->load(); }
  ClockSource Source() const {
    auto now = now_;
    return [now] { return now->load(); };
  }

 private:
  std::shared_ptr<std::atomic<double>> now_ = std::make_shared<std::atomic<double>>(0.0);
};

enum class HandType {
  kThreeFingers,  // quick-status hand type 0
  kTwoFingers,    // quick-status hand type 2
};

// Control types reported by command 10.
enum ControlType : int {
  kCartesianControl = 0,
  kAngularControl = 1,
};

struct Options {
  HandType hand = HandType::kThreeFingers;
  // Simulated seconds per clock second (> 0): 10 makes every motion ten times
  // faster than real time.
  double timeScale = 1.0;
  // Finger-driving points (Type 8, negative finger value) a finger needs
  // before it reports itself initialised; 0: initialised from power-on.
  int fingerInitPoints = 5;
  // Time source; empty: the steady system clock.
  ClockSource clock;
};

enum class FaultKind {
  kNoAnswer,         // the arm stays silent: the host sees a time-out
  kErrorBit,         // the verdict word carries the error bit 0x4000
  kNegativeVerdict,  // the verdict word is negative
};

// A fault applies to requests matching command and packetIndex (kAny matches
// everything) and is used up after times matches (-1: never used up). A
// faulted request has no effect on the arm; a message it belongs to is
// abandoned.
struct Fault {
  static constexpr int kAny = -1;
  FaultKind kind = FaultKind::kNoAnswer;
  int command = kAny;
  int packetIndex = kAny;
  int times = -1;
};

// One entry of the arm's error log, in the field order of its answer.
struct ErrorEntry {
  std::uint32_t code = 0;
  std::int32_t device = 0;    // 0: the controller, 1-6: actuators, 7-9: fingers
  std::int32_t severity = 0;  // 0: information, 1: warning, 2: error
  std::int32_t occurrences = 0;
  std::uint32_t timeSeconds = 0;  // arm time when it was logged
  std::array<bool, 7> flags{};
  std::int32_t value1 = 0;
  std::int32_t value2 = 0;
  std::array<std::uint32_t, 50> data{};
};

struct CartesianPose {
  float x, y, z;     // metres
  float rx, ry, rz;  // radians, R = Rz * Ry * Rx
};

class TARSEL_API SimulatedArm {
 public:
  explicit SimulatedArm(Options options = {});
  ~SimulatedArm();
  SimulatedArm(const SimulatedArm&) = delete;
  SimulatedArm& operator=(const SimulatedArm&) = delete;

  // One exchange: the answer to request, or nothing when the arm stays silent
  // (a fault, or unplugged). Advances simulated time to the clock's now first.
  std::optional<Packet> Handle(const Packet& request);

  // --- Time and configuration --------------------------------------------
  // Advances simulated time to the clock's now (Handle does it too).
  void Update();
  void SetClock(ClockSource clock);
  void SetTimeScale(double scale);  // ignored unless finite and > 0
  double TimeScale() const;
  void SetHandType(HandType hand);
  HandType Hand() const;
  void SetFingerInitPoints(int points);
  // Back to the power-on state: pose, queue, flags and sessions; the stored
  // blocks, identity, actuator settings, error log and firmware image stay.
  void PowerCycle();

  // Called after every exchange with the request and the answer (none when
  // the arm stayed silent), outside the arm's lock; empty to stop.
  using Observer = std::function<void(const Packet& request, const std::optional<Packet>& answer)>;
  void SetObserver(Observer observer);

  // --- Faults --------------------------------------------------------------
  void AddFault(const Fault& fault);
  void ClearFaults();
  // Answers exchanges up to number n (counted from now on) and none after;
  // a negative n plugs the arm back in.
  void UnplugAfter(long n);
  bool Unplugged() const;
  long Exchanges() const;  // exchanges seen since construction

  // --- State, for tests and tools -----------------------------------------
  // The motion read-outs advance simulated time to the clock's now first.
  std::array<float, 6> Joints() const;        // degrees
  std::array<float, 3> Fingers() const;       // 0 (open) .. 6800 (closed)
  std::array<float, 6> JointTargets() const;  // where the arm is heading
  CartesianPose Pose() const;
  int QueueSize() const;  // trajectory points not yet reached
  int ControlType() const;
  bool ApiControl() const;
  bool ForceControl() const;
  bool CurrentLimitation() const;
  bool FingersInitialized() const;  // every finger of the hand
  std::array<bool, 3> FingerFlags() const;

  // The bytes a read of command serves for the stored blocks (1 client
  // configuration, 41 control mapping, 39 protection zones, 5001 dev values,
  // 505 spasm filter); empty for any other command.
  std::vector<unsigned char> StoredBlock(int readCommand) const;
  // The 48 bytes last written with command 500 .. 503; empty otherwise.
  std::vector<unsigned char> ForceSetting(int writeCommand) const;
  std::array<unsigned char, 20> SerialNumber() const;
  std::array<unsigned char, 20> Model() const;
  std::int32_t FrameType() const;

  std::vector<ErrorEntry> ErrorLog() const;
  void AddError(const ErrorEntry& entry);

  // Firmware received through commands 13 and 12.
  bool FirmwareSessionOpen() const;
  int FirmwarePagesReceived() const;
  std::vector<unsigned char> FirmwareImage() const;  // whole pages, zero-padded
  // CRC-32 of the first length bytes of the received image (all of it when
  // length exceeds it), comparable with Crc32 of the image file.
  std::uint32_t FirmwareChecksum(std::size_t length) const;

  // Per-actuator settings (index 0-5 for actuators 1-6).
  std::uint32_t ActuatorAddress(int actuator) const;
  std::array<float, 3> ActuatorPid(int actuator) const;
  std::array<float, 3> ActuatorPidFilter(int actuator) const;
  float ActuatorTorqueGain(int actuator) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// CRC-32 (IEEE 802.3, the polynomial of zlib and PNG) of n bytes.
TARSEL_API std::uint32_t Crc32(const unsigned char* data, std::size_t n);

}  // namespace tarsel::sim
