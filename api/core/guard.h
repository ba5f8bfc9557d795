// Keeps C++ exceptions inside the library: Guarded turns a failed allocation
// (std::bad_alloc, std::length_error) into 5002 (TARSEL_ERROR_NO_MEMORY)
// instead of letting it cross the C boundary. The exchange helpers (SendBare,
// SendPayload, ReadCommand, ReadRecord, WriteRecord) run inside it, so an
// export made of them alone needs no guard of its own; an export that
// allocates outside them (its own decoding, a file image) wraps its body.
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
