// The records as people and files see them, driven by the records' forms
// (core/form.h): every field that carries a value, by its name, in wire
// order. Gaps, fillers, padding and hidden members are the wire's business
// and never show; a field the host only sends shows like any other.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/config_codec.h"
#include "core/form.h"
#include "display.h"
#include "motion/motion_codec.h"
#include "status/status_codec.h"

namespace tarsel::tool {

// Turns the fields of a record into visitor calls: visit.Value(name, member,
// form) for each field, visit.Counted(name, array, carried, form) for an
// array of which only the first carried elements travel. Rec is the record
// type, const when the record is only read.
template <class Rec, class Visitor>
struct FieldValues {
  using R = std::remove_const_t<Rec>;
  Rec& record;
  Visitor& visit;

  template <class T, class F>
  void Member(const char* name, T R::*m, F form) {
    visit.Value(name, record.*m, form);
  }
  template <class T, std::size_t N, class Count, class F>
  void Counted(const char* name, T (R::*m)[N], Count count, F form) {
    // The count comes from the record, which may be an arm's answer or a
    // file: any value is clamped to the array.
    const long long carried = std::clamp<long long>(count(std::as_const(record)), 0, N);
    visit.Counted(name, record.*m, static_cast<std::size_t>(carried), form);
  }
};

// Visits the fields of record, read in form F, in wire order (see FieldValues).
template <class F, class Rec, class Visitor>
void VisitFields(Rec& record, Visitor&& visit) {
  WalkFields<F>(FieldValues<Rec, std::remove_reference_t<Visitor>>{record, visit});
}

// Collects the names of the fields visited.
struct NameList {
  std::vector<std::string> names;
  template <class T, class F>
  void Value(const char* name, const T&, F) {
    names.emplace_back(name);
  }
  template <class T, class F>
  void Counted(const char* name, const T&, std::size_t, F) {
    names.emplace_back(name);
  }
};

// The names of form F's fields, in wire order; collected once per form.
template <class F>
const std::vector<std::string>& FieldNames() {
  static const std::vector<std::string> names = [] {
    static const typename F::Record scratch{};
    NameList list;
    VisitFields<F>(scratch, list);
    return std::move(list.names);
  }();
  return names;
}

template <class F, class T, class Visit>
void ForEachSent(const T& from, T& to, Visit& visit);

// Finds the fields a form only sends (see ForEachSent).
template <class R, class Visit>
struct SentWalk {
  const R& from;
  R& to;
  Visit& visit;

  template <class T, class F>
  void Member(const char*, T R::*m, F) {
    ForEachSent<F>(from.*m, to.*m, visit);
  }
  template <class T>
  void Sent(const char* name, T R::*m) {
    visit(name, from.*m, to.*m);
  }
};

// Calls visit(name, from's member, to's member) for each field that form F
// (of the records in from and to) only sends: written to the arm, never
// read back. Nested records' such fields included.
template <class F, class T, class Visit>
void ForEachSent(const T& from, T& to, Visit& visit) {
  if constexpr (std::is_array_v<T> && kIsRecordMember<T>) {
    for (std::size_t i = 0; i < std::extent_v<T>; ++i) ForEachSent<F>(from[i], to[i], visit);
  } else if constexpr (std::is_class_v<T>) {
    WalkFields<F>(SentWalk<T, Visit>{from, to, visit});
  }
}

// The names of the fields a record's form only sends, each once.
template <class Record>
std::vector<std::string> SentNames() {
  static Record scratch{};
  std::vector<std::string> names;
  auto add = [&](const char* name, const auto&, auto&) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
  };
  ForEachSent<Form<Record>>(scratch, scratch, add);
  return names;
}

// Bools as digits, "1000000".
template <class Flags>
std::string FlagText(const Flags& flags) {
  std::string text;
  for (bool flag : flags) text += flag ? '1' : '0';
  return text;
}

// The nonzero elements of an array as "[index]=value" ("[0]=1 [7]=12"), or
// "-" when every element is zero.
template <class Array>
std::string NonzeroText(const Array& values) {
  std::string text;
  for (std::size_t i = 0; i < std::size(values); ++i) {
    if (values[i] == 0) continue;
    if (!text.empty()) text += ' ';
    text += "[" + std::to_string(i) + "]=";
    if constexpr (std::is_floating_point_v<std::remove_cvref_t<decltype(values[i])>>) {
      text += NumberText(values[i]);
    } else {
      text += std::to_string(values[i]);
    }
  }
  return text.empty() ? "-" : text;
}

// Collects the fields visited as texts (see FieldTexts).
struct TextList {
  std::vector<FieldText> out;
  template <class T, class F>
  void Value(const char* name, const T& value, F) {
    if constexpr (std::is_class_v<T>) {
      out.push_back({name, "", false});
    } else if constexpr (std::is_array_v<T>) {
      if constexpr (std::is_same_v<std::remove_all_extents_t<T>, bool>) {
        out.push_back({name, FlagText(value), false});
      } else {
        out.push_back({name, NonzeroText(value), false});
      }
    } else if constexpr (std::is_floating_point_v<T>) {
      out.push_back({name, NumberText(value), true});
    } else {
      out.push_back({name, std::to_string(+value), true});
    }
  }
  template <class T, class F>
  void Counted(const char* name, const T&, std::size_t, F) {
    out.push_back({name, "", false});
  }
};

// The fields of record (in its own form) as texts, in wire order: a number
// (NumberText), flags as digits, the nonzero elements of an array; a
// record's field has no text.
template <class Record>
std::vector<FieldText> FieldTexts(const Record& record) {
  TextList texts;
  VisitFields<Form<Record>>(record, texts);
  return std::move(texts.out);
}

}  // namespace tarsel::tool
