/// @file
/// The C++ interface of the Tarsel arm (C++17).
///
/// @code
///   #include <tarsel/arm.hpp>
///
///   tarsel::Arm arm;                                  // the first arm found
///   AngularPosition joints = arm.GetAngularPosition();
///   arm.MoveHome(std::chrono::seconds(30));
/// @endcode
///
/// An Arm owns one open connection to one arm and closes it when destroyed.
/// Every member function exchanges one command (or runs one long operation)
/// and throws tarsel::Error when the result code is not 1. Records are the
/// flat API's own (tarsel/tarsel.h). Several Arms may be open at once, one per
/// arm; one Arm may be used from several threads (each command's packets go
/// out together; what interleaved commands mean stays the caller's business,
/// as in the flat API).
///
/// Sharing an Arm between threads covers its commands, Close(), IsOpen() and
/// Info(); the Arm object itself must stay put while other threads use it.
/// Destroying it, moving it elsewhere (Arm b(std::move(a))) or assigning to
/// it (a = std::move(b)) while another thread is inside one of its members
/// is the caller's error, and the caller's to prevent (join or stop those
/// threads first). The library keeps such an error from hanging or touching
/// freed memory where it can: a command running on an arm that a move closes
/// finishes on its own connection and returns its own answer, and a command
/// that starts on it after the move throws Error(2001) or runs on the arm
/// moved in; only destroying the object under a running member is beyond
/// repair.
///
/// Without an arm: tarsel::Arm::Simulated() opens a simulated arm in this
/// process. With the environment variable TARSEL_SIM=N set, ListArms() lists N
/// simulated arms and Arm() opens the first, so a program written for the
/// real arm runs unchanged against the simulator.
#ifndef TARSEL_ARM_HPP
#define TARSEL_ARM_HPP

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tarsel/tarsel.h"

namespace tarsel {

/// A result code other than 1, as an exception. what() is the code's message
/// (GetResultMessage); code() the code; where() the function that failed.
class TARSEL_API Error : public std::runtime_error {
 public:
  /// The error of result code code, raised by the function named where;
  /// what() is the code's message (GetResultMessage).
  Error(int code, std::string where);
  /// The same with message in place of the code's own, when more is known
  /// than the code says (which arm failed to open, that the arm was closed).
  Error(int code, std::string where, const std::string& message);
  int code() const noexcept { return code_; }                  ///< the result code
  const std::string& where() const noexcept { return where_; }  ///< the function that failed

 private:
  int code_;
  std::string where_;
};

/// One arm the library can reach.
struct ArmInfo {
  std::string path;          ///< stable identity: "usb:<bus>-<ports>" or "sim:<n>"
  std::uint16_t vendor_id = 0;   ///< USB vendor id (TARSEL_USB_VENDOR_ID)
  std::uint16_t product_id = 0;  ///< USB product id (TARSEL_USB_PRODUCT_ID)
  int bus = 0;               ///< 0 for a simulated arm
  int address = 0;           ///< device address on the bus (changes on replug)
  std::string serial;        ///< "" when the arm does not say
  std::string product;       ///< "" when the arm does not say
  bool simulated = false;    ///< a simulated arm
};

/// Lists the arms on the USB bus (or, with TARSEL_SIM=N, N simulated arms),
/// ordered by path. A link library without the listing functions gives one
/// entry (path "default") when it can be loaded. Throws Error(2002) when no
/// link library can be loaded, Error(1001) when libusb cannot start.
TARSEL_API std::vector<ArmInfo> ListArms();

/// How a simulated arm is set up (see the simulator's documentation).
struct SimOptions {
  int hand = 3;             ///< 3 or 2 fingers
  double time_scale = 1.0;  ///< simulated seconds per real second
  int finger_points = 5;    ///< finger-closing points before a finger reports ready
  std::string faults;       ///< fault list, e.g. "error:105" (empty: none)
};

/// Progress of ProgramFlash: (pages sent, pages in all); return false to stop
/// before the next page.
using FlashProgress = std::function<bool(int pagesSent, int pagesTotal)>;

/// The two values of the spasm filter.
struct SpasmFilter {
  std::vector<float> values;  ///< the filter's four values
  int setting = 0;            ///< the filter setting
};

/// One open arm. Every member function runs the flat function of the same
/// name on this arm and throws Error when its result code is not 1.
class TARSEL_API Arm {
 public:
  /// Opens the first arm (a simulated one with TARSEL_SIM=N). Throws Error:
  /// 2002 (no link library), 1001, 1014 (no arm, or no permission to open it),
  /// 1015 (its interface is held by another program).
  Arm();
  /// Opens the arm info describes (from ListArms). Throws as Arm().
  explicit Arm(const ArmInfo& info);
  /// A simulated arm of this process's own, set up by options; no loader path
  /// needed. Throws Error(2002) when the simulator's link library cannot be
  /// found (TARSEL_SIM_LINK names it), Error(2100) for options out of range.
  static Arm Simulated(const SimOptions& options = {});

