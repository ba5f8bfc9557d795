// tarsel errors list, tarsel errors clear.
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "display.h"
#include "record_json.h"
#include "tarsel/tarsel.h"

namespace tarsel::tool {

namespace {

std::vector<SystemError> ReadErrorLog() {
  unsigned int count = 0;
  Check(GetSystemErrorCount(count), "GetSystemErrorCount");
  std::vector<SystemError> entries;
  for (unsigned int i = 0; i < count; ++i) {
    SystemError entry{};
    Check(GetSystemError(i, entry), fmt::format("GetSystemError({})", i));
    entries.push_back(entry);
  }
  return entries;
}

std::string FlagText(const SystemError& e) {
  std::string text;
  for (bool flag : e.Flags) text += flag ? '1' : '0';
  return text;
}

// The nonzero values of the entry's data array, "[index]=value".
std::string DataText(const SystemError& e) {
  std::string text;
  for (int i = 0; i < 50; ++i) {
    if (e.UIntArray[i] != 0)
      text += fmt::format("{}[{}]={}", text.empty() ? "" : " ", i, e.UIntArray[i]);
  }
  return text.empty() ? "-" : text;
}

void RunList(const Context& context, bool json) {
  Session session(context.connect);
  const std::vector<SystemError> entries = ReadErrorLog();
  if (json) {
    Json list = Json::array();
    for (const SystemError& e : entries) list.push_back(ToDisplay(e));
    PrintJson(Json{{"count", entries.size()}, {"entries", list}});
    return;
  }
  if (entries.empty()) {
    fmt::print("The error log is empty.\n");
    return;
  }
  fmt::print("{} {} in the error log\n", entries.size(), entries.size() == 1 ? "entry" : "entries");
  fmt::print("{:>3} {:>10} {:>9} {:>9} {:>9} {:>10} {:>7} {:>9} {:>9}  {}\n", "#", "UIntValue1",
             "IntValue1", "IntValue2", "IntValue3", "UIntValue2", "Flags", "IntValue4", "IntValue5",
             "UIntArray");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SystemError& e = entries[i];
    fmt::print("{:>3} {:>10} {:>9} {:>9} {:>9} {:>10} {:>7} {:>9} {:>9}  {}\n", i, e.UIntValue1,
               e.IntValue1, e.IntValue2, e.IntValue3, e.UIntValue2, FlagText(e), e.IntValue4,
               e.IntValue5, DataText(e));
  }
}

void RunClear(const Context& context) {
  Session session(context.connect);
  unsigned int before = 0;
  Check(GetSystemErrorCount(before), "GetSystemErrorCount");
  Check(ClearErrorLog(), "ClearErrorLog");
  unsigned int after = 0;
  Check(GetSystemErrorCount(after), "GetSystemErrorCount");
  if (after != 0) {
    throw Failure(fmt::format("ClearErrorLog succeeded but the log still holds {} {}", after,
                              after == 1 ? "entry" : "entries"));
  }
  fmt::print("Cleared the error log ({} {} removed).\n", before, before == 1 ? "entry" : "entries");
}

}  // namespace

void AddErrorCommands(CLI::App& app, const Context& context) {
  CLI::App* errors = app.add_subcommand("errors", "The arm's error log");
  errors->require_subcommand(1);
  auto json = std::make_shared<bool>(false);
  CLI::App* list = errors->add_subcommand("list", "List every entry of the error log");
  list->add_flag("--json", *json, "Print JSON (every field of each entry)");
  list->callback([&context, json] { RunList(context, *json); });
  CLI::App* clear = errors->add_subcommand("clear", "Empty the error log");
  clear->callback([&context] { RunClear(context); });
}

}  // namespace tarsel::tool
