/** @file
 * Configuration: the client configuration block, the control-mapping charts,
 * the protection zones, and identity, factory and filter settings. */
#ifndef TARSEL_CONFIG_H
#define TARSEL_CONFIG_H

#include <cstddef>
#include <vector>

#include "tarsel/export.h"
#include "tarsel/motion.h"

/** @file
 * @details The records below are plain values owned by the caller, without defaults;
 * the library carries their fields to and from the arm unchanged and gives
 * them no meaning of its own. Their memory layout is part of the ABI (pinned
 * by the static_asserts below). */

/** Most stored positions a client configuration carries. */
#define TARSEL_MAX_STORED_POSITIONS 20

/** The arm's block of client settings. */
struct ClientConfigurations {
  /** the five texts: 20 bytes each, no terminator required */
  /** @{ */
  char Text1[20];
  char Text2[20];
  char Text3[20];
  char Text4[20];
  char Text5[20];
  /** @} */
  /** Carried unchanged; the arm defines its meaning. */
  /** @{ */
  int IntValue1;
  float FloatValue1;
  float FloatValue2;
  float FloatValue3;
  float FloatValue4;
  float FloatValue5;
  float FloatValue6;
  float FloatValue7;
  int IntValue2;
  float FloatValue8;
  /** @} */
  /** Valid entries of StoredPositions. Entries 0 to StoredPositionCount - 1
   * (at most 20) are carried in both directions; a count of 0 or less carries
   * none. The count itself travels unchanged, also when above 20. */
  int StoredPositionCount;
  UserPosition StoredPositions[TARSEL_MAX_STORED_POSITIONS]; /**< see StoredPositionCount */
  /** Carried unchanged; the arm defines its meaning. */
  /** @{ */
  float FloatValue9;
  int IntValue3;
  float FloatValue10;
  int IntValue4;
  int IntValue5;
  int IntValue6;
  /** @} */
  unsigned char Reserved[792]; /**< never read or written by the library */
};

/** One entry of a control-mapping chart. */
struct ControlMappingEntry {
  int EntryValue1;                /**< Carried unchanged; the arm defines its meaning. */
  int EntryValue2; /**< sent as its 4 raw bytes; a read leaves it unchanged */
  unsigned char BytePairs[6][2];  /**< six pairs of bytes, carried unchanged */
  unsigned char ByteGroups[26][7]; /**< twenty-six groups of seven bytes, carried unchanged */
};

/** One control-mapping chart. */
struct ControlMapping {
  /** Carried unchanged; the arm defines its meaning. */
  /** @{ */
  int MappingValue1;
  int MappingValue2;
  int MappingValue3;
  int MappingValue4;
  int MappingValue5;
  /** @} */
  ControlMappingEntry FirstEntries[6];  /**< the first six entries */
  ControlMappingEntry SecondEntries[6]; /**< the second six entries */
};

/** The arm's whole set of control-mapping charts. */
struct ControlMappingCharts {
  int ChartsValue1; /**< sent as its 4 raw bytes; a read leaves it unchanged */
  int ChartsValue2;           /**< Carried unchanged; the arm defines its meaning. */
  ControlMapping Mappings[6]; /**< the six charts */
};

/** One protection zone: eight points and nine parameters. */
struct Zone {
  /** Carried unchanged; the arm defines its meaning. */
  /** @{ */
  int ZoneValue1;
  int ZoneValue2;
  int ZoneValue3;
  int ZoneValue4;
  /** @} */
  CartesianInfo Points[8]; /**< the zone's eight points */
  float Parameters[9];     /**< the zone's nine parameters */
  int ZoneValue5;          /**< Carried unchanged; the arm defines its meaning. */
};

/** The arm's list of protection zones; all ten are always carried, whatever
 * ListValue1 holds. */
struct ZoneList {
  int ListValue1; /**< Carried unchanged; the arm defines its meaning. */
  int ListValue2; /**< Carried unchanged; the arm defines its meaning. */
  Zone Zones[10]; /**< the ten zones */
};

static_assert(sizeof(ClientConfigurations) == 2400, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, Text2) == 20, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, Text5) == 80, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, IntValue1) == 100, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, FloatValue1) == 104, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, IntValue2) == 132, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, FloatValue8) == 136, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, StoredPositionCount) == 140,
              "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, StoredPositions) == 144,
              "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, FloatValue9) == 1584, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, IntValue3) == 1588, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, FloatValue10) == 1592, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, IntValue6) == 1604, "ClientConfigurations layout");
