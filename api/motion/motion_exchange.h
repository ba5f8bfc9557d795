// The read and write shapes as the motion commands use them.
#pragma once

#include "core/framing.h"
#include "core/payload.h"

namespace tarsel {

// Read shape with a decoder: one read exchange for command, then the answer
// decoded from offset 0 into out whatever the exchange returned (a short or
// empty answer decodes to zeros). Returns the exchange's code.
template <typename Record>
int ReadRecord(int command, int (*decode)(int&, const Payload&, Record&), Record& out) {
  Payload payload;
  const int code = ReadCommand(command, payload);
  int offset = 0;
  decode(offset, payload, out);
  return code;
}

// Write shape with an encoder: the record serialised from offset 0 into an
// empty payload and sent for command. Returns the exchange's code.
template <typename Record>
int WriteRecord(int command, int (*encode)(int&, Payload&, Record), const Record& record) {
  Payload payload;
  int offset = 0;
  encode(offset, payload, record);
  return SendPayload(command, payload);
}

}  // namespace tarsel
