// What tarsel jog makes of a raw terminal's bytes and of the speed keys;
// the keys' effect on the arm is tested by running the tool (cli_loop_test).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jog_keys.h"

namespace tarsel::tool::jog {
namespace {

struct DecodeCase {
  const char* name;
  // What the terminal sends, read by read; an empty chunk is a pause, long
  // enough for a lone Esc to count.
  std::vector<std::string> chunks;
  std::string keys;
};

const DecodeCase kDecodeCases[] = {
    {"PlainKeys", {"1a", " q"}, "1a q"},
    {"EscAloneAfterAPause", {"\x1b", ""}, "\x1b"},
    {"EscWaitsForThePause", {"\x1b"}, ""},
    {"ArrowKeyIsNoKey", {"\x1b[A", "3"}, "3"},
    {"ArrowSplitOverReads", {"\x1b", "[", "D", "", "2"}, "2"},
    {"FunctionKeyIsNoKey", {"\x1bOP1"}, "1"},
    {"SequenceWithParameters", {"\x1b[1;5C", "4"}, "4"},
    {"AltWithAKeyIsNoKey", {"\x1bq"}, ""},
    {"EscTwice", {"\x1b\x1b", ""}, "\x1b\x1b"},
    {"SequenceCutShortSwallowsNoKey", {"\x1b[1", "", "5"}, "5"},
    {"CtrlCIsAKey", {"\x03"}, "\x03"},
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesTheKeysPressed) {
  Decoder decoder;
  std::string keys;
  for (const std::string& chunk : GetParam().chunks) {
    if (chunk.empty()) {
      decoder.Idle(keys);
    } else {
      decoder.Feed(chunk, keys);
    }
  }
  EXPECT_EQ(keys, GetParam().keys);
}

INSTANTIATE_TEST_SUITE_P(Keys, Decode, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpeedSteps, MoveAlongTheLadderFromAnySetting) {
  struct Case {
    int from, faster, slower;
  };
  // --speed may start between the steps (30) or on one (25); the ends stay.
  for (const Case& c :
       std::vector<Case>{{1, 2, 1}, {25, 50, 10}, {30, 50, 25}, {99, 100, 75}, {100, 100, 75}}) {
    EXPECT_EQ(Faster(c.from), c.faster) << c.from;
    EXPECT_EQ(Slower(c.from), c.slower) << c.from;
  }
}

TEST(LiveLine, NeverWiderThanTheScreen) {
  View view;
  view.motion = Motion::kMoving;
  view.axis = 3;
  view.direction = -1;
  view.haveValues = true;
  view.values[0] = -123456.0f;
  view.note = "disconnected: no answer from the arm in 5 cycles over 60 ms: looking for it";
  EXPECT_EQ(LiveLine(view, true, 60).size(), 60u);
  EXPECT_GT(LiveLine(view, true, 0).size(), 60u);
}

}  // namespace
}  // namespace tarsel::tool::jog
