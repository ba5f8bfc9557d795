// Processes for the tests of tarsel-sim: the service itself, the tarsel tool
// and other programs run against it, each in a temporary folder of its own.
// Every wait has a generous deadline and polls, so that a loaded machine
// makes the tests slower, never wrong.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace servicetest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Env = std::vector<std::pair<std::string, std::string>>;

inline constexpr auto kDeadline = std::chrono::seconds(60);

// The simulator's variables: cleared in every child, so that what the
// developer has set does not leak into the tests.
inline const char* const kSimVariables[] = {
    "TARSEL_SIM",       "TARSEL_SIM_ARMS",  "TARSEL_SIM_HAND",  "TARSEL_SIM_TIME_SCALE",
    "TARSEL_SIM_FAULT", "TARSEL_SIM_TRACE", "TARSEL_SIM_LINK",  "TARSEL_SIM_SOCKET",
    "TARSEL_SIM_FINGER_POINTS"};

struct Result {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts program with args and env (over a cleared simulator environment);
// standard output goes to out (a file, or the write end of a pipe when
// outFd >= 0), standard error to err.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const Env& env,
                   const fs::path& out, const fs::path& err, int outFd = -1) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  const int o = outFd >= 0 ? outFd : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int in = ::open("/dev/null", O_RDONLY);
  if (o < 0 || e < 0 || in < 0) ::_exit(126);
  ::dup2(o, 1);
  ::dup2(e, 2);
  ::dup2(in, 0);
  for (const char* name : kSimVariables) ::unsetenv(name);
  for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// Waits for child; its exit status, or -1 when it had to be killed at the
// deadline (or died of a signal).
inline int Wait(pid_t child, Clock::time_point deadline = Clock::now() + kDeadline) {
  int status = 0;
  while (true) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "process " << child << " did not end in time; killed";
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Polls until done() holds or the deadline passes; whether it held.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds within = std::chrono::seconds(30)) {
  const auto deadline = Clock::now() + within;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A temporary folder, the service started there, and the tool run
// against it.
class ServiceTest : public ::testing::Test {
 public:
  fs::path Path(const std::string& name) const { return dir_ / name; }

 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarsel-service-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    socket_ = (dir_ / "sim.sock").string();
  }

  void TearDown() override {
    // A clean stop, also under the sanitizers.
    if (service_ > 0) {
      EXPECT_EQ(StopService(SIGTERM), 0) << ReadFile(dir_ / "service.err");
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Starts tarsel-sim with args (the socket added) and waits until it says
  // where programs reach it. The live view's port, when it has one, is in
  // viewPort_.
  ::testing::AssertionResult StartService(std::vector<std::string> args) {
    args.insert(args.end(), {"--socket", socket_});
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return ::testing::AssertionFailure() << "pipe";
    service_ = Spawn(TARSEL_SIM_SERVICE, args, {}, {}, dir_ / "service.err", fds[1]);
    ::close(fds[1]);
    serviceOut_.clear();
    const bool ready = ReadUntil(fds[0], serviceOut_, "programs reach them");
    // With a live view its line follows at once.
    if (ready && std::find(args.begin(), args.end(), "--http") != args.end()) {
      ReadUntil(fds[0], serviceOut_, "/\n");
      std::smatch port;
      if (std::regex_search(serviceOut_, port, std::regex("127\\.0\\.0\\.1:([0-9]+)/"))) {
        viewPort_ = std::stoi(port[1]);
      }
    }
    serviceOutFd_ = fds[0];
    if (!ready) {
      return ::testing::AssertionFailure()
             << "tarsel-sim did not start:\n" << serviceOut_ << ReadFile(dir_ / "service.err");
    }
    return ::testing::AssertionSuccess();
  }

  // Stops the service with signal; its exit status.
  int StopService(int signal) {
    ::kill(service_, signal);
    const int status = Wait(service_);
    service_ = -1;
    if (serviceOutFd_ >= 0) ::close(serviceOutFd_);
    serviceOutFd_ = -1;
    return status;
  }

  // Runs the tool against the service (--sim, TARSEL_SIM_SOCKET).
  Result Tool(std::vector<std::string> args, const Env& env = {}) {
    return Finish(StartTool(std::move(args), env));
  }

  // A run of the tool, its output in files of its own.
  struct Started {
    pid_t pid = -1;
    int run = 0;
  };

  Started StartTool(std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), "--sim");
    Env all = {{"TARSEL_SIM_SOCKET", socket_}};
    all.insert(all.end(), env.begin(), env.end());
    const int run = ++runs_;
    return {Spawn(TARSEL_TOOL, args, all, OutFile(run), ErrFile(run)), run};
  }

  Result Finish(Started started) {
    Result r;
    r.status = Wait(started.pid);
    r.out = ReadFile(OutFile(started.run));
    r.err = ReadFile(ErrFile(started.run));
    return r;
  }

  static bool ReadUntil(int fd, std::string& text, const std::string& cue) {
    const auto deadline = Clock::now() + kDeadline;
    char buffer[1024];
    while (text.find(cue) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  fs::path dir_;
  std::string socket_;
  pid_t service_ = -1;
  int serviceOutFd_ = -1;
  std::string serviceOut_;
  int viewPort_ = 0;
  int runs_ = 0;

  fs::path OutFile(int run) const { return dir_ / ("tool" + std::to_string(run) + ".out"); }
  fs::path ErrFile(int run) const { return dir_ / ("tool" + std::to_string(run) + ".err"); }
};

}  // namespace servicetest
