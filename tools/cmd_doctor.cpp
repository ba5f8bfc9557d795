// tarsel doctor: why no arm is reachable. Looks at the libraries, the USB bus
// (through libusb directly, not through the API), the arm's device node, the
// udev rule and the user's groups, then opens the arm the way programs do
// (InitAPI). With no arm on the bus it still checks what it can: whether the
// udev rule is where udev reads it and whether the user may open the arm once
// it is plugged in (doctor_checks.cpp). Once the arm is open, it times the
// link: one exchange, and the read-plus-write cycle of a control loop.
// Prints one finding a line, each problem with its fix; exits 0 only when
// InitAPI opened the arm.
#include <dlfcn.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "doctor_checks.h"
#include "core/value_text.h"
#include "tarsel/comm_layer.h"
#include "tarsel/core.h"
#include "tarsel/maintenance.h"
#include "tarsel/motion.h"
#include "tarsel/result.h"

namespace tarsel::tool {

namespace {

namespace fs = std::filesystem;
using doctor::Identity;
using doctor::JoinedWith;
using doctor::Report;
using doctor::RuleSearch;

// The file a loaded function comes from, "" when the loader cannot tell.
std::string FileOf(const void* function) {
  Dl_info info{};
  if (function == nullptr || ::dladdr(function, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code error;
  const fs::path resolved = fs::canonical(info.dli_fname, error);
  return error ? std::string(info.dli_fname) : resolved.string();
}

// "crw-rw----" for a mode.
std::string ModeLetters(mode_t mode) {
  std::string letters = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
  const char* rwx = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) letters += (mode & (0400 >> bit)) ? rwx[bit] : '-';
  return letters;
}

// --- The udev rule and the group ---------------------------------------------------

// Why who may not open the node, and what to do: the rule, then the group.
void ExplainNoAccess(Report& report, const struct stat& node, const Identity& who,
                     const RuleSearch& rule) {
  if (rule.installed.empty()) {
    doctor::RuleMissing(report, rule, true, false);
  } else {
    const group* armGroup = rule.group.empty() ? nullptr : ::getgrnam(rule.group.c_str());
    const bool applied = armGroup != nullptr && node.st_gid == armGroup->gr_gid &&
                         (node.st_mode & 0660) == 0660;
    if (applied) {
      report.Ok(fmt::format("udev rule {} is applied to the node", rule.installed));
    } else {
      report.Problem(
          fmt::format("udev rule {} is installed but the node does not carry it (group {}, "
                      "mode {:04o} instead of {}, 0660)",
                      rule.installed, doctor::GroupName(node.st_gid), node.st_mode & 07777,
                      rule.group.empty() ? "none" : rule.group),
          "`sudo udevadm control --reload && sudo udevadm trigger`, then unplug and replug "
          "the arm");
    }
  }
  doctor::CheckGroup(report, rule, who, true);
}

// --- The USB bus ------------------------------------------------------------------

// The processes that hold node open, as "1234 (name)"; only those this user
// may look into.
std::vector<std::string> Holders(const std::string& node) {
  std::vector<std::string> holders;
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (pid == std::to_string(::getpid())) continue;
    std::error_code fdError;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd.path(), linkError) == node) {
        std::ifstream comm(process.path() / "comm");
        std::string name;
        std::getline(comm, name);
        holders.push_back(fmt::format("{} ({})", pid, name));
        break;
      }
    }
  }
  return holders;
}

// "usb:1-2.3", as the library names the arm's place.
std::string ArmPath(libusb_device* device) {
  std::uint8_t ports[8];
  const int n = libusb_get_port_numbers(device, ports, sizeof ports);
  std::string path = fmt::format("usb:{}", libusb_get_bus_number(device));
  if (n <= 0) return path + fmt::format("@{}", libusb_get_device_address(device));
  for (int i = 0; i < n; ++i) path += fmt::format("{}{}", i == 0 ? "-" : ".", ports[i]);
  return path;
}

