// Single values between C++ and Python: floats, integers, texts and bytes,
// each in two forms. As an attribute a value is a plain Python object; in the
// dictionary form (to_dict/from_dict) it takes the forms of the tarsel tool's
// JSON files, so that a dictionary written with json.dump loads with the tool
// and a file the tool dumps loads with from_dict.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "core/value_text.h"

namespace tarsel::python {

namespace py = pybind11;

// A refused value: ValueError or TypeError naming where it was found, e.g.
// "/Zones/3: expected a dict, found 5" or "<name>: 21 bytes do not fit in 20".
[[noreturn]] void RefuseValue(const std::string& where, const std::string& what);
[[noreturn]] void RefuseType(const std::string& where, const std::string& what);

// A short repr of any Python value, for messages.
std::string Shown(py::handle value);

// --- Floats -------------------------------------------------------------------
// A 32-bit float reads as the Python float of its shortest decimal (0.1f reads
// as 0.1, not 0.10000000149011612), so what is set is what reads back.
py::object FloatToPython(float value);
// An int or a float; a finite value beyond the 32-bit range is refused.
float FloatFromPython(py::handle value, const std::string& where);
// The dictionary form: the shortest decimal, or "inf", "-inf", "nan" (the quiet
// NaN 0x7fc00000), "-nan" (0xffc00000), any other NaN as "0x" and its 8 hex
// digits. Reading takes all of these, and any float by its bit pattern.
py::object FloatToDict(float value);
float FloatFromDict(py::handle value, const std::string& where);

// Doubles as Python floats; in dictionaries non-finite ones as "inf", "-inf",
// "nan" or "-nan".
py::object DoubleToDict(double value);
double DoubleFromDict(py::handle value, const std::string& where);

// --- Integers -----------------------------------------------------------------
// A Python int (not a bool, not a float) within [min, max].
long long IntegerFromPython(py::handle value, long long min, long long max,
                            const std::string& where);

// --- Texts and bytes ------------------------------------------------------------
// A fixed text field as bytes without its zero padding.
py::bytes TextToPython(const char* text, std::size_t size);
// bytes, bytearray or str (UTF-8) of at most size bytes, padded with zeros.
void TextFromPython(py::handle value, char* text, std::size_t size, const std::string& where);
// A string when the bytes are printable ASCII followed by zero padding,
// otherwise {"hex": "<2 * size hex digits>"}.
py::object TextToDict(const char* text, std::size_t size);
void TextFromDict(py::handle value, char* text, std::size_t size, const std::string& where);

// Raw bytes of exactly size: bytes as an attribute, a hex string in dictionaries.
void BytesFromPython(py::handle value, unsigned char* bytes, std::size_t size,
                     const std::string& where);
using text::Hex;  // two lowercase hex digits a byte
void HexFromDict(py::handle value, unsigned char* bytes, std::size_t size,
                 const std::string& where);

// where/key, the way the tool names a place in a document ("/Zones/3").
std::string Join(const std::string& where, std::string_view key);

}  // namespace tarsel::python
