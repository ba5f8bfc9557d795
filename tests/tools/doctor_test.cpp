// `tarsel doctor` run as a child against a virtual USB bus: each way an arm
// can be out of reach gives its own finding on one line, and the exit status
// says whether InitAPI would open the arm.
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <regex.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "simulated_arm.h"
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

// Runs argv with env added to this process's environment (and LD_LIBRARY_PATH,
// the simulator's and the doctor's variables and SSH_CONNECTION removed
// unless env sets them). Spawned, not forked: the virtual bus's threads run
// meanwhile, and a forked child that allocated before exec could wait forever
// on a lock one of them held (the sanitizers' allocator did).
Output RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const auto name = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view n = name(*e);
    bool keep = true;
    for (const char* removed : {"LD_LIBRARY_PATH", "TARSEL_SIM", "TARSEL_SIM_LINK", "LD_PRELOAD",
                                "SSH_CONNECTION", "TARSEL_DOCTOR_UDEV_DIRS", "TARSEL_DOCTOR_USER",
                                "TARSEL_DOCTOR_GROUPS"}) {
      keep = keep && n != removed;
    }
    for (const std::string& entry : env) keep = keep && n != name(entry);
    if (keep) environment.emplace_back(*e);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> envp, args;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  ::posix_spawn_file_actions_addclose(&actions, out[0]);
  ::posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t child = -1;
  const int spawned = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  Output r;
  if (spawned == 0) Drain(out[0], err[0], r);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  if (spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    r.status = WEXITSTATUS(status);
  }
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

// An arm that answers as the simulated arm does.
std::unique_ptr<VirtualArm> OneArm() {
  auto arm = std::make_shared<tarsel::sim::SimulatedArm>();
  return std::make_unique<VirtualArm>(
      [arm](const Packet& request) { return arm->Handle(request); });
}

