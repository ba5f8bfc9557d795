// The built tarsel tool run against the simulated arm, shared by the tests
// of each command group: a fixture that runs the tool and collects its exit
// status and output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tarsel/result.h"

namespace tarsel::tool::test {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Env = std::vector<std::pair<std::string, std::string>>;

struct Result {
  int status = -1;  // exit status, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarsel-tool-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool with args; env is added to (and overrides) this process's
  // environment, with every simulator variable cleared first.
  Result Run(const std::vector<std::string>& args, const Env& env = {}) {
    return Finish(Start(args, env));
  }

  // Starts the tool and returns its process id; Finish waits for it. Its
  // standard error goes to errPipe when one is given.
  pid_t Start(const std::vector<std::string>& args, const Env& env = {}, int errPipe = -1) {
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t child = ::fork();
    if (child == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e =
          errPipe >= 0 ? errPipe : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0) ::_exit(126);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::dup2(in, 0);
      for (const char* name :
           {"TARSEL_SIM_HAND", "TARSEL_SIM_TIME_SCALE", "TARSEL_SIM_FINGER_POINTS",
            "TARSEL_SIM_FAULT", "TARSEL_SIM_TRACE", "TARSEL_SIM_LINK", "LD_PRELOAD"}) {
        ::unsetenv(name);
      }
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(TARSEL_TOOL));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(TARSEL_TOOL, argv.data());
      ::_exit(127);
    }
    return child;
  }

  Result Finish(pid_t child) {
    Result r;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
      r.status = WEXITSTATUS(status);
    }
    r.out = ReadFile(dir_ / "stdout");
    r.err = ReadFile(dir_ / "stderr");
    return r;
  }

  // Runs the tool with its standard error on a pipe, reads that until cue
  // appears, sends Ctrl-C (SIGINT) and reads the rest. Tools that trace the
  // simulator's exchanges there cannot run on past the cue for long: once
  // the pipe is full they wait for the reader, so the signal lands while the
  // work is still going on, however slow the machine.
  Result Interrupt(const std::vector<std::string>& args, const Env& env, const std::string& cue) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t child = Start(args, env, fds[1]);
    ::close(fds[1]);
    std::string err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    EXPECT_TRUE(ReadUntil(fds[0], err, cue, deadline)) << "no \"" << cue << "\" within a minute:\n"
                                                       << err;
    ::kill(child, SIGINT);
    if (!ReadUntil(fds[0], err, "", deadline + std::chrono::seconds(60))) {
      ADD_FAILURE() << "the tool did not end after Ctrl-C";
      ::kill(child, SIGKILL);
    }
    ::close(fds[0]);
    Result r = Finish(child);
    r.err = err;
    return r;
  }

  // Appends what fd delivers to text until text holds cue, or with an empty
  // cue until the pipe is closed. False when the deadline passes first, or
  // the pipe closes before cue came.
  static bool ReadUntil(int fd, std::string& text, const std::string& cue,
                        std::chrono::steady_clock::time_point deadline) {
    char buffer[4096];
    while (cue.empty() || text.find(cue) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return cue.empty();
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // The tool against the simulated arm, motion a hundred times faster.
  Result Sim(std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), {"--sim", "--sim-speed", "100"});
    return Run(args, env);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }

  fs::path dir_;
};

// The tool's message for a failed export.
inline std::string Failed(const std::string& what, int code) {
  return "tarsel: " + what + " failed: " + std::to_string(code) + " (" + GetResultMessage(code) +
         ")\n";
}

}  // namespace tarsel::tool::test
