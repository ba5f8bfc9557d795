/** @file
 * Motion and control: position records, read-outs, control modes, joystick,
 * trajectories, force and impedance control. */
#ifndef TARSEL_MOTION_H
#define TARSEL_MOTION_H

#include <cstddef>

#include "tarsel/export.h"

/** @file
 * @details Records are plain values owned by the caller; their memory layout is part
 * of the ABI (pinned by the static_asserts below). Only the six records with
 * InitStruct have defaults; InitStruct sets every field to its default. */

/** One value per actuator of the six-axis arm, actuator 1 first. Its unit is
 * that of what it holds: joint angles in degrees, joint velocities in degrees
 * per second, torques in newton metres, currents in amperes. */
struct TARSEL_API AngularInfo {
  /** The value of each actuator, actuator 1 first. */
  /** @{ */
  float Actuator1, Actuator2, Actuator3, Actuator4, Actuator5, Actuator6;
  /** @} */
  void InitStruct(); /**< all 0.0 */
};

/** Three translational components, then three rotational ones. A pose is
 * X, Y, Z in metres and RotationX, Y, Z in radians (the simulated arm composes
 * them as Rz(RotationZ) Ry(RotationY) Rx(RotationX)); a velocity is in metres
 * and radians per second. */
struct TARSEL_API CartesianInfo {
  /** The three translational components (metres, or metres per second). */
  /** @{ */
  float X, Y, Z;
  /** @} */
  /** The three rotational components (radians, or radians per second). */
  /** @{ */
  float RotationX, RotationY, RotationZ;
  /** @} */
  void InitStruct(); /**< all 0.0 */
};

/** One value per finger of the hand. A finger's position runs from 0 (open)
 * to 6800 (closed), as the simulated arm models it; a finger's velocity is in
 * the same units per second. */
struct TARSEL_API FingersPosition {
  /** The value of each finger, finger 1 first. */
  /** @{ */
  float Finger1, Finger2, Finger3;
  /** @} */
  void InitStruct(); /**< all 0.0 */
};

/** One value per actuator and one per finger, as the angular read-outs fill it. */
struct AngularPosition {
  AngularInfo Actuators;    /**< one value per actuator */
  FingersPosition Fingers;  /**< one value per finger */
};

/** Six Cartesian components and one value per finger, as the Cartesian read-outs fill
 * it. */
struct CartesianPosition {
  CartesianInfo Coordinates; /**< the six Cartesian components */
  FingersPosition Fingers;   /**< one value per finger */
};

/** The eighteen values of the actuator-acceleration read-out, as sent. */
struct AngularAcceleration {
  float Values[18]; /**< in the order the arm sends them */
};

/** The kinds of point a UserPosition's Type names. Each is an int wherever a
 * Type is taken: point.Position.Type = TARSEL_ANGULAR_POSITION is
 * point.Position.Type = 2. Any other value is sent as given (the simulated
 * arm refuses it). */
enum TarselPointType {
  TARSEL_CARTESIAN_POSITION = 1, /**< Coordinates: a pose (metres, radians) */
  TARSEL_ANGULAR_POSITION = 2,   /**< Actuators: joint angles (degrees) */
  TARSEL_CARTESIAN_VELOCITY = 7, /**< Coordinates: metres and radians per second */
  TARSEL_ANGULAR_VELOCITY = 8    /**< Actuators: degrees per second; Fingers: finger velocities */
};

/** The control types GetControlType reads, as the arm reports them. */
enum TarselControlType {
  TARSEL_CARTESIAN_CONTROL = 0, /**< steering in Cartesian terms (SetCartesianControl) */
  TARSEL_ANGULAR_CONTROL = 1    /**< steering per actuator (SetAngularControl) */
};

/** One point as the arm stores, executes and reports it. TARSEL_CARTESIAN_POSITION
 * and TARSEL_CARTESIAN_VELOCITY points use Coordinates, TARSEL_ANGULAR_POSITION
 * and TARSEL_ANGULAR_VELOCITY points use Actuators (see ::TarselPointType). */
struct TARSEL_API UserPosition {
  int Type;                  /**< the kind of point, a ::TarselPointType */
  float Parameter;           /**< sent with the point as given */
  CartesianInfo Coordinates; /**< the point in Cartesian terms (Type 1 and 7) */
  AngularInfo Actuators;     /**< the point per actuator (Type 2 and 8) */
  int FingersMode;           /**< sent with the point as given */
  FingersPosition Fingers;   /**< finger positions, or velocities in a velocity point */
  void InitStruct(); /**< Type 1 (TARSEL_CARTESIAN_POSITION), FingersMode 1, everything else 0.0 */
};

/** Nine limit values sent with a full trajectory point. */
struct TARSEL_API Limitation {
  /** The nine limits, sent in this order. */
  /** @{ */
  float Limit1, Limit2, Limit3, Limit4, Limit5, Limit6, Limit7, Limit8, Limit9;
  /** @} */
  void InitStruct(); /**< all 0.0 */
};

