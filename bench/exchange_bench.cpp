// What the library adds to each command over the link's own cost: a bare call
// of the bound SendPacket into a zero-latency link (the floor) beside whole
// commands through the same link, lock included. Run single-threaded, so the
// lock is uncontended; BM_MutexPair shows what one lock/unlock costs alone.
#include <benchmark/benchmark.h>

#include <mutex>
#include <vector>

#include "tarsel/tarsel.h"

extern "C" void NullLinkSetReadSize(int bytes);

namespace {

class Open {
 public:
  Open() { ok_ = InitAPI() == TARSEL_OK; }
  ~Open() { CloseAPI(); }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

void BM_Floor(benchmark::State& state) {
  Open open;
  if (!open.ok()) return state.SkipWithError("InitAPI failed");
  Packet request{};
  Packet answer{};
  int reserved = 0;
  for (auto _ : state) {
    fptrSendPacket(request, answer, reserved);
    benchmark::DoNotOptimize(answer);
  }
}
BENCHMARK(BM_Floor);

void BM_MutexPair(benchmark::State& state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MutexPair);

void BM_BareCommand(benchmark::State& state) {
  Open open;
  if (!open.ok()) return state.SkipWithError("InitAPI failed");
  for (auto _ : state) benchmark::DoNotOptimize(EraseAllTrajectories());
}
BENCHMARK(BM_BareCommand);

void BM_OnePacketRead(benchmark::State& state) {
  Open open;
  if (!open.ok()) return state.SkipWithError("InitAPI failed");
  NullLinkSetReadSize(36);
  AngularPosition position;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetAngularPosition(position));
    benchmark::DoNotOptimize(position);
  }
}
BENCHMARK(BM_OnePacketRead);

// Two threads reading at once: each command waits for the other's packets.
void BM_OnePacketReadTwoThreads(benchmark::State& state) {
  static Open* open = nullptr;
  if (state.thread_index() == 0) {
    open = new Open;
    NullLinkSetReadSize(36);
  }
  AngularPosition position;
  for (auto _ : state) benchmark::DoNotOptimize(GetAngularPosition(position));
  if (state.thread_index() == 0) {
    delete open;
    open = nullptr;
  }
}
BENCHMARK(BM_OnePacketReadTwoThreads)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