  ~Arm();  ///< closes the arm; never throws
  /// Takes over other's connection; other is left closed (its calls throw
  /// Error(2001)). No other thread may be inside a member of other (see the
  /// class comment): one that is finishes its command on the connection
  /// this Arm now holds.
  Arm(Arm&& other) noexcept;
  /// Takes over other's connection, then closes the one this arm held, after
  /// a command running on it finishes; other is left closed. No other thread
  /// may be inside a member of this arm or of other (see the class comment):
  /// a command running on the replaced connection finishes on it, and one
  /// starting during the move throws Error(2001) or runs on the arm moved in.
  Arm& operator=(Arm&& other) noexcept;
  Arm(const Arm&) = delete;
  Arm& operator=(const Arm&) = delete;

  /// Closes the arm now. A command running in another thread finishes first;
  /// every later call throws Error(2001). Closing twice is harmless.
  void Close() noexcept;
  bool IsOpen() const noexcept;          ///< false once closed or moved from
  const ArmInfo& Info() const noexcept;  ///< the arm as it was opened

  // --- Positions and read-outs ---------------------------------------------
  /// Each runs the flat function of the same name (tarsel/motion.h) on this
  /// arm: returns what it reads, and throws Error when its result code is not
  /// 1. Units as there: joint angles in degrees, poses in metres and radians,
  /// velocities per second.
  /// @{
  CartesianPosition GetCartesianPosition();  ///< the hand's pose (m, rad) and the fingers
  AngularPosition GetAngularPosition();  ///< the joint angles (deg) and the fingers
  CartesianPosition GetCartesianCommand();  ///< the pose the arm is commanded to (m, rad)
  AngularPosition GetAngularCommand();  ///< the joint angles the arm is commanded to (deg)
  CartesianPosition GetCartesianForce();  ///< the force at the hand, in Cartesian terms
  AngularPosition GetAngularForce();  ///< the joint torques (N m)
  AngularPosition GetAngularCurrent();  ///< the actuators' currents (A)
  AngularPosition GetAngularCurrentMotor();  ///< the motors' currents (A)
  AngularPosition GetAngularVelocity();  ///< the joint velocities (deg/s)
  AngularPosition GetAngularForceGravityFree();  ///< the joint torques with gravity removed (N m)
  AngularAcceleration GetActuatorAcceleration();  ///< the eighteen acceleration values
  /// @}

  // --- Control modes and joystick -----------------------------------------
  /// The flat function of the same name (tarsel/motion.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  void StartControlAPI();  ///< takes control of the arm from the host
  void StopControlAPI();  ///< gives control back
  void SetAngularControl();  ///< steers per joint from now on
  void SetCartesianControl();  ///< steers in Cartesian terms from now on
  int GetControlType();  ///< TARSEL_CARTESIAN_CONTROL or TARSEL_ANGULAR_CONTROL
  SingularityVector GetSingularityVector();  ///< the singularity indicators and vector
  void SendJoystickCommand(const JoystickCommand& command);  ///< sends one joystick sample
  /// The arm's answer: can it switch to Cartesian control.
  unsigned int ValidateCartesianTransition();
  /// @}

  /// Sends the arm home and waits until its queue is empty. When limit passes
  /// first, the queue is erased (the arm stops) and Error(2010) is thrown.
  void MoveHome(std::chrono::milliseconds limit = std::chrono::seconds(60));

