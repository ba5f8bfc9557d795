#include <gtest/gtest.h>

#include "config/config_codec.h"
#include "form_members.h"

namespace {

template <class F>
class ConfigForms : public ::testing::Test {};

using Forms =
    ::testing::Types<tarsel::Form<ClientConfigurations>, tarsel::Form<ControlMappingEntry>,
                     tarsel::Form<ControlMapping>, tarsel::Form<ControlMappingCharts>,
                     tarsel::Form<Zone>, tarsel::Form<ZoneList>, tarsel::config::ZonePointForm,
                     tarsel::Form<tarsel::config::DevValues>,
                     tarsel::Form<tarsel::config::SpasmFilterValues>>;
TYPED_TEST_SUITE(ConfigForms, Forms);

TYPED_TEST(ConfigForms, NameEveryMemberOnceInWireOrder) {
  tarsel::testing::ExpectFormCoversRecordInOrder<TypeParam>();
}

}  // namespace
