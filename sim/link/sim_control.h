// Control of the simulated arm behind the drop-in link library
// "Tarsel.API.CommLayerUbuntu.so" built in sim/lib. A program that links that
// library (or loads it before InitAPI) reaches the very arm the API talks to.
#pragma once

#include "simulated_arm.h"
#include "tarsel/comm_layer.h"

namespace tarsel::sim {

// The process-wide simulated arm the link answers from. Created on first use,
// configured from the TARSEL_SIM_* variables. InitCommunication applies the
// variables that are set again each time it runs; what a program set in code
// stays unless a variable overrides it (TARSEL_SIM_FAULT, even empty,
// replaces every fault).
TARSEL_API SimulatedArm& Instance();

// The arm behind a handle of this library (from TarselLinkOpenArm or
// TarselSimCreateArm); null for a null handle and for an arm of the
// simulator service (TARSEL_SIM_SOCKET), which lives in another process.
// Instance() is the arm of "sim:1" in this process.
TARSEL_API SimulatedArm* ArmOf(TarselArmLink* link);

// Whether the link is open: between a successful InitCommunication and
// CloseCommunication.
TARSEL_API bool LinkIsOpen();

}  // namespace tarsel::sim

extern "C" {

/* Creates a fresh simulated arm of its own, reached only through the handle
 * it puts in *link; TarselLinkCloseArm closes the handle and destroys the
 * arm. options configures it as the TARSEL_SIM_* variables configure the
 * arms on the bus (the variables themselves are not read): keys hand,
 * time_scale, finger_points, fault and trace, e.g.
 * "hand=2,time_scale=10,fault=error:105,noanswer:200"; items are separated by
 * commas, and an item without "=" goes on with the fault list before it.
 * Null or "" gives the default arm.
 * Returns 1 (created), 2100 (link null, or options has an unknown key, a key
 * given twice, a malformed value or the fault "absent"; each problem is
 * described on standard error), 5002 (out of memory). *link is null on
 * failure. */
TARSEL_API int TarselSimCreateArm(const char* options, TarselArmLink** link);

}  // extern "C"
