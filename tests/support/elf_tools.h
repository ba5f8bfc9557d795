// Reading a shared library's dynamic symbols and needed libraries with the
// binutils tools, for tests of the libraries' exported surface.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>

namespace tarsel::testing {

inline std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Defined dynamic symbols of a library; demangled gives C++ signatures.
inline std::set<std::string> DynamicSymbols(const std::string& library, bool demangled = false) {
  const std::string cmd = std::string(TARSEL_NM) + " -D --defined-only --format=posix " +
                          (demangled ? "-C " : "") + "'" + library + "'";
  std::istringstream lines(RunCommand(cmd));
  std::set<std::string> names;
  std::string line;
  while (std::getline(lines, line)) {
    // posix format: "<name> <type> <value> [<size>]"; demangled names contain
    // spaces, so cut at the last type letter field from the right.
    std::size_t end = line.size();
    for (int field = 0; field < 2 && end != std::string::npos; ++field) {
      end = line.rfind(' ', end - 1);
    }
    if (end == std::string::npos) continue;
    std::string head = line.substr(0, end);
    // Without a size field there is one field less to the right.
    const std::size_t type = head.rfind(' ');
    if (type != std::string::npos && head.size() - type == 2) head = head.substr(0, type);
    names.insert(head);
  }
  return names;
}

inline std::set<std::string> NeededLibraries(const std::string& library) {
  std::istringstream lines(RunCommand(std::string(TARSEL_READELF) + " -d '" + library + "'"));
  std::set<std::string> needed;
  std::string line;
  while (std::getline(lines, line)) {
    const auto open = line.find("Shared library: [");
    if (open == std::string::npos) continue;
    const auto start = open + 17;
    needed.insert(line.substr(start, line.find(']', start) - start));
  }
  return needed;
}

// Whether some symbol's demangled form starts with prefix (a function name
// followed by its opening parenthesis, say).
inline bool HasSymbolStartingWith(const std::set<std::string>& names, const std::string& prefix) {
  for (const auto& n : names)
    if (n.rfind(prefix, 0) == 0) return true;
  return false;
}

// Expects every expected name among symbols, spelled exactly.
inline void ExpectSymbols(const std::set<std::string>& symbols,
                          std::initializer_list<const char*> expected) {
  for (const char* name : expected) EXPECT_TRUE(symbols.count(name)) << name;
}

// Expects, for every prefix, some symbol that starts with it.
inline void ExpectSymbolsStartingWith(const std::set<std::string>& symbols,
                                      std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes) EXPECT_TRUE(HasSymbolStartingWith(symbols, prefix)) << prefix;
}

}  // namespace tarsel::testing
