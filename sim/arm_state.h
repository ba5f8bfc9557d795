// What the simulated arm remembers, and the command handlers that read and
// change it. Internal to the simulator: SimulatedArm wraps it with the packet
// framing, the clock, the faults and a lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "arm_types.h"
#include "blocks.h"
#include "commands.h"
#include "motion.h"

namespace tarsel::sim {

// Pose at power-on (folded, hand down near the base) and the home pose
// (hand in front of the base, pointing down), in joint degrees.
constexpr kinematics::Joints kRetractedPose = {0, 0, 140, 0, 40, 0};
constexpr kinematics::Joints kHomePose = {0, 20, 100, 0, 60, 0};

// Bytes of flash: every offset a page's 32-bit offset field can name, so the
// arm takes any image the library sends (at most 4 GiB - 1 bytes, then the
// page that ends every image).
constexpr std::uint64_t kFlashBytes = std::uint64_t{1} << 32;
// How long a velocity command (joystick sample or velocity point) keeps
// moving the arm after it arrived, in clock seconds.
constexpr double kVelocityHoldSeconds = 0.1;

struct ActuatorSettings {
  std::uint32_t address = 0;
  std::array<float, 3> pid{};
  std::array<float, 3> pidFilter{};
  float torqueGain = 1;
  float torqueOffset = 0;  // N m subtracted from the torque reading
};

// The firmware received since programming began: the pages written, each
// kPageBytes long, by their offset. Only the pages written take memory, so a
// page far out in the flash costs no more than the first.
struct Flash {
  std::map<std::uint32_t, Bytes> pages;

  // Bytes from the start of the flash to the end of the highest page
  // written; 0 when none is.
  std::uint64_t Size() const {
    return pages.empty() ? 0 : std::uint64_t{pages.rbegin()->first} + kPageBytes;
  }
};

struct ArmState {
  // Why the exchange being handled was refused (null while it was not), for
  // the trace.
  const char* refusal = nullptr;

  // --- Kept across power cycles -------------------------------------------
  StoredBlocks blocks;  // the table in blocks.h lists them
  std::array<unsigned char, 20> serial{};
  std::array<unsigned char, 20> model{};
  std::int32_t frameType = 0;
  std::array<ActuatorSettings, 6> actuators;
  std::vector<SystemError> errors;
  Flash firmware;
  int pagesReceived = 0;

  // --- Lost at power-off ---------------------------------------------------
  int controlType = kCartesianControl;
  bool apiControl = false;
  bool forceControl = false;
  bool currentLimitation = false;
  bool programming = false;
  HandType hand = HandType::kThreeFingers;
  int fingerInitPoints = 5;
  std::array<int, 3> fingerPoints{};  // finger-driving points counted per finger
  Motion motion;
  std::array<std::int16_t, 16> buttons{};
  std::array<float, 6> axes{};
  double timeScale = 1.0;
  double simTime = 0;  // simulated seconds since power-on
  std::uint32_t homeMoves = 0;
  std::uint32_t pointsAccepted = 0;
  // Exchanges by outcome: reads, writes, bare commands, refused.
  std::array<std::uint32_t, 4> exchangeCounts{};

  int FingerCount() const { return hand == HandType::kThreeFingers ? 3 : 2; }
  bool FingerInitialized(int finger) const;
  double HandMass() const { return hand == HandType::kThreeFingers ? 0.72 : 0.6; }
  float TorqueReading(int joint) const;
};

// Whether a handler carried the command out or the arm refused it.
enum class Outcome { kDone, kRefused };

// A refusal and why, for the arm's trace: why is a text of static storage.
inline Outcome Refused(ArmState& s, const char* why) {
  s.refusal = why;
  return Outcome::kRefused;
}

// Factory defaults of the stored blocks (command 45).
void RestoreFactoryDefaults(ArmState& state);
// Identity, actuator settings, error log and stored blocks of a new arm.
void ManufactureArm(ArmState& state);
// The power-on state of everything that does not survive a power cycle.
void PowerOn(ArmState& state);

// The answer payload of a read command (exactly its size), or kRefused.
// argument is the 32-bit value in the request's data bytes 0-3.
Bytes BuildReadAnswer(const CommandInfo& command, ArmState& state, std::uint32_t argument,
                      Outcome& outcome);

// Carries out a complete write message (payload of the command's size).
Outcome ApplyWrite(int command, const Bytes& payload, ArmState& state);

// Carries out a bare command.
Outcome ApplyBare(int command, ArmState& state);

}  // namespace tarsel::sim
