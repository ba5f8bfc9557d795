// Python classes for the records, driven by each record's form (core/form.h):
// the form's field list makes the class's properties, keyword construction,
// to_dict, from_dict, == and repr. Field names are the dictionary form's keys
// (as in the tarsel tool's JSON files); attribute names are their snake_case
// forms (AttributeName). Counted arrays carry only count(record) entries in
// the dictionary form; hidden fields are attributes only.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/form.h"
#include "values.h"

namespace tarsel::python {

// BindRecord's last argument for a stored block: its dictionary starts with
// "block": its name.
constexpr bool kStoredBlock = true;

template <class Record>
const char* RecordName() {
  return Form<Record>::kName;
}

template <class Record>
py::dict RecordToDict(const Record& record);
template <class Record>
void RecordFromDict(py::handle value, Record& record, const std::string& where);
template <class Record>
bool RecordEqual(const Record& a, const Record& b);
template <class Record>
std::string RecordRepr(const Record& record);

// --- One field's value, by C++ type ------------------------------------------
// Get/Set: the attribute (parent is the record's Python object, which nested
// records keep alive); ToDict/FromDict: the dictionary form; Equal: the same
// bits; Repr: for __repr__; Type: for docstrings.

// Records: attributes are live views into the parent; setting copies.
template <class T, class = void>
struct Value {
  static py::object Get(T& value, py::handle parent) {
    return py::cast(&value, py::return_value_policy::reference_internal, parent);
  }
  static void Set(py::handle value, T& out, const std::string& where) {
    if (!py::isinstance<T>(value)) {
      RefuseType(where, std::string("expected a ") + RecordName<T>() + ", found " + Shown(value));
    }
    out = value.cast<const T&>();
  }
  static py::object ToDict(const T& value) { return RecordToDict(value); }
  static void FromDict(py::handle value, T& out, const std::string& where) {
    RecordFromDict(value, out, where);
  }
  static bool Equal(const T& a, const T& b) { return RecordEqual(a, b); }
  static std::string Repr(const T& value) { return RecordRepr(value); }
  static std::string Type() { return RecordName<T>(); }
};

template <class T>
struct Value<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static py::object Get(const T& value, py::handle) { return py::int_(value); }
  static void Set(py::handle value, T& out, const std::string& where) {
    out = static_cast<T>(IntegerFromPython(value, std::numeric_limits<T>::min(),
                                           std::numeric_limits<T>::max(), where));
  }
  static py::object ToDict(const T& value) { return py::int_(value); }
  static void FromDict(py::handle value, T& out, const std::string& where) {
    Set(value, out, where);
  }
  static bool Equal(const T& a, const T& b) { return a == b; }
  static std::string Repr(const T& value) { return std::to_string(value); }
  static std::string Type() { return "int"; }
};

template <>
struct Value<bool> {
  static py::object Get(const bool& value, py::handle) { return py::bool_(value); }
  static void Set(py::handle value, bool& out, const std::string& where) {
    if (!PyBool_Check(value.ptr())) RefuseType(where, "expected a bool, found " + Shown(value));
    out = value.ptr() == Py_True;
  }
  static py::object ToDict(const bool& value) { return py::bool_(value); }
  static void FromDict(py::handle value, bool& out, const std::string& where) {
    Set(value, out, where);
  }
  static bool Equal(const bool& a, const bool& b) { return a == b; }
  static std::string Repr(const bool& value) { return value ? "True" : "False"; }
  static std::string Type() { return "bool"; }
};