// One arm on the bus: may this user open it, and is its interface free?
void CheckArm(Report& report, libusb_device* device, const Identity& who,
              const std::string& apiLibrary) {
  const std::string& user = who.user;
  const std::string node = fmt::format("/dev/bus/usb/{:03}/{:03}", libusb_get_bus_number(device),
                                       libusb_get_device_address(device));
  const std::string where = fmt::format("arm {} at {}", ArmPath(device), node);
  struct stat st {};
  const bool stated = ::stat(node.c_str(), &st) == 0;
  const std::string owner =
      stated ? fmt::format("owner {}, group {}, mode {:04o} {}", doctor::UserName(st.st_uid),
                           doctor::GroupName(st.st_gid), st.st_mode & 07777,
                           ModeLetters(st.st_mode))
             : std::string("the node cannot be examined");

  libusb_device_handle* handle = nullptr;
  const int opened = libusb_open(device, &handle);
  if (opened == LIBUSB_ERROR_ACCESS) {
    report.Problem(fmt::format("{}: user {} may not open it ({})", where, user, owner),
                   "the findings below on the udev rule and the group say what to change");
    if (stated) ExplainNoAccess(report, st, who, doctor::FindRule(apiLibrary));
    return;
  }
  if (opened != LIBUSB_SUCCESS) {
    report.Problem(fmt::format("{} cannot be opened: {}", where, libusb_strerror(opened)),
                   "unplug and replug the arm; if it persists, try another cable or port");
    return;
  }
  const int claimed = libusb_claim_interface(handle, TARSEL_USB_INTERFACE);
  if (claimed == LIBUSB_SUCCESS) {
    libusb_release_interface(handle, TARSEL_USB_INTERFACE);
    report.Ok(fmt::format("{}: user {} may open it and claim its interface ({})", where, user,
                          owner));
  } else if (claimed == LIBUSB_ERROR_BUSY) {
    const std::vector<std::string> holders = Holders(node);
    report.Problem(
        fmt::format("{}: interface {} is held by another program{}", where, TARSEL_USB_INTERFACE,
                    holders.empty() ? "" : ": " + JoinedWith(holders, ", ")),
        holders.empty() ? fmt::format("close the other program that uses the arm "
                                      "(`sudo fuser -v {}` names it)",
                                      node)
                        : "close that program");
  } else {
    report.Problem(fmt::format("{}: claiming interface {} failed: {}", where,
                               TARSEL_USB_INTERFACE, libusb_strerror(claimed)),
                   "unplug and replug the arm");
  }
  libusb_close(handle);
}

// What can be checked with no arm in reach: the udev rule and the group.
void CheckSetup(Report& report, const Identity& who, const std::string& apiLibrary) {
  const RuleSearch rule = doctor::FindRule(apiLibrary);
  doctor::CheckRuleInstalled(report, rule, who);
  doctor::CheckGroup(report, rule, who, false);
}

// With TARSEL_SIM_SOCKET set, the simulated arms are a tarsel-sim's: whether
// one listens at that path. Returns false when none does.
bool CheckSimulatorService(Report& report) {
  const char* socket = std::getenv("TARSEL_SIM_SOCKET");
  if (socket == nullptr || *socket == '\0') return true;
  const std::string path = socket;
  const std::string fix =
      fmt::format("start it: `tarsel-sim --socket {} &`, or unset TARSEL_SIM_SOCKET for a "
                  "simulated arm of this program's own",
                  text::ShellWord(path));
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    report.Problem(fmt::format("TARSEL_SIM_SOCKET names {}, where no simulator service listens "
                               "(no such file)",
                               path),
                   fix);
    return false;
  }
  if (!S_ISSOCK(st.st_mode)) {
    report.Problem(fmt::format("TARSEL_SIM_SOCKET names {}, which is no socket", path), fix);
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const bool fits = path.size() < sizeof address.sun_path;
  if (fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const bool listening =
      fd >= 0 && fits && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  if (!listening) {
    report.Problem(fmt::format("TARSEL_SIM_SOCKET names {}, where no simulator service listens "
                               "(a service that stopped left the file)",
                               path),
                   fix);
    return false;
  }
  report.Ok(fmt::format("a simulator service listens at {} (TARSEL_SIM_SOCKET)", path));
  return true;
}

// Every device with the arm's vendor id, and whether each arm can be used.
// With none, what can be checked without one: the udev rule and the group.
void CheckBus(Report& report, const Identity& who, const std::string& apiLibrary) {
  libusb_context* context = nullptr;
  const int started = libusb_init(&context);
  if (started != LIBUSB_SUCCESS) {
    report.Problem(fmt::format("libusb cannot start ({}): this process sees no USB bus",
                               libusb_strerror(started)),
                   "in a container or virtual machine, pass the USB bus (/dev/bus/usb) through");
    CheckSetup(report, who, apiLibrary);
    return;
  }
  libusb_device** devices = nullptr;
  const ssize_t count = libusb_get_device_list(context, &devices);
  int arms = 0;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(devices[i], &descriptor) != LIBUSB_SUCCESS ||
        descriptor.idVendor != TARSEL_USB_VENDOR_ID) {
      continue;
    }
    if (descriptor.idProduct != TARSEL_USB_PRODUCT_ID) {
      report.Note(fmt::format("device {:04x}:{:04x} at {} is not an arm (product id {:04x} "
                              "expected)",
                              descriptor.idVendor, descriptor.idProduct, ArmPath(devices[i]),
                              TARSEL_USB_PRODUCT_ID));
      continue;
    }
    ++arms;
    CheckArm(report, devices[i], who, apiLibrary);
  }
  if (count > 0) libusb_free_device_list(devices, 1);
  if (arms == 0) {
    report.Problem(fmt::format("no USB device with vendor id {:04x} on the bus",
                               TARSEL_USB_VENDOR_ID),
                   doctor::PlugInFix());
    CheckSetup(report, who, apiLibrary);
  }
  libusb_exit(context);
}

