// tarsel record, tarsel jog and the doctor's timing of the link, against the
// simulated arm. jog reads its keys from a pipe, or from a pseudo-terminal
// when the terminal's raw mode is what is tested.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"

namespace tarsel::tool::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

// --- record -------------------------------------------------------------------------

struct RecordCase {
  const char* name;
  std::string format;
  std::string readouts;
  // CSV: the header line; JSON Lines: each object's keys, in order.
  std::vector<std::string> columns;
};

const std::string kJointColumns = "sequence,time,ok,A1,A2,A3,A4,A5,A6,F1,F2,F3";

const RecordCase kRecordCases[] = {
    {"CsvJointsOnly", "csv", "", {kJointColumns}},
    {"CsvEveryReadout",
     "csv",
     "status,cartesian,forces,velocities",
     {kJointColumns +
      ",V1,V2,V3,V4,V5,V6,VF1,VF2,VF3,T1,T2,T3,T4,T5,T6,TF1,TF2,TF3,X,Y,Z,RX,RY,RZ,"
      "Finger1Initialized,Finger2Initialized,Finger3Initialized,StatusByte3,StatusByte4,"
      "StatusByte5,StatusByte6,StatusByte7,StatusByte8,StatusByte9,StatusByte10,HandType,"
      "StatusByte12,StatusByte13"}},
    {"JsonJointsOnly", "jsonl", "", {"sequence", "time", "ok", "joints"}},
    {"JsonEveryReadout",
     "jsonl",
     "velocities,forces,cartesian,status",
     {"sequence", "time", "ok", "joints", "velocities", "forces", "pose", "status"}},
};

void PrintTo(const RecordCase& c, std::ostream* out) {
  *out << c.name;
}

class Record : public Tool, public ::testing::WithParamInterface<RecordCase> {};