template <>
struct Value<float> {
  static py::object Get(const float& value, py::handle) { return FloatToPython(value); }
  static void Set(py::handle value, float& out, const std::string& where) {
    out = FloatFromPython(value, where);
  }
  static py::object ToDict(const float& value) { return FloatToDict(value); }
  static void FromDict(py::handle value, float& out, const std::string& where) {
    out = FloatFromDict(value, where);
  }
  static bool Equal(const float& a, const float& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  static std::string Repr(const float& value) { return py::repr(FloatToPython(value)); }
  static std::string Type() { return "float"; }
};

template <>
struct Value<double> {
  static py::object Get(const double& value, py::handle) { return py::float_(value); }
  static void Set(py::handle value, double& out, const std::string& where) {
    if (PyBool_Check(value.ptr()) || (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr()))) {
      RefuseType(where, "expected a number, found " + Shown(value));
    }
    out = DoubleFromDict(value, where);
  }
  static py::object ToDict(const double& value) { return DoubleToDict(value); }
  static void FromDict(py::handle value, double& out, const std::string& where) {
    out = DoubleFromDict(value, where);
  }
  static bool Equal(const double& a, const double& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  static std::string Repr(const double& value) { return py::repr(py::float_(value)); }
  static std::string Type() { return "float"; }
};

// Fixed texts: bytes without the zero padding.
template <std::size_t N>
struct Value<char[N]> {
  static py::object Get(const char (&value)[N], py::handle) { return TextToPython(value, N); }
  static void Set(py::handle value, char (&out)[N], const std::string& where) {
    TextFromPython(value, out, N, where);
  }
  static py::object ToDict(const char (&value)[N]) { return TextToDict(value, N); }
  static void FromDict(py::handle value, char (&out)[N], const std::string& where) {
    TextFromDict(value, out, N, where);
  }
  static bool Equal(const char (&a)[N], const char (&b)[N]) { return std::memcmp(a, b, N) == 0; }
  static std::string Repr(const char (&value)[N]) { return py::repr(TextToPython(value, N)); }
  static std::string Type() { return "bytes (at most " + std::to_string(N) + ")"; }
};

// Raw bytes: exactly N bytes; a hex string in dictionaries.
template <std::size_t N>
struct Value<unsigned char[N]> {
  static py::object Get(const unsigned char (&value)[N], py::handle) {
    return py::bytes(reinterpret_cast<const char*>(value), N);
  }
  static void Set(py::handle value, unsigned char (&out)[N], const std::string& where) {
    BytesFromPython(value, out, N, where);
  }
  static py::object ToDict(const unsigned char (&value)[N]) { return py::str(Hex(value, N)); }
  static void FromDict(py::handle value, unsigned char (&out)[N], const std::string& where) {
    HexFromDict(value, out, N, where);
  }
  static bool Equal(const unsigned char (&a)[N], const unsigned char (&b)[N]) {
    return std::memcmp(a, b, N) == 0;
  }
  static std::string Repr(const unsigned char (&value)[N]) {
    return py::repr(Get(value, py::handle()));
  }
  static std::string Type() { return "bytes (" + std::to_string(N) + ")"; }
};

template <class T>
constexpr bool kIsRecord = std::is_class_v<T>;

// Arrays: lists of exactly N. A list of records holds live views.
template <class T, std::size_t N>
struct Value<T[N]> {
  static_assert(std::is_trivially_copyable_v<T>);
  static py::object Get(T (&value)[N], py::handle parent) {
    py::list list;
    for (std::size_t i = 0; i < N; ++i) list.append(Value<T>::Get(value[i], parent));
    return list;
  }
  static void Set(py::handle value, T (&out)[N], const std::string& where) {
    if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) ||
        py::isinstance<py::bytes>(value)) {
      RefuseType(where, "expected a list of " + std::to_string(N) + ", found " + Shown(value));
    }
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    if (items.size() != N) {
      RefuseValue(where, "expected " + std::to_string(N) + " entries, found " +
                             std::to_string(items.size()));
    }
    T converted[N];  // nothing changes unless every entry converts
    std::memcpy(&converted, &out, sizeof out);
    for (std::size_t i = 0; i < N; ++i) {
      Value<T>::Set(items[i], converted[i], where + "[" + std::to_string(i) + "]");
    }
    std::memcpy(&out, &converted, sizeof out);
  }
  static py::object ToDict(const T (&value)[N]) { return ToDict(value, N); }
  static py::object ToDict(const T (&value)[N], std::size_t count) {
    py::list list;
    for (std::size_t i = 0; i < count; ++i) list.append(Value<T>::ToDict(value[i]));
    return list;
  }
  static void FromDict(py::handle value, T (&out)[N], const std::string& where) {
    FromDict(value, out, N, where);
  }
  static void FromDict(py::handle value, T (&out)[N], std::size_t count,
                       const std::string& where) {
    if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value)) {
      RefuseValue(where, "expected a list, found " + Shown(value));
    }
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    if (items.size() != count) {
      RefuseValue(where, "expected " + std::to_string(count) + " entries, found " +
                             std::to_string(items.size()));
    }
    for (std::size_t i = 0; i < count; ++i) {
      Value<T>::FromDict(items[i], out[i], Join(where, std::to_string(i)));
    }
  }
  static bool Equal(const T (&a)[N], const T (&b)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!Value<T>::Equal(a[i], b[i])) return false;
    }
    return true;
  }
  static std::string Repr(const T (&value)[N]) {
    if constexpr (kIsRecord<T>) {
      return "[" + std::to_string(N) + " x " + Value<T>::Type() + "]";
    } else {
      std::string text = "[";
      for (std::size_t i = 0; i < N; ++i) text += (i ? ", " : "") + Value<T>::Repr(value[i]);
      return text + "]";
    }
  }
  static std::string Type() { return "list[" + Value<T>::Type() + "] (" + std::to_string(N) + ")"; }
};

