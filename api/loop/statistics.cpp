#include "loop/statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tarsel::loop {

std::size_t DurationHistogram::Bucket(std::uint64_t ns) noexcept {
  constexpr std::uint64_t kLinear = std::uint64_t{2} << kSubBits;  // 128
  if (ns < kLinear) return static_cast<std::size_t>(ns);
  // ns >> shift lies in [64, 128): its octave's 64 sub-buckets.
  const int shift = std::bit_width(ns) - (kSubBits + 1);
  const std::uint64_t sub = (ns >> shift) - (std::uint64_t{1} << kSubBits);
  return (static_cast<std::size_t>(shift) + 1) * (std::size_t{1} << kSubBits) +
         static_cast<std::size_t>(sub);
}

double DurationHistogram::Middle(std::size_t bucket) noexcept {
  constexpr std::size_t kSub = std::size_t{1} << kSubBits;
  if (bucket < 2 * kSub) return static_cast<double>(bucket);
  const int shift = static_cast<int>(bucket / kSub) - 1;
  const double lower = std::ldexp(static_cast<double>(bucket % kSub + kSub), shift);
  return lower + (std::ldexp(1.0, shift) - 1) / 2;
}

void DurationHistogram::Add(std::uint64_t ns) noexcept {
  ++counts_[Bucket(ns)];
  ++count_;
  max_ = std::max(max_, ns);
}

void DurationHistogram::Clear() noexcept {
  counts_.fill(0);
  count_ = 0;
  max_ = 0;
}

double DurationHistogram::Quantile(double q) const noexcept {
  if (count_ == 0) return 0;
  const auto rank = std::clamp<std::uint64_t>(
      static_cast<std::uint64_t>(std::ceil(q * static_cast<double>(count_))), 1, count_);
  std::uint64_t seen = 0;
  for (std::size_t b = 0; b < kBuckets; ++b) {
    seen += counts_[b];
    if (seen >= rank) return std::min(Middle(b), static_cast<double>(max_)) * 1e-9;
  }
  return static_cast<double>(max_) * 1e-9;
}

void LoopFigures::Cycle(std::chrono::steady_clock::time_point start,
                        std::chrono::nanoseconds exchange, bool follows) {
  std::lock_guard lock(mutex_);
  ++cycles_;
  exchanges_.Add(static_cast<std::uint64_t>(std::max<std::int64_t>(exchange.count(), 0)));
  if (follows && havePrevious_) {
    const std::int64_t period = std::max<std::int64_t>((start - previous_).count(), 0);
    periods_.Add(static_cast<std::uint64_t>(period));
    periodSum_ += static_cast<std::uint64_t>(period);
    const std::int64_t off = period - period_.count();
    jitterSum_ += static_cast<std::uint64_t>(off < 0 ? -off : off);
  }
  previous_ = start;
  havePrevious_ = true;
}

void LoopFigures::Missed(std::uint64_t starts) {
  std::lock_guard lock(mutex_);
  missed_ += starts;
}

void LoopFigures::Event(LoopEventKind kind) {
  std::lock_guard lock(mutex_);
  ++events_.at(static_cast<std::size_t>(kind));
}

void LoopFigures::Reset() {
  std::lock_guard lock(mutex_);
  havePrevious_ = false;
  cycles_ = missed_ = periodSum_ = jitterSum_ = 0;
  periods_.Clear();
  exchanges_.Clear();
  events_.fill(0);
}

LoopStatistics LoopFigures::Get() const {
  std::lock_guard lock(mutex_);
  LoopStatistics s;
  s.cycles = cycles_;
  s.missed = missed_;
  const std::uint64_t periods = periods_.Count();
  if (periodSum_ > 0) s.rate = static_cast<double>(periods) / (static_cast<double>(periodSum_) * 1e-9);
  if (periods > 0) s.jitter = static_cast<double>(jitterSum_) * 1e-9 / static_cast<double>(periods);
  s.periodP50 = periods_.Quantile(0.50);
  s.periodP99 = periods_.Quantile(0.99);
  s.periodMax = static_cast<double>(periods_.Max()) * 1e-9;
  s.exchangeP50 = exchanges_.Quantile(0.50);
  s.exchangeP99 = exchanges_.Quantile(0.99);
  s.exchangeMax = static_cast<double>(exchanges_.Max()) * 1e-9;
  s.transient = events_[static_cast<std::size_t>(LoopEventKind::kTransient)];
  s.refused = events_[static_cast<std::size_t>(LoopEventKind::kRefused)];
  s.disconnected = events_[static_cast<std::size_t>(LoopEventKind::kDisconnected)];
  s.reconnected = events_[static_cast<std::size_t>(LoopEventKind::kReconnected)];
  s.watchdog = events_[static_cast<std::size_t>(LoopEventKind::kWatchdog)];
  return s;
}

}  // namespace tarsel::loop
