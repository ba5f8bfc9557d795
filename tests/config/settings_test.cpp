#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "config/config_codec.h"
#include "config_test_util.h"
#include "offset_wrap.h"

namespace {

using tarsel::recording::Step;
using namespace tarsel::testing;

// The model access code documented with SetModel.
constexpr char kAccessCode[] = "M7Q4ZK2";

std::vector<float> Ramp(std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = 1.5f + static_cast<float>(i);
  return v;
}
Bytes DataOf(const Packet& p) {
  return Bytes(p.Data, p.Data + TARSEL_PACKET_DATA_SIZE);
}

// A 20-byte text buffer: text, its NUL, then fill.
struct Text20 {
  char bytes[20];
};
Text20 MakeText(const char* text, char fill) {
  Text20 t;
  std::memset(t.bytes, fill, sizeof t.bytes);
  std::memcpy(t.bytes, text, std::strlen(text) + 1);
  return t;
}

class SettingsTest : public LinkTest {};

// --- Refusals: 2100, nothing sent, arguments untouched ---------------------------

struct Refusal {
  const char* name;
  std::function<int(std::vector<float>&)> call;
  std::size_t length;  // of the vector handed to call
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.name;
}

class Refused : public SettingsTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, Returns2100AndSendsNothing) {
  std::vector<float> values = Ramp(GetParam().length);
  const std::vector<float> before = values;
  EXPECT_EQ(GetParam().call(values), TARSEL_ERROR_ARGUMENT);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(values, before);
}

int SpasmGet(std::vector<float>& v) {
  int setting = 77;
  const int result = GetSpasmFilterValues(v, setting);
  EXPECT_EQ(setting, 77);
  return result;
}
int ModelWith(const char* code) {
  Text20 model = MakeText("Model-9", 'x'), given = MakeText(code, '\0');
  const Text20 modelBefore = model, givenBefore = given;
  const int result = SetModel(model.bytes, given.bytes);
  EXPECT_TRUE(SameBytes(&model, &modelBefore, 20) && SameBytes(&given, &givenBefore, 20));
  return result;
}

const Refusal kRefusals[] = {
    {"SetDev13", [](auto& v) { return SetDevValue(v); }, 13},
    {"SetDev15", [](auto& v) { return SetDevValue(v); }, 15},
    {"GetDev0", [](auto& v) { return GetDevValue(v); }, 0},
    {"GetDev13", [](auto& v) { return GetDevValue(v); }, 13},
    {"SetSpasm3", [](auto& v) { return SetSpasmFilterValues(v, 2); }, 3},
    {"SetSpasm5", [](auto& v) { return SetSpasmFilterValues(v, 2); }, 5},
    {"GetSpasm3", SpasmGet, 3},
    {"ModelEmptyCode", [](auto&) { return ModelWith(""); }, 0},
    {"ModelWrongCode", [](auto&) { return ModelWith("M7Q4ZK3"); }, 0},
    {"ModelCodePrefix", [](auto&) { return ModelWith("M7Q4ZK"); }, 0},
    {"ModelCodeLonger", [](auto&) { return ModelWith("M7Q4ZK2X"); }, 0},
    {"ModelCodeLowercase", [](auto&) { return ModelWith("m7q4zk2"); }, 0},
    {"ModelNullCode", [](auto&) { return SetModel(MakeText("M", 0).bytes, nullptr); }, 0},
    {"ModelNullText", [](auto&) { return SetModel(nullptr, MakeText(kAccessCode, 0).bytes); }, 0},
    {"SerialNull", [](auto&) { return SetSerialNumber(nullptr); }, 0},
    {"ClientConfigNull", [](auto&) { return GetClientConfigurations(nullptr); }, 0},
    {"ControlMappingNull", [](auto&) { return GetControlMapping(nullptr); }, 0},
    {"ProtectionZoneNull", [](auto&) { return GetProtectionZone(nullptr); }, 0},
};
INSTANTIATE_TEST_SUITE_P(Arguments, Refused, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// --- What goes out --------------------------------------------------------------

TEST_F(SettingsTest, OneFullPacketOfValues) {
  ASSERT_EQ(SetDevValue(Ramp(14)), TARSEL_OK);
  ASSERT_EQ(SetSpasmFilterValues({0.25f, -1.0f, 3.5f, 1e6f}, 2), TARSEL_OK);
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[0].CommandId, 5000);
  EXPECT_EQ(Sent()[0].PayloadSize, 56);
  const Bytes dev = DataOf(Sent()[0]);
  for (std::size_t i = 0; i < 14; ++i) EXPECT_EQ(F32At(dev, 4 * i), 1.5f + i) << i;

  EXPECT_EQ(Sent()[1].CommandId, 504);
  EXPECT_EQ(Sent()[1].PayloadSize, 56);
  const Bytes spasm = DataOf(Sent()[1]);
  EXPECT_EQ(U32At(spasm, 0), 2u);
  EXPECT_EQ(Bytes(spasm.begin() + 4, spasm.begin() + 20), Floats({0.25f, -1.0f, 3.5f, 1e6f}));
  EXPECT_TRUE(AllZero(spasm, 20, 56));
}

