// tarsel record: every cycle of a control loop (tarsel/control_loop.hpp)
// written as a row of CSV or JSON Lines (record_rows.h), until a duration, a
// count or Ctrl-C.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "loop_support.h"
#include "record_rows.h"

namespace tarsel::tool {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

struct RecordOptions {
  double rate = 100.0;
  double duration = 0;  // 0: no limit
  int count = 0;        // 0: no limit
  std::string readouts;
  std::string format = "csv";
  std::string output;  // "" or "-": standard output
};

// The file a recording goes to; closed (and checked) by Close.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {
    if (path.empty() || path == "-") {
      file_ = stdout;
      name_ = "standard output";
      return;
    }
    file_ = std::fopen(path.c_str(), "w");
    name_ = path;
    if (file_ == nullptr) {
      throw Failure(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
    }
  }
  ~Output() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void Line(const std::string& text) {
    if (std::fputs(text.c_str(), file_) == EOF || std::fputc('\n', file_) == EOF) Fail();
  }
  void Close() {
    const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    const bool closed = file_ == stdout || std::fclose(file_) == 0;
    if (file_ != stdout) file_ = nullptr;
    if (!flushed || !closed) Fail();
  }
  const std::string& name() const { return name_; }

 private:
  [[noreturn]] void Fail() {
    throw Failure(fmt::format("writing {} failed: {}", name_, std::strerror(errno)));
  }
  std::string path_;
  std::string name_;
  std::FILE* file_ = nullptr;
};

// "12.3 s" or "2 min 5 s".
std::string Duration(double seconds) {
  if (seconds < 120) return fmt::format("{:.1f} s", seconds);
  return fmt::format("{} min {} s", static_cast<long>(seconds) / 60,
                     static_cast<long>(seconds) % 60);
}

void RunRecord(const Context& context, const RecordOptions& o) {
  unsigned readouts = 0;
  record::ParseReadouts(o.readouts, readouts);  // checked with the command line
  const bool csv = o.format == "csv";
  Output out(o.output);
  LoopArm link(context.connect);
  CatchInterrupts();
  LoopOptions options;
  options.rate = o.rate;
  options.readouts = readouts;
  Inbox inbox;
  std::unique_ptr<ControlLoop> loop = StartLoop(link.arm(), options);
  loop->OnCycle([&inbox](const LoopState& s) { inbox.Add(s); });
  loop->OnEvent([&inbox](const LoopEvent& e) { inbox.Add(e); });

  if (csv) out.Line(record::CsvHeader(readouts));
  const bool progress = ::isatty(STDERR_FILENO) == 1;
  const Clock::time_point started = Clock::now();
  Clock::time_point drawn{};
  Clock::time_point first{};
  long rows = 0;
  bool done = false, ended = false, overflow = false;
  std::string lastEvent;
  std::deque<LoopState> states;
  std::vector<LoopEvent> events;
  // Writes s, unless the recording is complete already; false once it is.
  const auto write = [&](const LoopState& s) {
    if (rows == 0) first = s.time;
    const double time = Seconds(s.time - first);
    if ((o.duration > 0 && time >= o.duration) || (o.count > 0 && rows >= o.count)) return false;
    out.Line(csv ? record::CsvRow(s, time, readouts) : record::JsonRow(s, time, readouts));
    ++rows;
    return o.count == 0 || rows < o.count;
  };
  while (!done) {
    inbox.Take(100ms, states, events, overflow);
    for (const LoopState& s : states) {
      if (!write(s)) {
        done = true;
        break;
      }
    }
    for (const LoopEvent& e : events) {
      lastEvent = fmt::format("{}: {}", EventName(e.kind), e.message);
      fmt::print(stderr, "{}cycle {}: {}\n", progress ? "\r\033[K" : "", e.sequence, lastEvent);
    }
    if (Interrupted() || overflow) done = true;
    if (!done && !loop->Running()) {
      // The loop's last cycles are in the inbox already: one more round
      // writes them.
      inbox.Take(0s, states, events, overflow);
      for (const LoopState& s : states) {
        if (!write(s)) break;
      }
      done = ended = true;
    }
    const Clock::time_point now = Clock::now();
    if (progress && (done || now - drawn >= 200ms)) {
      const double elapsed = Seconds(now - started);
      std::string left;
      if (o.duration > 0) {
        left = fmt::format(" of {} ({} left)", Duration(o.duration),
                           Duration(std::max(0.0, o.duration - elapsed)));
      }
      fmt::print(stderr, "\rrecording: {}{} cycles  {:.1f} Hz  {}{}\033[K", rows,
                 o.count > 0 ? fmt::format(" of {}", o.count) : std::string(),
                 loop->Statistics().rate, Duration(elapsed), left);
      drawn = now;
    }
  }
  loop->OnCycle({});
  loop->OnEvent({});
  const LoopStatistics figures = loop->Statistics();
  loop->Stop();
  out.Close();
  if (progress) fmt::print(stderr, "\n");
  fmt::print(stderr, "Recorded {} cycles to {}: {:.1f} cycles/s, jitter {:.3f} ms, {} missed.\n",
             rows, out.name(), figures.rate, figures.jitter * 1e3, figures.missed);
  if (overflow) {
    throw Failure(
        fmt::format("writing {} fell too far behind the loop: the recording ends at "
                    "row {}",
                    out.name(), rows));
  }
  if (ended) {
    throw Failure(
        fmt::format("the control loop ended{}", lastEvent.empty() ? "" : " after " + lastEvent));
  }
}

}  // namespace

void AddRecordCommand(CLI::App& app, const Context& context) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* record = app.add_subcommand(
      "record", "Write the arm's state every cycle of a control loop to a CSV or JSON Lines file");
  record->add_option("--rate", options->rate, "Cycles per second")
      ->check(Between(0.01, 1000))
      ->capture_default_str();
  record->add_option("--duration", options->duration, "Stop after S seconds")
      ->type_name("S")
      ->check(AboveZero());
  record->add_option("-n,--count", options->count, "Stop after N cycles")->check(AtLeast(1));
  record
      ->add_option("--readouts", options->readouts,
                   "What to read besides the joint angles, separated by commas: "
                   "velocities, forces, cartesian, status")
      ->type_name("LIST")
      ->check(CLI::Validator(
          [](std::string& text) {
            unsigned bits = 0;
            return record::ParseReadouts(text, bits);
          },
          "LIST"));
  record->add_option("--format", options->format, "csv (with a header line) or jsonl")
      ->check(OneOf({"csv", "jsonl"}))
      ->capture_default_str();
  record->add_option("-o,--output", options->output, "The file to write (default: standard output)")
      ->type_name("FILE");
  record->callback([&context, options] { RunRecord(context, *options); });
}

}  // namespace tarsel::tool
