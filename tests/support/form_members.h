// Checks a record form's field list against the record's memory layout: for
// records whose members are declared in wire order, the form must name each
// member once, in declaration order, leaving none out. A swapped, repeated or
// forgotten field shows up here even where the size and the spot checks by
// wire offset still agree.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "core/form.h"

namespace tarsel::testing {

// Where each member named by a form lies in memory, in the form's order.
template <class R>
class MemberWalk {
 public:
  struct Span {
    std::string name;
    std::size_t offset, size, align;
  };

  template <class T, class F = FormOf<T>>
  void Field(const char* name, T R::*m, F = {}) {
    Add(name, m);
  }
  void AsFloat(const char* name, std::int32_t R::*m) { Add(name, m); }
  template <class T, class Count, class F = FormOf<T>>
  void Counted(const char* name, T R::*m, Count, F = {}) {
    Add(name, m);
  }
  template <class T>
  void Sent(const char* name, T R::*m) {
    Add(name, m);
  }
  template <class T>
  void Hidden(const char* name, T R::*m) {
    Add(name, m);
  }
  void Gap(int) {}
  void Filler(double) {}
  void PadTo(int) {}

  std::vector<Span> spans;

 private:
  template <class T>
  void Add(const char* name, T R::*m) {
    const auto* base = reinterpret_cast<const unsigned char*>(&record_);
    const auto* at = reinterpret_cast<const unsigned char*>(&(record_.*m));
    spans.push_back({name, static_cast<std::size_t>(at - base), sizeof(T),
                     alignof(std::remove_all_extents_t<T>)});
  }

  R record_{};
};

inline std::size_t AlignUp(std::size_t at, std::size_t align) {
  return (at + align - 1) / align * align;
}

// Expects form F to name every member of its record once, in declaration
// order: each member starts where the one before ends (plus the padding its
// alignment needs), and the last one ends the record.
template <class F>
void ExpectFormCoversRecordInOrder() {
  using R = typename F::Record;
  MemberWalk<R> walk;
  F::Fields(walk);
  std::size_t end = 0;
  for (const auto& span : walk.spans) {
    EXPECT_EQ(span.offset, AlignUp(end, span.align))
        << F::kName << "." << span.name << " is out of place in the form";
    end = span.offset + span.size;
  }
  EXPECT_EQ(AlignUp(end, alignof(R)), sizeof(R)) << F::kName << ": members after the last listed";
}

}  // namespace tarsel::testing
