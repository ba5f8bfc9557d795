// The JSON forms of the stored blocks: exact round trips of every float bit
// pattern and every text byte, strict reading, and the files earlier
// versions wrote; the one text of non-finite numbers in what the tool shows.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <fmt/core.h>
#include <gtest/gtest.h>

#include "block_json.h"
#include "core/value_text.h"
#include "display.h"

namespace tarsel::tool {
namespace {

std::uint32_t Bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

float FromBits(std::uint32_t bits) {
  return std::bit_cast<float>(bits);
}

// A value through its file form and back.
BlockJson ThroughText(const BlockJson& value) {
  return ReadDocument(value.dump(), "test");
}

struct FloatCase {
  std::uint32_t bits;
  const char* text;  // how the file shows it
};

// By value: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const FloatCase& c, std::ostream* os) {
  *os << c.text;
}

class FloatForm : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatForm, PrintsAsExpectedAndReadsBackTheSameBits) {
  const float value = FromBits(GetParam().bits);
  const BlockJson json = FloatToJson(value);
  EXPECT_EQ(json.dump(), GetParam().text);
  EXPECT_EQ(Bits(FloatFromJson(ThroughText(json), "/x")), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    Floats, FloatForm,
    ::testing::Values(FloatCase{0x3dcccccd, "0.1"},            // shortest digits, not 0.100000001
                      FloatCase{0x80000000, "-0.0"},           // the sign of zero survives
                      FloatCase{0x3f800000, "1.0"},            // stays a float, not an integer
                      FloatCase{0x00000001, "1e-45"},          // smallest subnormal
                      FloatCase{0x007fffff, "1.1754942e-38"},  // largest subnormal
                      FloatCase{0x7f7fffff, "3.4028235e+38"},  // largest finite
                      FloatCase{0x4b800001, "1.6777218e+07"},  // beyond exact integers
                      FloatCase{0x7f800000, "\"inf\""}, FloatCase{0xff800000, "\"-inf\""},
                      FloatCase{0x7fc00000, "\"nan\""}, FloatCase{0xffc00000, "\"-nan\""},
                      FloatCase{0x7f800001, "\"0x7f800001\""},  // signalling NaN
                      FloatCase{0x7fc12345, "\"0x7fc12345\""},  // NaN with a payload
                      FloatCase{0xffffffff, "\"0xffffffff\""}));

TEST(FloatForm, EveryBitPatternOfASampleRoundTrips) {
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t bits = random();
    const BlockJson json = FloatToJson(FromBits(bits));
    const BlockJson back = ThroughText(json);
    ASSERT_EQ(Bits(FloatFromJson(back, "/x")), bits) << json.dump();
    ASSERT_EQ(back.dump(), json.dump());
  }
}

TEST(FloatForm, AcceptsHandWrittenForms) {
  EXPECT_EQ(FloatFromJson(BlockJson(3), "/x"), 3.0f);
  EXPECT_EQ(FloatFromJson(BlockJson(-7), "/x"), -7.0f);
  EXPECT_EQ(FloatFromJson(ReadDocument("0.25", "t"), "/x"), 0.25f);
  EXPECT_EQ(Bits(FloatFromJson(BlockJson("0x3F800000"), "/x")), 0x3f800000u);
  EXPECT_EQ(FloatFromJson(BlockJson("+inf"), "/x"), std::numeric_limits<float>::infinity());
}

TEST(FloatForm, RefusesWhatIsNotAFloat) {
  for (const char* text : {"true", "null", "\"1.5\"", "\"0x123\"", "\"0x3f80000g\"", "[1]", "1e39",
                           "-1e39", "\"infinity\""}) {
    EXPECT_THROW(FloatFromJson(ReadDocument(text, "t"), "/x"), JsonError) << text;
  }
}

// --- Texts ------------------------------------------------------------------

struct TextCase {
  const char* name;
  char bytes[20];
  const char* shown;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.name;
}