/** One trajectory point with its limits. */
struct TARSEL_API TrajectoryPoint {
  UserPosition Position; /**< the point itself */
  int LimitationFlag;    /**< sent with Limits in the full form only (SendAdvanceTrajectory) */
  Limitation Limits;     /**< sent in the full form only */
  void InitStruct(); /**< Position defaults, LimitationFlag 0, limits 0.0 */
};

/** One joystick sample; the library only copies its bits. */
struct JoystickCommand {
  short Buttons[16]; /**< the sixteen buttons */
  /** The six axes. */
  /** @{ */
  float Axis1, Axis2, Axis3, Axis4, Axis5, Axis6;
  /** @} */
};

/** State of the arm's trajectory queue. */
struct TrajectoryFIFO {
  int PointCount; /**< points still queued; 0 when empty */
  /** The queue's two status values, as the arm sends them. */
  /** @{ */
  float StatusFloat;
  int StatusInt;
  /** @} */
};

/** Answer of GetSingularityVector. */
struct SingularityVector {
  int Indicator1;        /**< as the arm sends it */
  int Indicator2;        /**< sent as a float, truncated toward zero */
  float Measure1;        /**< as the arm sends it */
  float Measure2;        /**< as the arm sends it */
  CartesianInfo Vector;  /**< the six components of the answer's vector */
};

static_assert(sizeof(AngularInfo) == 24, "AngularInfo layout");
static_assert(sizeof(CartesianInfo) == 24, "CartesianInfo layout");
static_assert(offsetof(CartesianInfo, RotationX) == 12, "CartesianInfo layout");
static_assert(sizeof(FingersPosition) == 12, "FingersPosition layout");
static_assert(sizeof(AngularPosition) == 36, "AngularPosition layout");
static_assert(offsetof(AngularPosition, Fingers) == 24, "AngularPosition layout");
static_assert(sizeof(CartesianPosition) == 36, "CartesianPosition layout");
static_assert(offsetof(CartesianPosition, Fingers) == 24, "CartesianPosition layout");
static_assert(sizeof(AngularAcceleration) == 72, "AngularAcceleration layout");
static_assert(sizeof(UserPosition) == 72, "UserPosition layout");
static_assert(offsetof(UserPosition, Parameter) == 4, "UserPosition layout");
static_assert(offsetof(UserPosition, Coordinates) == 8, "UserPosition layout");
static_assert(offsetof(UserPosition, Actuators) == 32, "UserPosition layout");
static_assert(offsetof(UserPosition, FingersMode) == 56, "UserPosition layout");
static_assert(offsetof(UserPosition, Fingers) == 60, "UserPosition layout");
static_assert(sizeof(Limitation) == 36, "Limitation layout");
static_assert(sizeof(TrajectoryPoint) == 112, "TrajectoryPoint layout");
static_assert(offsetof(TrajectoryPoint, LimitationFlag) == 72, "TrajectoryPoint layout");
static_assert(offsetof(TrajectoryPoint, Limits) == 76, "TrajectoryPoint layout");
static_assert(sizeof(JoystickCommand) == 56, "JoystickCommand layout");
static_assert(offsetof(JoystickCommand, Axis1) == 32, "JoystickCommand layout");
static_assert(sizeof(TrajectoryFIFO) == 12, "TrajectoryFIFO layout");
static_assert(sizeof(SingularityVector) == 40, "SingularityVector layout");
static_assert(offsetof(SingularityVector, Vector) == 16, "SingularityVector layout");

/** @file
 * @details Unless stated otherwise, every function below returns 1 on success, 2001
 * when InitAPI has not opened the arm (nothing is sent), or the exchange codes
 * 2003 (the arm refused the first packet), 2004 (the arm reported an error),
 * 2005 (the arm refused a later packet) and 2008 (no answer from the arm: a
 * time-out, an unplugged cable). Each command's packets go out together even
 * when other threads call in at the same time (see tarsel/core.h).
 * Reads also return 2007 for an answer whose size is invalid. Any function
 * may also return 5002 (TARSEL_ERROR_NO_MEMORY) when the library runs out of
 * memory while building a command or collecting an answer (a write then sends
 * nothing). A read fills the caller's record even when it fails (fields that
 * did not arrive read as 0); trust the record only when the result is 1.
 * Records passed by value are copied; records passed by reference stay owned
 * by the caller, and the library keeps no reference to them once it returns.
 * Values travel unchanged: no unit is converted and no range checked. */
