// Every export sends the command the catalogue gives it, in the catalogue's
// shape and size. The catalogue is the one list the API, the simulated arm
// and the tool share; this checks the API's side of it against the wire.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "arm/exports.h"
#include "core/catalogue.h"
#include "link_fixture.h"

namespace {

using tarsel::Shape;
using tarsel::testing::LinkTest;

// One call of each export that sends exactly one catalogued command: those
// of the table api/arm/exports.txt, whatever record they carry, then the rest.
#define TARSEL_READ_CALL(Name, python, module, Record, doc) \
  {#Name, [] {                                              \
     static Record record{};                                \
     return Name(record);                                   \
   }},
#define TARSEL_POINTER_READ_CALL(Name, python, module, Record, doc) \
  {#Name, [] {                                                      \
     static Record record{};                                        \
     return Name(&record);                                          \
   }},
#define TARSEL_BARE_CALL(Name, python, module, doc) {#Name, [] { return Name(); }},
#define TARSEL_WRITE_CALL(Name, python, module, Record, Check, doc, a, pythonA) \
  {#Name, [] { return Name(Record{}); }},
#define TARSEL_PAIR_WRITE_CALL(Name, python, module, Record, Check, doc, a, pythonA, b, pythonB) \
  {#Name, [] { return Name(Record{}, Record{}); }},

const std::map<std::string, std::function<int()>>& Calls() {
  // clang-format off
  static const std::map<std::string, std::function<int()>> calls = {
      TARSEL_ARM_READS(TARSEL_READ_CALL)
      TARSEL_ARM_POINTER_READS(TARSEL_POINTER_READ_CALL)
      TARSEL_ARM_BARE_COMMANDS(TARSEL_BARE_CALL)
      TARSEL_ARM_WRITES(TARSEL_WRITE_CALL)
      TARSEL_ARM_PAIR_WRITES(TARSEL_PAIR_WRITE_CALL)
      {"GetSystemError", [] { SystemError e; return GetSystemError(0, e); }},
      {"SetActuatorPID", [] { return SetActuatorPID(16, 1, 2, 3); }},
      {"SetActuatorPIDFilter", [] { return SetActuatorPIDFilter(16, 1, 2, 3); }},
      {"SetSerialNumber", [] { char s[20] = "TSL-1"; return SetSerialNumber(s); }},
      {"SetSpasmFilterValues", [] { return SetSpasmFilterValues({1, 2, 3, 4}, 1); }},
      {"GetSpasmFilterValues", [] { std::vector<float> v(4); int s; return GetSpasmFilterValues(v, s); }},
      {"SetDevValue", [] { return SetDevValue(std::vector<float>(14, 1.0f)); }},
      {"GetDevValue", [] { std::vector<float> v(14); return GetDevValue(v); }},
  };
  // clang-format on
  return calls;
}

#undef TARSEL_READ_CALL
#undef TARSEL_POINTER_READ_CALL
#undef TARSEL_BARE_CALL
#undef TARSEL_WRITE_CALL
#undef TARSEL_PAIR_WRITE_CALL

// Commands that only a composite or an access-coded call sends.
bool SentOnlyWithinAnotherCall(const std::string& name) {
  return name == "FlashPage" || name == "BeginFlash" || name == "MoveHome" || name == "SetModel";
}

class CatalogueOnTheWire : public LinkTest {};

TEST_F(CatalogueOnTheWire, EveryExportSendsItsCommandInItsShape) {
  for (const tarsel::CommandEntry& c : tarsel::kCommands) {
    SCOPED_TRACE(c.name);
    const auto call = Calls().find(c.name);
    if (call == Calls().end()) {
      EXPECT_TRUE(SentOnlyWithinAnotherCall(c.name)) << "no call listed for " << c.name;
      continue;
    }
    tarsel::recording::Reset();
    if (c.shape == Shape::kRead) {
      tarsel::recording::ServeRead(c.number, std::vector<unsigned char>(c.answerBytes, 0));
    }
    EXPECT_EQ(call->second(), TARSEL_OK);
    const auto& sent = Sent();
    ASSERT_FALSE(sent.empty());
    for (const Packet& p : sent) EXPECT_EQ(p.CommandId, c.number);
    switch (c.shape) {
      case Shape::kRead:
        EXPECT_EQ(static_cast<int>(sent.size()), (c.answerBytes + 55) / 56);
        EXPECT_EQ(sent[0].PayloadSize, 1);
        break;
      case Shape::kWrite:
        EXPECT_EQ(static_cast<int>(sent.size()), (c.requestBytes + 55) / 56);
        EXPECT_EQ(sent[0].PayloadSize, c.requestBytes);
        break;
      case Shape::kBare:
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].PayloadSize, 0);
        break;
      case Shape::kPage:
        break;
    }
  }
}

}  // namespace
