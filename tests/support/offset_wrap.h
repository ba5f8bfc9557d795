// The check that a codec's offset wraps instead of overflowing: started just
// below INT_MAX, an encoder appends exactly what it appends from offset 0 and
// a decoder reads nothing of its answer (the sanitizer build would report a
// signed overflow).
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

#include "bytes.h"

namespace tarsel::testing {

// One codec call. step runs it at the given offset on the given payload; a
// decoder's step then replaces the payload with the image of what it read.
// width is how far the call advances the offset; input is what a decoder
// reads (an encoder appends to it).
struct OffsetWrapCase {
  const char* name;
  int width;
  std::function<void(int&, Bytes&)> step;
  Bytes input = {};
};

inline void ExpectOffsetsWrap(const std::vector<OffsetWrapCase>& cases) {
  for (const auto& c : cases) {
    // The reference: the step from offset 0 on an empty payload.
    Bytes reference, probe = c.input;
    int zero = 0, nearMax = INT_MAX - 2;
    c.step(zero, reference);
    c.step(nearMax, probe);
    EXPECT_EQ(zero, c.width) << c.name;
    EXPECT_EQ(nearMax, INT_MIN + c.width - 3) << c.name;
    EXPECT_EQ(probe, reference) << c.name;
  }
}

}  // namespace tarsel::testing