TEST_F(SettingsTest, TextsGoOutAsTheirTwentyBytes) {
  // Bytes after the terminator go out too; what follows the access code's
  // NUL is not looked at.
  const Text20 serial = MakeText("SN042", '\0'), model = MakeText("Model-9", 'x');
  Text20 serialArg = serial, modelArg = model, code = MakeText(kAccessCode, 'y');
  ASSERT_EQ(SetSerialNumber(serialArg.bytes), TARSEL_OK);
  ASSERT_EQ(SetModel(modelArg.bytes, code.bytes), TARSEL_OK);
  ASSERT_EQ(Sent().size(), 2u);
  const std::pair<int, const Text20*> expected[] = {{61, &serial}, {65, &model}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Sent()[i].CommandId, expected[i].first);
    EXPECT_EQ(Sent()[i].PayloadSize, 20);
    EXPECT_TRUE(SameBytes(Sent()[i].Data, expected[i].second->bytes, 20));
    EXPECT_TRUE(AllZero(DataOf(Sent()[i]), 20, 56));
  }
  EXPECT_TRUE(SameBytes(&modelArg, &model, 20));
}

TEST_F(SettingsTest, FrameTypeAndFactoryDefault) {
  const std::pair<int, Bytes> frames[] = {{-1, {0xFF, 0xFF, 0xFF, 0xFF}},
                                          {0x01020304, {0x04, 0x03, 0x02, 0x01}}};
  for (const auto& [frame, bytes] : frames) {
    tarsel::recording::Reset();
    ASSERT_EQ(SetFrameType(frame), TARSEL_OK);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].CommandId, 64);
    EXPECT_EQ(Sent()[0].PayloadSize, 4);
    EXPECT_EQ(Bytes(Sent()[0].Data, Sent()[0].Data + 4), bytes) << frame;
  }
  tarsel::recording::Reset();
  ASSERT_EQ(RestoreFactoryDefault(), TARSEL_OK);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].CommandId, 45);
  EXPECT_EQ(Sent()[0].PayloadSize, 0);
  EXPECT_EQ(DataOf(Sent()[0]), Bytes(56, 0));
}

TEST_F(SettingsTest, AccessCodeIsNotStoredAsText) {
  std::ifstream file(TARSEL_API_LIB, std::ios::binary);
  ASSERT_TRUE(file);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(image.find(kAccessCode), std::string::npos);
}

// --- What comes back ------------------------------------------------------------

TEST_F(SettingsTest, ReadsFillOnlyTheLeadingElements) {
  tarsel::recording::ServeRead(5001, Floats({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  Bytes spasm = Floats({0, 1.5f, 2.5f, 3.5f, 4.5f});
  PutU32(spasm, 0, static_cast<std::uint32_t>(-3));
  tarsel::recording::ServeRead(505, spasm);

  std::vector<float> dev(16, -9.0f), filter(5, -9.0f);
  int setting = 0;
  ASSERT_EQ(GetDevValue(dev), TARSEL_OK);
  ASSERT_EQ(GetSpasmFilterValues(filter, setting), TARSEL_OK);
  EXPECT_EQ(tarsel::recording::RequestCommands(), (std::vector<int>{5001, 505}));
  EXPECT_EQ(dev, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, -9, -9}));
  EXPECT_EQ(filter, (std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f, -9.0f}));
  EXPECT_EQ(setting, -3);
}

TEST(VectorCodecs, StayInsideVectorAndPayload) {
  // Writers send zeros for values the vector lacks.
  Payload out;
  int offset = 0;
  EXPECT_EQ(SerializeDevValue(offset, out, {1.0f, 2.0f}), 1);
  EXPECT_EQ(SerializeSpasmFilterValue(offset, out, {4.0f}, 9), 1);
  EXPECT_EQ(offset, 112);
  ASSERT_EQ(out.size(), 112u);
  EXPECT_EQ(F32At(out, 4), 2.0f);
  EXPECT_TRUE(AllZero(out, 8, 56));
  EXPECT_EQ(U32At(out, 56), 9u);
  EXPECT_EQ(F32At(out, 60), 4.0f);
  EXPECT_TRUE(AllZero(out, 64, 112));

  // Readers of a 12-byte payload read zeros past it and store only into
  // elements the vector has.
  const Payload payload = Floats({1, 2, 3});
  std::vector<float> values(5, -1.0f), two(2, -1.0f);
  int setting = -1;
  offset = 0;
  EXPECT_EQ(DeserializeDevValue(offset, payload, values), 1);
  EXPECT_EQ(offset, 56);
  EXPECT_EQ(values, (std::vector<float>{1, 2, 3, 0, 0}));
  offset = 0;
  EXPECT_EQ(DeserializeSpasmFilterValue(offset, payload, two, setting), 1);
  EXPECT_EQ(offset, 20);
  EXPECT_EQ(setting, static_cast<int>(U32At(payload, 0)));
  EXPECT_EQ(two, (std::vector<float>{2, 3}));
}

