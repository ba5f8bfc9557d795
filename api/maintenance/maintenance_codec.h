// Payload forms of the actuator maintenance commands. Each serializer appends
// its form to the payload's end, advances offset by the form's size and
// returns 1.
#pragma once

#include <vector>

#include "core/payload.h"

// 4 bytes: the address as an unsigned 32-bit value (also the frame type).
TARSEL_API int SerializeActuatorAddress(int& offset, Payload& payload, unsigned int address);
