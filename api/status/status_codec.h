// Payload forms of the status records. Each decoder reads its form from
// offset on, leaves offset just past it (the quick status excepted) and
// returns 1. Fields lying past the payload's end read as zero; nothing outside
// the payload is touched.
#pragma once

#include <vector>

#include "core/exchange.h"
#include "core/payload.h"
#include "tarsel/status.h"

// 832 bytes: 4 reserved bytes at 148, then the four positions in their
// 104-byte form from 152 on.
TARSEL_API int DeserializeGeneralInformations(int& offset, const Payload& payload,
                                              GeneralInformations& out);
// 416 bytes: the 20-byte text, then three 132-byte finger blocks.
TARSEL_API int DeserializeGripper(int& offset, const Payload& payload, Gripper& out);
// 132 bytes: IntValue1 arrives as a float and is truncated toward zero;
// bytes 104 to 115 of the block are reserved.
TARSEL_API int DeserializeFinger(int& offset, const Payload& payload, Finger& out);

// Reads payload bytes 0 to 14 (byte 3 is reserved) whatever offset holds, and
// leaves offset unchanged.
TARSEL_API int DeserializeQuickStatus(int& offset, const Payload& payload, QuickStatus& out);
// 48 bytes, each force copied bit for bit.
TARSEL_API int DeserializeForcesInfo(int& offset, const Payload& payload, ForcesInfo& out);
// 56 bytes.
TARSEL_API int DeserializeSensorsInfo(int& offset, const Payload& payload, SensorsInfo& out);

// 235 bytes: five 32-bit values, seven flag bytes, then the rest at odd
// offsets.
TARSEL_API int DeserializeSystemError(int& offset, const Payload& payload, SystemError& out);

// 300 bytes: fifteen 20-byte entries, appended to the end of list.
TARSEL_API int DeserializePeripheralInventory(int& offset, const Payload& payload,
                                              std::vector<PeripheralInfo>& list);