// A hostile offset just below INT_MAX wraps in every codec of the module.
TEST(ConfigCodecs, OffsetNearIntMaxWraps) {
  tarsel::testing::ExpectOffsetsWrap({
      {"ClientConfiguration", 3040,
       [](int& o, Payload& p) {
         SerializeClientConfiguration(o, p, FromImage<ClientConfigurations>(Pattern(2400, 3)));
       }},
      {"ControlMappingCharts", 14816,
       [](int& o, Payload& p) {
         SerializeControlMappingCharts(o, p, FromImage<ControlMappingCharts>(Pattern(14816, 5)));
       }},
      {"ZoneList", 4408,
       [](int& o, Payload& p) { SerializeZoneList(o, p, FromImage<ZoneList>(Pattern(2488, 7))); }},
      {"DevValue", 56, [](int& o, Payload& p) { SerializeDevValue(o, p, Ramp(14)); }},
      {"SpasmFilter", 56, [](int& o, Payload& p) { SerializeSpasmFilterValue(o, p, Ramp(4), 2); }},
      {"ClientConfiguration (decoder)", 2248,
       [](int& o, Payload& p) {
         auto config = Filled<ClientConfigurations>(0);
         DeserializeClientConfiguration(o, p, config);
         p = ImageOf(config);
       },
       Pattern(2248, 1, 1)},
      {"ZoneList (decoder)", 4408,
       [](int& o, Payload& p) {
         auto list = Filled<ZoneList>(0);
         DeserializeZoneList(o, p, list);
         p = ImageOf(list);
       },
       Pattern(4408, 1, 1)},
  });
}

// --- Every export goes through the exchange ---------------------------------------

TEST(ConfigExchanges, EveryExportReportsTheLinkState) {
  static Text20 text = MakeText("ABC", 0), code = MakeText(kAccessCode, 0);
  static ClientConfigurations config;
  static ControlMappingCharts charts;
  static ZoneList zones;
  static std::vector<float> values(14);
  static int setting;
  const std::pair<const char*, std::function<int()>> exports[] = {
      {"GetClientConfigurations", [] { return GetClientConfigurations(&config); }},
      {"SetClientConfigurations", [] { return SetClientConfigurations(config); }},
      {"GetControlMapping", [] { return GetControlMapping(&charts); }},
      {"SetControlMapping", [] { return SetControlMapping(charts); }},
      {"GetProtectionZone", [] { return GetProtectionZone(&zones); }},
      {"SetProtectionZone", [] { return SetProtectionZone(zones); }},
      {"EraseAllProtectionZones", [] { return EraseAllProtectionZones(); }},
      {"SetSerialNumber", [] { return SetSerialNumber(text.bytes); }},
      {"SetModel", [] { return SetModel(text.bytes, code.bytes); }},
      {"SetFrameType", [] { return SetFrameType(3); }},
      {"RestoreFactoryDefault", [] { return RestoreFactoryDefault(); }},
      {"SetDevValue", [] { return SetDevValue(std::vector<float>(14)); }},
      {"GetDevValue", [] { return GetDevValue(values); }},
      {"SetSpasmFilterValues", [] { return SetSpasmFilterValues(std::vector<float>(4), 1); }},
      {"GetSpasmFilterValues", [] { return GetSpasmFilterValues(values, setting); }},
  };
  for (const auto& [name, call] : exports) {
    // Closed: 2001 without touching the link. Open, first packet refused:
    // the refusal comes back after one packet.
    tarsel::recording::Reset();
    CloseAPI();
    EXPECT_EQ(call(), TARSEL_ERROR_NOT_INITIALIZED) << name;
    EXPECT_TRUE(tarsel::recording::Requests().empty()) << name;
    ASSERT_EQ(InitAPI(), TARSEL_OK);
    tarsel::recording::Script({Step{Step::Kind::kVerdict, -1}});
    EXPECT_EQ(call(), TARSEL_ERROR_FIRST_PACKET) << name;
    EXPECT_EQ(tarsel::recording::Requests().size(), 1u) << name;
  }
  CloseAPI();
}

}  // namespace
