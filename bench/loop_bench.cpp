// Control cycles over the link, for the figures a loop can reach: run it
// under tarsel-sim-usb --bus-clock for those of a full-speed bus (sim/README.md,
// "Time on the bus"), or against a real arm.
//
//   tarsel_loop_bench cycles [SECONDS]
//       Cycles of one read (the joint angles) and one write (a velocity
//       point of zero) run back to back for SECONDS (default 10): each
//       exchange's time, each cycle's, and the rate they reach.
//   tarsel_loop_bench loop RATE[,RATE...] [SECONDS]
//       tarsel::ControlLoop at each RATE (Hz) in turn for SECONDS (default
//       60), holding the arm still (zero velocity sent every cycle): the
//       periods between cycle starts, against the nominal period T, and the
//       cycles' exchange times.
//
//   --awake (before either): keeps the processors out of their deep idle
//       states while it runs, as real-time setups do: 0 written to
//       /dev/cpu_dma_latency and the file held open (root only). On an idle
//       machine a waking processor otherwise adds its exit latency to the
//       loop's and the bus's wake-ups.
//
// Every figure is in milliseconds unless it says otherwise. The load average
// of the machine is printed with each run: these figures depend on it.
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "tarsel/arm.hpp"
#include "tarsel/control_loop.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five;
  in >> one >> five;
  return one + " (1 min), " + five + " (5 min)";
}

// Order statistics of values (sorted in place): min, median, 99th
// percentile, max.
struct Spread {
  double min = 0, p50 = 0, p99 = 0, max = 0, mean = 0;
};

Spread SpreadOf(std::vector<double>& values) {
  Spread s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) {
    return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
  };
  s.min = values.front();
  s.p50 = at(0.5);
  s.p99 = at(0.99);
  s.max = values.back();
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / static_cast<double>(values.size());
  return s;
}

void PrintSpread(const char* what, std::vector<double> values) {
  const Spread s = SpreadOf(values);
  std::printf("  %-22s min %7.3f  median %7.3f  p99 %7.3f  max %8.3f  mean %7.3f\n", what, s.min,
              s.p50, s.p99, s.max, s.mean);
}

TrajectoryPoint StillPoint() {
  TrajectoryPoint p{};
  p.Position.Type = TARSEL_ANGULAR_VELOCITY;
  return p;
}

int Cycles(double seconds) {
  tarsel::Arm arm;
  const TrajectoryPoint still = StillPoint();
  std::vector<double> reads, writes, cycles;
  std::printf("cycles of one read and one write, back to back, for %g s; load %s\n", seconds,
              LoadAverage().c_str());
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  auto last = start;
  while (last < end) {
    const auto t0 = Clock::now();
    arm.GetAngularPosition();
    const auto t1 = Clock::now();
    arm.SendBasicTrajectory(still);
    const auto t2 = Clock::now();
    reads.push_back(Ms(t1 - t0));
    writes.push_back(Ms(t2 - t1));
    cycles.push_back(Ms(t2 - t0));
    last = t2;
  }
  std::printf("  %zu cycles, %.1f cycles/s\n", cycles.size(),
              static_cast<double>(cycles.size()) / std::chrono::duration<double>(last - start).count());
  PrintSpread("read exchange", reads);
  PrintSpread("write exchange", writes);
  PrintSpread("cycle", cycles);
  std::printf("  load after: %s\n", LoadAverage().c_str());
  return 0;
}