  // --- Trajectories ---------------------------------------------------------
  /// The flat function of the same name (tarsel/motion.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1. A point whose Type is
  /// none of the four ::TarselPointType values, or with a NaN or infinite number
  /// where its form sends one, is refused with Error(2100) before anything is sent,
  /// its message saying which value; so are such numbers in the joystick's axes,
  /// the force and impedance limits, PID gains, dev and filter values.
  /// @{
  /// Queues point in full form, with its limits.
  void SendAdvanceTrajectory(const TrajectoryPoint& point);
  /// Queues point in basic form (no limits sent).
  void SendBasicTrajectory(const TrajectoryPoint& point);
  void EraseAllTrajectories();  ///< empties the queue: the arm stops
  TrajectoryFIFO GetGlobalTrajectoryInfo();  ///< the queue: points waiting, its size
  TrajectoryPoint GetActualTrajectoryInfo();  ///< the point the arm is moving to
  /// @}

  // --- Force and impedance control -----------------------------------------
  /// The flat function of the same name (tarsel/motion.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  void StartForceControl();  ///< switches force control on
  void StopForceControl();  ///< switches force control off
  void StartCurrentLimitation();  ///< switches the current limitation on
  void StopCurrentLimitation();  ///< switches the current limitation off
  /// The Cartesian force range of force control.
  void SetCartesianForceMinMax(const CartesianInfo& min, const CartesianInfo& max);
  /// The Cartesian impedance.
  void SetCartesianInertiaDamping(const CartesianInfo& inertia, const CartesianInfo& damping);
  /// Each joint's torque range (N m).
  void SetAngularTorqueMinMax(const AngularInfo& min, const AngularInfo& max);
  /// Each joint's impedance.
  void SetAngularInertiaDamping(const AngularInfo& inertia, const AngularInfo& damping);
  /// @}

  // --- Configuration ----------------------------------------------------------
  /// The flat function of the same name (tarsel/config.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  ClientConfigurations GetClientConfigurations();  ///< the client configuration
  /// Writes the client configuration.
  void SetClientConfigurations(const ClientConfigurations& config);
  ControlMappingCharts GetControlMapping();  ///< the control mapping
  void SetControlMapping(const ControlMappingCharts& charts);  ///< writes the control mapping
  ZoneList GetProtectionZone();  ///< the protection zones the arm keeps out of
  void SetProtectionZone(const ZoneList& zones);  ///< writes the protection zones
  void EraseAllProtectionZones();  ///< removes every protection zone
  /// @}
  /// Texts of at most 20 bytes (Error(2100) when longer), padded with zeros.
  /// @{
  void SetSerialNumber(std::string_view serial);  ///< writes the serial number
  /// Writes the model; accessCode must match (else 2100).
  void SetModel(std::string_view model, std::string_view accessCode);
  /// @}
  /// The flat function of the same name (tarsel/config.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  void SetFrameType(int frameType);  ///< the frame type
  void RestoreFactoryDefault();  ///< the factory settings back
  /// Writes the fourteen dev values (Error(2100) unless 14).
  void SetDevValue(const std::vector<float>& values);
  std::vector<float> GetDevValue();  ///< the fourteen dev values
  /// The spasm filter's four values and setting.
  void SetSpasmFilterValues(const std::vector<float>& values, int filterSetting);
  SpasmFilter GetSpasmFilterValues();  ///< the spasm filter's values and setting
  /// @}

  // --- Status -------------------------------------------------------------------
  /// The flat function of the same name (tarsel/status.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  GeneralInformations GetGeneralInformations();  ///< the arm's general status block
  Gripper GetGripperStatus();  ///< the gripper status
  QuickStatus GetQuickStatus();  ///< the fourteen quick-status values
  ForcesInfo GetForcesInfo();  ///< the twelve force values
  SensorsInfo GetSensorsInfo();  ///< the fourteen sensor values
  unsigned int GetSystemErrorCount();  ///< how many entries the error log holds
  SystemError GetSystemError(unsigned int index);  ///< entry index of the error log (0 first)
  void ClearErrorLog();  ///< empties the error log
  std::vector<PeripheralInfo> GetPeripheralInventory();  ///< the devices on the arm's internal bus
  /// @}
  /// Initialises the fingers. When limit passes first, the queue is erased
  /// and Error(2010) is thrown.
  void InitFingers(std::chrono::milliseconds limit = std::chrono::seconds(30));

