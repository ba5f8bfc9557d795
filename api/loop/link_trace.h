// Saving what the link carried just before it was lost.
#pragma once

#include <string>

namespace tarsel::loop {

// Writes the link's recent packets to path as a pcapng capture, for
// LoopOptions::traceOnDisconnect. Returns whether a capture was written:
// false when the link library keeps no record of recent packets or the file
// cannot be written. Never throws.
bool SaveLinkTrace(const std::string& path) noexcept;

}  // namespace tarsel::loop
