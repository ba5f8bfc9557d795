/** @file
 * Status and diagnostics: general information, gripper status, quick status,
 * forces and sensors, the error log, the peripheral inventory and the
 * host-driven finger initialisation. */
#ifndef TARSEL_STATUS_H
#define TARSEL_STATUS_H

#include <cstddef>
#include <vector>

#include "tarsel/export.h"
#include "tarsel/motion.h"

/** @file
 * @details The records below are plain values owned by the caller, without defaults;
 * the library only writes into them. Their memory layout is part of the ABI
 * (pinned by the static_asserts after each record). Fields follow the order in
 * which the arm sends them; stretches of the answer the arm reserves have no
 * field. The library gives none of the values a meaning: the arm defines them.
 */

/** The arm's large status block: scalar values of several widths, four stored
 * positions, and per-actuator (6) and per-finger (3) arrays. */
struct GeneralInformations {
  /** One of the block's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  double DoubleValue1, DoubleValue2;
  unsigned int UIntValue1, UIntValue2;
  float FloatValue1, FloatValue2, FloatValue3, FloatValue4, FloatValue5, FloatValue6;
  float FloatValue7, FloatValue8, FloatValue9, FloatValue10, FloatValue11, FloatValue12;
  unsigned int UIntValue3, UIntValue4;
  unsigned short UShortValue1, UShortValue2, UShortValue3, UShortValue4, UShortValue5, UShortValue6;
  unsigned short UShortValue7, UShortValue8, UShortValue9, UShortValue10, UShortValue11,
      UShortValue12;
  unsigned int UIntValue5, UIntValue6, UIntValue7, UIntValue8, UIntValue9, UIntValue10;
  unsigned int UIntValue11, UIntValue12, UIntValue13, UIntValue14, UIntValue15;
  UserPosition Position1, Position2, Position3, Position4;
  float FloatValue13, FloatValue14, FloatValue15, FloatValue16, FloatValue17;
  float FloatValue18, FloatValue19, FloatValue20, FloatValue21;
  float FloatArray1[6];
  float FloatArray2[3];
  short ShortArray[16];
  float FloatValue22, FloatValue23, FloatValue24, FloatValue25, FloatValue26, FloatValue27;
  unsigned int UIntArray1[4];
  unsigned int UIntArray2[4];
  float FloatArray3[6];
  float FloatArray4[3];
  float FloatArray5[3];
  int IntArray1[6];
  int IntArray2[3];
  int IntValue1;
  double DoubleValue3, DoubleValue4;
  /** @} */
};

static_assert(offsetof(GeneralInformations, UIntValue1) == 16, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatValue1) == 24, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UIntValue3) == 72, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UShortValue1) == 80, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UIntValue5) == 104, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UIntValue15) == 144, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, Position1) == 148, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, Position4) == 364, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatValue13) == 436, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatArray1) == 472, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatArray2) == 496, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, ShortArray) == 508, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatValue22) == 540, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UIntArray1) == 564, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, UIntArray2) == 580, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatArray3) == 596, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatArray4) == 620, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, FloatArray5) == 632, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, IntArray1) == 644, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, IntArray2) == 668, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, IntValue1) == 680, "GeneralInformations layout");
/* The doubles keep their natural 8-byte alignment: 4 bytes of padding
 * follow IntValue1. */
static_assert(offsetof(GeneralInformations, DoubleValue3) == 688, "GeneralInformations layout");
static_assert(offsetof(GeneralInformations, DoubleValue4) == 696, "GeneralInformations layout");
static_assert(sizeof(GeneralInformations) == 704, "GeneralInformations layout");

/** One finger's status block. */
struct Finger {
  char Text[20]; /**< copied byte for byte; not necessarily terminated */
  /** One of the block's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  float FloatValue1, FloatValue2, FloatValue3, FloatValue4;
  float FloatValue5, FloatValue6, FloatValue7, FloatValue8;
  /** @} */
  /** Sent by the arm as a float, truncated toward zero (NaN or beyond the int
   * range: INT_MIN). */
  int IntValue1;
  /** One of the block's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  int IntValue2;
  float FloatValue9, FloatValue10, FloatValue11, FloatValue12, FloatValue13, FloatValue14;
  float FloatValue15, FloatValue16, FloatValue17, FloatValue18, FloatValue19;
  unsigned int UIntValue1, UIntValue2;
  short ShortValue1, ShortValue2, ShortValue3, ShortValue4;
  /** @} */
};

