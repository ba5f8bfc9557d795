// Saving what the link carried just before it was lost.
#pragma once

#include <string>

#include "tarsel/arm.hpp"

namespace tarsel::loop {

// Writes the recent packets of arm's link library to path as a pcapng
// capture (::SaveRecentPackets over the arm's own link), for
// LoopOptions::traceOnDisconnect. Returns what happened, to go into the
// disconnect's message: "recent packets saved to PATH", or why they were
// not. Never throws.
std::string SaveLinkTrace(Arm& arm, const std::string& path) noexcept;

}  // namespace tarsel::loop
