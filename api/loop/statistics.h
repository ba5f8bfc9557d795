// The control loop's figures: periods, exchange times, missed cycles and
// events, kept in constant memory with no allocation per cycle.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "tarsel/control_loop.hpp"

namespace tarsel::loop {

// A histogram of durations in nanoseconds whose buckets are 1 ns wide up to
// 128 ns and then 1/64 of their octave wide: any quantile it gives is within
// 1/128 of the value it stands for, over the whole range of a 64-bit count
// of nanoseconds, in 30 KiB.
class DurationHistogram {
 public:
  void Add(std::uint64_t ns) noexcept;
  void Clear() noexcept;
  std::uint64_t Count() const noexcept { return count_; }
  std::uint64_t Max() const noexcept { return max_; }
  // The q-quantile (0 < q <= 1) in seconds, by nearest rank: the middle of
  // the bucket holding the ceil(q * Count())-th smallest value, at most
  // Max(). 0 when empty.
  double Quantile(double q) const noexcept;

 private:
  static constexpr int kSubBits = 6;
  static constexpr std::size_t kBuckets = (64 - kSubBits) * (std::size_t{1} << kSubBits) + 64;
  static std::size_t Bucket(std::uint64_t ns) noexcept;
  static double Middle(std::size_t bucket) noexcept;
  std::array<std::uint64_t, kBuckets> counts_{};
  std::uint64_t count_ = 0;
  std::uint64_t max_ = 0;
};

// Everything LoopStatistics reports, fed by the loop's thread and read by any
// thread (one mutex, held for a few additions per cycle).
class LoopFigures {
 public:
  explicit LoopFigures(std::chrono::nanoseconds period) : period_(period) {}

  // One cycle that started at start and whose exchanges took exchange.
  // follows: the cycle before it ran on the same schedule (not the first
  // one, nor the first after a reconnect), so the time between their starts
  // is a period.
  void Cycle(std::chrono::steady_clock::time_point start, std::chrono::nanoseconds exchange,
             bool follows);
  void Missed(std::uint64_t starts);
  void Event(LoopEventKind kind);
  void Reset();
  LoopStatistics Get() const;

 private:
  const std::chrono::nanoseconds period_;
  mutable std::mutex mutex_;
  bool havePrevious_ = false;  // a cycle since the last reset
  std::chrono::steady_clock::time_point previous_{};
  std::uint64_t cycles_ = 0;
  std::uint64_t missed_ = 0;
  std::uint64_t periodSum_ = 0;  // ns, over the periods counted
  std::uint64_t jitterSum_ = 0;  // ns of |period - T|
  DurationHistogram periods_;
  DurationHistogram exchanges_;
  std::array<std::uint64_t, 5> events_{};
};

}  // namespace tarsel::loop