static_assert(offsetof(Finger, FloatValue1) == 20, "Finger layout");
static_assert(offsetof(Finger, IntValue1) == 52, "Finger layout");
static_assert(offsetof(Finger, IntValue2) == 56, "Finger layout");
static_assert(offsetof(Finger, FloatValue9) == 60, "Finger layout");
static_assert(offsetof(Finger, UIntValue1) == 104, "Finger layout");
static_assert(offsetof(Finger, ShortValue1) == 112, "Finger layout");
static_assert(sizeof(Finger) == 120, "Finger layout");

/** The gripper's status: a text and one block per finger, finger 1 first. */
struct Gripper {
  char Text[20]; /**< copied byte for byte; not necessarily terminated */
  Finger Fingers[3]; /**< one block per finger, finger 1 first */
};

static_assert(offsetof(Gripper, Fingers) == 20, "Gripper layout");
static_assert(sizeof(Gripper) == 380, "Gripper layout");

/** The hand types QuickStatus::HandType reports. The library takes any value
 * but TARSEL_HAND_THREE_FINGERS for a two-finger hand, so test
 * HandType != TARSEL_HAND_THREE_FINGERS rather than HandType ==
 * TARSEL_HAND_TWO_FINGERS. */
enum TarselHandType {
  TARSEL_HAND_THREE_FINGERS = 0, /**< a three-finger hand */
  TARSEL_HAND_TWO_FINGERS = 2    /**< a two-finger hand, as the simulated arm reports it */
};

/** Fourteen status bytes. InitFingers reads the three finger flags (nonzero
 * once the finger is initialised) and HandType (0: three fingers, anything
 * else: two fingers); the library interprets no other byte. */
struct QuickStatus {
  /** Nonzero once the finger is initialised. */
  /** @{ */
  unsigned char Finger1Initialized;
  unsigned char Finger2Initialized;
  unsigned char Finger3Initialized;
  /** @} */
  /** A status byte as the arm sends it; the library interprets none of these. */
  /** @{ */
  unsigned char StatusByte3;
  unsigned char StatusByte4;
  unsigned char StatusByte5;
  unsigned char StatusByte6;
  unsigned char StatusByte7;
  unsigned char StatusByte8;
  unsigned char StatusByte9;
  unsigned char StatusByte10;
  /** @} */
  unsigned char HandType; /**< a ::TarselHandType: 0 three fingers, anything else two */
  /** A status byte as the arm sends it; the library interprets none of these. */
  /** @{ */
  unsigned char StatusByte12;
  unsigned char StatusByte13;
  /** @} */
};

static_assert(offsetof(QuickStatus, StatusByte3) == 3, "QuickStatus layout");
static_assert(offsetof(QuickStatus, HandType) == 11, "QuickStatus layout");
static_assert(sizeof(QuickStatus) == 14, "QuickStatus layout");

/** Twelve force values, copied bit for bit (NaN patterns included). */
struct ForcesInfo {
  /** One of the force values, in the order the arm sends them. */
  /** @{ */
  float Force1, Force2, Force3, Force4, Force5, Force6;
  float Force7, Force8, Force9, Force10, Force11, Force12;
  /** @} */
};

static_assert(offsetof(ForcesInfo, Force12) == 44, "ForcesInfo layout");
static_assert(sizeof(ForcesInfo) == 48, "ForcesInfo layout");

/** Fourteen sensor values. */
struct SensorsInfo {
  /** One of the sensor values, in the order the arm sends them. */
  /** @{ */
  float Sensor1, Sensor2, Sensor3, Sensor4, Sensor5, Sensor6, Sensor7;
  float Sensor8, Sensor9, Sensor10, Sensor11, Sensor12, Sensor13, Sensor14;
  /** @} */
};

static_assert(offsetof(SensorsInfo, Sensor14) == 52, "SensorsInfo layout");
static_assert(sizeof(SensorsInfo) == 56, "SensorsInfo layout");

/** One entry of the arm's error log. On the wire the seven flag bytes are
 * packed, so every later field starts at an odd offset; in memory the
 * fields keep their natural alignment (one padding byte after Flags). */
struct SystemError {
  /** One of the entry's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  unsigned int UIntValue1;
  int IntValue1;
  int IntValue2;
  int IntValue3;
  unsigned int UIntValue2;
  /** @} */
  bool Flags[7]; /**< each from one byte: nonzero is true */
  /** One of the entry's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  int IntValue4;
  int IntValue5;
  unsigned int UIntArray[50];
  /** @} */
};

