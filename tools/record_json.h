// JSON of records, written from their forms: the JSON the tool reports
// (positions, statuses, error entries: Json) and the stored blocks' files
// (BlockJson, see block_json.h) share one writer, so a record's keys are its
// form's field names, in wire order, in both.
//   - a record: an object of its fields; an array: a list; a counted array:
//     the elements that travel;
//   - a number: a JSON number, a non-finite float as its text
//     (core/value_text.h); a bool: true or false;
//   - a char text: a string when it is printable ASCII followed by zeros,
//     else {"hex": <its bytes>}; a row of raw bytes: a hex string.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

#include "block_json.h"
#include "core/value_text.h"
#include "display.h"
#include "record_form.h"

namespace tarsel::tool {

template <class J, class F, class T>
J ValueJson(const T& value);

// Adds each field a form visits to object.
template <class J>
struct JsonFields {
  J& object;

  template <class T, class F>
  void Value(const char* name, const T& value, F) {
    object[name] = ValueJson<J, F>(value);
  }
  template <class T, std::size_t N, class F>
  void Counted(const char* name, const T (&values)[N], std::size_t carried, F) {
    J list = J::array();
    for (std::size_t k = 0; k < carried; ++k) list.push_back(ValueJson<J, F>(values[k]));
    object[name] = std::move(list);
  }
};

// The JSON of value (F the form of its records) as a J: Json or BlockJson.
template <class J, class F, class T>
J ValueJson(const T& value) {
  using E = std::remove_all_extents_t<T>;
  constexpr bool kRow = std::rank_v<T> == 1;
  if constexpr (std::is_class_v<T>) {
    J object = J::object();
    VisitFields<F>(value, JsonFields<J>{object});
    return object;
  } else if constexpr (kRow && std::is_same_v<E, char>) {
    std::size_t length = 0;
    if (text::IsPlainText(value, sizeof value, length)) return std::string(value, length);
    return J{{"hex", text::Hex(reinterpret_cast<const unsigned char*>(value), sizeof value)}};
  } else if constexpr (kRow && std::is_same_v<E, unsigned char>) {
    return text::Hex(value, sizeof value);
  } else if constexpr (std::is_array_v<T>) {
    J list = J::array();
    for (const auto& element : value) list.push_back(ValueJson<J, F>(element));
    return list;
  } else if constexpr (std::is_same_v<T, float>) {
    if constexpr (std::is_same_v<J, BlockJson>) {
      return FloatToJson(value);
    } else {
      return JsonFloat(value);
    }
  } else if constexpr (std::is_same_v<T, double>) {
    static_assert(!std::is_same_v<J, BlockJson>, "a stored block holds no doubles");
    return JsonDouble(value);
  } else {
    return value;
  }
}

// The JSON the tool reports of a record: every field under its name.
template <class Record>
Json ToDisplay(const Record& record) {
  return ValueJson<Json, Form<Record>>(record);
}

}  // namespace tarsel::tool
