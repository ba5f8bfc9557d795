#include <gtest/gtest.h>

#include "link_fixture.h"
#include "tarsel/version.h"

namespace {

using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::LinkTest;
using tarsel::testing::Pattern;
using Kind = Step::Kind;

TEST(ApiVersion, ReplacesTheVectorWithoutTheArm) {
  // No InitAPI in this test: the version needs no link.
  CloseAPI();
  tarsel::recording::Reset();
  std::vector<int> version{9, 9};
  EXPECT_EQ(GetAPIVersion(version), TARSEL_OK);
  EXPECT_EQ(version, (std::vector<int>{TARSEL_VERSION_MAJOR, TARSEL_VERSION_MINOR,
                                        TARSEL_VERSION_PATCH}));
  EXPECT_TRUE(tarsel::recording::Requests().empty());
}

class CodeVersion : public LinkTest {};

TEST_F(CodeVersion, NumbersComeMostSignificantByteFirst) {
  Bytes answer(56, 0);
  const unsigned char word0[4] = {0x03, 0x02, 0x01, 0x00};
  std::copy(word0, word0 + 4, answer.begin());
  answer[40] = 0xFE;                            // the single number
  answer[41] = answer[42] = answer[43] = 0x77;  // not part of any number
  answer[44] = 9, answer[45] = 8, answer[46] = 7, answer[47] = 0x55;
  answer[48] = 0xFF, answer[49] = 0x80, answer[50] = 0x7F, answer[51] = 0x55;
  tarsel::recording::ServeRead(36, answer);

  std::vector<int> versions;
  EXPECT_EQ(GetCodeVersion(versions), TARSEL_OK);
  ASSERT_EQ(versions.size(), 37u);
  EXPECT_EQ(versions[0], 1);
  EXPECT_EQ(versions[1], 2);
  EXPECT_EQ(versions[2], 3);
  EXPECT_EQ(versions[30], 0xFE);
  EXPECT_EQ((std::vector<int>(versions.begin() + 31, versions.end())),
            (std::vector<int>{7, 8, 9, 0x7F, 0x80, 0xFF}));
  ASSERT_EQ(tarsel::recording::Requests().size(), 1u);
  EXPECT_EQ(tarsel::recording::Requests()[0].CommandId, 36);
}

TEST_F(CodeVersion, TakesEachNumberFromItsByteAndAppends) {
  // Byte i of the answer holds 100 + i, so each number names its offset.
  tarsel::recording::ServeRead(36, Pattern(56, 1, 100));
  const int offsets[37] = {2,  1,  0,  6,  5,  4,  10, 9,  8,  14, 13, 12, 18,
                           17, 16, 22, 21, 20, 26, 25, 24, 30, 29, 28, 34, 33,
                           32, 38, 37, 36, 40, 46, 45, 44, 50, 49, 48};
  std::vector<int> versions{-1, -2};
  EXPECT_EQ(GetCodeVersion(versions), TARSEL_OK);
  ASSERT_EQ(versions.size(), 39u);
  EXPECT_EQ(versions[0], -1);
  EXPECT_EQ(versions[1], -2);
  for (int k = 0; k < 37; ++k) EXPECT_EQ(versions[2 + k], 100 + offsets[k]) << "number " << k;
}

TEST_F(CodeVersion, FailedReadAppendsZerosAndReportsTheFailure) {
  const struct {
    short verdict;
    int expected;
  } cases[] = {{-1, 2003}, {0x4000, 2004}};
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    tarsel::recording::ServeRead(36, Pattern(56, 1, 1));
    tarsel::recording::Script({Step{Kind::kVerdict, c.verdict}});
    std::vector<int> versions{4};
    EXPECT_EQ(GetCodeVersion(versions), c.expected);
    ASSERT_EQ(versions.size(), 38u);
    EXPECT_EQ(versions[0], 4);
    // Nothing of the refused answer is kept.
    for (std::size_t k = 1; k < versions.size(); ++k) EXPECT_EQ(versions[k], 0);
  }
}

}  // namespace
