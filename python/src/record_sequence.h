// Records whose fields all have one type, as Python sequences of those fields
// in field order: AngularInfo is the six actuator values, so list(info),
// info[-1], info[1:3], info[0] = 1.5 and numpy.asarray(info) work.
//
//   BindSequence(BindRecord<AngularInfo>(m, "..."));
//
// The fields stay the record's own: indexing reads and writes the same values
// as the attributes, with the same checks.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "record_binding.h"

namespace tarsel::python {

// The fields of a record whose fields all have type T, in field order.
template <class Record, class T>
struct SequenceFields {
  std::vector<std::pair<std::string, T Record::*>> fields;

  template <class U, class F>
  void Member(const char* key, U Record::*member, F) {
    static_assert(std::is_same_v<U, T>, "a sequence's fields all have one type");
    fields.emplace_back(AttributeName(key), member);
  }
};

// An index into size values, counted from the end when negative (any object
// with __index__, as lists take). TypeError for other objects, IndexError
// outside the values.
inline std::size_t SequenceIndex(py::handle index, std::size_t size, const std::string& name) {
  if (!PyIndex_Check(index.ptr())) {
    throw py::type_error(name + " indices must be integers or slices, not " +
                         Py_TYPE(index.ptr())->tp_name);
  }
  Py_ssize_t i = PyNumber_AsSsize_t(index.ptr(), PyExc_IndexError);
  if (i == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  if (i < 0) i += static_cast<Py_ssize_t>(size);
  if (i < 0 || i >= static_cast<Py_ssize_t>(size)) {
    throw py::index_error(name + " index out of range");
  }
  return static_cast<std::size_t>(i);
}

// The positions a slice picks out of size values, in its order.
inline std::vector<std::size_t> SlicePositions(py::handle index, std::size_t size) {
  Py_ssize_t start = 0, stop = 0, step = 0, length = 0;
  if (PySlice_GetIndicesEx(index.ptr(), static_cast<Py_ssize_t>(size), &start, &stop, &step,
                           &length) != 0) {
    throw py::error_already_set();
  }
  std::vector<std::size_t> positions;
  for (Py_ssize_t k = 0; k < length; ++k) {
    positions.push_back(static_cast<std::size_t>(start + k * step));
  }
  return positions;
}

// Adds len, indexing and slicing (negative indices too), assignment by index
// or by a slice of the same length, iteration, reversed, `in`, index() and
// count() to cls, and registers it as a collections.abc.Sequence. A refused
// value changes nothing.
template <class Record, class T = float>
void BindSequence(py::class_<Record> cls) {
  SequenceFields<Record, T> list;
  VisitFields<Record>(list);
  const auto fields = std::move(list.fields);
  const std::size_t size = fields.size();
  const std::string name = RecordName<Record>();

  cls.def(
      "__len__", [size](const Record&) { return size; },
      ("The number of values: " + std::to_string(size) + ".").c_str());
  cls.def(
      "__getitem__",
      [fields, name](py::object self, py::handle index) -> py::object {
        Record& record = self.cast<Record&>();
        if (PySlice_Check(index.ptr())) {
          py::list values;
          for (const std::size_t i : SlicePositions(index, fields.size())) {
            values.append(Value<T>::Get(record.*fields[i].second, self));
          }
          return values;
        }
        const auto& field = fields[SequenceIndex(index, fields.size(), name)];
        return Value<T>::Get(record.*field.second, self);
      },
      py::arg("index"), "The value at index (from the end when negative), or a list for a slice.");
  cls.def(
      "__setitem__",
      [fields, name](Record& record, py::handle index, py::handle value) {
        if (!PySlice_Check(index.ptr())) {
          const auto& field = fields[SequenceIndex(index, fields.size(), name)];
          Value<T>::Set(value, record.*field.second, field.first);
          return;
        }
        const std::vector<std::size_t> positions = SlicePositions(index, fields.size());
        if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) ||
            py::isinstance<py::bytes>(value)) {
          RefuseType(name, "expected a sequence of " + std::to_string(positions.size()) +
                               " values, found " + Shown(value));
        }
        const py::sequence values = py::reinterpret_borrow<py::sequence>(value);
        if (values.size() != positions.size()) {
          RefuseValue(name, "a slice of " + std::to_string(positions.size()) +
                                " values cannot take " + std::to_string(values.size()));
        }
        Record converted = record;  // nothing changes unless every value converts
        for (std::size_t k = 0; k < positions.size(); ++k) {
          const auto& field = fields[positions[k]];
          Value<T>::Set(values[k], converted.*field.second, field.first);
        }
        record = converted;
      },
      py::arg("index"), py::arg("value"),
      "Sets the value at index, or the values a slice picks from a sequence of as many.");
  cls.def(
      "__delitem__",
      [name, size](Record&, py::handle) {
        throw py::type_error(name + " always holds " + std::to_string(size) +
                             " values: none can be deleted");
      },
      py::arg("index"));
  cls.def(
      "__iter__",
      [fields](py::object self) {
        Record& record = self.cast<Record&>();
        py::list values;
        for (const auto& field : fields) values.append(Value<T>::Get(record.*field.second, self));
        return py::iter(values);
      },
      "The values in field order, as they are now.");

  // The rest of a sequence's methods are collections.abc.Sequence's own, which
  // work through __len__ and __getitem__.
  const py::object abc = py::module_::import("collections.abc").attr("Sequence");
  for (const char* mixin : {"__contains__", "__reversed__", "index", "count"}) {
    cls.attr(mixin) = abc.attr(mixin);
  }
  abc.attr("register")(cls);
}

}  // namespace tarsel::python