// --- The link's timing --------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double SecondsOf(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

constexpr int kTimedReads = 200;
constexpr auto kCycleRun = std::chrono::milliseconds(1500);
// The rate of `tarsel jog` and `tarsel record` unless told otherwise.
constexpr double kLoopRate = 100.0;

void ExchangeFailed(Report& report, const std::string& what, int code) {
  report.Problem(fmt::format("{} failed: {} ({})", what, code, GetResultMessage(code)),
                 "unplug and replug the arm; if it persists, try another cable and a port "
                 "without a hub");
}

// How long one exchange with the arm takes (a joint-angle read, kTimedReads
// times) and how many read-plus-write cycles, a control loop's least, the link
// sustains. Notes, never problems, for slow figures: the machine may be busy.
void MeasureLink(Report& report, bool simulated) {
  std::vector<double> times;
  times.reserve(kTimedReads);
  for (int i = 0; i < kTimedReads; ++i) {
    AngularPosition joints{};
    const Clock::time_point start = Clock::now();
    const int code = GetAngularPosition(joints);
    times.push_back(SecondsOf(Clock::now() - start));
    if (code != TARSEL_OK) {
      ExchangeFailed(report, fmt::format("joint-angle read {} of {}", i + 1, kTimedReads), code);
      return;
    }
  }
  const doctor::TimeFigures f = doctor::Summarise(times);
  report.Ok(fmt::format("exchange time over {} joint-angle reads: median {}, p99 {}, max {}{}",
                        kTimedReads, doctor::Milliseconds(f.p50), doctor::Milliseconds(f.p99),
                        doctor::Milliseconds(f.max),
                        simulated ? " (the simulated arm: no bus in between)" : ""));
  for (const std::string& line : doctor::HistogramLines(f)) report.Detail(line);
  if (f.p99 > 0.010) {
    report.Note(
        "one exchange in a hundred takes more than 10 ms: a hub, another device busy "
        "on the same bus or a loaded machine delays the answers, and a control loop "
        "will miss cycles");
  }

  // A control loop's least cycle: read the joints, send a set-point. A zero
  // velocity moves nothing and leaves queued points alone.
  TrajectoryPoint zero;
  zero.InitStruct();
  zero.Position.Type = TARSEL_ANGULAR_VELOCITY;
  long cycles = 0;
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < kCycleRun) {
    AngularPosition joints{};
    int code = GetAngularPosition(joints);
    if (code == TARSEL_OK) code = SendBasicTrajectory(zero);
    if (code != TARSEL_OK) {
      ExchangeFailed(report, fmt::format("read-plus-write cycle {}", cycles + 1), code);
      return;
    }
    ++cycles;
  }
  const double elapsed = SecondsOf(Clock::now() - start);
  const double rate = static_cast<double>(cycles) / elapsed;
  report.Ok(
      fmt::format("{} read-plus-write cycles (joint angles, then a zero-velocity point) "
                  "in {:.2f} s: {:.0f} cycles/s",
                  cycles, elapsed, rate));
  if (rate < kLoopRate) {
    report.Note(
        fmt::format("a control loop at {:.0f} Hz (jog's and record's default) will "
                    "overrun; give them --rate {:.0f} or less",
                    kLoopRate, std::floor(rate * 0.8)));
  }
}

// --- The libraries ------------------------------------------------------------------

