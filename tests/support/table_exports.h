// The exports of the table api/arm/exports.txt as the tests walk them: every
// list of arm/exports.h, whatever its shape, in one array.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "arm/exports.h"

namespace tarsel::testing {

struct TableExport {
  const char* name;    // the flat function, and the tarsel::Arm member
  const char* python;  // the tarsel.Arm method
  const char* module;  // motion, config, status or maintenance
};

#define TARSEL_TABLE_EXPORT(Name, python, module, ...) {#Name, #python, #module},
// clang-format off
inline constexpr TableExport kTableExports[] = {
    TARSEL_ARM_READS(TARSEL_TABLE_EXPORT)
    TARSEL_ARM_POINTER_READS(TARSEL_TABLE_EXPORT)
    TARSEL_ARM_BARE_COMMANDS(TARSEL_TABLE_EXPORT)
    TARSEL_ARM_WRITES(TARSEL_TABLE_EXPORT)
    TARSEL_ARM_PAIR_WRITES(TARSEL_TABLE_EXPORT)
};
// clang-format on
#undef TARSEL_TABLE_EXPORT

// The names of the table's exports of module, then others (the module's
// exports written by hand).
inline std::vector<std::string> ModuleExports(std::string_view module,
                                              std::initializer_list<const char*> others) {
  std::vector<std::string> names;
  for (const TableExport& e : kTableExports) {
    if (e.module == module) names.emplace_back(e.name);
  }
  names.insert(names.end(), others.begin(), others.end());
  return names;
}

}  // namespace tarsel::testing