extern "C" {

/* --- Read-outs: each reads one answer from the arm into the caller's
 * record. --- */
TARSEL_API int GetCartesianPosition(CartesianPosition& position);  /**< hand pose (m, rad) */
TARSEL_API int GetAngularPosition(AngularPosition& position);      /**< joint angles (deg) */
TARSEL_API int GetCartesianCommand(CartesianPosition& command);    /**< commanded pose (m, rad) */
TARSEL_API int GetAngularCommand(AngularPosition& command);        /**< commanded joints (deg) */
TARSEL_API int GetCartesianForce(CartesianPosition& force);        /**< Cartesian force */
TARSEL_API int GetAngularForce(AngularPosition& force);            /**< joint torques (N m) */
TARSEL_API int GetAngularCurrent(AngularPosition& current);        /**< actuator currents (A) */
TARSEL_API int GetAngularCurrentMotor(AngularPosition& current);   /**< motor currents (A) */
TARSEL_API int GetAngularVelocity(AngularPosition& velocity);      /**< joint velocities (deg/s) */
TARSEL_API int GetAngularForceGravityFree(AngularPosition& force); /**< torques, gravity removed */
/** The eighteen acceleration values, in the order the arm sends them. */
TARSEL_API int GetActuatorAcceleration(AngularAcceleration& acceleration);

/* --- Control modes and joystick. --- */
TARSEL_API int StartControlAPI();     /**< take control of the arm from the host */
TARSEL_API int StopControlAPI();      /**< give control back */
TARSEL_API int SetAngularControl();   /**< steer per actuator */
TARSEL_API int SetCartesianControl(); /**< steer in Cartesian terms */
/** Reads the active control type into type (the arm's value, unchanged):
 * TARSEL_CARTESIAN_CONTROL or TARSEL_ANGULAR_CONTROL. */
TARSEL_API int GetControlType(int& type);
/** Reads the singularity indicators and vector. Indicator2 arrives as a float
 * and is truncated toward zero (NaN or beyond the int range: INT_MIN). */
TARSEL_API int GetSingularityVector(SingularityVector& vector);
/** Sends one joystick sample (one packet); the library repeats nothing and
 * keeps no joystick state. */
TARSEL_API int SendJoystickCommand(JoystickCommand command);
/** Sends the arm home and blocks until its trajectory queue is empty (polling
 * it every 100 ms after a 40 ms pause), then switches to angular and, 40 ms
 * later, back to Cartesian control, so the arm is left in Cartesian control.
 * While the queue query keeps succeeding the wait has no time limit. A failed
 * queue query ends the wait at once; the two mode switches are still sent.
 * Returns the home command's code (any code above, a failure included: the
 * move still waits and switches), or, when the home command succeeded but a
 * queue query failed, that query's code (2001, 2003, 2004, 2005, 2007,
 * 5002). The results of the two mode switches are not reported. */
TARSEL_API int MoveHome();

/* --- Trajectories: the arm keeps the queue; the library holds nothing. --- */
/** Queues a point in full form: position, LimitationFlag and Limits (three
 * packets). Any Type is sent as given. */
TARSEL_API int SendAdvanceTrajectory(TrajectoryPoint point);
/** Queues a point in basic form (one packet): for the Cartesian Types (1, 7)
 * Coordinates, for the angular ones (2, 8) Actuators, then Fingers, Parameter,
 * FingersMode and Type; other Types carry no coordinate block. LimitationFlag
 * and Limits are not sent. */
TARSEL_API int SendBasicTrajectory(TrajectoryPoint point);
TARSEL_API int EraseAllTrajectories(); /**< empties the arm's queue */
/** Reads the queue's state; PointCount is 0 when the queue is empty. */
TARSEL_API int GetGlobalTrajectoryInfo(TrajectoryFIFO& fifo);
/** Reads back the point being executed; LimitationFlag arrives as a float and
 * is truncated toward zero (NaN or beyond the int range: INT_MIN). */
TARSEL_API int GetActualTrajectoryInfo(TrajectoryPoint& point);

/* --- Force and impedance control: the arm keeps these settings; the library
 * holds none and reads none back. The settings send their first record
 * followed by the second in one packet; the two are not compared. --- */
TARSEL_API int StartForceControl();      /**< switch force control on */
TARSEL_API int StopForceControl();       /**< switch force control off */
TARSEL_API int StartCurrentLimitation(); /**< switch the current limitation on */
TARSEL_API int StopCurrentLimitation();  /**< switch the current limitation off */
/** Bounds of force control in Cartesian terms: min, then max. */
TARSEL_API int SetCartesianForceMinMax(CartesianInfo min, CartesianInfo max);
/** Impedance of force control in Cartesian terms: inertia, then damping. */
TARSEL_API int SetCartesianInertiaDamping(CartesianInfo inertia, CartesianInfo damping);
/** Torque bounds of force control per actuator: min, then max. */
TARSEL_API int SetAngularTorqueMinMax(AngularInfo min, AngularInfo max);
/** Impedance of force control per actuator: inertia, then damping. */
TARSEL_API int SetAngularInertiaDamping(AngularInfo inertia, AngularInfo damping);

}  // extern "C"

/** Asks the arm whether it can switch to Cartesian control; answer receives
 * the arm's value unchanged. Exported as a C++ function (its symbol carries
 * the argument type), not under a plain name. Result codes as above. */
TARSEL_API int ValidateCartesianTransition(unsigned int& answer);

#endif /* TARSEL_MOTION_H */