static_assert(offsetof(SystemError, UIntValue2) == 16, "SystemError layout");
static_assert(offsetof(SystemError, Flags) == 20, "SystemError layout");
static_assert(offsetof(SystemError, IntValue4) == 28, "SystemError layout");
static_assert(offsetof(SystemError, IntValue5) == 32, "SystemError layout");
static_assert(offsetof(SystemError, UIntArray) == 36, "SystemError layout");
static_assert(sizeof(SystemError) == 236, "SystemError layout");

/** One entry of the peripheral inventory. */
struct TARSEL_API PeripheralInfo {
  /** One of the entry's values, in the order the arm sends them; the arm defines their meaning. */
  /** @{ */
  unsigned int UIntValue1;
  unsigned int UIntValue2;
  unsigned int UIntValue3;
  unsigned int UIntValue4;
  unsigned int UIntValue5;
  /** @} */
  ~PeripheralInfo(); /**< does nothing; defined in the library */
};

static_assert(offsetof(PeripheralInfo, UIntValue5) == 16, "PeripheralInfo layout");
static_assert(sizeof(PeripheralInfo) == 20, "PeripheralInfo layout");

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
 * nothing). A read fills the caller's record even when it fails, from the part
 * of the answer that arrived and with zeros in place of the rest; trust the
 * record only when the result is 1. Records and lists passed by reference
 * stay owned by the caller, and the library keeps no reference to them once
 * it returns. */
extern "C" {

/* --- General information and gripper status. --- */
/** Reads the general status block (832 bytes on the wire) into info. */
TARSEL_API int GetGeneralInformations(GeneralInformations& info);
/** Reads the gripper status (416 bytes on the wire) into gripper. */
TARSEL_API int GetGripperStatus(Gripper& gripper);

/* --- Quick status, forces and sensors. --- */
/** Reads the fourteen quick-status bytes into status (answer bytes 0 to 14;
 * byte 3 is reserved by the arm and not stored). */
TARSEL_API int GetQuickStatus(QuickStatus& status);
/** Reads the twelve force values into forces, each copied bit for bit. */
TARSEL_API int GetForcesInfo(ForcesInfo& forces);
/** Reads the fourteen sensor values into sensors. */
TARSEL_API int GetSensorsInfo(SensorsInfo& sensors);

/* --- Error log. --- */
/** Reads the number of entries in the arm's error log into count. */
TARSEL_API int GetSystemErrorCount(unsigned int& count);
/** Reads entry index of the error log into error. The index is sent as
 * given; an index that names no entry is answered by the arm. */
TARSEL_API int GetSystemError(unsigned int index, SystemError& error);
/** Empties the arm's error log. */
TARSEL_API int ClearErrorLog();

/* --- Peripheral inventory and finger initialisation. --- */
/** Reads the arm's table of fifteen peripherals and appends the fifteen
 * entries to the end of list (the caller's list; entries already in it stay
 * in front). When the exchange fails nothing is appended and list is left as
 * it was. */
TARSEL_API int GetPeripheralInventory(std::vector<PeripheralInfo>& list);

/** Initialises the hand's fingers from the host and blocks until done. Reads
 * the quick status to learn the hand type, then, until the fingers report
 * themselves initialised (fingers 1 to 3 on a three-finger hand, fingers 1 and
 * 2 on a two-finger hand) or 1000 cycles have passed, sends one basic
 * trajectory point closing the fingers, reads the quick status again and
 * pauses 6 ms. Finally empties the trajectory queue and pauses 40 ms. Takes
 * up to about six seconds.
 * Returns 1 once the loop has ended, whether the flags came up or the cycle
 * limit was reached: read the quick status to learn which. Refusals from the
 * arm inside the loop and a failure of the final erase are not reported (a
 * status read that failed cannot end the loop). When an exchange in the loop
 * gets no answer (2008), or the link is closed from another thread (2001),
 * the loop stops at once, the erase and the 40 ms pause still follow, and
 * that code is returned: a silent arm ends the call within about 0.2 s
 * instead of running out the 1000 cycles. When the first quick-status read
 * fails, returns its code (2001, 2003, 2004, 2005, 2007, 2008, 5002) at once:
 * no point is sent, the queue is not touched and there is no pause. */
TARSEL_API int InitFingers();

}  // extern "C"

#endif /* TARSEL_STATUS_H */