template <>
struct Value<std::string> {
  static py::object Get(const std::string& value, py::handle) { return py::str(value); }
  static void Set(py::handle value, std::string& out, const std::string& where) {
    if (!py::isinstance<py::str>(value)) RefuseType(where, "expected a str, found " + Shown(value));
    out = value.cast<std::string>();
  }
  static py::object ToDict(const std::string& value) { return py::str(value); }
  static void FromDict(py::handle value, std::string& out, const std::string& where) {
    Set(value, out, where);
  }
  static bool Equal(const std::string& a, const std::string& b) { return a == b; }
  static std::string Repr(const std::string& value) { return py::repr(py::str(value)); }
  static std::string Type() { return "str"; }
};

// A list of floats of any length.
template <>
struct Value<std::vector<float>> {
  static py::object Get(const std::vector<float>& value, py::handle) {
    py::list list;
    for (const float f : value) list.append(FloatToPython(f));
    return list;
  }
  static void Set(py::handle value, std::vector<float>& out, const std::string& where) {
    if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value)) {
      RefuseType(where, "expected a list of numbers, found " + Shown(value));
    }
    std::vector<float> converted;
    std::size_t i = 0;
    for (const py::handle item : py::reinterpret_borrow<py::sequence>(value)) {
      converted.push_back(FloatFromPython(item, where + "[" + std::to_string(i++) + "]"));
    }
    out = std::move(converted);
  }
  static py::object ToDict(const std::vector<float>& value) {
    py::list list;
    for (const float f : value) list.append(FloatToDict(f));
    return list;
  }
  static void FromDict(py::handle value, std::vector<float>& out, const std::string& where) {
    if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value)) {
      RefuseValue(where, "expected a list, found " + Shown(value));
    }
    std::vector<float> converted;
    std::size_t i = 0;
    for (const py::handle item : py::reinterpret_borrow<py::sequence>(value)) {
      converted.push_back(FloatFromDict(item, Join(where, std::to_string(i++))));
    }
    out = std::move(converted);
  }
  static bool Equal(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
  }
  static std::string Repr(const std::vector<float>& value) {
    return py::repr(Get(value, py::handle()));
  }
  static std::string Type() { return "list[float]"; }
};

// --- The visitors that walk a record's form ---------------------------------------
// Each walks Record's fields through WalkFields (core/form.h): Member(key,
// member) for every field on the wire; Counted(key, member, count) where an
// array of which only count(record) entries are the record's content is
// treated apart; Sent(key, member) where a field the arm never reports back
// is; Hidden(key, member) where the members that are attributes only are
// visited.

// The Python attribute name of a C++ field name: '_' before an uppercase
// letter that follows a lowercase letter or a digit, then all lowercase
// (UIntValue1 -> uint_value1, RotationX -> rotation_x).
inline std::string AttributeName(std::string_view key) {
  std::string name;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    const bool upper = c >= 'A' && c <= 'Z';
    if (upper && i > 0 && ((key[i - 1] >= 'a' && key[i - 1] <= 'z') ||
                           (key[i - 1] >= '0' && key[i - 1] <= '9'))) {
      name += '_';
    }
    name += upper ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name;
}

// Walks Record's fields with visitor, in the order of the record's form.
template <class Record, class Visitor>
void VisitFields(Visitor& visitor) {
  WalkFields<Form<Record>>(visitor);
}

