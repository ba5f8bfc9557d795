// tarsel arms, status, version and errors against the simulated arm.
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli_support.h"
#include "tarsel/version.h"

namespace tarsel::tool::test {
namespace {

// --- several arms -----------------------------------------------------------

struct ArmChoice {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // a part of standard output
  std::string err;  // a part of standard error
  Env env = {};
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const ArmChoice& c, std::ostream* os) {
  *os << c.name;
}

class ArmChoices : public Tool, public ::testing::WithParamInterface<ArmChoice> {};

TEST_P(ArmChoices, ListAndChoose) {
  const ArmChoice& c = GetParam();
  const Result r = Sim(c.args, c.env);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_THAT(r.out, HasSubstr(c.out));
  EXPECT_THAT(r.err, HasSubstr(c.err));
}

INSTANTIATE_TEST_SUITE_P(
    Arms, ArmChoices,
    ::testing::Values(
        ArmChoice{"listed", {"--sim-arms", "2", "arms"}, 0, "sim:2 ", ""},
        ArmChoice{"listed_json", {"--sim-arms", "2", "arms", "--json"}, 0, "\"path\": \"sim:2\"", ""},
        ArmChoice{"chosen", {"--sim-arms", "2", "--arm", "sim:2", "status"}, 0, "", ""},
        ArmChoice{"missing",
                  {"--sim-arms", "2", "--arm", "sim:3", "positions"},
                  1,
                  "",
                  Failed("opening arm sim:3", TARSEL_ERROR_NO_ARM)},
        ArmChoice{"no_service",
                  {"arms"},
                  0,
                  "no tarsel-sim answers on /nonexistent/sim.sock (TARSEL_SIM_SOCKET)",
                  "",
                  {{"TARSEL_SIM_SOCKET", "/nonexistent/sim.sock"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- status and version -----------------------------------------------------

TEST_F(Tool, StatusShowsTheArm) {
  const Result r = Sim({"status"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(r.out, HasSubstr("Arm (simulated)"));
  EXPECT_THAT(r.out, HasSubstr("Control type"));
  EXPECT_THAT(r.out, HasSubstr("three fingers (hand type 0)"));
  EXPECT_THAT(r.out, HasSubstr("1 not initialised, 2 not initialised, 3 not initialised"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("\n  Error log +3 entries\n"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("\n  API library +5\\.0\\.6\n"));
  EXPECT_THAT(r.out, HasSubstr("General information"));
}

TEST_F(Tool, StatusJsonFollowsTheHand) {
  for (const auto& [hand, type, name] :
       {std::tuple{"3", 0, "three fingers"}, std::tuple{"2", 2, "two fingers"}}) {
    const Result r = Run({"--sim", "--sim-hand", hand, "status", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["simulated"], true);
    EXPECT_EQ(j["hand"], name);
    EXPECT_EQ(j["quick_status"]["HandType"], type);
    EXPECT_EQ(j["api_version"], TARSEL_VERSION_STR);
    EXPECT_EQ(j["code_version"].size(), 37u);
    EXPECT_EQ(j["error_count"], 3);
    EXPECT_TRUE(j["general_information"].contains("Position4"));
  }
}

TEST_F(Tool, VersionNamesLibraryAndArmCode) {
  const Result r = Sim({"version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("tarsel " TARSEL_VERSION_STR "\nAPI library " TARSEL_VERSION_STR
                               "\nArm code "));
  const Result j = Sim({"version", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(nlohmann::json::parse(j.out)["code_version"].size(), 37u);
  // The tool's own version needs no arm at all.
  const Result local = Run({"--version"});
  EXPECT_EQ(local.status, 0);
  EXPECT_EQ(local.out, "tarsel " TARSEL_VERSION_STR "\n");
}
// --- error log ----------------------------------------------------------------

// The factory log's three entries in one form of `errors list`: by
// meaning (the decoding the live view uses too), or raw by field name.
struct ErrorListing {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> lines;  // text: a pattern for the header and each entry
  nlohmann::json lastEntry;        // JSON: fields of the third entry
};

void PrintTo(const ErrorListing& c, std::ostream* os) {
  *os << c.name;
}

// The 50 data values of an entry whose first is first.
nlohmann::json Data(unsigned first) {
  nlohmann::json data = nlohmann::json::array({first});
  for (int i = 1; i < 50; ++i) data.push_back(0);
  return data;
}

class ErrorLogForms : public Tool, public ::testing::WithParamInterface<ErrorListing> {};

TEST_P(ErrorLogForms, ShowTheFactoryLog) {
  const ErrorListing& c = GetParam();
  const Result r = Sim(c.args);
  ASSERT_EQ(r.status, 0) << r.err;
  if (!c.lastEntry.is_null()) {
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["count"], 3);
    ASSERT_EQ(j["entries"].size(), 3u);
    EXPECT_EQ(j["entries"][2].size(), c.lastEntry.size());
    for (const auto& [key, value] : c.lastEntry.items()) EXPECT_EQ(j["entries"][2][key], value) << key;
    return;
  }
  std::istringstream out(r.out);
  std::string line;
  std::getline(out, line);
  EXPECT_EQ(line, "3 entries in the error log");
  for (const std::string& pattern : c.lines) {
    std::getline(out, line);
    EXPECT_TRUE(std::regex_match(line, std::regex(pattern))) << line << "\nis not\n" << pattern;
  }
  EXPECT_EQ(CountLines(r.out), 1 + static_cast<int>(c.lines.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ErrorLogForms,
    ::testing::Values(
        ErrorListing{"decoded",
                     {"errors", "list"},
                     {R"( +# +code +device +severity +count +time \(s\) +values +flags +data)",
                      R"( +0 +0x0102 +actuator 3 +warning +2 +125 +61 60 +1000000 +\[0\]=1)",
                      R"( +1 +0x0201 +controller +information +1 +0 +0 0 +0000000 +\[0\]=2)",
                      R"( +2 +0x0305 +finger 2 +error +1 +342 +1500 0 +1100000 +\[0\]=3)"},
                     nullptr},
        ErrorListing{"raw",
                     {"errors", "list", "--raw"},
                     {R"( +# +UIntValue1 +IntValue1 +IntValue2 +IntValue3 +UIntValue2 +Flags +IntValue4 )"
                      R"(+IntValue5 +UIntArray)",
                      R"( +0 +258 +3 +1 +2 +125 +1000000 +61 +60 +\[0\]=1)",
                      R"( +1 +513 +0 +0 +1 +0 +0000000 +0 +0 +\[0\]=2)",
                      R"( +2 +773 +8 +2 +1 +342 +1100000 +1500 +0 +\[0\]=3)"},
                     nullptr},
        ErrorListing{"decoded_json",
                     {"errors", "list", "--json"},
                     {},
                     {{"index", 2},
                      {"code", 773},
                      {"codeText", "0x0305"},
                      {"device", 8},
                      {"deviceName", "finger 2"},
                      {"severity", 2},
                      {"severityName", "error"},
                      {"occurrences", 1},
                      {"time", 342},
                      {"values", {1500, 0}},
                      {"flags", {true, true, false, false, false, false, false}},
                      {"data", Data(3)}}},
        ErrorListing{"raw_json",
                     {"errors", "list", "--raw", "--json"},
                     {},
                     {{"UIntValue1", 773},
                      {"IntValue1", 8},
                      {"IntValue2", 2},
                      {"IntValue3", 1},
                      {"UIntValue2", 342},
                      {"Flags", {true, true, false, false, false, false, false}},
                      {"IntValue4", 1500},
                      {"IntValue5", 0},
                      {"UIntArray", Data(3)}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, ErrorsClear) {
  const Result clear = Sim({"errors", "clear"});
  ASSERT_EQ(clear.status, 0) << clear.err;
  EXPECT_EQ(clear.out, "Cleared the error log (3 entries removed).\n");
}

}  // namespace
}  // namespace tarsel::tool::test