class TextForm : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextForm, KeepsAllTwentyBytes) {
  const TextCase& c = GetParam();
  const BlockJson json = TextToJson(c.bytes);
  EXPECT_EQ(json.dump(), c.shown);
  char back[20];
  std::memset(back, 0x55, sizeof back);
  TextFromJson(ThroughText(json), back, "/t");
  EXPECT_EQ(std::memcmp(back, c.bytes, 20), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextForm,
    ::testing::Values(TextCase{"padded", "Tarsel arm", "\"Tarsel arm\""},
                      TextCase{"empty", "", "\"\""},
                      TextCase{"full",
                               {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T'},
                               "\"ABCDEFGHIJKLMNOPQRST\""},
                      TextCase{"quote", "say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
                      // Bytes after the terminator matter: they travel too.
                      TextCase{"after_nul",
                               {'a', 'b', 0, 'c'},
                               "{\"hex\":\"6162006300000000000000000000000000000000\"}"},
                      TextCase{"control", "a\tb",
                               "{\"hex\":\"6109620000000000000000000000000000000000\"}"},
                      TextCase{"high_byte",
                               {'x', static_cast<char>(0xff)},
                               "{\"hex\":\"78ff000000000000000000000000000000000000\"}"}),
    [](const auto& info) { return info.param.name; });

TEST(TextForm, RefusesTextsThatDoNotFit) {
  char text[20];
  for (const char* json :
       {"\"ABCDEFGHIJKLMNOPQRSTU\"", "{\"hex\":\"00\"}", "{\"hex\":1}",
        "{\"hex\":\"6162006300000000000000000000000000000000\",\"x\":1}", "5", "\"a\\u0000b\""}) {
    EXPECT_THROW(TextFromJson(ReadDocument(json, "t"), text, "/t"), JsonError) << json;
  }
}

// --- Whole blocks -------------------------------------------------------------

template <class Record>
void FillRandom(Record& record, unsigned seed) {
  std::mt19937 random(seed);
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(random());
}

// Record -> file text -> record -> file text: the records agree in every byte
// that travels and the two texts are identical.
template <class Record>
void ExpectExactRoundTrip(const Record& original) {
  const std::string text = WriteDocument(ToJson(original));
  Record back;
  FillRandom(back, 99);  // FromJson must not leave stale bytes behind
  FromJson(ReadDocument(text, "test"), back);
  EXPECT_EQ(std::memcmp(&back, &original, sizeof original), 0);
  EXPECT_EQ(WriteDocument(ToJson(back)), text);
}

class ClientConfigurationForm : public ::testing::TestWithParam<int> {};

TEST_P(ClientConfigurationForm, RoundTripsWhatTravels) {
  ClientConfigurations config;
  FillRandom(config, 1);
  config.StoredPositionCount = GetParam();
  // What never travels reads back as zero: the reserved tail and the stored
  // positions beyond the count.
  std::memset(config.Reserved, 0, sizeof config.Reserved);
  const int carried = std::clamp(GetParam(), 0, TARSEL_MAX_STORED_POSITIONS);
  std::memset(static_cast<void*>(&config.StoredPositions[carried]), 0,
              sizeof(UserPosition) * (TARSEL_MAX_STORED_POSITIONS - carried));
  ExpectExactRoundTrip(config);
  EXPECT_EQ(ToJson(config)["StoredPositions"].size(), static_cast<std::size_t>(carried));
}

INSTANTIATE_TEST_SUITE_P(Counts, ClientConfigurationForm,
                         ::testing::Values(std::numeric_limits<int>::min(), -1, 0, 3, 20, 25));

TEST(ZoneListForm, RoundTripsEveryBit) {
  for (unsigned seed : {2u, 3u, 4u}) {
    ZoneList zones;
    FillRandom(zones, seed);
    ExpectExactRoundTrip(zones);
  }
}

TEST(ControlMappingForm, RoundTripsEveryBit) {
  for (unsigned seed : {5u, 6u}) {
    ControlMappingCharts charts;
    FillRandom(charts, seed);
    // Each entry ends in two bytes of padding that no field owns.
    for (ControlMapping& m : charts.Mappings) {
      for (ControlMappingEntry* entries : {m.FirstEntries, m.SecondEntries}) {
        for (int e = 0; e < 6; ++e) {
          std::memset(reinterpret_cast<unsigned char*>(&entries[e]) + 202, 0, 2);
        }
      }
    }
    ExpectExactRoundTrip(charts);
  }
}

// The file of a block filled with random bytes (texts of both forms, floats
// of every kind) is the text earlier versions wrote, byte for byte: stored
// files rely on it. Each case names the text's size and its FNV-1a hash.
TEST(BlockFiles, KeepTheirText) {
  const auto hash = [](const std::string& text) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const unsigned char c : text) h = (h ^ c) * 0x100000001b3u;
    return h;
  };
  ClientConfigurations config;
  FillRandom(config, 11);
  config.StoredPositionCount = 3;
  std::memcpy(config.Text2, "Tarsel\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
  ZoneList zones;
  FillRandom(zones, 12);
  ControlMappingCharts charts;
  FillRandom(charts, 13);
  const struct {
    std::string text;
    std::size_t size;
    std::uint64_t hash;
  } cases[] = {{WriteDocument(ToJson(config)), 2978, 0x56e31b1b35090cdbu},
               {WriteDocument(ToJson(zones)), 22193, 0xa9dab7325869092bu},
               {WriteDocument(ToJson(charts)), 78586, 0xab9ecdf497fe40c6u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    EXPECT_EQ(c.text.size(), c.size);
    EXPECT_EQ(hash(c.text), c.hash);
  }
}

// --- Strict reading ---------------------------------------------------------

BlockJson ZoneDocument() {
  ZoneList zones{};
  zones.Zones[3].Parameters[8] = 2.5f;
  return ToJson(zones);
}

struct Broken {
  const char* name;
  void (*change)(BlockJson&);
  const char* message;  // expected part of the error
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const Broken& c, std::ostream* os) {
  *os << c.name;
}

class StrictReading : public ::testing::TestWithParam<Broken> {};

TEST_P(StrictReading, RefusesWithThePlace) {
  BlockJson document = ZoneDocument();
  GetParam().change(document);
  ZoneList zones;
  try {
    FromJson(ThroughText(document), zones);
    FAIL() << "accepted";
  } catch (const JsonError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, StrictReading,
    ::testing::Values(
        Broken{"missing_key", [](BlockJson& d) { d["Zones"][3].erase("ZoneValue5"); },
               "/Zones/3/ZoneValue5: missing"},
        Broken{"unknown_key", [](BlockJson& d) { d["Zones"][0]["Points"][7]["Weight"] = 1; },
               "/Zones/0/Points/7/Weight: unknown key"},
        Broken{"misspelt_key",
               [](BlockJson& d) {
                 d["Zones"][3]["ZoneValeu5"] = d["Zones"][3]["ZoneValue5"];
                 d["Zones"][3].erase("ZoneValue5");
               },
               "/Zones/3/ZoneValeu5: unknown key; did you mean \"ZoneValue5\"?"},
        Broken{"misspelt_top_key",
               [](BlockJson& d) {
                 d["listvalue1"] = d["ListValue1"];
                 d.erase("ListValue1");
               },
               "/listvalue1: unknown key; did you mean \"ListValue1\"?"},
        Broken{"short_list", [](BlockJson& d) { d["Zones"][9]["Parameters"].erase(0); },
               "/Zones/9/Parameters: expected 9 entries, found 8"},
        Broken{"int_range", [](BlockJson& d) { d["ListValue2"] = std::int64_t{1} << 31; },
               "/ListValue2: integer out of the 32-bit range"},
        Broken{"float_for_int", [](BlockJson& d) { d["ListValue1"] = 1.5f; },
               "/ListValue1: expected a 32-bit integer"},
        Broken{"bad_float", [](BlockJson& d) { d["Zones"][1]["Parameters"][2] = "one"; },
               "/Zones/1/Parameters/2: expected a number"},
        Broken{"other_block", [](BlockJson& d) { d["block"] = "ClientConfigurations"; },
               "/block: this file holds \"ClientConfigurations\", not ZoneList"},
        Broken{"not_object", [](BlockJson& d) { d["Zones"][4] = 4; },
               "/Zones/4: expected an object"}),
    [](const auto& info) { return info.param.name; });

TEST(StrictReading, StoredPositionsMustMatchTheCount) {
  ClientConfigurations config{};
  config.StoredPositionCount = 2;
  BlockJson document = ToJson(config);
  document["StoredPositionCount"] = 3;
  ClientConfigurations out;
  EXPECT_THROW(FromJson(document, out), JsonError);
}

TEST(StrictReading, RefusesDuplicateKeysAndBadSyntax) {
  EXPECT_THROW(ReadDocument("{\"a\": 1, \"a\": 2}", "t"), JsonError);
  EXPECT_THROW(ReadDocument("{\"a\": {\"b\": 1, \"b\": 1}}", "t"), JsonError);
  EXPECT_NO_THROW(ReadDocument("{\"a\": {\"b\": 1}, \"b\": {\"a\": 1}}", "t"));
  try {
    ReadDocument("{\n  \"a\": 1,\n}", "zones.json");
    FAIL();
  } catch (const JsonError& e) {
    EXPECT_NE(std::string(e.what()).find("zones.json: not valid JSON"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
}

// n arrays (or objects with the key "a") one inside the other around inner.
std::string Nested(int n, bool arrays, const std::string& inner = "1") {
  std::string text;
  for (int i = 0; i < n; ++i) text += arrays ? "[" : "{\"a\": ";
  text += inner;
  for (int i = 0; i < n; ++i) text += arrays ? "]" : "}";
  return text;
}

// Nesting beyond kMaxNesting is refused with its place before the document
// is built: a hundred thousand levels used to overflow the stack of the code
// that prints a value in a message.
TEST(StrictReading, RefusesDeepNestingWithThePlace) {
  const std::string limit = ": nested deeper than " + std::to_string(kMaxNesting) + " levels";
  const struct {
    const char* name;
    std::string text;
    std::string message;  // expected start of the error; empty: the text is read
  } cases[] = {
      {"arrays", Nested(100000, true), "deep.json: /0/0/0/"},
      {"objects", Nested(100000, false), "deep.json: /a/a/a/"},
      {"inside a block",
       "{\"block\": \"ControlMappingCharts\", \"Mappings\": " + Nested(100000, true) + "}",
       "deep.json: /Mappings/0/0/"},
      {"unclosed", std::string(100000, '['), "deep.json: /0/0/0/"},
      {"one level too deep", Nested(kMaxNesting + 1, true), "deep.json: /0/0/0/"},
      {"at the limit", Nested(kMaxNesting, true), ""},
      {"objects at the limit", Nested(kMaxNesting - 1, false, "[]"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const BlockJson document = ReadDocument(c.text, "deep.json");
      if (!c.message.empty()) {
        ADD_FAILURE() << "read";
        continue;
      }
      EXPECT_EQ(document.dump(), BlockJson::parse(c.text).dump());
    } catch (const JsonError& e) {
      const std::string what = e.what();
      EXPECT_NE(c.message, "") << what;
      EXPECT_EQ(what.rfind(c.message, 0), 0u) << what;
      EXPECT_NE(what.find(limit), std::string::npos) << what;
      EXPECT_LT(what.size(), 150u) << what;
    }
  }
}

// Files that are no block at all: each of the three loaders refuses them
// with a message naming the place, never with another exception.
TEST(StrictReading, RefusesDocumentsOfTheWrongShape) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[]", "/: expected an object"},
      {"42", "/: expected an object"},
      {"null", "/: expected an object"},
      {"\"ZoneList\"", "/: expected an object"},
      {"{}", "/block: missing"},
      {"{\"block\": [1]}", "/block: this file holds [1]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const BlockJson document = ReadDocument(c.text, "t");
    const auto refused = [&](auto record) {
      try {
        FromJson(document, record);
      } catch (const JsonError& e) {
        return std::string(e.what()).find(c.message) != std::string::npos;
      }
      return false;
    };
    EXPECT_TRUE(refused(ClientConfigurations{}));
    EXPECT_TRUE(refused(ZoneList{}));
    EXPECT_TRUE(refused(ControlMappingCharts{}));
  }
}

TEST(Differences, NameTheFirstPlace) {
  BlockJson a = ZoneDocument();
  BlockJson b = a;
  EXPECT_EQ(FirstDifference(a, b), "");
  b["Zones"][3]["Parameters"][8] = FloatToJson(std::bit_cast<float>(0x7fc00001u));
  EXPECT_EQ(FirstDifference(a, b), "/Zones/3/Parameters/8: 2.5 vs \"0x7fc00001\"");
  // Zero and negative zero are different values on the wire.
  b = a;
  b["ListValue1"] = -0.0f;
  a["ListValue1"] = 0.0f;
  EXPECT_NE(FirstDifference(a, b), "");
}

// --- What the tool shows ------------------------------------------------------

// A non-finite number shows in the tool's JSON and tables as the files give
// it: no NaN loses its sign or payload.
TEST(Shown, NonFiniteNumbersAsInFiles) {
  for (const std::uint32_t bits : {0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u, 0x7f800001u,
                                   0x7fc12345u, 0xffffffffu}) {
    const float value = FromBits(bits);
    const std::string text = FloatToJson(value).get<std::string>();
    EXPECT_EQ(JsonFloat(value), text);
    EXPECT_EQ(NumberText(value), text);
    EXPECT_EQ(Fixed(value, 12, 3), fmt::format("{:>12}", text));
  }
  const struct {
    std::uint64_t bits;
    const char* text;
  } doubles[] = {{0x7ff0000000000000u, "inf"},
                 {0xfff0000000000000u, "-inf"},
                 {0x7ff8000000000000u, "nan"},
                 {0xfff8000000000000u, "-nan"},
                 {0x7ff0000000000001u, "0x7ff0000000000001"},
                 {0xfff8000000abcdefu, "0xfff8000000abcdef"}};
  for (const auto& d : doubles) {
    EXPECT_EQ(JsonDouble(std::bit_cast<double>(d.bits)), d.text);
  }
}

// A listing of a record's scalar fields: numbered runs on one line, at most
// perLine values, the rest left out.
TEST(Shown, ScalarRunsShareALine) {
  const std::vector<FieldText> fields = {
      {"DoubleValue1", "1.5", true}, {"DoubleValue2", "2", true}, {"UIntValue1", "7", true},
      {"UIntValue3", "9", true},     {"Position1", "", false},    {"FloatValue1", "1", true},
      {"FloatValue2", "2", true},    {"FloatValue3", "3", true},  {"FloatValue4", "4", true},
      {"HandType", "2", true},       {"FloatArray1", "-", false}, {"FloatValue5", "5", true}};
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  Listing().AddScalars(fields, 3).Print(out);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text,
            "  DoubleValue1-2  1.5  2\n"
            "  UIntValue1      7\n"
            "  UIntValue3      9\n"
            "  FloatValue1-3   1  2  3\n"
            "  FloatValue4     4\n"
            "  HandType        2\n"
            "  FloatValue5     5\n");
}

// The commands printed for pasting into a shell (doctor's fixes, the
// simulator's export line) quote a word only when the shell would split or
// expand it.
TEST(ShellWord, QuotesOnlyWhatTheShellWouldTakeApart) {
  const struct {
    const char* text;
    const char* word;
  } cases[] = {
      {"/usr/lib/x86_64-linux-gnu/tarsel", "/usr/lib/x86_64-linux-gnu/tarsel"},
      {"a=b,c:d@e%f+g", "a=b,c:d@e%f+g"},
      {"", "''"},
      {"my arms", "'my arms'"},
      {"$HOME", "'$HOME'"},
      {"it's", "'it'\\''s'"},
  };
  for (const auto& c : cases) EXPECT_EQ(text::ShellWord(c.text), c.word) << c.text;
}

}  // namespace
}  // namespace tarsel::tool
