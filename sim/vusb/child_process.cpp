// Running programs against the virtual bus: the preload library and the
// variables a child needs, spawning children, re-executing under the preload.
#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tarsel/vusb/virtual_arm.h"

extern char** environ;

namespace tarsel::vusb {
namespace {

constexpr const char* kPreloadLibrary = TARSEL_VUSB_PRELOAD;
constexpr const char* kPreloadStem = "libumockdev-preload";
constexpr const char* kReexecMarker = "TARSEL_VUSB_REEXECUTED";

bool Contains(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

// LD_PRELOAD with the preload library first, keeping what was there.
std::string PreloadValue() {
  const char* current = std::getenv("LD_PRELOAD");
  if (Contains(current, kPreloadStem)) return current;
  std::string value = kPreloadLibrary;
  if (current != nullptr && *current != '\0') value += std::string(":") + current;
  return value;
}

// ASAN_OPTIONS that let AddressSanitizer start behind the preload library.
std::string AsanOptionsValue() {
  const char* current = std::getenv("ASAN_OPTIONS");
  if (Contains(current, "verify_asan_link_order")) return current;
  std::string value = "verify_asan_link_order=0";
  if (current != nullptr && *current != '\0') value += std::string(":") + current;
  return value;
}

}  // namespace

std::vector<std::string> VirtualArm::ChildEnvironment() const {
  return {"LD_PRELOAD=" + PreloadValue(), "UMOCKDEV_DIR=" + RootDir(),
          "ASAN_OPTIONS=" + AsanOptionsValue()};
}

pid_t VirtualArm::Spawn(const std::vector<std::string>& argv) const {
  if (argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> env = ChildEnvironment();
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return mine.compare(0, key.size() + 1, key + "=") == 0;
    });
    if (!replaced) env.push_back(entry);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data());
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

int VirtualArm::Run(const std::vector<std::string>& argv) const {
  const pid_t pid = Spawn(argv);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool PreloadActive() {
  // LD_PRELOAD alone does not prove the loader took the library.
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(kPreloadStem) != std::string::npos) return true;
  }
  return false;
}

bool EnsurePreloaded(char** argv) {
  if (PreloadActive()) return true;
  // Once re-executed without the preload coming in, give up instead of
  // looping.
  if (std::getenv(kReexecMarker) != nullptr) return false;
  if (setenv("LD_PRELOAD", PreloadValue().c_str(), 1) != 0 ||
      setenv("ASAN_OPTIONS", AsanOptionsValue().c_str(), 1) != 0 ||
      setenv(kReexecMarker, "1", 1) != 0) {
    return false;
  }
  execv("/proc/self/exe", argv);
  return false;
}

}  // namespace tarsel::vusb
