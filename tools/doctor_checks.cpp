// tarsel doctor's checks that need no arm: the udev rule, the user's groups,
// the programs its fixes name; and the figures of the link's timing.
#include "doctor_checks.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include <fmt/core.h>

#include "core/value_text.h"
#include "tarsel/comm_layer.h"

namespace tarsel::tool::doctor {

namespace {

namespace fs = std::filesystem;

constexpr const char* kRuleFile = "60-tarsel-arm.rules";
// What the project's rule gives the node, for when no copy of it is found.
constexpr const char* kArmGroup = "plugdev";
constexpr std::size_t kMaxRuleBytes = 64 * 1024;

// The folders udev reads its rules from, highest priority first (systemd's
// udev as in Debian 12, which reads /usr/local/lib too; /lib is /usr/lib on
// a merged system).
const std::vector<std::string> kUdevRuleFolders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                                   "/usr/local/lib/udev/rules.d",
                                                   "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What a rules file says about the arm.
struct RuleText {
  bool namesArm = false;
  std::string group;
  bool uaccess = false;
};

// The value of an assignment `GROUP="name"` (or `GROUP:=`) in a rule line;
// "" when there is none, or when the name is not a plain group name (the file
// is untrusted, and the name is printed).
std::string GroupAssigned(const std::string& line) {
  for (std::size_t at = line.find("GROUP"); at != std::string::npos;
       at = line.find("GROUP", at + 1)) {
    if (at > 0 && (std::isalnum(static_cast<unsigned char>(line[at - 1])) || line[at - 1] == '_')) {
      continue;
    }
    std::size_t value = at + 5;
    if (line.compare(value, 2, ":=") == 0) {
      value += 2;
    } else if (line.compare(value, 1, "=") == 0 && line.compare(value, 2, "==") != 0) {
      value += 1;
    } else {
      continue;  // a match (GROUP==), not an assignment
    }
    while (value < line.size() && line[value] == ' ') ++value;
    if (value >= line.size() || line[value] != '"') continue;
    const std::size_t end = line.find('"', value + 1);
    if (end == std::string::npos) continue;
    const std::string name = line.substr(value + 1, end - value - 1);
    const bool plain = !name.empty() && name.size() <= 32 &&
                       std::all_of(name.begin(), name.end(), [](unsigned char c) {
                         return std::isalnum(c) || c == '_' || c == '-' || c == '.';
                       });
    return plain ? name : std::string();
  }
  return {};
}

// Reads a rules file: only the lines that are no comments count, a line
// ending in a backslash goes on in the next, and only lines naming the arm's
// vendor id give the group and the uaccess tag.
RuleText ReadRule(const fs::path& file) {
  RuleText rule;
  std::error_code error;
  // A FIFO would block the read; /dev/null is how udev masks a rule.
  if (!fs::is_regular_file(file, error)) return rule;
  std::ifstream in(file, std::ios::binary);
  std::string text(kMaxRuleBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));

  const std::string vendor = fmt::format("{:04x}", TARSEL_USB_VENDOR_ID);
  std::istringstream lines(text);
  std::string logical;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == '\\') {
      logical += line.substr(0, line.size() - 1);
      continue;
    }
    logical += line;
    const std::size_t start = logical.find_first_not_of(" \t");
    if (start != std::string::npos && logical[start] != '#' &&
        Lower(logical).find(vendor) != std::string::npos) {
      rule.namesArm = true;
      if (rule.group.empty()) rule.group = GroupAssigned(logical);
      rule.uaccess = rule.uaccess || logical.find("\"uaccess\"") != std::string::npos;
    }
    logical.clear();
  }
  return rule;
}

