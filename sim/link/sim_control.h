// Control of the simulated arm behind the drop-in link library
// "Tarsel.API.CommLayerUbuntu.so" built in sim/lib. A program that links that
// library (or loads it before InitAPI) reaches the very arm the API talks to.
#pragma once

#include "simulated_arm.h"

namespace tarsel::sim {

// The process-wide simulated arm the link answers from. Created on first use,
// configured from the TARSEL_SIM_* variables. InitCommunication applies the
// variables that are set again each time it runs; what a program set in code
// stays unless a variable overrides it (TARSEL_SIM_FAULT, even empty,
// replaces every fault).
TARSEL_API SimulatedArm& Instance();

// Whether the link is open: between a successful InitCommunication and
// CloseCommunication.
TARSEL_API bool LinkIsOpen();

}  // namespace tarsel::sim
