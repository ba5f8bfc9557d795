#include <gtest/gtest.h>

#include "form_members.h"
#include "maintenance/maintenance_codec.h"

namespace {

template <class F>
class MaintenanceForms : public ::testing::Test {};

using Forms = ::testing::Types<tarsel::Form<tarsel::ActuatorGains>,
                               tarsel::Form<tarsel::ActuatorTorqueGain>,
                               tarsel::Form<tarsel::VersionWord>, tarsel::Form<tarsel::CodeVersions>>;
TYPED_TEST_SUITE(MaintenanceForms, Forms);

TYPED_TEST(MaintenanceForms, NameEveryMemberOnceInWireOrder) {
  tarsel::testing::ExpectFormCoversRecordInOrder<TypeParam>();
}

}  // namespace
