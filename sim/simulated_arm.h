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

#include "arm_types.h"
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

struct CartesianPose {
  float x, y, z;     // metres
  float rx, ry, rz;  // radians, R = Rz * Ry * Rx
};

// Settings of one actuator (commands 52 to 56).
struct ActuatorSnapshot {
  std::uint32_t address = 0;
  std::array<float, 3> pid{};
  std::array<float, 3> pidFilter{};
  float torqueGain = 1;
};

// The arm's state at one moment (SimulatedArm::Snapshot).
struct ArmSnapshot {
  // --- Motion ---------------------------------------------------------------
  std::array<float, 6> joints{};        // degrees
  std::array<float, 3> fingers{};       // 0 (open) .. 6800 (closed)
  std::array<float, 6> jointTargets{};  // where the arm is heading
  CartesianPose pose{};                 // of the hand tip
  int queueSize = 0;                    // trajectory points not yet reached
  bool moving = false;
  double simTime = 0;  // simulated seconds since power-on

  // --- Modes and flags ---------------------------------------------------------
  int controlType = kCartesianControl;
  bool apiControl = false;
  bool forceControl = false;
  bool currentLimitation = false;
  HandType hand = HandType::kThreeFingers;
  int fingerCount = 3;                 // 3, or 2 for a two-finger hand
  std::array<bool, 3> fingerFlags{};   // each finger initialised
  bool fingersInitialized = false;     // every finger of the hand
  double timeScale = 1.0;

  // --- Identity, settings and logs ----------------------------------------------
  std::array<unsigned char, 20> serial{};
  std::array<unsigned char, 20> model{};
  std::int32_t frameType = 0;
  std::array<ActuatorSnapshot, 6> actuators{};  // actuators 1-6
  std::vector<SystemError> errors;
  bool firmwareSession = false;  // a programming session is open
  int firmwarePages = 0;         // firmware pages received

  // --- The link -------------------------------------------------------------------
  long exchanges = 0;      // exchanges seen since construction
  bool unplugged = false;  // exchanges are no longer answered
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
  void SetHandType(HandType hand);
  void SetFingerInitPoints(int points);
  // Back to the power-on state: pose, queue, flags and sessions; the stored
  // blocks, identity, actuator settings, error log and firmware image stay.
  void PowerCycle();

  // Called after every exchange with the request, the answer (none when the
  // arm stayed silent) and, for a refusal, why the arm refused it (else
  // null), outside the arm's lock; empty to stop.
  using Observer = std::function<void(const Packet& request, const std::optional<Packet>& answer,
                                      const char* why)>;
  void SetObserver(Observer observer);

  // --- Faults --------------------------------------------------------------
  void AddFault(const Fault& fault);
  void ClearFaults();
  // Answers exchanges up to number n (counted from now on) and none after;
  // a negative n plugs the arm back in.
  void UnplugAfter(long n);

  // --- State, for tests, tools and the live view ---------------------------
  // Everything the arm shows of itself, read at one moment under one lock
  // after simulated time is advanced to the clock's now.
  ArmSnapshot Snapshot() const;

  // The bytes a read of command serves for the stored blocks (1 client
  // configuration, 41 control mapping, 39 protection zones, 5001 dev values,
  // 505 spasm filter); empty for any other command.
  std::vector<unsigned char> StoredBlock(int readCommand) const;
  // The 48 bytes last written with command 500 .. 503; empty otherwise.
  std::vector<unsigned char> ForceSetting(int writeCommand) const;

  // Appends entry to the error log.
  void AddError(const SystemError& entry);

  // Firmware received through commands 13 and 12: the flash from its start
  // to the end of the highest page written, zeros where no page was (4 GiB
  // for a page at the last offset).
  std::vector<unsigned char> FirmwareImage() const;
  // CRC-32 of the first length bytes of the received image (all of it when
  // length exceeds it), comparable with Crc32 of the image file.
  std::uint32_t FirmwareChecksum(std::size_t length) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// CRC-32 (IEEE 802.3, the polynomial of zlib and PNG) of n bytes.
TARSEL_API std::uint32_t Crc32(const unsigned char* data, std::size_t n);

}  // namespace tarsel::sim
