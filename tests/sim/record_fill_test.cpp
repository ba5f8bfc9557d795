#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "record_fill.h"
#include "status/status_codec.h"

namespace {

using tarsel::sim::InOrder;

std::string TextOf(const char (&text)[20]) {
  return std::string(text, sizeof text);
}

TEST(RecordFill, TextsAreCutOrZeroPaddedToTheirWidth) {
  struct Case {
    const char* text;
    std::string expected;
  } cases[] = {
      {"a text longer than twenty bytes", "a text longer than t"},
      {"short", std::string("short") + std::string(15, '\0')},
  };
  for (const Case& c : cases) {
    Finger finger;
    std::memset(&finger, 0x55, sizeof finger);  // what a reused record held
    char text[40] = {};
    std::strncpy(text, c.text, sizeof text - 1);
    InOrder(finger)(text);
    EXPECT_EQ(TextOf(finger.Text), c.expected) << c.text;
  }
}

TEST(RecordFill, ValuesTakeTheFormsPlacesInOrder) {
  Finger finger{};
  finger.FloatValue9 = 7.0f;
  // Nine numbers after the text: eight floats, then the int carried as a
  // float; two places skipped keep what they held.
  InOrder(finger)("f", 1, 2, 3, 4, 5, 6, 7, 8, -9.0).Skip(2)(10.5);
  EXPECT_FLOAT_EQ(finger.FloatValue8, 8.0f);
  EXPECT_EQ(finger.IntValue1, -9);
  EXPECT_FLOAT_EQ(finger.FloatValue9, 7.0f);
  EXPECT_FLOAT_EQ(finger.FloatValue10, 10.5f);
}

TEST(RecordFill, ARecordGivesItsOwnMembersInItsFormsOrder) {
  Finger finger{};
  InOrder(finger)("Finger 2", 0.5).Skip(20)(0x31u, 0x020007u, -1, 0x12345);
  EXPECT_EQ(finger.ShortValue2, 0x2345);  // an integer wraps as a cast would
  Gripper gripper;
  std::memset(&gripper, 0x55, sizeof gripper);
  const Finger zeros{};
  InOrder(gripper)("hand", zeros, finger, finger);
  EXPECT_EQ(std::memcmp(&gripper.Fingers[0], &zeros, sizeof zeros), 0);
  EXPECT_EQ(std::memcmp(&gripper.Fingers[1], &finger, sizeof finger), 0);
  EXPECT_EQ(std::memcmp(&gripper.Fingers[2], &finger, sizeof finger), 0);
}

}  // namespace
