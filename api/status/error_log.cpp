// The arm's error log: entry count, one entry by index, clearing.
#include "core/catalogue.h"
#include "status/status_codec.h"

namespace {

constexpr int kSystemErrorCommand = tarsel::command::GetSystemError;
constexpr int kSystemErrorCountCommand = tarsel::command::GetSystemErrorCount;
constexpr int kClearErrorLogCommand = tarsel::command::ClearErrorLog;

int DecodeErrorCount(int& offset, const Payload& payload, unsigned int& count) {
  tarsel::PayloadReader(offset, payload).Field(count);
  return 1;
}

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
  return tarsel::ReadRecord(kSystemErrorCountCommand, DecodeErrorCount, count);
}

// The index travels in the request's argument bytes; the request still
// announces a size of 1.
int GetSystemError(unsigned int index, SystemError& error) {
  return tarsel::ReadRecordAt(kSystemErrorCommand, index, DeserializeSystemError, error);
}

int ClearErrorLog() {
  return tarsel::SendBare(kClearErrorLogCommand);
}

}  // extern "C"
