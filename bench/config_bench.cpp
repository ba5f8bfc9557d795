// Costs of the configuration codecs and of a whole control-mapping read over
// the recording stand-in link. The codecs walk their payloads field by field
// (the control mapping one byte at a time), so their cost should grow
// linearly with the payload: the repeated-decode benchmark reports its
// complexity, and every benchmark reports bytes per second for comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "config/config_codec.h"
#include "recording_link.h"
#include "tarsel/tarsel.h"

namespace {

using tarsel::config::kClientConfigurationSize;
using tarsel::config::kControlMappingChartsSize;
using tarsel::config::kZoneListSize;

Payload PatternPayload(std::size_t size) {
  Payload payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<unsigned char>(i * 7 + 3);
  return payload;
}

template <typename Record>
Record PatternRecord() {
  const Payload image = PatternPayload(sizeof(Record));
  Record record;
  std::memcpy(&record, image.data(), sizeof record);
  return record;
}

void BM_DeserializeControlMappingCharts(benchmark::State& state) {
  const Payload payload = PatternPayload(kControlMappingChartsSize);
  ControlMappingCharts charts{};
  for (auto _ : state) {
    int offset = 0;
    DeserializeControlMappingCharts(offset, payload, charts);
    benchmark::DoNotOptimize(charts);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kControlMappingChartsSize);
}
BENCHMARK(BM_DeserializeControlMappingCharts);

void BM_SerializeControlMappingCharts(benchmark::State& state) {
  const auto charts = PatternRecord<ControlMappingCharts>();
  Payload payload;
  for (auto _ : state) {
    payload.clear();
    int offset = 0;
    SerializeControlMappingCharts(offset, payload, charts);
    benchmark::DoNotOptimize(payload.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kControlMappingChartsSize);
}
BENCHMARK(BM_SerializeControlMappingCharts);

// The same decoder over a payload of n charts laid end to end: the time per
// byte must not grow with n.
void BM_DeserializeChartsRepeated(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Payload payload = PatternPayload(n * kControlMappingChartsSize);
  ControlMappingCharts charts{};
  for (auto _ : state) {
    int offset = 0;
    for (std::size_t k = 0; k < n; ++k) DeserializeControlMappingCharts(offset, payload, charts);
    benchmark::DoNotOptimize(charts);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(payload.size()));
  state.SetComplexityN(static_cast<std::int64_t>(payload.size()));
}
BENCHMARK(BM_DeserializeChartsRepeated)
    ->RangeMultiplier(4)
    ->Range(1, 64)
    ->Complexity(benchmark::oN);

void BM_DeserializeZoneList(benchmark::State& state) {
  const Payload payload = PatternPayload(kZoneListSize);
  ZoneList list{};
  for (auto _ : state) {
    int offset = 0;
    DeserializeZoneList(offset, payload, list);
    benchmark::DoNotOptimize(list);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kZoneListSize);
}
BENCHMARK(BM_DeserializeZoneList);

void BM_DeserializeClientConfiguration(benchmark::State& state) {
  Payload payload = PatternPayload(kClientConfigurationSize);
  payload[140] = 20;  // every stored position is read
  payload[141] = payload[142] = payload[143] = 0;
  ClientConfigurations config{};
  for (auto _ : state) {
    int offset = 0;
    DeserializeClientConfiguration(offset, payload, config);
    benchmark::DoNotOptimize(config);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kClientConfigurationSize);
}
BENCHMARK(BM_DeserializeClientConfiguration);

// The whole read: 265 request and answer packets through the bound link,
// reassembly and decoding. The stand-in link records every request, so its
// record is cleared now and then outside the timed region.
void BM_GetControlMapping(benchmark::State& state) {
  const Payload answer = PatternPayload(kControlMappingChartsSize);
  tarsel::recording::Reset();
  if (InitAPI() != TARSEL_OK) {
    state.SkipWithError("InitAPI failed on the stand-in link");
    return;
  }
  ControlMappingCharts charts{};
  int calls = 0;
  for (auto _ : state) {
    if (calls++ % 64 == 0) {
      state.PauseTiming();
      tarsel::recording::Reset();
      tarsel::recording::ServeRead(41, answer);
      state.ResumeTiming();
    }
    if (GetControlMapping(&charts) != TARSEL_OK) {
      state.SkipWithError("GetControlMapping failed");
      break;
    }
    benchmark::DoNotOptimize(charts);
  }
  CloseAPI();
  tarsel::recording::Reset();
  state.SetBytesProcessed(state.iterations() * kControlMappingChartsSize);
}
BENCHMARK(BM_GetControlMapping);

}  // namespace

BENCHMARK_MAIN();
