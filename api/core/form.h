// Record forms: each record's fields listed once, in wire order, with their
// names. One list drives every form of the record: the host's decoder and
// encoder, the simulated arm's answers and the effects of writes, the tool's
// JSON and display, and the Python classes.
//
// A record's form is a specialisation of tarsel::Form next to the record's
// codec, opened by TARSEL_FORM and followed by the body of its Fields, in
// which io is the visitor and Record the record:
//
//   TARSEL_FORM(TrajectoryFIFO) {
//     TARSEL_FIELDS(PointCount, StatusFloat, StatusInt);
//   }
//
// TARSEL_FLOAT_RUN_FORM opens the form of a record of floats and nothing
// else, in memory as on the wire, which is read and written as one run;
// TARSEL_FORM_CALLED(Rec, "Name", floatRun) one whose name differs from the
// type's. A form that is not a record's own (a record in another layout,
// passed as the form argument below) is a struct with the same members:
// Record, kName and a static constexpr template Fields(Io& io).
//
// The calls a form may make (every visitor implements all of them):
//
//   io.Field(name, &R::m [, form])   the member in its natural wire form
//       (TARSEL_FIELDS(a, b, ...) lists members of the record by name):
//       integers and floats little-endian at their width, bool and unsigned
//       char one byte, char and unsigned char arrays byte for byte, other
//       arrays element by element, records through their form (Form<T>, or
//       the form tag given, e.g. UserPositionForm<6>{}).
//   io.AsFloat(name, &R::m)          an int32 member carried as a float:
//       truncated toward zero when read, converted when written.
//   io.Counted(name, &R::m, count [, form])   an array of which only the first
//       count(record) elements travel; the other places are zero bytes when
//       written and skipped (the elements kept) when read. count is read
//       from fields listed before.
//   io.Sent(name, &R::m)             written by the host; skipped when read,
//       the member kept (read by ReadSentForm, the receiving arm's reader).
//   io.Hidden(name, &R::m)           part of the record but never on the wire
//       (an attribute in Python; not in the JSON forms).
//   io.Gap(bytes)                     zero bytes when written, skipped when read.
//   io.Filler(value)                  a float64 constant when written, skipped
//       when read.
//   io.PadTo(bytes)                   zero bytes up to bytes from the form's
//       start when written; the reader stops before them.
//
// Names are the members' own names (the keys of the JSON forms; Python's
// attribute names are their snake_case forms); TARSEL_NAMED(m) gives the name
// and member pointer of one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/payload.h"

// The name and member pointer of a field of the form's Record.
#define TARSEL_NAMED(member) #member, &Record::member

// io.Field(TARSEL_NAMED(m)) for each member named, in order (at most 64).
#define TARSEL_FIELDS(...) __VA_OPT__(TARSEL_EXPAND(TARSEL_FIELDS_STEP(__VA_ARGS__)))
#define TARSEL_FIELDS_STEP(member, ...) \
  io.Field(TARSEL_NAMED(member));       \
  __VA_OPT__(TARSEL_FIELDS_AGAIN TARSEL_PARENS(__VA_ARGS__))
#define TARSEL_FIELDS_AGAIN() TARSEL_FIELDS_STEP
#define TARSEL_PARENS ()
// Rescans a macro's expansion 64 times, so that TARSEL_FIELDS_STEP may expand
// itself again that often.
#define TARSEL_EXPAND(...) TARSEL_X16(TARSEL_X16(TARSEL_X16(TARSEL_X16(__VA_ARGS__))))
#define TARSEL_X16(...) TARSEL_X4(TARSEL_X4(TARSEL_X4(TARSEL_X4(__VA_ARGS__))))
#define TARSEL_X4(...) TARSEL_X1(TARSEL_X1(TARSEL_X1(TARSEL_X1(__VA_ARGS__))))
#define TARSEL_X1(...) __VA_ARGS__

// Opens the form of Rec, named name; the body of its Fields follows.
#define TARSEL_FORM_CALLED(Rec, name, floatRun)            \
  template <>                                              \
  struct Form<Rec> {                                       \
    using Record = Rec;                                    \
    static constexpr const char* kName = name;             \
    static constexpr bool kFloatRun = floatRun;            \
    template <class Io>                                    \
    static constexpr void Fields(Io& io);                  \
  };                                                       \
  template <class Io>                                      \
  constexpr void Form<Rec>::Fields(Io& io)
#define TARSEL_FORM(Rec) TARSEL_FORM_CALLED(Rec, #Rec, false)
#define TARSEL_FLOAT_RUN_FORM(Rec) TARSEL_FORM_CALLED(Rec, #Rec, true)