// The rules files for the arm in folder, by name.
std::vector<fs::path> RulesIn(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".rules" && ReadRule(entry.path()).namesArm) {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The folders a `cmake --install` leaves the rule in: lib/udev/rules.d under
// the prefix of the tool (<prefix>/bin/tarsel) and of the API library
// (<prefix>/lib or <prefix>/lib/<multiarch>).
std::vector<fs::path> InstallFolders(const std::string& apiLibrary) {
  std::vector<fs::path> folders;
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  if (!error) folders.push_back(tool.parent_path().parent_path() / "lib");
  if (!apiLibrary.empty()) {
    const fs::path libraries = fs::path(apiLibrary).parent_path();
    folders.push_back(libraries);
    folders.push_back(libraries.parent_path());
  }
  for (fs::path& folder : folders) folder = (folder / "udev/rules.d").lexically_normal();
  return folders;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

void Report::Ok(const std::string& text) {
  fmt::print("ok:      {}\n", text);
  std::fflush(stdout);
}

void Report::Note(const std::string& text) {
  fmt::print("note:    {}\n", text);
  std::fflush(stdout);
}

void Report::Problem(const std::string& text, const std::string& fix) {
  ++problems_;
  fmt::print("problem: {}. Fix: {}\n", text, fix);
  std::fflush(stdout);
}

void Report::Detail(const std::string& text) {
  fmt::print("         {}\n", text);
  std::fflush(stdout);
}

std::string JoinedWith(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string UserName(uid_t uid) {
  const passwd* user = ::getpwuid(uid);
  return user != nullptr ? user->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* g = ::getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

Identity CurrentIdentity() {
  Identity who;
  const char* user = std::getenv("TARSEL_DOCTOR_USER");
  if (user != nullptr && *user != '\0') {
    who.user = user;
    who.root = who.user == "root";
  } else {
    who.user = UserName(::geteuid());
    who.root = ::geteuid() == 0;
  }
  const char* groups = std::getenv("TARSEL_DOCTOR_GROUPS");
  if (groups != nullptr) {
    who.groups = SplitOn(groups, ',');
  } else {
    std::vector<gid_t> ids{::getegid()};
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> more(static_cast<std::size_t>(std::max(n, 0)));
    const int got = n > 0 ? ::getgroups(n, more.data()) : 0;
    if (got > 0) ids.insert(ids.end(), more.begin(), more.begin() + got);
    for (gid_t id : ids) who.groups.push_back(GroupName(id));
  }
  const char* ssh = std::getenv("SSH_CONNECTION");
  who.remote = ssh != nullptr && *ssh != '\0';
  return who;
}

RuleSearch FindRule(const std::string& apiLibrary) {
  RuleSearch search;
  const char* folders = std::getenv("TARSEL_DOCTOR_UDEV_DIRS");
  search.readFolders =
      folders != nullptr && *folders != '\0' ? SplitOn(folders, ':') : kUdevRuleFolders;

  std::vector<fs::path> found;
  for (const std::string& folder : search.readFolders) {
    const std::vector<fs::path> here = RulesIn(folder);
    found.insert(found.end(), here.begin(), here.end());
  }
  if (!found.empty()) search.installed = found.front().string();
  for (const fs::path& folder : InstallFolders(apiLibrary)) {
    if (Contains(search.readFolders, folder.string())) continue;
    for (const fs::path& file : RulesIn(folder)) {
      if (!Contains(search.unread, file.string())) search.unread.push_back(file.string());
      found.push_back(file);
    }
  }

  // Without an installed copy, the fix copies the source tree's rule when
  // the tool runs from a build tree (<source>/<build>/bin/tarsel).
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  const fs::path sourceRule =
      (tool.parent_path().parent_path().parent_path() / "packaging" / kRuleFile).lexically_normal();
  const bool haveSource = !error && ReadRule(sourceRule).namesArm;
  if (haveSource) found.push_back(sourceRule);
  search.source = !search.unread.empty() ? search.unread.front()
                  : haveSource           ? sourceRule.string()
                                         : std::string(kRuleFile);

  if (found.empty()) {
    search.group = kArmGroup;
    search.uaccess = true;
  } else {
    const RuleText rule = ReadRule(found.front());
    search.group = rule.group;
    search.uaccess = rule.uaccess;
  }
  return search;
}

void RuleMissing(Report& report, const RuleSearch& search, bool armPlugged, bool asNote) {
  const std::string text = fmt::format(
      "no udev rule for the arm in the folders udev reads ({}){}",
      JoinedWith(search.readFolders, ", "),
      search.unread.empty()
          ? ""
          : "; it lies in " + JoinedWith(search.unread, ", ") + ", where udev does not look");
  const std::string fix = fmt::format(
      "install the libtarsel5 package, or `sudo cp {} /etc/udev/rules.d/`, then "
      "`sudo udevadm control --reload && sudo udevadm trigger`{}",
      text::ShellWord(search.source), armPlugged ? " and replug the arm" : "");
  if (asNote) {
    report.Note(
        fmt::format("{}; root opens the arm without it, other users need it: {}", text, fix));
  } else {
    report.Problem(text, fix);
  }
}

void CheckRuleInstalled(Report& report, const RuleSearch& search, const Identity& who) {
  if (!search.installed.empty()) {
    report.Ok(fmt::format("udev rule {} is in a folder udev reads", search.installed));
  } else {
    RuleMissing(report, search, false, who.root);
  }
}

void CheckGroup(Report& report, const RuleSearch& search, const Identity& who, bool nodeDenied) {
  if (who.root) {
    report.Ok("running as root, who may open the arm without the udev rule's group");
    return;
  }
  const std::string& name = search.group;
  if (name.empty()) {
    report.Note(
        "the udev rule gives the arm no group: its uaccess tag and its mode alone say "
        "who may open it");
    return;
  }
  if (Contains(who.groups, name)) {
    report.Ok(
        fmt::format("{} is in the {} group, which the udev rule gives the arm to", who.user, name));
    return;
  }
  const group* entry = ::getgrnam(name.c_str());
  if (entry == nullptr) {
    report.Problem(fmt::format("there is no {} group on this system", name),
                   fmt::format("`sudo groupadd --system {0}` and `sudo usermod -aG {0} {1}`, then "
                               "log in again{2}",
                               name, who.user, nodeDenied ? " and replug the arm" : ""));
    return;
  }
  for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (who.user == *member) {
      report.Problem(fmt::format("{} was added to {} after this login began", who.user, name),
                     fmt::format("log out and in again (or start a shell with `newgrp {}`)", name));
      return;
    }
  }
  const std::string fix =
      fmt::format("`sudo usermod -aG {} {}`, then log in again", name, who.user);
  if (search.uaccess && !nodeDenied && !who.remote) {
    report.Note(
        fmt::format("{} is not in the {} group: the udev rule's uaccess tag opens the arm "
                    "to whoever is logged in at the seat, but not to remote logins; for "
                    "those, {}",
                    who.user, name, fix));
  } else {
    report.Problem(fmt::format("{} is not in the {} group{}", who.user, name,
                               search.uaccess ? " (the seat's own access, uaccess, does not reach "
                                                "remote logins)"
                                              : ""),
                   fix);
  }
}

std::string PlugInFix() {
  const std::string vendor = fmt::format("{:04x}", TARSEL_USB_VENDOR_ID);
  const char* path = std::getenv("PATH");
  // No PATH: the shell's and execvp's default.
  bool lsusb = false;
  for (const std::string& folder : SplitOn(path != nullptr ? path : "/bin:/usr/bin", ':')) {
    const fs::path program = fs::path(folder) / "lsusb";
    std::error_code error;
    lsusb = lsusb || (fs::is_regular_file(program, error) && ::access(program.c_str(), X_OK) == 0);
  }
  return lsusb ? fmt::format(
                     "plug the arm in and switch it on; `lsusb -d {}:` lists it once the "
                     "PC sees it",
                     vendor)
               : std::string(
                     "plug the arm in and switch it on; to see what the PC finds on the "
                     "bus, install the usbutils package (it brings lsusb)");
}

TimeFigures Summarise(std::vector<double> seconds) {
  TimeFigures f;
  f.counts.assign(std::size(kTimeBuckets) + 1, 0);
  if (seconds.empty()) return f;
  std::sort(seconds.begin(), seconds.end());
  // Nearest rank: the smallest time that at least p of the times do not exceed.
  const auto rank = [&](double p) {
    const auto n = static_cast<std::size_t>(std::ceil(p * static_cast<double>(seconds.size())));
    return seconds[std::clamp<std::size_t>(n, 1, seconds.size()) - 1];
  };
  f.p50 = rank(0.50);
  f.p99 = rank(0.99);
  f.max = seconds.back();
  for (const double t : seconds) {
    const auto bucket = std::lower_bound(std::begin(kTimeBuckets), std::end(kTimeBuckets), t);
    ++f.counts[static_cast<std::size_t>(bucket - std::begin(kTimeBuckets))];
  }
  return f;
}

std::string Milliseconds(double seconds) {
  const double ms = seconds * 1e3;
  return ms >= 100 ? fmt::format("{:.0f} ms", ms) : fmt::format("{:.3g} ms", ms);
}

std::vector<std::string> HistogramLines(const TimeFigures& f) {
  std::vector<std::string> lines;
  const auto used = [](int count) { return count > 0; };
  const auto first = std::find_if(f.counts.begin(), f.counts.end(), used);
  if (first == f.counts.end()) return lines;
  const auto last = std::find_if(f.counts.rbegin(), f.counts.rend(), used).base();
  const int fullest = *std::max_element(f.counts.begin(), f.counts.end());
  constexpr int kBar = 40;
  for (auto count = first; count != last; ++count) {
    const auto i = static_cast<std::size_t>(count - f.counts.begin());
    const auto ms = [](double s) { return fmt::format("{:g}", s * 1e3); };
    const std::string range = i == 0 ? "up to " + ms(kTimeBuckets[0])
                              : i == std::size(kTimeBuckets)
                                  ? "over " + ms(kTimeBuckets[i - 1])
                                  : ms(kTimeBuckets[i - 1]) + "-" + ms(kTimeBuckets[i]);
    // A bucket that holds any time shows at least one mark.
    const int bar = *count == 0 ? 0 : std::max(1, *count * kBar / fullest);
    lines.push_back(fmt::format("{:>12} ms {:>5}  {}", range, *count, std::string(bar, '#')));
  }
  return lines;
}

}  // namespace tarsel::tool::doctor
