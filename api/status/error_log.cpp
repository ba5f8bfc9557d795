// The arm's error log: entry count, one entry by index, clearing.
#include "status/status_codec.h"

namespace {

constexpr int kSystemErrorCommand = 21;
constexpr int kSystemErrorCountCommand = 23;
constexpr int kClearErrorLogCommand = 25;

}  // namespace

int DeserializeSystemError(int& offset, const Payload& payload, SystemError& out) {
  tarsel::PayloadReader in(offset, payload);
  in.Field(out.UIntValue1).Field(out.IntValue1).Field(out.IntValue2).Field(out.IntValue3);
  in.Field(out.UIntValue2);
  in.Field(out.Flags);  // seven packed bytes: the fields after them sit at odd offsets
  in.Field(out.IntValue4).Field(out.IntValue5);
  in.Field(out.UIntArray);
  return 1;
}

extern "C" {

int GetSystemErrorCount(unsigned int& count) {
  Payload payload;
  const int code = tarsel::ReadCommand(kSystemErrorCountCommand, payload);
  int offset = 0;
  tarsel::PayloadReader(offset, payload).Field(count);
  return code;
}

int GetSystemError(unsigned int index, SystemError& error) {
  // The index travels in the request's argument bytes; the request still
  // announces a size of 1.
  Payload payload;
  const int code = tarsel::ReadCommand(kSystemErrorCommand, payload, index);
  int offset = 0;
  DeserializeSystemError(offset, payload, error);
  return code;
}

int ClearErrorLog() {
  return tarsel::SendBare(kClearErrorLogCommand);
}

}  // extern "C"
