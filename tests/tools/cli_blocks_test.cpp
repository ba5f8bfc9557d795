// tarsel config, zones, mapping (the stored blocks' files) and flash
// against the simulated arm.
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "cli_support.h"

namespace tarsel::tool::test {
namespace {

// --- stored blocks --------------------------------------------------------------

// Changes a dumped document into one full of awkward values.
using Edit = std::function<void(nlohmann::ordered_json&)>;

struct BlockCase {
  const char* command;
  Edit edit;
};

class Blocks : public Tool, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(Blocks, DumpLoadDumpIsExact) {
  const std::string command = GetParam().command;
  const fs::path first = Path("first.json");
  const Result dump = Sim({command, "dump", first.string()});
  ASSERT_EQ(dump.status, 0) << dump.err;

  // The plain dump loads back and reads back byte for byte.
  const fs::path back = Path("back.json");
  Result load = Sim({command, "load", first.string(), "--read-back", back.string()});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_THAT(load.out, HasSubstr("the arm reads it back identical"));
  EXPECT_EQ(ReadFile(back), ReadFile(first));

  // So does one full of NaN payloads, infinities, negative zeros, subnormals
  // and binary texts, which the arm stores unchanged.
  auto document = nlohmann::ordered_json::parse(ReadFile(first));
  GetParam().edit(document);
  const fs::path edited = Path("edited.json");
  WriteFile(edited, document.dump(2) + "\n");
  load = Sim({command, "load", edited.string(), "--read-back", back.string()});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(ReadFile(back), ReadFile(edited));
  EXPECT_NE(ReadFile(back), ReadFile(first));

