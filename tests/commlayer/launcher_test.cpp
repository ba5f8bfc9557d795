// tarsel-sim-usb stopped by a signal while the tool runs under it: the tool
// stops the arm in its own way, the launcher keeps the arm on the bus
// meanwhile and ends with the tool's status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

#if defined(TARSEL_SIM_USB) && defined(TARSEL_TOOL)

using Clock = std::chrono::steady_clock;

// Appends what fd delivers to text until text holds cue, or with an empty cue
// until every writer has closed it. False when the deadline passes first.
bool ReadUntil(int fd, std::string& text, const std::string& cue, Clock::time_point deadline) {
  char buffer[4096];
  while (cue.empty() || text.find(cue) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return cue.empty();
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

struct StopCase {
  const char* name;
  // Ctrl-C typed on the terminal, which signals the launcher and the tool
  // alike; otherwise SIGTERM sent to the launcher alone.
  bool typed;
  int status;
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherStop : public ::testing::TestWithParam<StopCase> {};

// tarsel home on a terminal of its own, the arm slowed a hundredfold so that
// the move lasts minutes; the signal comes once the tool polls the queue
// (trace lines of command 304), when its Ctrl-C handler is in place.
TEST_P(LauncherStop, LetsTheToolStopTheArm) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TARSEL_", 7) != 0 && std::strncmp(*e, "UMOCKDEV_", 9) != 0) {
      env.emplace_back(*e);
    }
  }
  env.emplace_back("TARSEL_SIM_TIME_SCALE=0.01");
  env.emplace_back("TARSEL_SIM_TRACE=1");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const char* argv[] = {TARSEL_SIM_USB, TARSEL_TOOL, "home", nullptr};

  int output[2];
  ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
  int terminal = -1;
  const pid_t launcher = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(launcher, 0) << std::strerror(errno);
  if (launcher == 0) {
    ::dup2(output[1], 1);
    ::dup2(output[1], 2);
    ::execve(TARSEL_SIM_USB, const_cast<char**>(argv), envp.data());
    ::_exit(127);
  }
  ::close(output[1]);

  std::string text;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  EXPECT_TRUE(ReadUntil(output[0], text, " 304 ", deadline)) << text;
  if (GetParam().typed) {
    EXPECT_EQ(::write(terminal, "\x03", 1), 1);
  } else {
    ::kill(launcher, SIGTERM);
  }
  if (!ReadUntil(output[0], text, "", deadline + std::chrono::seconds(60))) {
    ADD_FAILURE() << "still running a minute after the signal";
    ::kill(launcher, SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(launcher, &status, 0), launcher);
  ::close(output[0]);
  ::close(terminal);

  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), GetParam().status);
  EXPECT_NE(text.find("\ntarsel: interrupted: the trajectory queue was erased and the arm "
                      "stopped short of home\n"),
            std::string::npos)
      << text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
  EXPECT_NE(text.find("sim:   301 "), std::string::npos);  // the erase reached the arm
}

INSTANTIATE_TEST_SUITE_P(Signals, LauncherStop,
                         ::testing::Values(StopCase{"CtrlCOnTheTerminal", true, 130},
                                           StopCase{"TermToTheLauncherAlone", false, 143}),
                         [](const auto& info) { return std::string(info.param.name); });

#endif

}  // namespace
