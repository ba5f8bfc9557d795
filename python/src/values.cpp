#include "values.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tarsel::python {

namespace {

using text::ParseHex;

// The float nearest to a finite double, through the double's shortest decimal
// (the way the tool reads the same number from a file).
float NearestFloat(double value, const std::string& where) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  float result = 0.0f;
  const auto [stop, error] = std::from_chars(text, end, result);
  if (error == std::errc() && std::isfinite(result)) return result;
  if (std::fabs(value) < 1.0) return static_cast<float>(value);  // underflow: zero or subnormal
  RefuseValue(where, std::string(text, end) + " does not fit in a 32-bit float");
}

double ShortestDecimal(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double shown = 0.0;
  std::from_chars(text, end, shown);
  return shown;
}

bool IsNumber(py::handle value) {
  return !PyBool_Check(value.ptr()) && (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()));
}

// The bytes of a bytes or bytearray object.
std::string BytesOf(py::handle value) {
  if (py::isinstance<py::bytearray>(value)) {
    return std::string(PyByteArray_AsString(value.ptr()),
                       static_cast<std::size_t>(PyByteArray_Size(value.ptr())));
  }
  return value.cast<std::string>();
}

bool IsBytes(py::handle value) {
  return py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value);
}

double NumberOf(py::handle value, const std::string& where) {
  const double d = PyFloat_Check(value.ptr()) ? PyFloat_AsDouble(value.ptr())
                                              : PyLong_AsDouble(value.ptr());
  if (d == -1.0 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    RefuseValue(where, Shown(value) + " does not fit in a 32-bit float");
  }
  return d;
}

}  // namespace

void RefuseValue(const std::string& where, const std::string& what) {
  throw py::value_error((where.empty() ? std::string("/") : where) + ": " + what);
}

void RefuseType(const std::string& where, const std::string& what) {
  throw py::type_error((where.empty() ? std::string("/") : where) + ": " + what);
}

std::string Shown(py::handle value) {
  std::string text = py::repr(value).cast<std::string>();
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

std::string Join(const std::string& where, std::string_view key) {
  return where + "/" + std::string(key);
}

py::object FloatToPython(float value) {
  return py::float_(std::isfinite(value) ? ShortestDecimal(value) : static_cast<double>(value));
}

float FloatFromPython(py::handle value, const std::string& where) {
  if (!IsNumber(value)) RefuseType(where, "expected a number, found " + Shown(value));
  const double d = NumberOf(value, where);
  return std::isfinite(d) ? NearestFloat(d, where) : static_cast<float>(d);
}

py::object FloatToDict(float value) {
  if (std::isfinite(value)) return py::float_(ShortestDecimal(value));
  return py::str(text::NonFiniteText(value));
}

float FloatFromDict(py::handle value, const std::string& where) {
  if (IsNumber(value)) return FloatFromPython(value, where);
  float f = 0.0f;
  if (py::isinstance<py::str>(value) && text::FloatFromText(value.cast<std::string>(), f)) return f;
  RefuseValue(where, std::string("expected ") + text::kFloatForms + ", found " + Shown(value));
}

py::object DoubleToDict(double value) {
  if (std::isnan(value)) return py::str(std::signbit(value) ? "-nan" : "nan");
  if (std::isinf(value)) return py::str(value > 0 ? "inf" : "-inf");
  return py::float_(value);
}

double DoubleFromDict(py::handle value, const std::string& where) {
  if (IsNumber(value)) return NumberOf(value, where);
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    if (text == "inf" || text == "+inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "-nan") return -std::numeric_limits<double>::quiet_NaN();
  }
  RefuseValue(where, "expected a number, \"inf\", \"-inf\", \"nan\" or \"-nan\", found " +
                         Shown(value));
}

long long IntegerFromPython(py::handle value, long long min, long long max,
                            const std::string& where) {
  if (PyBool_Check(value.ptr()) || !PyLong_Check(value.ptr())) {
    RefuseType(where, "expected an integer, found " + Shown(value));
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || n < min || n > max) {
    RefuseValue(where, Shown(value) + " is out of the range " + std::to_string(min) + " to " +
                           std::to_string(max));
  }
  return n;
}

py::bytes TextToPython(const char* text, std::size_t size) {
  std::size_t length = size;
  while (length > 0 && text[length - 1] == '\0') --length;
  return py::bytes(text, length);
}

void TextFromPython(py::handle value, char* text, std::size_t size, const std::string& where) {
  if (!IsBytes(value) && !py::isinstance<py::str>(value)) {
    RefuseType(where, "expected bytes or str, found " + Shown(value));
  }
  const std::string bytes = BytesOf(value);  // a str as UTF-8
  if (bytes.size() > size) {
    RefuseValue(where, std::to_string(bytes.size()) + " bytes do not fit in " +
                           std::to_string(size));
  }
  std::memset(text, 0, size);
  std::memcpy(text, bytes.data(), bytes.size());
}

py::object TextToDict(const char* text, std::size_t size) {
  std::size_t length = 0;
  if (text::IsPlainText(text, size, length)) return py::str(text, length);
  py::dict object;
  object["hex"] = Hex(reinterpret_cast<const unsigned char*>(text), size);
  return object;
}

void TextFromDict(py::handle value, char* text, std::size_t size, const std::string& where) {
  std::memset(text, 0, size);
  if (py::isinstance<py::str>(value)) {
    const std::string s = value.cast<std::string>();
    if (s.size() > size) {
      RefuseValue(where, "a text of " + std::to_string(s.size()) + " bytes does not fit in " +
                             std::to_string(size));
    }
    if (s.find('\0') != std::string::npos) RefuseValue(where, "a text holds a NUL; use the hex form");
    std::memcpy(text, s.data(), s.size());
    return;
  }
  if (py::isinstance<py::dict>(value)) {
    const py::dict object = py::reinterpret_borrow<py::dict>(value);
    if (object.size() == 1 && object.contains("hex") && py::isinstance<py::str>(object["hex"]) &&
        ParseHex(object["hex"].cast<std::string>(), reinterpret_cast<unsigned char*>(text),
                 size)) {
      return;
    }
  }
  RefuseValue(where, "expected a text of up to " + std::to_string(size) + " bytes or {\"hex\": <" +
                         std::to_string(2 * size) + " hex digits>}, found " + Shown(value));
}

void BytesFromPython(py::handle value, unsigned char* bytes, std::size_t size,
                     const std::string& where) {
  if (!IsBytes(value)) RefuseType(where, "expected bytes, found " + Shown(value));
  const std::string data = BytesOf(value);
  if (data.size() != size) {
    RefuseValue(where, "expected " + std::to_string(size) + " bytes, found " +
                           std::to_string(data.size()));
  }
  std::memcpy(bytes, data.data(), size);
}

void HexFromDict(py::handle value, unsigned char* bytes, std::size_t size,
                 const std::string& where) {
  if (!py::isinstance<py::str>(value) || !ParseHex(value.cast<std::string>(), bytes, size)) {
    RefuseValue(where,
                "expected " + std::to_string(2 * size) + " hex digits, found " + Shown(value));
  }
}

}  // namespace tarsel::python
