#include <gtest/gtest.h>

#include "form_members.h"
#include "motion/motion_codec.h"

namespace {

template <class F>
class MotionForms : public ::testing::Test {};

// Every form whose record declares its members in wire order. The runs of
// floats are written from memory whatever their field list says, so only
// this check ties their names (the tool's keys, Python's attributes) to the
// members. The basic point forms put the Type last and leave members out.
using Forms = ::testing::Types<
    tarsel::Form<AngularInfo>, tarsel::Form<CartesianInfo>, tarsel::Form<FingersPosition>,
    tarsel::Form<AngularPosition>, tarsel::Form<CartesianPosition>,
    tarsel::Form<AngularAcceleration>, tarsel::Form<Limitation>, tarsel::Form<UserPosition>,
    tarsel::UserPositionForm<6>, tarsel::PositionCoordinatesForm, tarsel::Form<TrajectoryPoint>,
    tarsel::ActualTrajectoryForm, tarsel::Form<JoystickCommand>, tarsel::Form<TrajectoryFIFO>,
    tarsel::Form<SingularityVector>, tarsel::SingularityCoordinatesForm>;
TYPED_TEST_SUITE(MotionForms, Forms);

TYPED_TEST(MotionForms, NameEveryMemberOnceInWireOrder) {
  tarsel::testing::ExpectFormCoversRecordInOrder<TypeParam>();
}

}  // namespace
