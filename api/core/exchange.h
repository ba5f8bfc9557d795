// The read and write shapes with a codec, as the exports use them: one
// exchange whose payload is decoded, or built, from offset 0 by one codec
// function. Both run inside Guarded, the codec included, so memory running out
// gives 5002 (TARSEL_ERROR_NO_MEMORY) instead of an exception.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/framing.h"
#include "core/guard.h"
#include "core/payload.h"

namespace tarsel {

// Read shape with a decoder: one read exchange for command (argument in the
// request's Data bytes 0-3), then the answer decoded from offset 0 into out
// whatever the exchange returned, so a failed read leaves what arrived and
// zeros for the rest. Returns the exchange's code, or 5002.
template <typename... Out>
int ReadRecordAt(int command, std::uint32_t argument, int (*decode)(int&, const Payload&, Out&...),
                 Out&... out) {
  return Guarded([&] {
    Payload& payload = ReadScratch();
    const int code = ReadCommand(command, payload, argument);
    int offset = 0;
    decode(offset, payload, out...);
    return code;
  });
}

// ReadRecordAt with the usual argument 1.
template <typename... Out>
int ReadRecord(int command, int (*decode)(int&, const Payload&, Out&...), Out&... out) {
  return ReadRecordAt(command, 1, decode, out...);
}

// Write shape with an encoder: the encoder's arguments serialised from offset 0
// into an empty payload, which is sent for command. Returns SendPayload's code
// (2006 for a payload too large to announce), or 5002 with nothing sent.
template <typename... In>
int WriteRecord(int command, int (*encode)(int&, Payload&, In...),
                const std::type_identity_t<In>&... in) {
  return Guarded([&] {
    Payload& payload = WriteScratch();
    int offset = 0;
    encode(offset, payload, in...);
    return SendPayload(command, payload);
  });
}

// Write shape with an encoder that takes the record by reference, for large
// records: encode(payload) appends the whole form to an empty payload.
template <typename Encode>
int WriteWith(int command, Encode encode) {
  return Guarded([&] {
    Payload& payload = WriteScratch();
    encode(payload);
    return SendPayload(command, payload);
  });
}

}  // namespace tarsel