int Loop(double rate, double seconds) {
  tarsel::Arm arm;
  tarsel::LoopOptions options;
  options.rate = rate;
  const double period = 1000.0 / rate;
  std::vector<Clock::time_point> starts;
  std::vector<double> exchanges;
  const std::size_t expected = static_cast<std::size_t>(rate * seconds * 1.2) + 16;
  starts.reserve(expected);
  exchanges.reserve(expected);
  std::printf("control loop at %g Hz (T = %.3f ms) for %g s; load %s\n", rate, period, seconds,
              LoadAverage().c_str());
  tarsel::LoopStatistics stats;
  {
    tarsel::ControlLoop loop(arm, options);
    // Recorded on the loop's thread into room set aside beforehand.
    loop.OnCycle([&](const tarsel::LoopState& s) {
      if (starts.size() == starts.capacity()) return;
      starts.push_back(s.time);
      exchanges.push_back(Ms(s.exchange));
    });
    loop.Hold();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    loop.OnCycle({});
    stats = loop.Statistics();
  }
  std::vector<double> periods, errors, changes;
  double squares = 0;
  for (std::size_t i = 1; i < starts.size(); ++i) {
    const double p = Ms(starts[i] - starts[i - 1]);
    periods.push_back(p);
    errors.push_back(std::fabs(p - period));
    squares += (p - period) * (p - period);
    if (i >= 2) changes.push_back(std::fabs(p - Ms(starts[i - 1] - starts[i - 2])));
  }
  const double span = starts.size() > 1 ? Ms(starts.back() - starts.front()) / 1000.0 : 0;
  std::printf("  %zu cycles, %.2f cycles/s; %llu starts missed\n", starts.size(),
              span > 0 ? static_cast<double>(starts.size() - 1) / span : 0.0,
              static_cast<unsigned long long>(stats.missed));
  PrintSpread("period", periods);
  PrintSpread("|period - T|", errors);
  PrintSpread("|period change|", changes);
  std::printf("  %-22s %.3f\n", "RMS of period - T",
              periods.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(periods.size())));
  PrintSpread("cycle's exchanges", exchanges);
  std::printf("  the loop's own: rate %.2f/s, jitter %.3f ms, transient %llu, disconnected %llu\n",
              stats.rate, stats.jitter * 1000, static_cast<unsigned long long>(stats.transient),
              static_cast<unsigned long long>(stats.disconnected));
  std::printf("  load after: %s\n", LoadAverage().c_str());
  return 0;
}

// Asks the kernel for no processor exit latency for as long as the process
// lives (the file stays open); false when the file cannot be written.
bool KeepProcessorsAwake() {
  const int fd = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const std::int32_t none = 0;
  if (write(fd, &none, sizeof none) != static_cast<ssize_t>(sizeof none)) {
    close(fd);
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tarsel_loop_bench [--awake] cycles [SECONDS]\n"
               "       tarsel_loop_bench [--awake] loop RATE[,RATE...] [SECONDS]\n"
               "Run it under tarsel-sim-usb --bus-clock for the figures of a full-speed bus.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--awake") == 0) {
    if (!KeepProcessorsAwake()) {
      std::fprintf(stderr, "tarsel_loop_bench: --awake: /dev/cpu_dma_latency: %s\n",
                   std::strerror(errno));
      return 1;
    }
    std::printf("processors kept awake (/dev/cpu_dma_latency 0)\n");
    --argc;
    ++argv;
  }
  if (argc < 2) return Usage();
  try {
    if (std::strcmp(argv[1], "cycles") == 0) {
      const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
      if (!(seconds > 0)) return Usage();
      return Cycles(seconds);
    }
    if (std::strcmp(argv[1], "loop") == 0 && argc > 2) {
      const double seconds = argc > 3 ? std::atof(argv[3]) : 60;
      if (!(seconds > 0)) return Usage();
      std::string rates = argv[2];
      for (std::size_t at = 0; at <= rates.size();) {
        const std::size_t comma = std::min(rates.find(',', at), rates.size());
        const double rate = std::atof(rates.substr(at, comma - at).c_str());
        if (!(rate > 0)) return Usage();
        Loop(rate, seconds);
        at = comma + 1;
      }
      return 0;
    }
  } catch (const tarsel::Error& e) {
    std::fprintf(stderr, "tarsel_loop_bench: %s (%d)\n", e.what(), e.code());
    return 1;
  }
  return Usage();
}