namespace tarsel {

// Each record's form; specialised beside each record's codec.
template <class Record>
struct Form;

// The form of plain values (numbers, texts, bytes, and the containers of the
// C++ interface's records): none.
struct NoForm {};

// Whether a member of type T holds records (its elements' record forms).
template <class T, class E = std::remove_cv_t<std::remove_all_extents_t<T>>>
constexpr bool kIsRecordMember = std::is_class_v<E> && !requires { typename E::value_type; };

// The default form of a member of type T: its element's record form.
template <class T>
using FormOf = std::conditional_t<kIsRecordMember<T>,
                                  Form<std::remove_cv_t<std::remove_all_extents_t<T>>>, NoForm>;

// --- Wire size ----------------------------------------------------------------

template <class F>
constexpr int FormSize();

// Wire bytes of one member of type T (F the form of its records).
template <class T, class F>
constexpr int MemberSize() {
  if constexpr (std::is_array_v<T>) {
    return static_cast<int>(std::extent_v<T>) * MemberSize<std::remove_extent_t<T>, F>();
  } else if constexpr (std::is_class_v<T>) {
    return FormSize<F>();
  } else if constexpr (std::is_same_v<T, bool>) {
    return 1;
  } else {
    return static_cast<int>(sizeof(T));
  }
}

// Counts the bytes of a form as the writer sends them.
struct FormSizer {
  int bytes = 0;

  template <class R, class T, class F = FormOf<T>>
  constexpr void Field(const char*, T R::*, F = {}) {
    bytes += MemberSize<T, F>();
  }
  template <class R>
  constexpr void AsFloat(const char*, std::int32_t R::*) {
    bytes += 4;
  }
  template <class R, class T, class Count, class F = FormOf<T>>
  constexpr void Counted(const char*, T R::*, Count, F = {}) {
    bytes += MemberSize<T, F>();
  }
  template <class R, class T>
  constexpr void Sent(const char*, T R::*) {
    bytes += MemberSize<T, FormOf<T>>();
  }
  template <class R, class T>
  constexpr void Hidden(const char*, T R::*) {}
  constexpr void Gap(int width) { bytes += width; }
  constexpr void Filler(double) { bytes += 8; }
  constexpr void PadTo(int size) {
    if (bytes < size) bytes = size;
  }
};

// The bytes the form F occupies on the wire (what its writer appends).
template <class F>
constexpr int FormSize() {
  FormSizer sizer;
  F::Fields(sizer);
  return sizer.bytes;
}

// --- Walking the named fields -------------------------------------------------
// For what sees a record as its named members rather than its bytes (the
// tool's JSON and display, the simulated arm's filling, the Python classes).
// WalkFields<F>(visit) calls, in the order of form F:
//   visit.Member(name, &R::m, form)          for each member on the wire (its
//       own form, as a float, counted or sent, unless visit says otherwise);
//   visit.Counted(name, &R::m, count, form)  for a counted array, if visit has it;
//   visit.Sent(name, &R::m)                  for a member only sent, if visit has it;
//   visit.Hidden(name, &R::m)                for a member never on the wire, if
//       visit has it (else it is passed over).
// Gaps, fillers and padding reach no visitor.
template <class Visit>
struct FieldCalls {
  Visit& visit;

  template <class R, class T, class F = FormOf<T>>
  void Field(const char* name, T R::*m, F form = {}) {
    visit.Member(name, m, form);
  }
  template <class R>
  void AsFloat(const char* name, std::int32_t R::*m) {
    visit.Member(name, m, NoForm{});
  }
  template <class R, class T, class Count, class F = FormOf<T>>
  void Counted(const char* name, T R::*m, Count count, F form = {}) {
    if constexpr (requires { visit.Counted(name, m, count, form); }) {
      visit.Counted(name, m, count, form);
    } else {
      visit.Member(name, m, form);
    }
  }
  template <class R, class T>
  void Sent(const char* name, T R::*m) {
    if constexpr (requires { visit.Sent(name, m); }) {
      visit.Sent(name, m);
    } else {
      visit.Member(name, m, FormOf<T>{});
    }
  }
  template <class R, class T>
  void Hidden(const char* name, T R::*m) {
    if constexpr (requires { visit.Hidden(name, m); }) visit.Hidden(name, m);
  }
  void Gap(int) {}
  void Filler(double) {}
  void PadTo(int) {}
};

template <class F, class Visit>
void WalkFields(Visit&& visit) {
  FieldCalls<std::remove_reference_t<Visit>> calls{visit};
  F::Fields(calls);
}

// --- Reading ------------------------------------------------------------------

// Whether a reader reads the Sent fields: the host skips them in the arm's
// answers; the arm receiving the host's write reads them (ReadSentForm).
enum class SentFields { kSkipped, kRead };

template <class F, SentFields S, class Record>
void ReadFormAs(PayloadReader& in, Record& record);

// Reads one value of type T (F the form of its records).
template <class F, SentFields S = SentFields::kSkipped, class T>
void ReadMember(PayloadReader& in, T& value) {
  if constexpr (std::is_class_v<T>) {
    ReadFormAs<F, S>(in, value);
  } else if constexpr (std::is_array_v<T>) {
    using E = std::remove_all_extents_t<T>;
    if constexpr (std::is_same_v<E, char>) {
      in.Bytes(&value, static_cast<int>(sizeof value));
    } else if constexpr (std::is_same_v<E, unsigned char>) {
      in.Field(value);  // a run; one reaching past the end keeps the bytes that arrived
    } else if constexpr (std::is_same_v<E, float> && std::rank_v<T> == 1) {
      in.Floats(value, static_cast<int>(std::extent_v<T>));
    } else {
      for (auto& element : value) ReadMember<F, S>(in, element);
    }
  } else {
    in.Field(value);
  }
}

// Decodes the fields of one record; fields past the payload's end read as
// zero (see PayloadReader).
template <class R, SentFields S = SentFields::kSkipped>
class FormReading {
 public:
  FormReading(PayloadReader& in, R& record) : in_(in), record_(record) {}

