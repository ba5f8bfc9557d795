// The field trace (TARSEL_TRACE): a program run against the virtual bus with
// the variable set leaves a pcapng capture that tshark reads as any USB
// capture, showing each transfer's submit and complete events with the
// endpoint, the status and the packet bytes. The traced program is the child
// probe: the link library reads the variable as it loads. The recent packets
// the probe saves at its end (TarselLinkSaveRecentPackets) are the same
// capture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "simulated_arm.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using vusb::VirtualArm;

// One row of tshark's field output.
struct Event {
  std::string type;      // S or C
  std::string endpoint;  // 0x02, 0x82
  std::string status;    // -115 (in progress), 0, -110 (timed out)
  std::string command;   // the packet's third word, as two hex bytes; "" without data
};

bool operator==(const Event& a, const Event& b) {
  return a.type == b.type && a.endpoint == b.endpoint && a.status == b.status &&
         a.command == b.command;
}

void PrintTo(const Event& e, std::ostream* os) {
  *os << "{" << e.type << " " << e.endpoint << " " << e.status << " " << e.command << "}";
}

std::string Run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  if (!pipe) return out;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) out += buffer;
  return out;
}

// The trace's events as tshark dissects them. Bytes fields come as hex,
// with or without colons depending on tshark's version.
std::vector<Event> Dissect(const std::string& file, std::string* buses = nullptr) {
  const std::string out = Run(std::string(TARSEL_TSHARK) + " -r " + file +
                              " -T fields -E separator=/t -e usb.urb_type -e usb.endpoint_address"
                              " -e usb.urb_status -e usb.capdata -e usb.bus_id"
                              " -e usb.device_address 2>/dev/null");
  std::vector<Event> events;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    f.resize(6);
    std::string data;
    for (char c : f[3]) {
      if (c != ':') data += c;
    }
    Event e{f[0], f[1], f[2], data.size() >= 12 ? data.substr(8, 4) : ""};
    // urb_type prints as 'S' or S.
    if (e.type.size() == 3 && e.type.front() == '\'') e.type = e.type.substr(1, 1);
    events.push_back(e);
    if (buses != nullptr) *buses += f[4] + "-" + f[5] + ";";
  }
  if (events.empty()) ADD_FAILURE() << "tshark read no event from " << file;
  return events;
}

struct TraceCase {
  const char* name;
  std::vector<std::string> probe;  // the child probe's arguments
  bool answers;                    // the arm mirrors each packet, or stays silent
  std::vector<Event> events;
};

void PrintTo(const TraceCase& c, std::ostream* os) {
  *os << c.name;
}

// How the capture is made: traced as the probe runs, or saved at its end.
enum class Capture { kTraced, kSaved };

class Trace : public ::testing::TestWithParam<std::tuple<TraceCase, Capture>> {
 protected:
  void SetUp() override {
    if (std::string(TARSEL_TSHARK).empty()) GTEST_SKIP() << "tshark is not installed";
    file_ = (std::filesystem::temp_directory_path() /
             ("tarsel-trace-" + std::to_string(getpid()) + ".pcapng"))
                .string();
  }
  void TearDown() override {
    if (!file_.empty()) std::filesystem::remove(file_);
  }
  std::string file_;
};

TEST_P(Trace, TsharkShowsEveryTransferWithItsCommand) {
  const auto& [c, capture] = GetParam();
  VirtualArm arm(c.answers ? vusb::Responder(Mirror) : vusb::Responder());
  std::vector<std::string> argv{TARSEL_CHILD_PROBE};
  argv.insert(argv.end(), c.probe.begin(), c.probe.end());
  if (capture == Capture::kSaved) argv.push_back("save=" + file_);
  if (capture == Capture::kTraced) setenv("TARSEL_TRACE", file_.c_str(), 1);
  arm.Run(argv);
  unsetenv("TARSEL_TRACE");

  std::string buses;
  EXPECT_EQ(Dissect(file_, &buses), c.events);
  // Every event names the arm's place: bus 1 and its device number.
  std::string expected;
  const std::string place = "1-" + std::to_string(arm.Device(0).Address()) + ";";
  for (std::size_t i = 0; i < c.events.size(); ++i) expected += place;
  EXPECT_EQ(buses, expected);
}

