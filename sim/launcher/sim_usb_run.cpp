// tarsel-sim-usb: runs any program with simulated arms present on a virtual
// USB bus. The program sees ordinary arms through the real link library and
// the real libusb; the simulated arms answer in this process.
//
//   tarsel-sim-usb [--arms N] [--bus-clock] [--] program [arguments...]
//
// The simulated arms are configured from the TARSEL_SIM_* variables (see
// sim/README.md); --arms N (1 to 32) overrides TARSEL_SIM_ARMS, the number
// of arms (default 1), each with a state of its own. --bus-clock (or
// TARSEL_SIM_BUS_CLOCK=1) puts the bus on its frame clock: transfers
// complete on 1 ms frame boundaries as on a full-speed bus (sim/README.md,
// "Time on the bus"). The exit status is the program's, 128 + the signal's
// number when a signal ended it.
//
// The signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT)
// do not end the launcher: it passes each one on to the program and keeps
// serving the arms while the program stops in its own way, then ends with
// its status. A signal the terminal sent to the whole foreground process
// group (Ctrl-C, Ctrl-\) reached the program too and is not passed on again:
// a second copy would look like a second Ctrl-C.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "environment.h"
#include "simulated_arm.h"
#include "tarsel/vusb/virtual_arm.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Two bytes a signal, written by the handler and read by the main thread: the
// signal's number, and 1 when the kernel raised it for a terminal key.
int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int signal, siginfo_t* info, void*) {
  const int saved = errno;
  const unsigned char record[2] = {static_cast<unsigned char>(signal),
                                   static_cast<unsigned char>(info->si_code == SI_KERNEL)};
  // A full pipe drops the record: hundreds are waiting already.
  [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], record, sizeof record);
  errno = saved;
}

// The stop signals, to be blocked in the threads that serve the arms so that
// only the main thread takes them.
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

