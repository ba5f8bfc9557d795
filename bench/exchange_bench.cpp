// What the library adds to each command over the link's own cost. Every
// command runs over a zero-latency stand-in link; the floor is one bare call
// of the bound SendPacket into it. Each benchmark reports time per command,
// time per packet, its ratio to the floor (measured in the same run) and the
// heap allocations per command, counted by the replacement operator new
// below; the ratio to the floor is ns/packet over BM_Floor's ns/packet.
// Single-threaded, so the command lock is uncontended.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/framing.h"
#include "maintenance/maintenance_codec.h"
#include "records.h"
#include "tarsel/tarsel.h"

extern "C" void NullLinkSetReadSize(int bytes);

// --- Counting allocator ---------------------------------------------------------
// The replacements pair malloc with free on purpose; the compiler sees only
// new and free once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// They are visible to the shared libraries too (the project builds with
// hidden visibility): a block the program allocates may be freed inside
// libbenchmark or libstdc++, which must reach the same pair.
#define TARSEL_BENCH_REPLACEMENT __attribute__((visibility("default")))
TARSEL_BENCH_REPLACEMENT void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
TARSEL_BENCH_REPLACEMENT void* operator new[](std::size_t size) {
  return operator new(size);
}
TARSEL_BENCH_REPLACEMENT void operator delete(void* p) noexcept {
  std::free(p);
}
TARSEL_BENCH_REPLACEMENT void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
TARSEL_BENCH_REPLACEMENT void operator delete[](void* p) noexcept {
  std::free(p);
}
TARSEL_BENCH_REPLACEMENT void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

class Open {
 public:
  Open() { ok_ = InitAPI() == TARSEL_OK; }
  ~Open() { CloseAPI(); }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

using tarsel::bench::Records;

// Runs command over the stand-in link announcing readSize for reads, and
// reports per command, per packet, against the floor, and allocations.
template <typename Command>
void RunCommand(benchmark::State& state, int packets, int readSize, Command command) {
  Open open;
  if (!open.ok()) return state.SkipWithError("InitAPI failed");
  NullLinkSetReadSize(readSize);
  static Records records;
  records.point.InitStruct();
  command(records);  // warm up: the thread's payload buffer, the bindings
  const long before = g_allocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(command(records));
  const double allocations =
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
  state.counters["packets"] = packets;
  state.counters["allocs/cmd"] = allocations;
  state.counters["ns/packet"] =
      benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

void BM_Floor(benchmark::State& state) {
  RunCommand(state, 1, 36, [](Records& r) {
    int reserved = 0;
    fptrSendPacket(r.request, r.answer, reserved);
    return 1;
  });
}
BENCHMARK(BM_Floor);

void BM_OnePacketRead(benchmark::State& state) {
  RunCommand(state, 1, 36, [](Records& r) { return GetAngularPosition(r.angular); });
}
BENCHMARK(BM_OnePacketRead);

void BM_BareCommand(benchmark::State& state) {
  RunCommand(state, 1, 36, [](Records&) { return EraseAllTrajectories(); });
}
BENCHMARK(BM_BareCommand);

void BM_AdvanceTrajectory3(benchmark::State& state) {
  RunCommand(state, 3, 36, [](Records& r) { return SendAdvanceTrajectory(r.point); });
}
BENCHMARK(BM_AdvanceTrajectory3);

void BM_GeneralInformations15(benchmark::State& state) {
  RunCommand(state, 15, 832, [](Records& r) { return GetGeneralInformations(r.general); });
}
BENCHMARK(BM_GeneralInformations15);

void BM_GetControlMapping265(benchmark::State& state) {
  RunCommand(state, 265, 14816, [](Records& r) { return GetControlMapping(&r.charts); });
}
BENCHMARK(BM_GetControlMapping265);

void BM_SetControlMapping265(benchmark::State& state) {
  RunCommand(state, 265, 14816, [](Records& r) { return SetControlMapping(r.charts); });
}
BENCHMARK(BM_SetControlMapping265);

void BM_GetProtectionZone79(benchmark::State& state) {
  RunCommand(state, 79, 4408, [](Records& r) { return GetProtectionZone(&r.zones); });
}
BENCHMARK(BM_GetProtectionZone79);

void BM_SetProtectionZone79(benchmark::State& state) {
  RunCommand(state, 79, 4408, [](Records& r) { return SetProtectionZone(r.zones); });
}
BENCHMARK(BM_SetProtectionZone79);

// One firmware page (40 packets), as programming sends each page.
void BM_FirmwarePage40(benchmark::State& state) {
  static std::vector<PacketList> pages = SplitDataByPage(Payload(100, 0x5A), 12);
  RunCommand(state, 40, 36, [](Records&) { return SendSetCommand(pages.front().packets); });
}
BENCHMARK(BM_FirmwarePage40);

// Framing alone, over message sizes of 1 to 265 packets: the cost must grow
// linearly with the packets.
void BM_ReadFraming(benchmark::State& state) {
  const int packets = static_cast<int>(state.range(0));
  RunCommand(state, packets, packets * 56, [](Records&) {
    Packet request;
    PrepareGetPacket(request, 41);
    static Payload payload;
    payload.clear();
    return SendGetCommand(request, payload);
  });
  state.SetComplexityN(packets);
}
BENCHMARK(BM_ReadFraming)->RangeMultiplier(4)->Range(1, 256)->Arg(265)->Complexity(benchmark::oN);

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