// The folders the dynamic loader searches for the link library.
std::string SearchedFolders(const std::string& apiLibrary) {
  std::vector<std::string> folders;
  const char* path = std::getenv("LD_LIBRARY_PATH");
  folders.push_back(path != nullptr && *path != '\0'
                        ? fmt::format("LD_LIBRARY_PATH ({})", path)
                        : std::string("LD_LIBRARY_PATH (not set)"));
  if (!apiLibrary.empty()) {
    folders.push_back(fmt::format("the API library's folder {}",
                                  fs::path(apiLibrary).parent_path().string()));
  }
  folders.push_back("the system folders (/etc/ld.so.cache, /lib, /usr/lib)");
  return JoinedWith(folders, ", ");
}

void RunDoctor(const Context& context) {
  Report report;
  const Identity who = doctor::CurrentIdentity();

  std::vector<int> version;
  GetAPIVersion(version);
  const std::string apiVersion =
      version.size() == 3 ? fmt::format("{}.{}.{}", version[0], version[1], version[2]) : "?";
  const std::string apiLibrary = FileOf(::dlsym(RTLD_DEFAULT, "InitAPI"));
  report.Ok(fmt::format("API library {} at {}", apiVersion, apiLibrary));
  if (apiVersion != TARSEL_VERSION_STR) {
    report.Problem(fmt::format("this tool was built for API library {}, but {} is loaded",
                               TARSEL_VERSION_STR, apiVersion),
                   "install the tool and the library from the same release");
  }

  void* simulator = nullptr;
  if (context.connect.sim) {
    try {
      simulator = LoadSimulator(context.connect);
    } catch (const Failure& failure) {
      // Its message ends with the fix; the finding takes the rest on one line.
      std::string text = failure.what();
      text = text.substr(0, text.find("\nSet "));
      std::replace(text.begin(), text.end(), '\n', ' ');
      report.Problem(text, fmt::format("set {} to the simulator's link library (built in "
                                       "<build>/sim/lib, installed in <libdir>/tarsel/sim)",
                                       kSimLinkVariable));
      throw Failure("doctor: the simulated arm cannot be reached");
    }
    CheckSimulatorService(report);
  } else {
    CheckBus(report, who, apiLibrary);
  }

  const int code = InitAPI();
  if (code == TARSEL_ERROR_LOAD_COMM_LAYER) {
    char reason[1024] = "";
    GetLinkLoadError(reason, sizeof reason);
    report.Problem(fmt::format("the link library {} cannot be loaded: {}; searched {}",
                               kLinkFileName, reason, SearchedFolders(apiLibrary)),
                   "install the libtarsel5 package, or put the link library beside the API "
                   "library");
  } else {
    const std::string link = FileOf(reinterpret_cast<const void*>(fptrInitComm));
    report.Ok(fmt::format("link library{} at {}", simulator != nullptr ? " (simulated arm)" : "",
                          link.empty() ? "an unknown place" : link));
    if (code == TARSEL_OK) {
      report.Ok(simulator != nullptr ? "InitAPI opened the simulated arm" : "InitAPI opened the arm");
      MeasureLink(report, simulator != nullptr);
    } else if (report.Problems() > 0) {
      report.Note(fmt::format("InitAPI returns {} ({}): the problems above explain it", code,
                              GetResultMessage(code)));
    } else {
      const bool noArm = code == TARSEL_ERROR_NO_ARM || code == TARSEL_ERROR_CLAIM_FAILED;
      report.Problem(fmt::format("InitAPI returns {} ({})", code, GetResultMessage(code)),
                     !noArm               ? "reinstall the libtarsel5 package"
                     : simulator != nullptr
                         ? "check the simulator's settings (TARSEL_SIM_*, --sim-*): `absent` "
                           "leaves the bus empty"
                         : "unplug and replug the arm, then run `tarsel doctor` again");
    }
  }
  CloseAPI();
  if (simulator != nullptr) ::dlclose(simulator);

  if (code != TARSEL_OK) {
    throw Failure(fmt::format("doctor: the arm cannot be opened ({} problem{})",
                              report.Problems(), report.Problems() == 1 ? "" : "s"));
  }
}

}  // namespace

void AddDoctorCommand(CLI::App& app, const Context& context) {
  CLI::App* doctor = app.add_subcommand(
      "doctor", "Explain why no arm is reachable: the bus, permissions, the libraries");
  doctor->callback([&context] { RunDoctor(context); });
}

}  // namespace tarsel::tool