  template <class T, class F = FormOf<T>>
  void Field(const char*, T R::*m, F = {}) {
    ReadMember<F, S>(in_, record_.*m);
  }
  void AsFloat(const char*, std::int32_t R::*m) { in_.Truncated(record_.*m); }
  template <class T, std::size_t N, class Count, class F = FormOf<T>>
  void Counted(const char*, T (R::*m)[N], Count count, F = {}) {
    const int carried = count(record_);
    for (std::size_t k = 0; k < N; ++k) {
      if (static_cast<long long>(k) < carried) {
        ReadMember<F, S>(in_, (record_.*m)[k]);
      } else {
        in_.Skip(MemberSize<T, F>());
      }
    }
  }
  template <class T>
  void Sent(const char*, T R::*m) {
    if constexpr (S == SentFields::kRead) {
      ReadMember<FormOf<T>, S>(in_, record_.*m);
    } else {
      in_.Skip(MemberSize<T, FormOf<T>>());
    }
  }
  template <class T>
  void Hidden(const char*, T R::*) {}
  void Gap(int width) { in_.Skip(width); }
  void Filler(double) { in_.Skip(8); }
  void PadTo(int) {}

 private:
  PayloadReader& in_;
  R& record_;
};

// A form that declares kFloatRun (a record of N floats and nothing else,
// in memory as on the wire) is read and written as one run of floats: one
// bounds check instead of one per field.
template <class F>
concept FloatRunForm = F::kFloatRun;

template <class F, class Record>
constexpr int FloatRunLength() {
  static_assert(sizeof(Record) == static_cast<std::size_t>(FormSize<F>()) &&
                    sizeof(Record) % 4 == 0,
                "a float run is the record's floats and nothing else");
  return static_cast<int>(sizeof(Record) / 4);
}

// Decodes record in form F from where in stands, the Sent fields as S says.
template <class F, SentFields S, class Record>
void ReadFormAs(PayloadReader& in, Record& record) {
  if constexpr (FloatRunForm<F>) {
    constexpr int n = FloatRunLength<F, Record>();
    float run[n];
    in.Floats(run, n);
    std::memcpy(&record, run, sizeof run);
  } else {
    FormReading<Record, S> io(in, record);
    F::Fields(io);
  }
}

// Decodes record in form F from where in stands (the host's reader: Sent
// fields skipped, the members kept).
template <class F, class Record>
void ReadForm(PayloadReader& in, Record& record) {
  ReadFormAs<F, SentFields::kSkipped>(in, record);
}

// Decodes what WriteForm<F> wrote, the Sent fields included: the simulated
// arm's reader of the host's writes, so that the arm answers a written block
// byte for byte.
template <class F, class Record>
void ReadSentForm(PayloadReader& in, Record& record) {
  ReadFormAs<F, SentFields::kRead>(in, record);
}

// Decodes record in its own form from offset, advancing offset; returns 1.
// The shape of every Deserialize function.
template <class Record, class F = Form<Record>>
int Decode(int& offset, const Payload& payload, Record& record) {
  PayloadReader in(offset, payload);
  ReadForm<F>(in, record);
  return 1;
}

// --- Writing ------------------------------------------------------------------

template <class F, class Writer, class Record>
void WriteForm(Writer& out, const Record& record);

// Writes one value of type T (F the form of its records).
template <class F, class Writer, class T>
void WriteMember(Writer& out, const T& value) {
  if constexpr (std::is_class_v<T>) {
    WriteForm<F>(out, value);
  } else if constexpr (std::is_array_v<T>) {
    using E = std::remove_all_extents_t<T>;
    if constexpr (std::is_same_v<E, char> || std::is_same_v<E, unsigned char>) {
      out.Bytes(&value, sizeof value);
    } else if constexpr (std::is_same_v<E, float> && std::rank_v<T> == 1) {
      out.Floats(value, static_cast<int>(std::extent_v<T>));
    } else {
      for (const auto& element : value) WriteMember<F>(out, element);
    }
  } else if constexpr (std::is_same_v<T, bool>) {
    out.Field(static_cast<std::uint8_t>(value ? 1 : 0));
  } else {
    out.Field(value);
  }
}

// Encodes the fields of one record through a writer (PayloadWriter,
// FormWriter or PacketWriter).
template <class Writer, class R>
class FormWriting {
 public:
  FormWriting(Writer& out, const R& record) : out_(out), record_(record), start_(out.Written()) {}

