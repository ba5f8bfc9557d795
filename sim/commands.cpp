#include "commands.h"

#include <algorithm>
#include <iterator>

namespace tarsel::sim {

namespace {

// The arm's view of the catalogue: one size per command, the one its shape
// uses.
constexpr CommandInfo kCommands[] = {
#define TARSEL_SIM_COMMAND(name, number, shape, request, answer, form) \
  {number, Shape::shape, Shape::shape == Shape::kRead ? answer : request, #name},
    TARSEL_COMMANDS(TARSEL_SIM_COMMAND)
#undef TARSEL_SIM_COMMAND
};

static_assert(kCommands[0].id == 0 && kCommands[0].size == 3040, "catalogue order");

}  // namespace

const CommandInfo* FindCommand(int id) {
  const auto* end = std::end(kCommands);
  const auto* it = std::lower_bound(std::begin(kCommands), end, id,
                                    [](const CommandInfo& c, int v) { return c.id < v; });
  return it != end && it->id == id ? it : nullptr;
}

const CommandInfo* CommandTable(int& count) {
  count = static_cast<int>(std::size(kCommands));
  return kCommands;
}

}  // namespace tarsel::sim