// An arm that takes every packet and never answers.
std::unique_ptr<VirtualArm> SilentArm() {
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

// The arm's rule as the project ships it, and a variant for another group
// that opens nothing to the seat.
constexpr const char* kRule =
    "# for the arm\n"
    "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"f055\", ATTRS{idProduct}==\"0000\", "
    "TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"\n";
constexpr const char* kRootGroupRule =
    "SUBSYSTEM==\"usb\", \\\n  ATTRS{idVendor}==\"F055\", GROUP=\"root\", MODE=\"0660\"\n";

// The machine before the arm is plugged in, as the doctor is shown it: the
// folders udev reads (scratch/etc/udev/rules.d, scratch/usr/lib/udev/rules.d),
// where the rule lies, who runs the tool, and whether lsusb is on PATH.
struct Machine {
  // "read": in scratch/usr/lib/udev/rules.d; "prefix": in lib/udev/rules.d
  // beside an API library installed under "scratch/opt/tarsel arm" (the fix
  // quotes the space); "": nowhere.
  std::string rule;
  const char* ruleText = kRule;
  std::string user = "tarsel-doctor-test";
  std::string groups = "tarsel-doctor-test,users";
  bool remote = false;
  bool lsusb = false;
};

std::function<std::vector<std::string>(const fs::path&)> Before(Machine m) {
  return [m](const fs::path& scratch) {
    const fs::path etc = scratch / "etc/udev/rules.d", usr = scratch / "usr/lib/udev/rules.d";
    const fs::path prefix = scratch / "opt/tarsel arm/lib", bin = scratch / "bin";
    for (const fs::path& folder : {etc, usr, prefix / "udev/rules.d", bin}) {
      fs::create_directories(folder);
    }
    std::vector<std::string> env = {"TARSEL_DOCTOR_UDEV_DIRS=" + etc.string() + ":" + usr.string(),
                                    "TARSEL_DOCTOR_USER=" + m.user,
                                    "TARSEL_DOCTOR_GROUPS=" + m.groups, "PATH=" + bin.string()};
    if (!m.rule.empty()) {
      std::ofstream((m.rule == "read" ? usr : prefix / "udev/rules.d") / "60-tarsel-arm.rules")
          << m.ruleText;
    }
    if (m.rule == "prefix") {
      fs::copy_file(TARSEL_API_LIB, prefix / fs::path(TARSEL_API_LIB).filename());
      env.push_back("LD_LIBRARY_PATH=" + prefix.string() + ":" +
                    fs::path(TARSEL_API_LIB).parent_path().string());
    }
    if (m.remote) env.push_back("SSH_CONNECTION=192.0.2.1 50000 192.0.2.2 22");
    if (m.lsusb) {
      std::ofstream(bin / "lsusb") << "#!/bin/sh\n";
      fs::permissions(bin / "lsusb", fs::perms::owner_all);
    }
    return env;
  };
}

const Case kCases[] = {
    {"Reachable", OneArm, nullptr, false, {}, nullptr, 0,
     {R"(^ok: +API library [0-9]+\.[0-9]+\.[0-9]+ at /.*Tarsel\.API\.ArmControlUbuntu\.so$)",
      "^ok: +arm usb:1-1 at /dev/bus/usb/001/[0-9]{3}: user .* may open it and claim its "
      "interface",
      R"(^ok: +link library at /.*/Tarsel\.API\.CommLayerUbuntu\.so$)",
      "^ok: +InitAPI opened the arm$",
      "^ok: +exchange time over 200 joint-angle reads: median [0-9.]+ ms, p99 [0-9.]+ ms, max "
      "[0-9.]+ ms$",
      "^ok: +[0-9]+ read-plus-write cycles \\(joint angles, then a zero-velocity point\\) in "
      "[0-9.]+ s: [0-9]+ cycles/s$"},
     "^problem:"},
    // Opened, but no answer comes: the timing of the link says so.
    {"Silent", SilentArm, nullptr, false, {}, nullptr, 0,
     {"^ok: +InitAPI opened the arm$",
      "^problem: joint-angle read 1 of 200 failed: 2008 \\(.*\\)\\. Fix: unplug and replug the "
      "arm"},
     "read-plus-write"},
    // Before the arm is plugged in: the rule, the group, lsusb.
    {"LsusbInstalled", EmptyBus, nullptr, false, {}, Before({.rule = "", .lsusb = true}), 1,
     {"^problem: no USB device with vendor id f055 on the bus\\. Fix: plug the arm in .*lsusb -d "
      "f055:"},
     "InitAPI opened"},
    {"LsusbMissing", EmptyBus, nullptr, false, {}, Before({}), 1,
     {"^problem: no USB device with vendor id f055 on the bus\\. Fix: plug the arm in and switch "
      "it on; .*install the usbutils package"},
     "lsusb -d"},
    {"RuleInReadFolder", EmptyBus, nullptr, false, {}, Before({.rule = "read"}), 1,
     {"^ok: +udev rule /.*/usr/lib/udev/rules\\.d/60-tarsel-arm\\.rules is in a folder udev "
      "reads$"},
     "udev rule for the arm"},
    {"RuleUnderOtherPrefix", EmptyBus, nullptr, false, {}, Before({.rule = "prefix"}), 1,
     {"^problem: no udev rule for the arm in the folders udev reads \\(/[^,]*/etc/udev/rules\\.d, "
      "/[^,]*/usr/lib/udev/rules\\.d\\); it lies in /.*/opt/tarsel arm/lib/udev/rules\\.d/"
      "60-tarsel-arm\\.rules, where udev does not look\\. Fix: .*`sudo cp '/[^ ]*/opt/tarsel "
      "arm/lib/udev/rules\\.d/60-tarsel-arm\\.rules' /etc/udev/rules\\.d/`, then `sudo "
      "udevadm control --reload && sudo udevadm trigger`$"},
     "^ok: +udev rule"},
    {"RuleMissing", EmptyBus, nullptr, false, {}, Before({}), 1,
     {"^problem: no udev rule for the arm in the folders udev reads \\([^)]*\\)\\. Fix: install "
      "the libtarsel5 package, or `sudo cp [^ ]*60-tarsel-arm\\.rules /etc/udev/rules\\.d/`, then "
      "`sudo udevadm control --reload && sudo udevadm trigger`$"},
     "where udev does not look|^ok: +udev rule"},
    {"InGroup", EmptyBus, nullptr, false, {},
     Before({.rule = "read", .groups = "tarsel-doctor-test,plugdev"}), 1,
     {"^ok: +tarsel-doctor-test is in the plugdev group, which the udev rule gives the arm to$"},
     "plugdev.*(Fix|usermod)"},
    // Where the system has no plugdev group, that is what is wrong.
    {"NotInGroupAtTheSeat", EmptyBus, nullptr, false, {}, Before({.rule = "read"}), 1,
     {"^(note: +tarsel-doctor-test is not in the plugdev group: the udev rule's uaccess tag opens "
      "the arm to whoever is logged in at the seat, but not to remote logins; for those, `sudo "
      "usermod -aG plugdev tarsel-doctor-test`, then log in again|problem: there is no plugdev "
      "group on this system\\. Fix: .*`sudo usermod -aG plugdev tarsel-doctor-test`.*)$"},
     "^ok: +tarsel-doctor-test"},
    {"NotInGroupRemote", EmptyBus, nullptr, false, {}, Before({.rule = "read", .remote = true}), 1,
     {"^problem: (tarsel-doctor-test is not in the plugdev group \\(the seat's own access, "
      "uaccess, does not reach remote logins\\)|there is no plugdev group on this system)\\. Fix: "
      ".*`sudo usermod -aG plugdev tarsel-doctor-test`, then log in again$"},
     "^note: +tarsel-doctor-test"},
    // The group comes from the rule's text; without uaccess, not being in it
    // is a problem at the seat too.
    {"NotInTheRulesGroup", EmptyBus, nullptr, false, {},
     Before({.rule = "read", .ruleText = kRootGroupRule}), 1,
     {"^problem: tarsel-doctor-test is not in the root group\\. Fix: `sudo usermod -aG root "
      "tarsel-doctor-test`, then log in again$"},
     "plugdev"},
    {"Root", EmptyBus, nullptr, false, {},
     Before({.rule = "", .user = "root", .groups = "root"}), 1,
     {"^ok: +running as root, who may open the arm without the udev rule's group$",
      "^note: +no udev rule for the arm in the folders udev reads .*; root opens the arm "
      "without it, other users need it: install the libtarsel5 package"},
     "^problem: no udev rule|plugdev"},
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
     {"^problem: nobody is not in the plugdev group .*\\. Fix: `sudo usermod -aG plugdev nobody`, "
      "then log in again$"}},
    {"InterfaceHeld", OneArm, [](VirtualArm& bus) { bus.Device(0).RefuseClaim(EBUSY); }, false, {},
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
    // A simulated arm is never unplugged: the fixes say what to do instead.
    {"SimulatorServiceMissing", nullptr, nullptr, false, {"--sim"},
     [](const fs::path& scratch) {
       return std::vector<std::string>{"TARSEL_SIM_SOCKET=" + (scratch / "none.sock").string()};
     },
     1,
     {"^problem: TARSEL_SIM_SOCKET names /.*/none\\.sock, where no simulator service listens "
      "\\(no such file\\)\\. Fix: start it: `tarsel-sim --socket /.*/none\\.sock &`"},
     "unplug"},
    {"SimulatedBusEmpty", nullptr, nullptr, false, {"--sim", "--sim-fault", "absent"}, nullptr, 1,
     {"^problem: InitAPI returns 1014 .*\\. Fix: check the simulator's settings"},
     "unplug"},
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