  template <class T, class F = FormOf<T>>
  void Field(const char*, T R::*m, F = {}) {
    WriteMember<F>(out_, record_.*m);
  }
  void AsFloat(const char*, std::int32_t R::*m) {
    out_.Field(static_cast<float>(record_.*m));
  }
  template <class T, std::size_t N, class Count, class F = FormOf<T>>
  void Counted(const char*, T (R::*m)[N], Count count, F = {}) {
    const int carried = count(record_);
    for (std::size_t k = 0; k < N; ++k) {
      if (static_cast<long long>(k) < carried) {
        WriteMember<F>(out_, (record_.*m)[k]);
      } else {
        out_.Zeros(static_cast<std::size_t>(MemberSize<T, F>()));
      }
    }
  }
  template <class T>
  void Sent(const char*, T R::*m) {
    WriteMember<FormOf<T>>(out_, record_.*m);
  }
  template <class T>
  void Hidden(const char*, T R::*) {}
  void Gap(int width) { out_.Zeros(static_cast<std::size_t>(width)); }
  void Filler(double value) { out_.Filler(value); }
  void PadTo(int size) {
    const std::size_t written = out_.Written() - start_;
    if (written < static_cast<std::size_t>(size)) out_.Zeros(static_cast<std::size_t>(size) - written);
  }

 private:
  Writer& out_;
  const R& record_;
  std::size_t start_;
};

// Encodes record in form F at the writer's end.
template <class F, class Writer, class Record>
void WriteForm(Writer& out, const Record& record) {
  if constexpr (FloatRunForm<F>) {
    constexpr int n = FloatRunLength<F, Record>();
    float run[n];
    std::memcpy(run, &record, sizeof run);
    out.Floats(run, n);
  } else {
    FormWriting<Writer, Record> io(out, record);
    F::Fields(io);
  }
}

// Appends record in its own form to payload; returns 1.
template <class Record, class F = Form<Record>>
int Encode(Payload& payload, const Record& record) {
  FormWriter out(payload, static_cast<std::size_t>(FormSize<F>()));
  WriteForm<F>(out, record);
  return 1;
}

// --- Floats --------------------------------------------------------------------

template <class F, class T, class Fn>
void ForEachFloat(const T& value, Fn& fn);

template <class R, class Fn>
struct FloatWalk {
  const R& record;
  Fn& fn;

  template <class T, class F>
  void Member(const char*, T R::*m, F) {
    ForEachFloat<F>(record.*m, fn);
  }
};

// Calls fn(f) for each float of value (a float, an array, or a record in
// form F), in wire order; other members are passed over.
template <class F, class T, class Fn>
void ForEachFloat(const T& value, Fn& fn) {
  if constexpr (std::is_class_v<T>) {
    WalkFields<F>(FloatWalk<T, Fn>{value, fn});
  } else if constexpr (std::is_array_v<T>) {
    for (const auto& element : value) ForEachFloat<F>(element, fn);
  } else if constexpr (std::is_same_v<T, float>) {
    fn(value);
  }
}

// The floats of a record of floats only (TARSEL_FLOAT_RUN_FORM), in wire
// order: an AngularInfo's six joints.
template <class R, class F = Form<R>>
std::array<float, FloatRunLength<F, R>()> FloatsOf(const R& record) {
  static_assert(F::kFloatRun, "a record of floats only");
  std::array<float, FloatRunLength<F, R>()> floats;
  std::memcpy(floats.data(), &record, sizeof record);
  return floats;
}

// The record of floats only whose floats, in wire order, are floats.
template <class R, class F = Form<R>>
R FromFloats(const std::array<float, FloatRunLength<F, R>()>& floats) {
  static_assert(F::kFloatRun, "a record of floats only");
  R record;
  std::memcpy(&record, floats.data(), sizeof record);
  return record;
}

}  // namespace tarsel