  // To stdout, a dump is the bare document.
  const Result out = Sim({command, "dump"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out, ReadFile(first));
}

void EditZones(nlohmann::ordered_json& d) {
  d["ListValue1"] = -2147483647 - 1;
  auto& zone = d["Zones"][9];
  zone["ZoneValue5"] = 2147483647;
  zone["Points"][7]["X"] = "0x7fa00001";
  zone["Points"][7]["Y"] = "-inf";
  zone["Points"][0]["RotationZ"] = -0.0;
  zone["Parameters"][8] = 1e-45;
  zone["Parameters"][0] = "-nan";
}

void EditConfig(nlohmann::ordered_json& d) {
  d["Text1"] = "ABCDEFGHIJKLMNOPQRST";
  d["Text5"] = {{"hex", "00ff00ff00ff00ff00ff00ff00ff00ff00ff0001"}};
  d["FloatValue3"] = "nan";
  d["FloatValue10"] = 3.4028235e38;
  nlohmann::ordered_json position = d["StoredPositions"][0];
  position["Parameter"] = "0xffc00001";
  position["Fingers"]["Finger2"] = 6800.5;
  d["StoredPositions"].push_back(position);
  d["StoredPositionCount"] = 2;
}

void EditMapping(nlohmann::ordered_json& d) {
  d["ChartsValue2"] = -1;
  auto& entry = d["Mappings"][5]["SecondEntries"][5];
  entry["EntryValue1"] = 123456;
  entry["BytePairs"][5] = "ff01";
  entry["ByteGroups"][25] = "0102030405a6f7";
  d["Mappings"][0]["MappingValue3"] = 7;
}

INSTANTIATE_TEST_SUITE_P(AllThree, Blocks,
                         ::testing::Values(BlockCase{"zones", EditZones},
                                           BlockCase{"config", EditConfig},
                                           BlockCase{"mapping", EditMapping}),
                         [](const auto& info) { return std::string(info.param.command); });

TEST_F(Tool, LoadRefusesABadFileBeforeSendingAnything) {
  const fs::path file = Path("zones.json");
  ASSERT_EQ(Sim({"zones", "dump", file.string()}).status, 0);
  // A zones file is no client configuration.
  Result r = Sim({"config", "load", file.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("/block: this file holds \"ZoneList\", not ClientConfigurations"));
  // A misspelt key is named.
  auto document = nlohmann::ordered_json::parse(ReadFile(file));
  document["Zones"][2]["ZoneValue9"] = document["Zones"][2]["ZoneValue5"];
  document["Zones"][2].erase("ZoneValue5");
  WriteFile(file, document.dump());
  r = Sim({"zones", "load", file.string()}, {{"TARSEL_SIM_TRACE", "1"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("tarsel: /Zones/2/ZoneValue9: unknown key; did you mean \"ZoneValue5\"?"));
  EXPECT_THAT(r.err, Not(HasSubstr("sim:")));  // not even InitAPI ran
  r = Sim({"zones", "load", Path("absent.json").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot open"));
}

TEST_F(Tool, ZonesErase) {
  const Result r = Sim({"zones", "erase"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Erased the protection zones.\n");
}

// --- firmware -------------------------------------------------------------------

TEST_F(Tool, FlashShowsProgress) {
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(5000, '\x5a'));
  const Env quick = {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}};
  const Result r = Sim({"flash", image.string()}, quick);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Programmed 5000 bytes in 3 pages.\n");
  EXPECT_THAT(r.err, HasSubstr("(5000 bytes, 3 pages of 2048 bytes)"));
  // Not a terminal: one line per step, ending complete.
  EXPECT_THAT(r.err, HasSubstr("Flashing 0/3 pages 0%\nFlashing 1/3 pages 33%\n"
                               "Flashing 2/3 pages 66%\nFlashing 3/3 pages 100%\n"));
}

TEST_F(Tool, FlashRefusesEmptyAndMissingImages) {
  const fs::path empty = Path("empty.bin");
  WriteFile(empty, "");
  Result r = Sim({"flash", empty.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("is empty; --force programs it anyway"));
  r = Sim({"flash", Path("none.bin").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot open"));
}

// A page the arm does not take stops the transfer there; the bar never
// shows it, and the message names the page and the last one accepted.
struct FlashFault {
  const char* name;
  const char* fault;  // TARSEL_SIM_FAULT
  std::string end;    // the end of standard error, from the last progress line
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FlashFault& c, std::ostream* os) {
  *os << c.name;
}

class FlashFaults : public Tool, public ::testing::WithParamInterface<FlashFault> {};

TEST_P(FlashFaults, StopAtTheFailedPage) {
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(7000, '\x01'));  // four pages
  const Env env = {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}, {"TARSEL_SIM_FAULT", GetParam().fault}};
  const Result r = Sim({"flash", image.string()}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, ::testing::EndsWith(GetParam().end));
  EXPECT_EQ(r.out, "");
}

std::string PageFailed(int page, int code) {
  return "tarsel: page " + std::to_string(page) + " of 4 failed: " + std::to_string(code) + " (" +
         GetResultMessage(code) + ")\n";
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FlashFaults,
    ::testing::Values(
        FlashFault{"first_page_refused", "negative:12:*:1",
                   "Flashing 0/4 pages 0%\n" + PageFailed(1, TARSEL_ERROR_FIRST_PACKET) +
                       "the arm accepted none of the 4 pages; it now holds an incomplete image\n"},
        FlashFault{"later_packet_refused", "negative:12:7:1",
                   "Flashing 0/4 pages 0%\n" + PageFailed(1, TARSEL_ERROR_LATER_PACKET) +
                       "the arm accepted none of the 4 pages; it now holds an incomplete image\n"},
        // Exchange 101 goes unanswered: the start command, two pages of 40
        // packets, then the twentieth packet of page 3.
        FlashFault{"silent_in_page_3", "unplug:100",
                   "Flashing 2/4 pages 50%\n" + PageFailed(3, TARSEL_ERROR_NO_ANSWER) +
                       "page 2 of 4 was the last the arm accepted; the arm now holds an "
                       "incomplete image\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tool, CtrlCDuringFlashStopsBetweenPages) {
  // 500 pages, whose trace is far more than a pipe holds.
  const fs::path image = Path("image.bin");
  WriteFile(image, std::string(500 * 2048 - 1, '\x5a'));
  const std::string page = "sim:    12 ";
  const Result r = Interrupt({"--sim", "--sim-trace", "flash", image.string()},
                             {{"LD_PRELOAD", TARSEL_QUICK_SLEEP}}, page);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.out, "");
  const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      last, m,
      std::regex("tarsel: interrupted: page ([0-9]+) of 500 was the last the arm accepted; "
                 "the arm now holds an incomplete image\n")))
      << last;
  const int accepted = std::stoi(m[1]);
  EXPECT_LT(accepted, 500);
  // No page went out after the last one accepted (a trace line cut short by
  // the signal can only lower the count).
  int packets = 0;
  for (auto at = r.err.find(page); at != std::string::npos; at = r.err.find(page, at + 1)) {
    ++packets;
  }
  EXPECT_LE(packets, 40 * accepted);
  EXPECT_GT(packets, 0);
}

}  // namespace
}  // namespace tarsel::tool::test
