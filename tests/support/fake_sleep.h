// The test programs replace usleep (see fake_sleep.cpp): waits return at once
// and are recorded, so tests check the pauses a command makes without taking
// them.
#pragma once

#include <vector>

namespace tarsel::testing {
// Every usleep duration requested since the last Clear, in order.
std::vector<unsigned>& Sleeps();
}  // namespace tarsel::testing
