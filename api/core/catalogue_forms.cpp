// The catalogue's sizes against the forms: every command's payload size is
// the wire size of what it carries, checked when the library is compiled, so
// a form and the catalogue cannot drift apart unnoticed.
#include <type_traits>

#include "config/config_codec.h"
#include "core/catalogue.h"
#include "core/form.h"
#include "maintenance/maintenance_codec.h"
#include "motion/motion_codec.h"
#include "status/status_codec.h"

namespace tarsel {
namespace {

template <class T>
concept IsForm = requires(FormSizer& sizer) { T::Fields(sizer); };

// The wire bytes of what a catalogue line names: a form, a record (in its
// form), a plain value or array of them, or nothing.
template <class T>
constexpr int CarriedSize() {
  if constexpr (std::is_void_v<T>) {
    return 0;
  } else if constexpr (IsForm<T>) {
    return FormSize<T>();
  } else {
    return MemberSize<T, FormOf<T>>();
  }
}

#define TARSEL_CHECK_SIZE(name, number, shape, request, answer, carried)             \
  static_assert(CarriedSize<carried>() ==                                            \
                    (Shape::shape == Shape::kRead ? answer : request),               \
                "the catalogue's size of " #name " is not the wire size of " #carried);
TARSEL_COMMANDS(TARSEL_CHECK_SIZE)
#undef TARSEL_CHECK_SIZE

}  // namespace
}  // namespace tarsel
