// Filling a record in the order its form lists the members: the arm composes
// an answer as a sequence of values, and the record's form decides where each
// one goes, so an answer names neither fields nor byte offsets.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/form.h"

namespace tarsel::sim {

namespace fill {

// One place of a record a value can take: a number of one of the wire's
// types, or a text of width bytes.
struct Place {
  void* at;
  void (*set)(void* at, double value);  // null for a text
  double (*get)(const void* at);
  int width;
};

template <class T>
void Set(void* at, double value) {
  if constexpr (std::is_floating_point_v<T>) {
    *static_cast<T*>(at) = static_cast<T>(value);
  } else {
    // Through a 64-bit integer, so that an integer wraps into a narrower or
    // unsigned place as an integer cast would (a double cast out of range
    // is undefined).
    *static_cast<T*>(at) = static_cast<T>(static_cast<std::int64_t>(value));
  }
}
template <class T>
double Get(const void* at) {
  return static_cast<double>(*static_cast<const T*>(at));
}

template <class F, class T>
void Collect(T& value, std::vector<Place>& places);

// Collects the places of the members a form lists, in its order. Gaps,
// fillers and members never on the wire take no value.
template <class R>
struct Collector {
  R& record;
  std::vector<Place>& places;

  template <class T, class F>
  void Member(const char*, T R::*m, F) {
    Collect<F>(record.*m, places);
  }
};

template <class F, class T>
void Collect(T& value, std::vector<Place>& places) {
  if constexpr (std::is_class_v<T>) {
    WalkFields<F>(Collector<T>{value, places});
  } else if constexpr (std::is_same_v<std::remove_all_extents_t<T>, char>) {
    places.push_back({&value, nullptr, nullptr, static_cast<int>(sizeof value)});
  } else if constexpr (std::is_array_v<T>) {
    for (auto& element : value) Collect<F>(element, places);
  } else {
    places.push_back({&value, &Set<T>, &Get<T>, 0});
  }
}

}  // namespace fill

// Fills record from values given in its form's order. A number takes the
// next number place (converted as static_cast converts, integers wrapping); a std::array or a
// non-text C array gives its elements in turn; a record (with a form) gives
// its own members in its form's order; a char array takes the next text
// place whole (up to its terminator, zero-padded, cut to the place's width).
// Places never given keep what the record held. The record must outlive the
// filler; InOrder(record) makes one.
template <class R>
class FillInOrder {
 public:
  explicit FillInOrder(R& record) { fill::Collect<Form<R>>(record, places_); }

  template <class... Values>
  FillInOrder& operator()(const Values&... values) {
    (Put(values), ...);
    return *this;
  }
  // Leaves the next places as they are.
  FillInOrder& Skip(std::size_t places) {
    next_ += places;
    return *this;
  }

 private:
  const fill::Place& Next() {
    assert(next_ < places_.size() && "more values than the record has places");
    return places_[next_++];
  }
  void PutText(const char* text, std::size_t length) {
    const fill::Place& p = Next();
    assert(p.set == nullptr && "a text where the form has a number");
    const std::size_t n = length < static_cast<std::size_t>(p.width) ? length : p.width;
    std::memset(p.at, 0, static_cast<std::size_t>(p.width));
    std::memcpy(p.at, text, n);
  }
  template <class T>
  void Put(const T& value) {
    if constexpr (std::is_arithmetic_v<T>) {
      const fill::Place& p = Next();
      assert(p.set != nullptr && "a number where the form has a text");
      p.set(p.at, static_cast<double>(value));
    } else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>) {
      const void* end = std::memchr(value, 0, sizeof value);
      PutText(value, end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - value)
                                    : sizeof value);
    } else if constexpr (std::is_array_v<T>) {
      for (const auto& element : value) Put(element);
    } else if constexpr (std::is_class_v<T> && requires { typename T::value_type; }) {
      for (const auto& element : value) Put(element);
    } else {
      T copy = value;  // its places are read through the same collection
      std::vector<fill::Place> from;
      fill::Collect<Form<T>>(copy, from);
      for (const fill::Place& p : from) {
        if (p.set == nullptr) {
          PutText(static_cast<const char*>(p.at), static_cast<std::size_t>(p.width));
        } else {
          Put(p.get(p.at));
        }
      }
    }
  }

  std::vector<fill::Place> places_;
  std::size_t next_ = 0;
};

// A filler of record: InOrder(record)(first, second, ...).
template <class R>
FillInOrder<R> InOrder(R& record) {
  return FillInOrder<R>(record);
}

}  // namespace tarsel::sim
