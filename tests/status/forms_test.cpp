#include <gtest/gtest.h>

#include "form_members.h"
#include "status/status_codec.h"

namespace {

template <class F>
class StatusForms : public ::testing::Test {};

using Forms = ::testing::Types<tarsel::Form<GeneralInformations>, tarsel::Form<Finger>,
                               tarsel::Form<Gripper>, tarsel::Form<QuickStatus>,
                               tarsel::Form<ForcesInfo>, tarsel::Form<SensorsInfo>,
                               tarsel::Form<SystemError>, tarsel::Form<PeripheralInfo>>;
TYPED_TEST_SUITE(StatusForms, Forms);

TYPED_TEST(StatusForms, NameEveryMemberOnceInWireOrder) {
  tarsel::testing::ExpectFormCoversRecordInOrder<TypeParam>();
}

}  // namespace