// Every cycle is a row, in order, the chosen columns filled; the simulated
// arm stands at its power-on joints (A3 140, A5 40).
TEST_P(Record, WritesEveryCycleWithTheChosenColumns) {
  const RecordCase& c = GetParam();
  constexpr int kRows = 25;
  const Result r = Sim({"record", "--count", std::to_string(kRows), "--rate", "200", "--readouts",
                        c.readouts, "--format", c.format, "-o", Path("rec")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Recorded 25 cycles to " + Path("rec").string()));
  std::vector<std::string> lines = Lines(ReadFile(Path("rec")));
  if (c.format == "csv") {
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), c.columns.front());
    lines.erase(lines.begin());
  }
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRows));
  const std::size_t width = Cells(c.columns.front()).size();
  double lastTime = -1;
  std::uint64_t lastSequence = 0;
  for (const std::string& line : lines) {
    std::uint64_t sequence = 0;
    double time = 0, a3 = 0, a5 = 0;
    if (c.format == "csv") {
      const std::vector<std::string> cells = Cells(line);
      ASSERT_EQ(cells.size(), width) << line;
      for (const std::string& cell : cells) EXPECT_FALSE(cell.empty()) << line;
      sequence = std::stoull(cells[0]);
      time = std::stod(cells[1]);
      EXPECT_EQ(cells[2], "1");
      a3 = std::stod(cells[5]);
      a5 = std::stod(cells[7]);
    } else {
      const auto row = nlohmann::ordered_json::parse(line);
      std::vector<std::string> keys;
      for (const auto& item : row.items()) keys.push_back(item.key());
      EXPECT_EQ(keys, c.columns);
      for (const auto& item : row.items()) EXPECT_FALSE(item.value().is_null()) << item.key();
      sequence = row["sequence"];
      time = row["time"];
      EXPECT_EQ(row["ok"], true);
      a3 = row["joints"]["Actuators"]["Actuator3"];
      a5 = row["joints"]["Actuators"]["Actuator5"];
    }
    if (lastSequence == 0) {
      EXPECT_EQ(time, 0.0);
    } else {
      EXPECT_EQ(sequence, lastSequence + 1) << "a cycle is missing before " << line;
      EXPECT_GT(time, lastTime) << line;
    }
    lastSequence = sequence;
    lastTime = time;
    EXPECT_NEAR(a3, 140.0, 1e-3);
    EXPECT_NEAR(a5, 40.0, 1e-3);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, Record, ::testing::ValuesIn(kRecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Tool, RecordStopsAtTheDurationAndRefusesUnknownReadouts) {
  const Result r = Sim({"record", "--duration", "0.2", "--rate", "50"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u) << r.out;  // the header and at least the first cycle
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_LT(std::stod(Cells(lines[i])[1]), 0.2);

  const Result bad = Sim({"record", "--readouts", "velocities,forcse"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("unknown read-out 'forcse' (did you mean 'forces'?)"));
}

TEST_F(Tool, RecordEndsOnCtrlCWithTheFileComplete) {
  const pid_t tool = Start({"--sim", "record", "--format", "jsonl", "-o", Path("rec")});
  ASSERT_GT(tool, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (CountLines(ReadFile(Path("rec"))) < 1 && Clock::now() < deadline) ::usleep(10 * 1000);
  ::kill(tool, SIGINT);
  const Result r = Finish(tool);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string text = ReadFile(Path("rec"));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  for (const std::string& line : Lines(text)) EXPECT_NO_THROW(nlohmann::json::parse(line)) << line;
}

// --- jog ------------------------------------------------------------------------------

// Appends what fd delivers within the deadline to text; false at its end
// (or an error, such as EIO from a terminal whose other side is gone) or
// when the deadline passed with nothing read.
bool ReadMore(int fd, std::string& text, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

// The tool with its standard input and output on pipes (standard error to a
// file): keys go in as lines, its log lines come out.
class Piped {
 public:
  Piped(const std::vector<std::string>& args, const fs::path& err) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(e, 2);
      Exec(args);
    }
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Piped() {
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Runs the tool in this (forked) process, its environment as Tool gives it.
  [[noreturn]] static void Exec(const std::vector<std::string>& args) {
    for (const char* name :
         {"TARSEL_SIM_HAND", "TARSEL_SIM_TIME_SCALE", "TARSEL_SIM_FAULT", "TARSEL_SIM_TRACE",
          "TARSEL_SIM_LINK", "TARSEL_SIM_SOCKET", "LD_PRELOAD"}) {
      ::unsetenv(name);
    }
    std::vector<char*> argv{const_cast<char*>(TARSEL_TOOL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TARSEL_TOOL, argv.data());
    ::_exit(127);
  }

  void Send(const std::string& keys) {
    ASSERT_EQ(::write(in_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // The first line from now on that starts with prefix and satisfies
  // accept; "" when none comes within a minute.
  std::string Line(const std::string& prefix,
                   const std::function<bool(const std::string&)>& accept = {}) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
      for (std::size_t end; (end = text_.find('\n', read_)) != std::string::npos;) {
        const std::string line = text_.substr(read_, end - read_);
        read_ = end + 1;
        if (line.rfind(prefix, 0) == 0 && (!accept || accept(line))) return line;
      }
      if (!ReadMore(out_, text_, deadline)) return {};
    }
  }

  // Closes the keys' pipe and waits for the exit status.
  int Finish() {
    ::close(in_);
    in_ = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (ReadMore(out_, text_, deadline)) {
    }
    int status = 0;
    const pid_t pid = pid_;
    pid_ = -1;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  const std::string& Text() const { return text_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string text_;
  std::size_t read_ = 0;
};

// The six values a log line of jog shows ("A1 12.345 A2 ..." or "X 0.4100
// ..."); nothing when the line holds none.
std::optional<std::array<double, 6>> Values(const std::string& line, bool cartesian) {
  static const char* const kJoints[6] = {"A1", "A2", "A3", "A4", "A5", "A6"};
  static const char* const kPose[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};
  std::array<double, 6> values{};
  for (int i = 0; i < 6; ++i) {
    std::smatch m;
    const std::regex re(std::string(" ") + (cartesian ? kPose : kJoints)[i] + " (-?[0-9.]+)");
    if (!std::regex_search(line, m, re)) return std::nullopt;
    values[static_cast<std::size_t>(i)] = std::stod(m[1]);
  }
  return values;
}

struct JogCase {
  const char* name;
  bool cartesian;
  std::string key;
  int axis;      // 0-5
  int sign;      // the direction the key moves it
  bool release;  // let the watchdog stop the arm rather than space
};

const JogCase kJogCases[] = {
    {"Joint1Up", false, "1", 0, +1, false},
    {"Joint1Down", false, "a", 0, -1, false},
    {"Joint3DownThenReleased", false, "d", 2, -1, true},
    {"HandUp", true, "3", 2, +1, false},
};

void PrintTo(const JogCase& c, std::ostream* out) {
  *out << c.name;
}

class Jog : public Tool, public ::testing::WithParamInterface<JogCase> {};

// A key moves its axis its way; space (or, once the key is let go, the
// watchdog) stops it; q leaves the arm at rest where it stopped.
TEST_P(Jog, MovesTheAxisAndStops) {
  const JogCase& c = GetParam();
  std::vector<std::string> args = {"--sim", "jog",        "--speed",
                                   "100",   "--watchdog", c.release ? "1" : "10"};
  if (c.cartesian) args.push_back("--cartesian");
  Piped tool(args, Path("stderr"));
  const double enough = c.cartesian ? 0.005 : 1.0;  // metres, degrees
  const double still = c.cartesian ? 1e-4 : 0.01;
  const auto i = static_cast<std::size_t>(c.axis);

  const auto start = Values(tool.Line("ready"), c.cartesian);
  ASSERT_TRUE(start) << tool.Text() << ReadFile(Path("stderr"));
  tool.Send(c.key + "\n");
  std::optional<std::array<double, 6>> stopped;
  if (c.release) {
    stopped = Values(tool.Line("released: the watchdog stopped the arm"), c.cartesian);
  } else {
    const std::string moved = tool.Line("moving ", [&](const std::string& line) {
      const auto v = Values(line, c.cartesian);
      return v && std::fabs((*v)[i] - (*start)[i]) >= enough;
    });
    ASSERT_FALSE(moved.empty()) << tool.Text();
    tool.Send(" \n");
    stopped = Values(tool.Line("stopped"), c.cartesian);
  }
  ASSERT_TRUE(stopped) << tool.Text();
  EXPECT_GE(c.sign * ((*stopped)[i] - (*start)[i]), enough) << tool.Text();
  if (!c.cartesian) {
    for (std::size_t k = 0; k < 6; ++k) {
      if (k != i) {
        EXPECT_NEAR((*stopped)[k], (*start)[k], still) << "joint " << k + 1;
      }
    }
  }
  tool.Send("q\n");
  const auto rest = Values(tool.Line("The arm is at rest: "), c.cartesian);
  ASSERT_TRUE(rest) << tool.Text();
  for (std::size_t k = 0; k < 6; ++k) EXPECT_NEAR((*rest)[k], (*stopped)[k], still) << k;
  EXPECT_EQ(tool.Finish(), 0) << ReadFile(Path("stderr"));
}

INSTANTIATE_TEST_SUITE_P(Keys, Jog, ::testing::ValuesIn(kJogCases),
                         [](const auto& info) { return std::string(info.param.name); });

// jog on a terminal: raw while it runs, the settings back however it ends.
struct TerminalCase {
  const char* name;
  std::string keys;  // sent once jog is ready, or
  int signal;        // sent to it
};

const TerminalCase kTerminalCases[] = {
    {"QuitKey", "q", 0},         {"Escape", "\x1b", 0},  {"CtrlC", "\x03", 0},
    {"Terminated", "", SIGTERM}, {"HungUp", "", SIGHUP},
};

class TerminalJog : public Tool, public ::testing::WithParamInterface<TerminalCase> {};

void PrintTo(const TerminalCase& c, std::ostream* out) {
  *out << c.name;
}

tcflag_t LocalModes(int tty) {
  termios t{};
  if (::tcgetattr(tty, &t) != 0) ADD_FAILURE() << "cannot look at the terminal";
  return t.c_lflag;
}

TEST_P(TerminalJog, RestoresTheTerminal) {
  const TerminalCase& c = GetParam();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  // Held open here too, so that the terminal's screen side never reads as
  // hung up while the tool is not (yet) on it.
  const int tty = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(tty, 0);
  const tcflag_t cooked = LocalModes(tty);
  ASSERT_NE(cooked & ICANON, 0u);

  const fs::path err = Path("stderr");
  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    const int own = ::open(slave.c_str(), O_RDWR);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(own, 0);
    ::dup2(own, 1);
    ::dup2(e, 2);
    Piped::Exec({"--sim", "jog"});
  }
  std::string screen;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  // The keymap's last line comes once the terminal is raw.
  ASSERT_TRUE(ReadUntil(master, screen, "watchdog stops the arm", deadline))
      << screen << ReadFile(err);
  EXPECT_EQ(LocalModes(tty) & (ICANON | ECHO), 0u);
  if (c.signal != 0) {
    ::kill(child, c.signal);
  } else {
    ASSERT_EQ(::write(master, c.keys.data(), c.keys.size()), static_cast<ssize_t>(c.keys.size()));
  }
  // Read on to the tool's last line, so that it never waits on a full
  // terminal.
  EXPECT_TRUE(ReadUntil(master, screen, "The arm is at rest", deadline)) << screen;
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ReadFile(err);
  EXPECT_EQ(LocalModes(tty), cooked);
  ::close(tty);
  ::close(master);
}

INSTANTIATE_TEST_SUITE_P(Endings, TerminalJog, ::testing::ValuesIn(kTerminalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- doctor ------------------------------------------------------------------------------

// The timing section: the figures hang together; how fast is not judged.
TEST_F(Tool, DoctorTimesTheLink) {
  const Result r = Sim({"doctor"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m,
                                std::regex("\nok: +exchange time over 200 joint-angle reads: "
                                           "median ([0-9.]+) ms, p99 ([0-9.]+) ms, max ([0-9.]+) "
                                           "ms[^\n]*\n((?: {9}[^\n]*\n)+)")))
      << r.out;
  const double p50 = std::stod(m[1]), p99 = std::stod(m[2]), max = std::stod(m[3]);
  EXPECT_GT(p50, 0.0);
  EXPECT_LE(p50, p99);
  EXPECT_LE(p99, max);
  int counted = 0;
  const std::regex bucket(" ms +([0-9]+)  #+$");
  for (const std::string& line : Lines(m[4])) {
    std::smatch b;
    if (std::regex_search(line, b, bucket)) counted += std::stoi(b[1]);
  }
  EXPECT_EQ(counted, 200) << m[4];
  ASSERT_TRUE(
      std::regex_search(r.out, m,
                        std::regex("\nok: +([0-9]+) read-plus-write cycles \\(joint angles, "
                                   "then a zero-velocity point\\) in ([0-9.]+) s: "
                                   "([0-9]+) cycles/s\n")))
      << r.out;
  EXPECT_GE(std::stol(m[1]), 1);
  EXPECT_GE(std::stod(m[2]), 1.5);
}

}  // namespace
}  // namespace tarsel::tool::test
