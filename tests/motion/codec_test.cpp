#include <gtest/gtest.h>

#include <functional>

#include "link_fixture.h"
#include "motion/motion_codec.h"

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

TEST(PositionForms, NineFloatsInRecordOrder) {
  const Bytes answer = Floats({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  AngularPosition a;
  int offset = 0;
  EXPECT_EQ(DeserializeAngularPosition(offset, answer, a), 1);
  EXPECT_EQ(offset, 36);
  EXPECT_EQ(a.Actuators.Actuator1, 1.0f);
  EXPECT_EQ(a.Actuators.Actuator6, 6.0f);
  EXPECT_EQ(a.Fingers.Finger1, 7.0f);
  EXPECT_EQ(a.Fingers.Finger3, 9.0f);

  CartesianPosition c;
  offset = 4;  // decoders start where the offset points
  EXPECT_EQ(DeserializeCartesianPosition(offset, answer, c), 1);
  EXPECT_EQ(offset, 40);
  EXPECT_EQ(c.Coordinates.X, 2.0f);
  EXPECT_EQ(c.Coordinates.RotationZ, 7.0f);
  EXPECT_EQ(c.Fingers.Finger3, 10.0f);
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

// A payload cut inside the UserPosition form keeps what arrived and zeroes
// the rest: cut after Actuator3 (offset 76).
TEST(ShortPayload, UserPositionCutMidway) {
  TrajectoryPoint p;
  p.InitStruct();
  p.Position.Type = 2;
  p.Position.Coordinates.RotationZ = 3.5f;
  p.Position.Actuators = {11, 12, 13, 14, 15, 16};
  p.Position.Fingers.Finger1 = 9.0f;
  Bytes full;
  int offset = 0;
  SerializeTrajectoryPoint(offset, full, p);
  const Bytes cut(full.begin(), full.begin() + 76);
  UserPosition up;
  std::memset(&up, 0xA5, sizeof up);
  DeserializeUserPosition(offset, cut, up);
  EXPECT_EQ(up.Type, 2);
  EXPECT_EQ(up.Coordinates.RotationZ, 3.5f);
  EXPECT_EQ(up.Actuators.Actuator3, 13.0f);
  EXPECT_EQ(up.Actuators.Actuator4, 0.0f);
  EXPECT_EQ(up.FingersMode, 0);
  EXPECT_EQ(up.Fingers.Finger1, 0.0f);
}

TEST(Defaults, InitStructSetsEveryField) {
  UserPosition up;
  std::memset(&up, 0xA5, sizeof up);
  up.InitStruct();
  UserPosition expected;
  std::memset(&expected, 0, sizeof expected);
  expected.Type = 1;
  expected.FingersMode = 1;
  EXPECT_EQ(std::memcmp(&up, &expected, sizeof up), 0);

  TrajectoryPoint tp;
  std::memset(&tp, 0xA5, sizeof tp);
  tp.InitStruct();
  TrajectoryPoint expectedPoint;
  std::memset(&expectedPoint, 0, sizeof expectedPoint);
  expectedPoint.Position = expected;
  EXPECT_EQ(std::memcmp(&tp, &expectedPoint, sizeof tp), 0);
}

}  // namespace
