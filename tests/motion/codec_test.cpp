#include <gtest/gtest.h>

#include <functional>

#include "link_fixture.h"
#include "motion/motion_codec.h"
#include "offset_wrap.h"

namespace {

using tarsel::testing::Bytes;
using tarsel::testing::F32At;
using tarsel::testing::Floats;
using tarsel::testing::U32At;

TEST(InfoForms, AppendAndAdvanceTheOffset) {
  Bytes payload;
  int offset = 0;
  EXPECT_EQ(SerializeCartesianInfo(offset, payload, CartesianInfo{1, 2, 3, 4, 5, 6}), 1);
  EXPECT_EQ(SerializeCartesianInfo(offset, payload, CartesianInfo{7, 8, 9, 10, 11, 12}), 1);
  EXPECT_EQ(offset, 48);
  EXPECT_EQ(payload, Floats({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

  // The form goes to the payload's end whatever the offset holds.
  payload.assign(3, 0xEE);
  offset = 100;
  EXPECT_EQ(SerializeAngularInfo(offset, payload, AngularInfo{-1, -2, -3, -4, -5, -6}), 1);
  EXPECT_EQ(offset, 124);
  ASSERT_EQ(payload.size(), 27u);
  EXPECT_EQ(Bytes(payload.begin() + 3, payload.end()), Floats({-1, -2, -3, -4, -5, -6}));
}

TEST(JoystickForm, LeavesTheOffsetAlone) {
  JoystickCommand command{};
  Bytes payload{0xEE};
  int offset = 7;
  EXPECT_EQ(SerializeJoystickCommand(offset, payload, command), 1);
  EXPECT_EQ(offset, 7);
  EXPECT_EQ(payload.size(), 57u);
}

// Every decoder, run on payloads that end early: it must read nothing past
// the end (the sanitizer build checks the memory side), leave every field it
// could not read wholly at zero, and still advance the offset by its full
// form so that a caller's later fields stay aligned.
struct ShortCase {
  const char* name;
  int form;         // bytes the decoder consumes
  int recordBytes;  // size of the record it fills
  std::function<void(int&, const Bytes&, unsigned char*)> decode;
};

// By name: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const ShortCase& c, std::ostream* os) {
  *os << c.name;
}

template <typename Record, int (*Decode)(int&, const Payload&, Record&)>
std::function<void(int&, const Bytes&, unsigned char*)> Decoder() {
  return [](int& offset, const Bytes& payload, unsigned char* out) {
    Record record;
    std::memset(&record, 0xA5, sizeof record);
    Decode(offset, payload, record);
    std::memcpy(out, &record, sizeof record);
  };
}

const ShortCase kShortCases[] = {
    {"AngularPosition", 36, 36, Decoder<AngularPosition, DeserializeAngularPosition>()},
    {"CartesianPosition", 36, 36, Decoder<CartesianPosition, DeserializeCartesianPosition>()},
    {"ActuatorAcceleration", 72, 72,
     Decoder<AngularAcceleration, DeserializeActuatorAcceleration>()},
    {"UserPosition", 104, 72, Decoder<UserPosition, DeserializeUserPosition>()},
    {"GlobalTrajectory", 12, 12, Decoder<TrajectoryFIFO, DeserializeGlobalTrajectory>()},
    {"SingularityVector", 56, 40, Decoder<SingularityVector, DeserializeSingularityVector>()},
    {"CartesianValidation", 4, 4, Decoder<unsigned int, DeserializeCartesianValidation>()},
};

class ShortPayload : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortPayload, ReadsNothingPastTheEnd) {
  const auto& c = GetParam();
  for (int size = 0; size < c.form; ++size) {
    // Exactly size bytes on the heap, so any overread is a sanitizer report.
    const Bytes payload(static_cast<std::size_t>(size), 0x11);
    Bytes record(static_cast<std::size_t>(c.recordBytes));
    int offset = 0;
    c.decode(offset, payload, record.data());
    EXPECT_EQ(offset, c.form) << "size " << size;
    if (size == 0) {
      EXPECT_EQ(record, Bytes(record.size(), 0)) << "empty payload";
    }
  }
  // Starting beyond the end (or before the start) reads zeros too.
  for (int start : {c.form, 1 << 20, -1000}) {
    const Bytes payload(static_cast<std::size_t>(c.form), 0x11);
    Bytes record(static_cast<std::size_t>(c.recordBytes));
    int offset = start;
    c.decode(offset, payload, record.data());
    EXPECT_EQ(offset, start + c.form);
    EXPECT_EQ(record, Bytes(record.size(), 0)) << "start " << start;
  }
}

INSTANTIATE_TEST_SUITE_P(Decoders, ShortPayload, ::testing::ValuesIn(kShortCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A hostile offset just below INT_MAX wraps in every codec of the module.
TEST(OffsetNearIntMax, InfoFormsWrapAndAppendTheSameBytes) {
  tarsel::testing::ExpectOffsetsWrap({
      {"CartesianInfo", 24,
       [](int& o, Payload& p) {
         SerializeCartesianInfo(o, p, CartesianInfo{1, 2, 3, 4, 5, 6});
       }},
      {"AngularInfo", 24,
       [](int& o, Payload& p) {
         SerializeAngularInfo(o, p, AngularInfo{-1, -2, -3, -4, -5, -6});
       }},
      {"UserPosition (decoder)", 104,
       [](int& o, Payload& p) {
         UserPosition position{};
         DeserializeUserPosition(o, p, position);
         const auto* bytes = reinterpret_cast<const unsigned char*>(&position);
         p.assign(bytes, bytes + sizeof position);
       },
       tarsel::testing::Pattern(104, 1, 1)},
  });
}

}  // namespace