  // --- Maintenance ----------------------------------------------------------------
  /// The flat function of the same name (tarsel/maintenance.h) on this arm: returns what it
  /// reads, and throws Error when its result code is not 1.
  /// @{
  void SetJointZero(int address);  ///< takes the actuator's position as its joint zero
  void SetActuatorAddress(int address, int newAddress);  ///< gives an actuator another bus address
  void SetActuatorPID(int address, float p, float i, float d);  ///< an actuator's PID gains
  /// An actuator's PID filter.
  void SetActuatorPIDFilter(int address, float filterP, float filterI, float filterD);
  void SetTorqueZero(int address);  ///< takes the actuator's torque as its torque zero
  void SetTorqueGain(int address, int gain);  ///< an actuator's torque gain
  std::vector<float> GetPositionCurrentActuators();  ///< the twelve position and current values
  std::vector<int> GetAPIVersion();  ///< this library's version: major, minor, patch
  std::vector<int> GetCodeVersion();  ///< the versions of the code on the arm (37 numbers)
  /// @}
  /// Programs the firmware image in the file at path. progress may stop the
  /// transfer between pages (Error(2009) when every page sent was accepted);
  /// an exception it throws stops the transfer and is rethrown here. A
  /// transfer that stops early leaves an incomplete image in the arm.
  void ProgramFlash(const std::string& path, FlashProgress progress = {});

  /// A check asked between the steps of the long operations (MoveHome,
  /// InitFingers, ProgramFlash) on the thread that runs them, about ten times
  /// a second or more: it returns 0 to go on, or a result code to stop with.
  /// A motion that stops erases the trajectory queue (the arm halts); a
  /// firmware transfer stops between pages. Then Error(code) is thrown. For
  /// language bindings that must notice an interrupt; an empty function
  /// removes the check.
  void SetStopCheck(std::function<int()> check);

  /// Runs body with this arm's connection as the calling thread's current one,
  /// so flat functions called inside reach this arm, and throws Error when
  /// body returns a code other than 1. For code that mixes both interfaces.
  void Call(const char* where, const std::function<int()>& body);

 private:
  friend class FlatCallsTo;
  friend class ControlLoop;
  struct Impl;
  /// Closes the arm's link and opens the arm at the same path again, in
  /// place: this Arm, its Info() and a FlatCallsTo to it stay valid, and a
  /// command running in another thread finishes first. Until it succeeds
  /// the arm's commands throw Error(2001). Throws Error: 2001 (closed by
  /// Close() or moved from: not reopened), or what opening throws (1001,
  /// 1014, 1015).
  void Reopen();
  explicit Arm(std::unique_ptr<Impl> impl);
  /// The stop check of a long operation: the user's check, then limit.
  std::function<int()> StopCheckFor(std::chrono::milliseconds limit) const;
  std::unique_ptr<Impl> impl_;
};

/// While one lives, the flat functions of tarsel/tarsel.h reach arm instead of
/// the arm InitAPI opened, from every thread (a thread inside an Arm member
/// still reaches that Arm). For programs written against the flat functions
/// that must choose among several arms: open the Arm, then route the flat
/// calls to it; InitAPI is not needed. arm must outlive the FlatCallsTo and
/// keep its connection (no move into or out of it) meanwhile; one may exist
/// at a time (a second throws Error(2100)).
class TARSEL_API FlatCallsTo {
 public:
  /// Routes the flat functions to arm. Throws Error(2001) when arm was moved
  /// from, Error(2100) while another FlatCallsTo exists.
  explicit FlatCallsTo(Arm& arm);
  ~FlatCallsTo();  ///< routes the flat functions back to the arm InitAPI opened
  FlatCallsTo(const FlatCallsTo&) = delete;
  FlatCallsTo& operator=(const FlatCallsTo&) = delete;
};

}  // namespace tarsel

#endif  // TARSEL_ARM_HPP
