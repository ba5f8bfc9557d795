// JSON forms of the arm's stored blocks (client configuration, protection
// zones, control mapping) that round-trip exactly: a block written to JSON and
// read back gives the same record bits, and a file read and written again
// gives the same text.
//
// Value forms:
//   - float: a JSON number printed with the fewest digits that read back to
//     the same float ("0.1", "-0.0", "1e-45"); non-finite values as strings:
//     "inf", "-inf", "nan" (the quiet NaN 0x7fc00000), "-nan" (0xffc00000),
//     any other NaN as its bit pattern "0x7fa00001". Any float may also be
//     given by its bit pattern, "0x" and eight hex digits.
//   - 32-bit integer: a JSON integer in range.
//   - 20-byte text: a JSON string when the bytes are printable ASCII followed
//     by zero padding (the padding is left out), otherwise {"hex": "<40 hex
//     digits>"}. A string of up to 20 bytes without NUL is accepted.
//   - byte groups of the control mapping: hex strings, two digits a byte.
// Every field of the record's form that travels to the arm has a key, in
// wire order (record_json.h writes them, the same form reads them); reading
// insists on every key and refuses unknown ones, so a misspelt key is an
// error rather than a silent zero.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarsel/config.h"

namespace tarsel::tool {

// Objects keep their keys in insertion order; numbers that are not integers
// are single-precision floats, so they print and parse without a detour
// through double.
using BlockJson = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                       std::int64_t, std::uint64_t, float>;

// A document or value that does not fit; what() names where ("/<key>/3/...").
class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- One value ------------------------------------------------------------
BlockJson FloatToJson(float value);
float FloatFromJson(const BlockJson& value, const std::string& where);
BlockJson TextToJson(const char (&text)[20]);
void TextFromJson(const BlockJson& value, char (&text)[20], const std::string& where);

// --- Whole blocks ----------------------------------------------------------
// For every record of TARSEL_CONFIG_BLOCKS (config/config_codec.h).
// Each document starts with "block": the record's name, checked on reading.
template <class Record>
BlockJson ToJson(const Record& record);

// Fill out from document; out is cleared first, so bytes the document does
// not describe (what never travels, stored positions beyond the count) are
// zero.
template <class Record>
void FromJson(const BlockJson& document, Record& out);

// The deepest nesting of arrays and objects a document may have, the
// outermost counting as 1. The blocks need 6 at most (the byte pairs of the
// control mapping's entries).
inline constexpr int kMaxNesting = 64;

// The file form: two-space indentation and a final newline.
std::string WriteDocument(const BlockJson& document);
// Parses a file's text; source names it in messages. Every file the tool
// reads goes through it. Throws JsonError "<source>: ..." for text that is
// not JSON (with its line and column), for a key given twice in one object,
// and for arrays and objects nested deeper than kMaxNesting, naming the
// place ("/<key>/0/0/...: nested deeper than 64 levels"); the nesting is
// checked before the document is built, so no file, however deep, runs the
// recursive code that builds, prints and compares documents out of stack.
BlockJson ReadDocument(const std::string& text, const std::string& source);

// The first place where two documents differ, as "<path>: <a> vs <b>"; empty
// when they are equal.
std::string FirstDifference(const BlockJson& a, const BlockJson& b);

}  // namespace tarsel::tool