static_assert(offsetof(ClientConfigurations, Reserved) == 1608, "ClientConfigurations layout");
static_assert(sizeof(ControlMappingEntry) == 204, "ControlMappingEntry layout");
static_assert(offsetof(ControlMappingEntry, EntryValue2) == 4, "ControlMappingEntry layout");
static_assert(offsetof(ControlMappingEntry, BytePairs) == 8, "ControlMappingEntry layout");
static_assert(offsetof(ControlMappingEntry, ByteGroups) == 20, "ControlMappingEntry layout");
static_assert(sizeof(ControlMapping) == 2468, "ControlMapping layout");
static_assert(offsetof(ControlMapping, FirstEntries) == 20, "ControlMapping layout");
static_assert(offsetof(ControlMapping, SecondEntries) == 1244, "ControlMapping layout");
static_assert(sizeof(ControlMappingCharts) == 14816, "ControlMappingCharts layout");
static_assert(offsetof(ControlMappingCharts, ChartsValue2) == 4, "ControlMappingCharts layout");
static_assert(offsetof(ControlMappingCharts, Mappings) == 8, "ControlMappingCharts layout");
static_assert(sizeof(Zone) == 248, "Zone layout");
static_assert(offsetof(Zone, Points) == 16, "Zone layout");
static_assert(offsetof(Zone, Parameters) == 208, "Zone layout");
static_assert(offsetof(Zone, ZoneValue5) == 244, "Zone layout");
static_assert(sizeof(ZoneList) == 2488, "ZoneList layout");
static_assert(offsetof(ZoneList, Zones) == 8, "ZoneList layout");

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
 * nothing). 2100 (TARSEL_ERROR_ARGUMENT) means an argument was refused before
 * anything was sent. A read fills the caller's record even when it fails
 * (fields that did not arrive read as 0; the fields a function names as kept
 * keep their contents); trust the record only when the result is 1. Records
 * and vectors passed by value are copied; those passed by pointer or
 * reference stay owned by the caller, and the library keeps no reference to
 * them once it returns. */
extern "C" {

/* --- Client configurations. --- */
/** Reads the arm's client configuration into *config: the texts, the numeric
 * settings and StoredPositionCount, the stored positions below that count (at
 * most 20); the other stored positions and Reserved keep their contents.
 * Returns 2100 with nothing sent when config is null. */
TARSEL_API int GetClientConfigurations(ClientConfigurations* config);
/** Writes the whole client configuration (3040 bytes in 55 packets); stored
 * positions at and beyond StoredPositionCount go out as zeros, Reserved is not
 * sent. */
TARSEL_API int SetClientConfigurations(ClientConfigurations config);

/* --- Control mapping. --- */
/** Reads the six charts into *charts. ChartsValue1 and every EntryValue2 keep
 * their contents. Returns 2100 with nothing sent when charts is null. */
TARSEL_API int GetControlMapping(ControlMappingCharts* charts);
/** Writes the six charts (14816 bytes in 265 packets). */
TARSEL_API int SetControlMapping(ControlMappingCharts charts);

/* --- Protection zones. --- */
/** Reads all ten zones into *list. Returns 2100 with nothing sent when list is
 * null. */
TARSEL_API int GetProtectionZone(ZoneList* list);
/** Writes all ten zones (4408 bytes in 79 packets). */
TARSEL_API int SetProtectionZone(ZoneList list);
/** Tells the arm to clear its protection zones (one empty command). */
TARSEL_API int EraseAllProtectionZones();

/* --- Identity, factory and filter settings. --- */
/** Writes the arm's serial number: the 20 bytes of serialNumber exactly as
 * they stand, whatever follows a terminator. The buffer must hold 20 bytes
 * and is not modified. Returns 2100 with nothing sent when it is null. */
TARSEL_API int SetSerialNumber(char* serialNumber);
/** Writes the arm's model text: the 20 bytes of model as they stand (the
 * buffer must hold 20 bytes). Guarded by the access code "M7Q4ZK2": accessCode
 * must be exactly these seven characters followed by a NUL; any other text
 * (also a longer one starting with the code, or the empty text) returns 2100
 * with nothing sent. A null model or accessCode also returns 2100. Neither
 * buffer is modified. */
TARSEL_API int SetModel(char* model, char* accessCode);
/** Writes the frame type as a 32-bit integer. */
TARSEL_API int SetFrameType(int frameType);
/** Restores the arm's factory defaults (one empty command). */
TARSEL_API int RestoreFactoryDefault();
/** Writes the fourteen dev values. Returns 2100 with nothing sent unless
 * values holds exactly 14 elements. */
TARSEL_API int SetDevValue(std::vector<float> values);
/** Reads the fourteen dev values into elements 0 to 13 of values; the rest of
 * the vector is left alone. Returns 2100 with nothing sent when values holds
 * fewer than 14 elements (the vector is never resized). */
TARSEL_API int GetDevValue(std::vector<float>& values);
/** Writes the spasm-filter setting and its four values. Returns 2100 with
 * nothing sent unless values holds exactly 4 elements. */
TARSEL_API int SetSpasmFilterValues(std::vector<float> values, int filterSetting);
/** Reads the spasm-filter setting into filterSetting and its four values into
 * elements 0 to 3 of values; the rest of the vector is left alone. Returns
 * 2100 with nothing sent when values holds fewer than 4 elements. */
TARSEL_API int GetSpasmFilterValues(std::vector<float>& values, int& filterSetting);

}  // extern "C"

#endif /* TARSEL_CONFIG_H */
