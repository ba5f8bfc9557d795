#include "recording_link.h"

#include <cstring>
#include <deque>
#include <map>

#include "tarsel/comm_layer.h"

namespace tarsel::recording {
namespace {

struct State {
  std::vector<Packet> requests;
  std::deque<Step> script;
  std::map<int, std::pair<std::vector<unsigned char>, int>> reads;
  Responder responder;
  int initResult = 1;
  int initCalls = 0;
  int closeCalls = 0;
};

State& S() {
  static State state;
  return state;
}

}  // namespace

void Reset() {
  S() = State{};
}

void ServeRead(int command, std::vector<unsigned char> payload, int announced) {
  const int size = announced >= 0 ? announced : static_cast<int>(payload.size());
  S().reads[command] = {std::move(payload), size};
}

void Script(std::vector<Step> steps) {
  for (auto& s : steps) S().script.push_back(s);
}

void SetResponder(Responder responder) {
  S().responder = std::move(responder);
}
void SetInitResult(int code) {
  S().initResult = code;
}
const std::vector<Packet>& Requests() {
  return S().requests;
}

std::vector<int> RequestCommands() {
  std::vector<int> out;
  for (const auto& p : S().requests) out.push_back(p.CommandId);
  return out;
}

std::vector<unsigned char> WrittenPayload(std::size_t first) {
  std::vector<unsigned char> out;
  const auto& reqs = S().requests;
  for (std::size_t i = first; i < reqs.size(); ++i) {
    const Packet& p = reqs[i];
    const int begin = (p.PacketIndex - 1) * TARSEL_PACKET_DATA_SIZE;
    int n = p.PayloadSize - begin;
    if (n > TARSEL_PACKET_DATA_SIZE) n = TARSEL_PACKET_DATA_SIZE;
    if (n > 0) out.insert(out.end(), p.Data, p.Data + n);
  }
  return out;
}

int InitCalls() {
  return S().initCalls;
}
int CloseCalls() {
  return S().closeCalls;
}

void AutoAnswer(const Packet& request, Packet& answer, int announce) {
  std::memset(&answer, 0, sizeof answer);
  answer.PacketIndex = request.PacketIndex;
  answer.CommandId = request.CommandId;
  const auto it = S().reads.find(request.CommandId);
  if (it == S().reads.end()) {
    answer.PacketCount = request.PacketCount;
    answer.PayloadSize = static_cast<short>(announce >= 0 ? announce : 0);
    return;
  }
  const auto& [payload, size] = it->second;
  const int total = static_cast<int>(payload.size());
  answer.PacketCount = static_cast<short>(total == 0 ? 1 : (total + 55) / 56);
  answer.PayloadSize = static_cast<short>(announce >= 0 ? announce : size);
  const int begin = (request.PacketIndex - 1) * TARSEL_PACKET_DATA_SIZE;
  for (int i = 0; i < TARSEL_PACKET_DATA_SIZE; ++i) {
    const int at = begin + i;
    if (at >= 0 && at < total) answer.Data[i] = payload[static_cast<std::size_t>(at)];
  }
}

}  // namespace tarsel::recording

using namespace tarsel::recording;

extern "C" {

TARSEL_API int InitCommunication() {
  ++S().initCalls;
  return S().initResult;
}

TARSEL_API int CloseCommunication() {
  ++S().closeCalls;
  return 1;
}

TARSEL_API int GetDeviceCount(int* count) {
  return count != nullptr ? *count : 0;
}

TARSEL_API Packet SendPacket(const Packet& request, Packet& answer, int& /*reserved*/) {
  S().requests.push_back(request);
  if (S().responder && S().responder(request, answer)) return answer;
  Step step;
  if (!S().script.empty()) {
    step = S().script.front();
    S().script.pop_front();
  }
  if (step.kind == Step::Kind::kUntouched) return answer;
  AutoAnswer(request, answer, step.announce);
  if (step.kind == Step::Kind::kVerdict) answer.CommandId = step.verdict;
  if (step.index >= 0) answer.PacketIndex = static_cast<short>(step.index);
  return answer;
}

}  // extern "C"
