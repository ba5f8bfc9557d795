// tarsel errors list, tarsel errors clear. Entries are printed by meaning
// (status/error_entry.h, the live view's decoding too), or with --raw by the
// record's field names.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "display.h"
#include "record_json.h"
#include "status/error_entry.h"
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

// An entry by meaning, with the names beside the numbers.
Json DecodedJson(std::size_t index, const status::ErrorView& e) {
  Json data = Json::array();
  for (std::uint32_t v : e.data) data.push_back(v);
  return Json{{"index", index},
              {"code", e.code},
              {"codeText", status::ErrorCodeText(e.code)},
              {"device", e.device},
              {"deviceName", status::DeviceName(e.device)},
              {"severity", e.severity},
              {"severityName", status::SeverityName(e.severity)},
              {"occurrences", e.occurrences},
              {"time", e.timeSeconds},
              {"values", e.values},
              {"flags", e.flags},
              {"data", data}};
}

// The entries' fields under their names, a column a field (flags as digits,
// the data array's nonzero words).
void PrintRaw(const std::vector<SystemError>& entries) {
  const std::vector<std::string>& names = FieldNames<Form<SystemError>>();
  std::vector<std::vector<FieldText>> rows;
  std::vector<std::size_t> widths;
  for (const std::string& name : names) widths.push_back(name.size());
  for (const SystemError& e : entries) {
    rows.push_back(FieldTexts(e));
    for (std::size_t i = 0; i < names.size(); ++i) {
      widths[i] = std::max(widths[i], rows.back()[i].text.size());
    }
  }
  const auto print = [&](const std::string& index, const auto& cell) {
    std::string line = fmt::format("{:>3}", index);
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
      line += fmt::format(" {:>{}}", cell(i), widths[i]);
    }
    fmt::print("{}  {}\n", line, cell(names.size() - 1));
  };
  print("#", [&](std::size_t i) { return names[i]; });
  for (std::size_t k = 0; k < rows.size(); ++k) {
    print(std::to_string(k), [&](std::size_t i) { return rows[k][i].text; });
  }
}

void PrintDecoded(const std::vector<SystemError>& entries) {
  fmt::print("{:>3}  {:<8} {:<11} {:<11} {:>6} {:>9}  {:<11}  {:<7}  {}\n", "#", "code", "device",
             "severity", "count", "time (s)", "values", "flags", "data");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const status::ErrorView e = status::DecodeError(entries[i]);
    fmt::print("{:>3}  {:<8} {:<11} {:<11} {:>6} {:>9}  {:<11}  {:<7}  {}\n", i,
               status::ErrorCodeText(e.code), status::DeviceName(e.device),
               status::SeverityName(e.severity), e.occurrences, e.timeSeconds,
               fmt::format("{} {}", e.values[0], e.values[1]), FlagText(e.flags),
               NonzeroText(e.data));
  }
}

void RunList(const Context& context, bool json, bool raw) {
  Session session(context.connect);
  const std::vector<SystemError> entries = ReadErrorLog();
  if (json) {
    Json list = Json::array();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      list.push_back(raw ? ToDisplay(entries[i]) : DecodedJson(i, status::DecodeError(entries[i])));
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
                 "Print the entries' values under the record's field names, "
                 "as earlier versions did");
  list->callback([&context, json, raw] { RunList(context, *json, *raw); });
  CLI::App* clear = errors->add_subcommand("clear", "Empty the error log");
  clear->callback([&context] { RunClear(context); });
}

}  // namespace tarsel::tool
