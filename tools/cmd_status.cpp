// tarsel status, tarsel version.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "display.h"
#include "record_json.h"
#include "tarsel/tarsel.h"

namespace tarsel::tool {

bool TwoFingerHand(const QuickStatus& s) {
  return s.HandType != 0;
}

std::array<bool, 3> FingersInitialised(const QuickStatus& s) {
  return {s.Finger1Initialized != 0, s.Finger2Initialized != 0, s.Finger3Initialized != 0};
}

namespace {

std::string ControlTypeText(int type) {
  switch (type) {
    case 0:
      return "0 (Cartesian)";
    case 1:
      return "1 (angular)";
    default:
      return std::to_string(type);
  }
}

std::string HandText(const QuickStatus& s) {
  return fmt::format("{} fingers (hand type {})", TwoFingerHand(s) ? "two" : "three", s.HandType);
}

std::string FingersText(const QuickStatus& s) {
  const std::array<bool, 3> flags = FingersInitialised(s);
  std::string text;
  for (int f = 0; f < 3; ++f) {
    if (f > 0) text += ", ";
    if (f == 2 && TwoFingerHand(s) && !flags[f]) {
      text += "3 absent";
    } else {
      text += fmt::format("{} {}", f + 1, flags[f] ? "initialised" : "not initialised");
    }
  }
  return text;
}

std::string StatusBytes(const QuickStatus& s) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&s);
  std::string text;
  for (std::size_t i = 0; i < sizeof s; ++i)
    text += fmt::format("{}{:02x}", i ? " " : "", bytes[i]);
  return text;
}

// The arm's code versions: ten version words, one single number, two more
// words, three numbers a word.
struct CodeVersions {
  std::vector<std::string> words;  // the ten words
  int single = 0;
  std::vector<std::string> further;  // the two last words
};

CodeVersions SplitCodeVersions(const std::vector<int>& v) {
  CodeVersions out;
  if (v.size() < 37) return out;
  for (int w = 0; w < 10; ++w)
    out.words.push_back(VersionText(v[3 * w], v[3 * w + 1], v[3 * w + 2]));
  out.single = v[30];
  out.further.push_back(VersionText(v[31], v[32], v[33]));
  out.further.push_back(VersionText(v[34], v[35], v[36]));
  return out;
}

std::string Joined(const std::vector<std::string>& items, const char* separator = " ") {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) text += (i ? separator : "") + items[i];
  return text;
}

std::vector<int> ApiVersion() {
  std::vector<int> version;
  Check(GetAPIVersion(version), "GetAPIVersion");
  return version;
}

std::vector<int> ArmCodeVersion() {
  std::vector<int> versions;
  Check(GetCodeVersion(versions), "GetCodeVersion");
  if (versions.size() != 37) {
    throw Failure(fmt::format("GetCodeVersion gave {} numbers, not 37", versions.size()));
  }
  return versions;
}

std::string ApiVersionText(const std::vector<int>& v) {
  return v.size() >= 3 ? VersionText(v[0], v[1], v[2]) : "unknown";
}

void RunStatus(const Context& context, bool json) {
  Session session(context.connect);
  QuickStatus quick{};
  Check(GetQuickStatus(quick), "GetQuickStatus");
  int controlType = 0;
  Check(GetControlType(controlType), "GetControlType");
  unsigned int errorCount = 0;
  Check(GetSystemErrorCount(errorCount), "GetSystemErrorCount");
  const std::vector<int> api = ApiVersion();
  const std::vector<int> code = ArmCodeVersion();
  GeneralInformations general{};
  Check(GetGeneralInformations(general), "GetGeneralInformations");

  if (json) {
    Json out;
    out["simulated"] = session.Simulated();
    out["control_type"] = controlType;
    out["hand"] = TwoFingerHand(quick) ? "two fingers" : "three fingers";
    out["quick_status"] = ToDisplay(quick);
    out["error_count"] = errorCount;
    out["api_version"] = ApiVersionText(api);
    out["code_version"] = code;
    out["general_information"] = ToDisplay(general);
    PrintJson(out);
    return;
  }
  const CodeVersions versions = SplitCodeVersions(code);
  Listing listing;
  listing.Section(session.Simulated() ? "Arm (simulated)" : "Arm")
      .Add("Control type", ControlTypeText(controlType))
      .Add("Hand", HandText(quick))
      .Add("Fingers", FingersText(quick))
      .Add("Error log", fmt::format("{} {}", errorCount, errorCount == 1 ? "entry" : "entries"))
      .Add("Quick status", StatusBytes(quick));
  listing.Section("Versions")
      .Add("API library", ApiVersionText(api))
      .Add("Arm code", Joined(versions.words))
      .Add("", fmt::format("{}  {}", versions.single, Joined(versions.further, "  ")));
  listing.Section("General information").AddScalars(FieldTexts(general));
  listing.Print();
}

void RunVersion(const Context& context, bool json) {
  const std::vector<int> api = ApiVersion();
  if (!json) {
    fmt::print("tarsel {}\n", TARSEL_VERSION_STR);
    fmt::print("API library {}\n", ApiVersionText(api));
    std::fflush(stdout);
  }
  // The library's version needs no arm; the arm's code versions do.
  Session session(context.connect);
  const std::vector<int> code = ArmCodeVersion();
  const CodeVersions versions = SplitCodeVersions(code);
  if (json) {
    Json out;
    out["tool"] = TARSEL_VERSION_STR;
    out["api_version"] = ApiVersionText(api);
    out["code_version"] = code;
    PrintJson(out);
    return;
  }
  fmt::print("Arm code {}\n", Joined(versions.words));
  fmt::print("         {}  {}\n", versions.single, Joined(versions.further, "  "));
}

}  // namespace

void AddStatusCommands(CLI::App& app, const Context& context) {
  auto statusJson = std::make_shared<bool>(false);
  CLI::App* status = app.add_subcommand(
      "status",
      "Quick status with finger flags and hand type, control type, versions, error "
      "count and general information");
  status->add_flag("--json", *statusJson, "Print JSON (every field of the records)");
  status->callback([&context, statusJson] { RunStatus(context, *statusJson); });

  auto versionJson = std::make_shared<bool>(false);
  CLI::App* version =
      app.add_subcommand("version", "Versions of the tool, the API library and the arm's code");
  version->add_flag("--json", *versionJson, "Print JSON");
  version->callback([&context, versionJson] { RunVersion(context, *versionJson); });
}

}  // namespace tarsel::tool