// The request's command word is 77 (4d00) through the plain functions and
// 10 (0a00) through a handle; the mirror answer repeats it. A silent arm's
// read completes with -ETIMEDOUT and no data.
INSTANTIATE_TEST_SUITE_P(
    Links, Trace,
    ::testing::Combine(::testing::Values(TraceCase{"PlainFunctions",
                                                   {},
                                                   true,
                                                   {{"S", "0x02", "-115", "4d00"},
                                                    {"C", "0x02", "0", ""},
                                                    {"S", "0x82", "-115", ""},
                                                    {"C", "0x82", "0", "4d00"}}},
                                         TraceCase{"Handles",
                                                   {"arms"},
                                                   true,
                                                   {{"S", "0x02", "-115", "0a00"},
                                                    {"C", "0x02", "0", ""},
                                                    {"S", "0x82", "-115", ""},
                                                    {"C", "0x82", "0", "0a00"}}},
                                         TraceCase{"SilentArm",
                                                   {},
                                                   false,
                                                   {{"S", "0x02", "-115", "4d00"},
                                                    {"C", "0x02", "0", ""},
                                                    {"S", "0x82", "-115", ""},
                                                    {"C", "0x82", "-110", ""}}}),
                       ::testing::Values(Capture::kTraced, Capture::kSaved)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == Capture::kTraced ? "Traced" : "Saved");
    });

// Recent packets saved before any exchange: a capture with no packet in it,
// which tshark reads without a complaint.
TEST(SavedPackets, NothingExchangedSavesAnEmptyCapture) {
  if (std::string(TARSEL_TSHARK).empty()) GTEST_SKIP() << "tshark is not installed";
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("tarsel-saved-empty-" + std::to_string(getpid()) + ".pcapng"))
                               .string();
  VirtualArm arm(Mirror);
  ASSERT_EQ(arm.Run({TARSEL_CHILD_PROBE, "idle", "save=" + file}), 0);
  const std::string read =
      std::string(TARSEL_TSHARK) + " -r " + file + " 2>/dev/null; echo status $?";
  EXPECT_EQ(tarsel::testing::Run(read), "status 0\n");
  std::filesystem::remove(file);
}

// A trace file that cannot be written costs the trace, not the link.
TEST(TraceFile, UnwritablePathLeavesTheLinkWorking) {
  VirtualArm arm(Mirror);
  setenv("TARSEL_TRACE", "/nonexistent-folder/trace.pcapng", 1);
  const int status = arm.Run({TARSEL_CHILD_PROBE});
  unsetenv("TARSEL_TRACE");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(arm.Device(0).OutPackets().size(), 1u);
}

// How the child probe ended with TARSEL_TRACE set, and what it wrote on
// standard error.
struct ProbeRun {
  bool ended = false;  // false: still running at the deadline, and killed
  int status = -1;     // its exit status
  std::string errors;
};

