// Keeps C++ exceptions inside the library: the exports of this module run
// their body through Guarded, which turns a failed allocation into a result
// code instead of letting std::bad_alloc cross the C boundary.
#pragma once

#include <new>
#include <stdexcept>

#include "tarsel/result.h"

namespace tarsel {

template <typename Body>
int Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  } catch (const std::length_error&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
}

}  // namespace tarsel
