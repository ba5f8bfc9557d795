// A stand-in link library for the fuzz targets: it has the file name and
// SONAME of the real one, so a target that links it has InitAPI and
// tarsel::Arm bind to it, and everything the link decides comes from the
// fuzz input: the answer to each exchange (a well-formed one, none, one with
// a chosen verdict, index, count or size, or 64 raw bytes), the result of
// InitCommunication, the arms TarselLinkListArms reports and whether
// TarselLinkOpenArm succeeds. Once the input runs out the arm is silent and
// every open succeeds, so every loop in the library ends.
#pragma once

#include <cstddef>

#include "fuzz_input.h"
#include "tarsel/export.h"

namespace tarsel::fuzzing {

// What the arm did in the exchanges since the last TakeStats.
struct LinkStats {
  int exchanges = 0;
  int silent = 0;   // left unanswered
  int refused = 0;  // answered with a negative verdict or the error bit
};
TARSEL_API LinkStats TakeStats();

// The input the link reads its decisions from; null: a silent arm.
TARSEL_API void SetLinkInput(Input* input);

// Handles TarselLinkOpenArm gave out that TarselLinkCloseArm has not taken
// back.
TARSEL_API int OpenHandles();

// Whether InitCommunication's link is open (CloseCommunication not called since).
TARSEL_API bool FlatLinkOpen();

}  // namespace tarsel::fuzzing
