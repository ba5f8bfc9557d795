#include "loop/link_trace.h"

#include <new>

namespace tarsel::loop {

std::string SaveLinkTrace(Arm& arm, const std::string& path) noexcept {
  try {
    try {
      // Over the arm's own link, whose library holds the packets; the save
      // does not wait for a command another thread runs.
      arm.Call("SaveRecentPackets", [&] { return ::SaveRecentPackets(path.c_str()); });
      return "recent packets saved to " + path;
    } catch (const Error& e) {
      return "recent packets not saved to " + path + ": " + e.what() + " (" +
             std::to_string(e.code()) + ")";
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace tarsel::loop
