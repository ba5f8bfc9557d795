#include "loop/link_trace.h"

namespace tarsel::loop {

bool SaveLinkTrace(const std::string& /*path*/) noexcept {
  // The link library keeps no record of its recent packets yet: there is
  // nothing to save. This is the one place that will ask it to.
  return false;
}

}  // namespace tarsel::loop
