// tarsel errors list, tarsel errors clear. Entries are printed by meaning
// (error_entry.h, the live view's decoding too), or with --raw by the
// record's field names.
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "display.h"
#include "error_entry.h"
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

template <std::size_t N>
std::string FlagText(const bool (&flags)[N]) {
  std::string text;
  for (bool flag : flags) text += flag ? '1' : '0';
  return text;
}

// The nonzero values of the entry's data array, "[index]=value".
template <typename Array>
std::string DataText(const Array& data) {
  std::string text;
  for (std::size_t i = 0; i < std::size(data); ++i) {
    if (data[i] != 0) text += fmt::format("{}[{}]={}", text.empty() ? "" : " ", i, data[i]);
  }
  return text.empty() ? "-" : text;
}

// An entry by meaning, with the names beside the numbers.
Json DecodedJson(std::size_t index, const view::ErrorView& e) {
  Json data = Json::array();
  for (std::uint32_t v : e.data) data.push_back(v);
  return Json{{"index", index},
              {"code", e.code},
              {"codeText", view::ErrorCodeText(e.code)},
              {"device", e.device},
              {"deviceName", view::DeviceName(e.device)},
              {"severity", e.severity},
              {"severityName", view::SeverityName(e.severity)},
              {"occurrences", e.occurrences},
              {"time", e.timeSeconds},
              {"values", e.values},
              {"flags", e.flags},
              {"data", data}};
}

void PrintRaw(const std::vector<SystemError>& entries) {
  fmt::print("{:>3} {:>10} {:>9} {:>9} {:>9} {:>10} {:>7} {:>9} {:>9}  {}\n", "#", "UIntValue1",
             "IntValue1", "IntValue2", "IntValue3", "UIntValue2", "Flags", "IntValue4", "IntValue5",
             "UIntArray");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SystemError& e = entries[i];
    fmt::print("{:>3} {:>10} {:>9} {:>9} {:>9} {:>10} {:>7} {:>9} {:>9}  {}\n", i, e.UIntValue1,
               e.IntValue1, e.IntValue2, e.IntValue3, e.UIntValue2, FlagText(e.Flags), e.IntValue4,
               e.IntValue5, DataText(e.UIntArray));
  }
}

void PrintDecoded(const std::vector<SystemError>& entries) {
  fmt::print("{:>3}  {:<8} {:<11} {:<11} {:>6} {:>9}  {:<11}  {:<7}  {}\n", "#", "code", "device",
             "severity", "count", "time (s)", "values", "flags", "data");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const view::ErrorView e = view::DecodeError(entries[i]);
    fmt::print("{:>3}  {:<8} {:<11} {:<11} {:>6} {:>9}  {:<11}  {:<7}  {}\n", i,
               view::ErrorCodeText(e.code), view::DeviceName(e.device),
               view::SeverityName(e.severity), e.occurrences, e.timeSeconds,
               fmt::format("{} {}", e.values[0], e.values[1]), FlagText(entries[i].Flags),
               DataText(e.data));
  }
}

void RunList(const Context& context, bool json, bool raw) {
  Session session(context.connect);
  const std::vector<SystemError> entries = ReadErrorLog();
  if (json) {
    Json list = Json::array();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      list.push_back(raw ? ToDisplay(entries[i]) : DecodedJson(i, view::DecodeError(entries[i])));
    }
    PrintJson(Json{{"count", entries.size()}, {"entries", list}});
    return;
  }
  if (entries.empty()) {
    fmt::print("The error log is empty.\n");
    return;
  }
  fmt::print("{} {} in the error log\n", entries.size(), entries.size() == 1 ? "entry" : "entries");
  if (raw) {
    PrintRaw(entries);
  } else {
    PrintDecoded(entries);
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
  auto raw = std::make_shared<bool>(false);
  CLI::App* list = errors->add_subcommand(
      "list", "List every entry of the error log: code, device, severity, count, time, values");
  list->add_flag("--json", *json, "Print JSON (every value of each entry, and the names)");
  list->add_flag("--raw", *raw,
                 "Print the entries' values under the record's field names (UIntValue1 ...), "
                 "as earlier versions did");
  list->callback([&context, json, raw] { RunList(context, *json, *raw); });
  CLI::App* clear = errors->add_subcommand("clear", "Empty the error log");
  clear->callback([&context] { RunClear(context); });
}

}  // namespace tarsel::tool
