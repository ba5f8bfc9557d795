// `tarsel doctor` run as a child against a virtual USB bus: each way an arm
// can be out of reach gives its own finding on one line, and the exit status
// says whether InitAPI would open the arm.
#include <poll.h>
#include <pwd.h>
#include <regex.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tarsel/vusb/virtual_arm.h"

namespace {

namespace fs = std::filesystem;
using tarsel::vusb::DeviceOptions;
using tarsel::vusb::VirtualArm;

// The first device's node under the test bed. Device numbers count on over
// the buses a process creates, so each case's arm has its own.
fs::path NodeOf(VirtualArm& bus) {
  char name[32];
  std::snprintf(name, sizeof name, "dev/bus/usb/001/%03d", bus.Device(0).Address());
  return fs::path(bus.RootDir()) / name;
}

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

// Reads both pipes to their end.
void Drain(int outFd, int errFd, Output& r) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* texts[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// Whether text holds a match of the extended regular expression pattern.
bool Matches(const std::string& pattern, const std::string& text) {
  regex_t re;
  if (::regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    ADD_FAILURE() << "bad pattern " << pattern;
    return false;
  }
  const bool found = ::regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
  ::regfree(&re);
  return found;
}

// Runs argv with env added to this process's environment (and LD_LIBRARY_PATH
// and the simulator's variables removed unless env sets them).
Output RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    for (const char* name : {"LD_LIBRARY_PATH", "TARSEL_SIM", "TARSEL_SIM_LINK", "LD_PRELOAD"}) {
      ::unsetenv(name);
    }
    for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Output r;
  Drain(out[0], err[0], r);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

// Opens every file of the test bed to other users, so that a child running
// as another user reaches the bus at all.
void OpenToEveryone(const fs::path& root) {
  fs::permissions(root, fs::perms::all, fs::perm_options::add);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
  }
}

// How the child runs: as this user, or as nobody when this is root (root
// may open any node).
std::vector<std::string> AsOtherUser() {
  if (::geteuid() != 0) return {};
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return {"nobody"};
  return {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
          "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
}

struct Case {
  const char* name;
  // The bus, or null for none.
  std::function<std::unique_ptr<VirtualArm>()> bus;
  // Changes made to the bus before the tool runs.
  std::function<void(VirtualArm&)> fault;
  bool otherUser;
  // Arguments before "doctor", and variables for the tool.
  std::vector<std::string> options;
  std::function<std::vector<std::string>(const fs::path& scratch)> env;
  int status;
  // Each must match one line of standard output: a finding and its fix stay
  // on one line.
  std::vector<std::string> lines;
  // No line may match this ("" for no such check).
  std::string never;
  // Lines that must match too when the tool ran as nobody, whose groups are
  // known.
  std::vector<std::string> nobodyLines = {};
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

std::unique_ptr<VirtualArm> OneArm() {
  return std::make_unique<VirtualArm>();
}

std::unique_ptr<VirtualArm> EmptyBus() {
  DeviceOptions options;
  options.present = false;
  return std::make_unique<VirtualArm>(tarsel::vusb::Responder{}, options);
}

std::unique_ptr<VirtualArm> OtherDevice() {
  DeviceOptions options;
  options.vendor_id = 0x1d6b;
  return std::make_unique<VirtualArm>(tarsel::vusb::Responder{}, options);
}

// A folder holding only a copy of the API library: first on LD_LIBRARY_PATH,
// it hides the build's link library from the loader.
std::vector<std::string> LinkHidden(const fs::path& scratch) {
  const fs::path folder = scratch / "lib";
  fs::create_directories(folder);
  fs::copy_file(TARSEL_API_LIB, folder / fs::path(TARSEL_API_LIB).filename());
  return {"LD_LIBRARY_PATH=" + folder.string()};
}

const Case kCases[] = {
    {"Reachable", OneArm, nullptr, false, {}, nullptr, 0,
     {R"(^ok: +API library [0-9]+\.[0-9]+\.[0-9]+ at /.*Tarsel\.API\.ArmControlUbuntu\.so$)",
      "^ok: +arm usb:1-1 at /dev/bus/usb/001/[0-9]{3}: user .* may open it and claim its "
      "interface",
      R"(^ok: +link library at /.*/Tarsel\.API\.CommLayerUbuntu\.so$)",
      "^ok: +InitAPI opened the arm$"},
     "^problem:"},
    {"EmptyBus", EmptyBus, nullptr, false, {}, nullptr, 1,
     {"^problem: no USB device with vendor id f055 on the bus\\. Fix: plug the arm in .*lsusb -d "
      "f055:"},
     "InitAPI opened"},
    {"OnlyOtherVendors", OtherDevice, nullptr, false, {}, nullptr, 1,
     {"^problem: no USB device with vendor id f055 on the bus\\. Fix: "}, ""},
    {"NodeClosed", OneArm,
     [](VirtualArm& bus) {
       OpenToEveryone(bus.RootDir());
       fs::permissions(NodeOf(bus), fs::perms::none);
     },
     true, {}, nullptr, 1,
     {"^problem: arm usb:1-1 at /dev/bus/usb/001/[0-9]{3}: user .* may not open it \\(owner [^,]+, "
      "group [^,]+, mode 0000 c---------\\)\\. Fix: ",
      // Which of the two depends on whether this machine has the rule installed.
      "^problem: (no udev rule for the arm in the folders udev reads \\(/etc/udev/rules\\.d, "
      "[^)]*\\).*\\. Fix: .*60-tarsel-arm\\.rules.* /etc/udev/rules\\.d/.*udevadm trigger|udev rule "
      ".* is installed but the node does not carry it .*\\. Fix: .*udevadm trigger)"},
     "InitAPI opened",
     {"^problem: nobody is not in the plugdev group .*\\. Fix: `sudo adduser nobody plugdev`, "
      "then log in again$"}},
    {"InterfaceHeld", OneArm, [](VirtualArm& bus) { bus.RefuseClaim(EBUSY); }, false, {},
     nullptr, 1,
     {"^problem: arm usb:1-1 at /dev/bus/usb/001/[0-9]{3}: interface 0 is held by another "
      "program\\. Fix: close "},
     "InitAPI opened"},
    {"LinkLibraryMissing", OneArm, nullptr, false, {}, LinkHidden, 1,
     {"^problem: the link library Tarsel\\.API\\.CommLayerUbuntu\\.so cannot be loaded: "
      ".*cannot open shared object file.*; searched LD_LIBRARY_PATH \\(/.*/lib\\), the API "
      "library's folder /.*/lib, the system folders .*\\. Fix: "},
     "^ok: +link library"},
    {"Simulated", nullptr, nullptr, false, {"--sim"}, nullptr, 0,
     {R"(^ok: +link library \(simulated arm\) at /.*/sim/lib/Tarsel\.API\.CommLayerUbuntu\.so$)",
      "^ok: +InitAPI opened the simulated arm$"},
     "^problem:|usb:"},
};

class Doctor : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarsel-doctor-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override { fs::remove_all(scratch_); }
  fs::path scratch_;
};

TEST_P(Doctor, NamesTheFindingAndItsFix) {
  const Case& c = GetParam();
  std::vector<std::string> argv;
  if (c.otherUser) {
    argv = AsOtherUser();
    if (argv.size() == 1) GTEST_SKIP() << "running as root, and there is no user nobody";
    if (!argv.empty()) {
      std::vector<std::string> probe = argv;
      probe.insert(probe.end(), {TARSEL_TOOL, "--version"});
      if (RunChild(probe, {}).status != 0) {
        GTEST_SKIP() << "the tool cannot be run as nobody (setpriv is missing, or a folder on "
                        "the way to "
                     << TARSEL_TOOL << " is closed to other users)";
      }
    }
  }
  argv.push_back(TARSEL_TOOL);
  argv.insert(argv.end(), c.options.begin(), c.options.end());
  argv.push_back("doctor");

  std::unique_ptr<VirtualArm> bus = c.bus ? c.bus() : nullptr;
  if (bus && c.fault) c.fault(*bus);
  std::vector<std::string> env = bus ? bus->ChildEnvironment() : std::vector<std::string>{};
  if (c.env) {
    const std::vector<std::string> more = c.env(scratch_);
    env.insert(env.end(), more.begin(), more.end());
  }
  const Output r = RunChild(argv, env);

  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<std::string> patterns = c.lines;
  if (argv.front() == "setpriv") {
    patterns.insert(patterns.end(), c.nobodyLines.begin(), c.nobodyLines.end());
  }
  for (const std::string& pattern : patterns) {
    bool found = false;
    for (const std::string& line : lines) found = found || Matches(pattern, line);
    EXPECT_TRUE(found) << "no line matches " << pattern << " in:\n"
                       << r.out << "standard error:\n"
                       << r.err;
  }
  if (!c.never.empty()) {
    for (const std::string& line : lines) EXPECT_FALSE(Matches(c.never, line)) << line;
  }
  if (c.status != 0) {
    EXPECT_NE(r.err.find("tarsel: doctor: the arm cannot be opened"), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Findings, Doctor, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