// Properties on the Python class.
template <class Record>
struct PropertyBinder {
  py::class_<Record>& cls;

  template <class T, class F>
  void Member(const char* key, T Record::*member, F) {
    Bind(key, member, ".");
  }
  template <class T>
  void Hidden(const char* key, T Record::*member) {
    Bind(key, member, ".");
  }
  template <class T>
  void Sent(const char* key, T Record::*member) {
    Bind(key, member, ", sent to the arm, which never reports it: a read leaves it as it was.");
  }
  template <class T>
  void Bind(const char* key, T Record::*member, const char* more) {
    const std::string attr = AttributeName(key);
    const std::string doc = Value<T>::Type() + ": the record's " + key + more;
    cls.def_property(
        attr.c_str(),
        [member](py::object self) { return Value<T>::Get(self.cast<Record&>().*member, self); },
        [member, attr](Record& record, py::handle value) {
          Value<T>::Set(value, record.*member, attr);
        },
        doc.c_str());
  }
};

// Keyword arguments of the constructor, by attribute name.
template <class Record>
struct KeywordSetter {
  const py::kwargs& keywords;
  Record& record;
  std::set<std::string> used;

  template <class T, class F>
  void Member(const char* key, T Record::*member, F) {
    const std::string attr = AttributeName(key);
    if (!keywords.contains(attr)) return;
    Value<T>::Set(keywords[attr.c_str()], record.*member, attr);
    used.insert(attr);
  }
  template <class T>
  void Hidden(const char* key, T Record::*member) {
    Member(key, member, NoForm{});
  }
};

template <class Record>
struct DictWriter {
  const Record& record;
  py::dict& out;

  template <class T, class F>
  void Member(const char* key, T Record::*member, F) {
    out[key] = Value<T>::ToDict(record.*member);
  }
  template <class T, class Count, class F>
  void Counted(const char* key, T Record::*member, Count count, F) {
    out[key] = Value<T>::ToDict(record.*member, static_cast<std::size_t>(count(record)));
  }
};

// Fills a record from a dictionary in field order (a count is read before the
// list it counts); every key is required, and unknown keys are refused.
template <class Record>
struct DictReader {
  const py::dict& in;
  Record& record;
  std::string where;
  std::set<std::string> taken;

  py::object Take(const char* key) {
    PyObject* item = PyDict_GetItemString(in.ptr(), key);
    if (item == nullptr) RefuseValue(Join(where, key), "missing");
    taken.insert(key);
    return py::reinterpret_borrow<py::object>(item);
  }
  template <class T, class F>
  void Member(const char* key, T Record::*member, F) {
    Value<T>::FromDict(Take(key), record.*member, Join(where, key));
  }
  template <class T, class Count, class F>
  void Counted(const char* key, T Record::*member, Count count, F) {
    Value<T>::FromDict(Take(key), record.*member, static_cast<std::size_t>(count(record)),
                       Join(where, key));
  }

  void Finish() const {
    for (const auto& [key, value] : in) {
      const bool known = py::isinstance<py::str>(key) && taken.count(py::cast<std::string>(key)) != 0;
      if (!known) RefuseValue(Join(where, py::str(key).cast<std::string>()), "unknown key");
    }
  }
};

template <class Record>
struct Comparer {
  const Record& a;
  const Record& b;
  bool same = true;

  template <class T, class F>
  void Member(const char*, T Record::*member, F) {
    same = same && Value<T>::Equal(a.*member, b.*member);
  }
  template <class T>
  void Hidden(const char* key, T Record::*member) {
    Member(key, member, NoForm{});
  }
};

template <class Record>
struct ReprWriter {
  const Record& record;
  std::string text;

  template <class T, class F>
  void Member(const char* key, T Record::*member, F) {
    text += (text.empty() ? "" : ", ") + AttributeName(key) + "=" + Value<T>::Repr(record.*member);
  }
};

template <class Record>
py::dict RecordToDict(const Record& record) {
  py::dict out;
  DictWriter<Record> writer{record, out};
  VisitFields<Record>(writer);
  return out;
}

template <class Record>
void RecordFromDict(py::handle value, Record& record, const std::string& where) {
  if (!py::isinstance<py::dict>(value)) RefuseValue(where, "expected a dict, found " + Shown(value));
  const py::dict in = py::reinterpret_borrow<py::dict>(value);
  DictReader<Record> reader{in, record, where, {}};
  VisitFields<Record>(reader);
  reader.Finish();
}