// Runs the child probe (one exchange through the plain functions) against
// arm with TARSEL_TRACE=trace, limited to files of at most fileLimit bytes.
// The deadline is generous: only a probe that blocks runs into it.
ProbeRun RunTracedProbe(VirtualArm& arm, const std::string& trace,
                        rlim_t fileLimit = RLIM_INFINITY) {
  const std::string errorsFile =
      (std::filesystem::temp_directory_path() / ("tarsel-trace-errors-" + std::to_string(getpid())))
          .string();
  // The child inherits standard error, the limit and an ignored SIGXFSZ (which
  // would otherwise end it at the limit); this process gets them back at once.
  const int saved = dup(2);
  const int errors = open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  rlimit limit{}, before{};
  getrlimit(RLIMIT_FSIZE, &before);
  limit = before;
  limit.rlim_cur = fileLimit;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  setenv("TARSEL_TRACE", trace.c_str(), 1);
  dup2(errors, 2);
  setrlimit(RLIMIT_FSIZE, &limit);
  const pid_t pid = arm.Spawn({TARSEL_CHILD_PROBE});
  setrlimit(RLIMIT_FSIZE, &before);
  dup2(saved, 2);
  unsetenv("TARSEL_TRACE");
  std::signal(SIGXFSZ, oldHandler);
  close(saved);
  close(errors);

  ProbeRun run;
  if (pid < 0) {
    ADD_FAILURE() << "cannot start the probe";
    return run;
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(run.ended = waitpid(pid, &status, WNOHANG) == pid) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!run.ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  std::ifstream in(errorsFile);
  run.errors.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(errorsFile);
  return run;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Paths that name no place for a capture: each is refused at once with one
// line on standard error (no waiting for a FIFO's reader, no trace lost in a
// device or a kernel file without a word), and the link works untraced.
TEST(TraceFile, RefusesWhatIsNoRegularFile) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarsel-trace-places-" + std::to_string(getpid()));
  std::filesystem::create_directory(folder);
  const std::string fifo = (folder / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = (folder / "link").string();
  std::filesystem::create_symlink(folder / "elsewhere.pcapng", link);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {fifo, "a FIFO"},
      {"/dev/full", "a device"},
      {folder.string(), "a directory"},
      // Writable by the process itself: the trace would rename it.
      {"/proc/self/comm", "a file of the kernel"},
      {link, "a symbolic link"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    VirtualArm arm(Mirror);
    const ProbeRun run = RunTracedProbe(arm, c.path);
    if (!run.ended) {
      ADD_FAILURE() << "the probe blocked";
      continue;
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(arm.Device(0).OutPackets().size(), 1u);
    EXPECT_EQ(Lines(run.errors), 1u) << run.errors;
    EXPECT_NE(run.errors.find("TARSEL_TRACE: cannot write " + c.path + ": " + c.reason),
              std::string::npos)
        << run.errors;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "elsewhere.pcapng"));
  std::filesystem::remove_all(folder);
}

// A write that fails later (here the file size limit, as a full disk would):
// one line on standard error, the link goes on untraced, and the file keeps
// the events written before, readable.
TEST(TraceFile, FailedWriteIsReportedOnceAndTheLinkGoesOn) {
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("tarsel-trace-full-" + std::to_string(getpid()) + ".pcapng"))
                               .string();
  // The header and the request's submit event (with its 64 bytes) fit; the
  // other three events of the exchange do not.
  constexpr rlim_t kHeaderAndOneEvent = 300;
  VirtualArm arm(Mirror);
  const ProbeRun run = RunTracedProbe(arm, file, kHeaderAndOneEvent);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(arm.Device(0).OutPackets().size(), 1u);
  EXPECT_EQ(Lines(run.errors), 1u) << run.errors;
  EXPECT_NE(run.errors.find("TARSEL_TRACE: writing " + file + " failed"), std::string::npos)
      << run.errors;
  if (!std::string(TARSEL_TSHARK).empty()) {
    EXPECT_EQ(Dissect(file), (std::vector<Event>{{"S", "0x02", "-115", "4d00"}}));
  }
  std::filesystem::remove(file);
}

// tarsel --trace FILE: the tool's session through the real link is in the
// capture, its read of the joint angles (command 105, 6900) among it.
TEST(TraceFile, ToolOptionRecordsTheSession) {
#ifndef TARSEL_TOOL
  GTEST_SKIP() << "the tool is not built";
#else
  if (std::string(TARSEL_TSHARK).empty()) GTEST_SKIP() << "tshark is not installed";
  sim::SimulatedArm simulated;
  VirtualArm arm([&](const Packet& p) { return simulated.Handle(p); });
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("tarsel-tool-trace-" + std::to_string(getpid()) + ".pcapng"))
                               .string();
  ASSERT_EQ(arm.Run({TARSEL_TOOL, "--trace", file, "positions"}), 0);
  bool read = false;
  for (const Event& e : Dissect(file)) {
    read = read || (e.type == "S" && e.endpoint == "0x02" && e.command == "6900");
  }
  EXPECT_TRUE(read);
  std::filesystem::remove(file);
#endif
}

}  // namespace
}  // namespace tarsel::testing
