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
  return tarsel::Decode(offset, payload, out);
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
