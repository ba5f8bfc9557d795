#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/guard.h"

namespace {

struct GuardCase {
  const char* name;
  std::function<int()> body;
  int expected;
};

// The failures of a growing container become 5002; a body that returns
// normally keeps its code.
TEST(Guarded, TurnsAllocationFailuresIntoNoMemory) {
  const std::vector<GuardCase> cases = {
      {"bad_alloc", []() -> int { throw std::bad_alloc(); }, TARSEL_ERROR_NO_MEMORY},
      {"length_error", []() -> int { throw std::length_error("too long"); },
       TARSEL_ERROR_NO_MEMORY},
      {"vector past max_size",
       [] {
         std::vector<int> v;
         v.reserve(v.max_size() + 1);
         return static_cast<int>(TARSEL_OK);
       },
       TARSEL_ERROR_NO_MEMORY},
      {"normal return", [] { return static_cast<int>(TARSEL_ERROR_FIRST_PACKET); },
       TARSEL_ERROR_FIRST_PACKET},
  };
  for (const auto& c : cases) EXPECT_EQ(tarsel::Guarded(c.body), c.expected) << c.name;
}

}  // namespace
