/** @file
 * The Tarsel arm host API: include this one header to use the library.
 *
 * Link against Tarsel.API.ArmControlUbuntu.so (CMake: Tarsel::ArmControl,
 * pkg-config: tarsel-arm-control). Call InitAPI first and CloseAPI last;
 * every function returns an int result code, TARSEL_OK (1) on success, and
 * GetResultMessage turns any code into text. Functions block until the arm
 * has answered; they may be called from several threads at once (see
 * tarsel/core.h). C++17 programs may prefer tarsel/arm.hpp: an Arm object per
 * arm, records returned by value, errors as exceptions. */
#ifndef TARSEL_TARSEL_H
#define TARSEL_TARSEL_H

#include "tarsel/config.h"
#include "tarsel/core.h"
#include "tarsel/export.h"
#include "tarsel/maintenance.h"
#include "tarsel/motion.h"
#include "tarsel/packet.h"
#include "tarsel/result.h"
#include "tarsel/status.h"

#endif /* TARSEL_TARSEL_H */