// Catches the stop signals this process was not started ignoring (those the
// program inherits ignored as well). False when the pipe cannot be made.
bool CatchStopSignals() {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  for (int signal : kStopSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_sigaction = OnStopSignal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
  return true;
}

// Reads the signals caught since the last call and passes each on to the
// program pid, unless it reached the program already; with pid 0 (no program
// yet) passes none on. Returns the number of the last one, 0 when none came.
int PassOnSignals(pid_t pid) {
  int last = 0;
  unsigned char record[2];
  while (::read(g_signalPipe[0], record, sizeof record) == sizeof record) {
    last = record[0];
    if (pid <= 0) continue;
    // The terminal signals the whole foreground process group, which holds
    // the program unless it left the launcher's group.
    const bool fromTerminal = record[1] != 0;
    if (fromTerminal && ::getpgid(pid) == ::getpgrp()) continue;
    ::kill(pid, last);
  }
  return last;
}

// Waits for pid to end, passing the stop signals on meanwhile. Returns its
// exit status, 128 + the number of the signal that ended it, or -1.
int WaitPassingSignals(pid_t pid) {
  // Without a process descriptor (kernels before 5.3) the wait polls.
  const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      status = -1;
      break;
    }
    pollfd wake[2] = {{g_signalPipe[0], POLLIN, 0}, {exited, POLLIN, 0}};
    ::poll(wake, exited >= 0 ? 2 : 1, exited >= 0 ? -1 : 50);
    PassOnSignals(pid);
  }
  if (exited >= 0) ::close(exited);
  if (status < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int Usage(const char* self, int status) {
  std::fprintf(stderr,
               "usage: %s [--arms N] [--bus-clock] [--] program [arguments...]\n"
               "Runs program with N simulated arms (default 1) on a virtual USB bus;\n"
               "with --bus-clock, transfers complete on 1 ms frame boundaries.\n",
               self);
  return status;
}

// TARSEL_SIM_BUS_CLOCK: "1" on, "0" off; unset, off. Anything else is
// ignored with a line on standard error.
bool BusClockFromEnvironment() {
  const char* value = std::getenv("TARSEL_SIM_BUS_CLOCK");
  if (value == nullptr || std::strcmp(value, "0") == 0) return false;
  if (std::strcmp(value, "1") == 0) return true;
  std::fprintf(stderr, "tarsel-sim-usb: TARSEL_SIM_BUS_CLOCK: expected 1 or 0, got \"%s\"\n",
               value);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  tarsel::sim::SimEnvironment env = tarsel::sim::ReadEnvironment();
  bool busClock = BusClockFromEnvironment();
  int first = 1;
  for (; first < argc; ++first) {
    if (std::strcmp(argv[first], "--bus-clock") == 0) {
      busClock = true;
      continue;
    }
    if (std::strcmp(argv[first], "--arms") != 0) break;
    if (first + 1 >= argc) return Usage(argv[0], 2);
    // The same rules as TARSEL_SIM_ARMS.
    const std::string value = argv[first + 1];
    const tarsel::sim::SimEnvironment given =
        tarsel::sim::ReadEnvironment([&value](const char* name) {
          return std::strcmp(name, "TARSEL_SIM_ARMS") == 0 ? value.c_str() : nullptr;
        });
    if (!given.arms) {
      std::fprintf(stderr, "tarsel-sim-usb: --arms: expected 1 to %d, got \"%s\"\n",
                   tarsel::sim::kMaxSimulatedArms, value.c_str());
      return 2;
    }
    env.arms = given.arms;
    ++first;
  }
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) return Usage(argv[0], 2);
  if (std::strcmp(argv[first], "--help") == 0) return Usage(argv[0], 0);

  for (const std::string& problem : env.problems) {
    std::fprintf(stderr, "tarsel-sim-usb: %s\n", problem.c_str());
  }
  // Blocked while the arms' threads start, which keep the mask; the main
  // thread takes them from there on.
  const sigset_t stops = StopSet();
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, &stops, &mask);

  const int count = env.arms.value_or(1);
  std::vector<std::unique_ptr<tarsel::sim::SimulatedArm>> arms;
  std::vector<tarsel::vusb::Responder> responders;
  for (int i = 0; i < count; ++i) {
    arms.push_back(std::make_unique<tarsel::sim::SimulatedArm>(env.options));
    tarsel::sim::SimulatedArm* arm = arms.back().get();
    tarsel::sim::Configure(*arm, env);
    responders.emplace_back([arm](const Packet& request) { return arm->Handle(request); });
  }

  tarsel::vusb::DeviceOptions device;
  device.present = !env.absent;
  device.bus_clock = busClock;
  tarsel::vusb::VirtualArm bus(std::move(responders), device);
  // Nobody reads the packet log here, and the bus may serve for hours.
  for (int i = 0; i < count; ++i) bus.Device(static_cast<std::size_t>(i)).SetLogLimit(0);
  if (env.trace) {
    for (int i = 0; i < count; ++i) {
      // With several arms, each line names its arm by its port on the bus.
      const std::string prefix = count > 1 ? "[" + bus.Device(i).PortPath() + "] " : "";
      arms[i]->SetObserver([prefix](const Packet& request, const std::optional<Packet>& answer,
                                const char* why) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(),
                     tarsel::sim::TraceLine(request, answer, why).c_str());
      });
    }
  }
  const std::vector<std::string> command(argv + first, argv + argc);
  if (!CatchStopSignals()) {
    std::fprintf(stderr, "tarsel-sim-usb: %s\n", std::strerror(errno));
    return 1;
  }
  // The program starts with the mask this process was given.
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  // A signal that came while the arms were set up stops it before it starts.
  if (const int signal = PassOnSignals(0); signal != 0) return 128 + signal;
  const pid_t pid = bus.Spawn(command);
  if (pid < 0) {
    std::fprintf(stderr, "tarsel-sim-usb: cannot start %s: %s\n", command[0].c_str(),
                 std::strerror(errno));
    return 127;
  }
  const int status = WaitPassingSignals(pid);
  if (status < 0) {
    std::fprintf(stderr, "tarsel-sim-usb: lost track of %s: %s\n", command[0].c_str(),
                 std::strerror(errno));
    return 1;
  }
  return status;
}