template <class Record>
bool RecordEqual(const Record& a, const Record& b) {
  Comparer<Record> comparer{a, b};
  VisitFields<Record>(comparer);
  return comparer.same;
}

template <class Record>
std::string RecordRepr(const Record& record) {
  ReprWriter<Record> writer{record, {}};
  VisitFields<Record>(writer);
  return std::string(RecordName<Record>()) + "(" + writer.text + ")";
}

template <class Record, class = void>
struct HasInitStruct : std::false_type {};
template <class Record>
struct HasInitStruct<Record, std::void_t<decltype(std::declval<Record&>().InitStruct())>>
    : std::true_type {};

// The Python class of one record, with its docstring.
template <class Record>
py::class_<Record> BindRecord(py::module_& m, const char* doc, bool block = false) {
  const std::string name = RecordName<Record>();
  py::class_<Record> cls(m, name.c_str(), doc);
  cls.def(py::init([](const py::kwargs& keywords) {
            Record record{};
            KeywordSetter<Record> setter{keywords, record, {}};
            VisitFields<Record>(setter);
            for (const auto& [key, value] : keywords) {
              if (setter.used.count(py::cast<std::string>(key)) == 0) {
                throw py::type_error(std::string(RecordName<Record>()) +
                                     "() got an unexpected keyword argument " +
                                     py::cast<std::string>(py::repr(key)));
              }
            }
            return record;
          }),
          ("A " + name + " with every field zero; keyword arguments (attribute names) set fields.")
              .c_str());
  PropertyBinder<Record> binder{cls};
  VisitFields<Record>(binder);
  if constexpr (HasInitStruct<Record>::value) {
    cls.def(
        "init_struct", [](Record& record) { record.InitStruct(); },
        "Sets every field to its default, as the C++ record's InitStruct does.");
  }
  cls.def(
      "to_dict",
      [block, name](const Record& record) {
        py::dict fields = RecordToDict(record);
        if (!block) return fields;
        py::dict document;
        document["block"] = name;
        for (const auto& [key, value] : fields) document[key] = value;
        return document;
      },
      block ? "The record as a dict in the form of the tarsel tool's JSON file (the same keys "
              "and value forms, \"block\" first); json.dump of it loads with the tool."
            : "The record as a dict keyed by the C++ field names; floats as their shortest "
              "decimal (non-finite ones as \"inf\", \"nan\" and the like), texts as str or "
              "{\"hex\": ...}, byte groups as hex strings. JSON-safe.");
  cls.def_static(
      "from_dict",
      [block, name](const py::dict& document) {
        Record record{};
        if (!block) {
          RecordFromDict(document, record, "");
          return record;
        }
        PyObject* kind = PyDict_GetItemString(document.ptr(), "block");
        if (kind == nullptr) RefuseValue("/block", "missing");
        if (!py::isinstance<py::str>(kind) || py::cast<std::string>(kind) != name) {
          RefuseValue("/block", "this document holds " + Shown(kind) + ", not " + name);
        }
        py::dict fields;
        for (const auto& [key, value] : document) {
          if (!py::isinstance<py::str>(key) || py::cast<std::string>(key) != "block") {
            fields[key] = value;
          }
        }
        RecordFromDict(fields, record, "");
        return record;
      },
      py::arg("document"),
      "The record a dict of to_dict's form describes. Every key is required and unknown keys "
      "are refused (ValueError naming the place, e.g. '/Zones/3: expected a dict, found 5'); "
      "fields the dict does not carry are zero.");
  cls.def(
      "__eq__",
      [](const Record& a, py::object b) -> py::object {
        if (!py::isinstance<Record>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        return py::bool_(RecordEqual(a, b.cast<const Record&>()));
      },
      py::is_operator(), "True when every field holds the same bits.");
  cls.def("__repr__", &RecordRepr<Record>);
  cls.def("__copy__", [](const Record& record) { return record; });
  cls.def(
      "__deepcopy__", [](const Record& record, const py::object&) { return record; },
      py::arg("memo"));
  return cls;
}

}  // namespace tarsel::python
