#include "block_json.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "core/value_text.h"
#include "record_json.h"
#include "spelling.h"

namespace tarsel::tool {

namespace {

using text::ParseHex;

std::string Join(const std::string& path, std::string_view key) {
  return path + "/" + std::string(key);
}

std::string Shown(const BlockJson& value) {
  std::string text = value.dump();
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw JsonError((where.empty() ? std::string("/") : where) + ": " + what);
}

// --- Reading a record's fields -------------------------------------------------
// The writer is the tool's one JSON writer of records (record_json.h); the
// reader fills a record from the same form, so the two cannot drift apart.

// Refuses a key of object that form F does not take (nor one of also),
// before any field is read: a misspelt key is named with the key it is
// closest to, instead of surfacing as that key missing.
template <class F>
void RefuseUnknownKeys(const BlockJson& object, const std::string& path,
                       std::initializer_list<const char*> also = {}) {
  const std::vector<std::string>& taken = FieldNames<F>();
  const auto known = [&](const std::string& key) {
    return std::find(taken.begin(), taken.end(), key) != taken.end() ||
           std::find(also.begin(), also.end(), key) != also.end();
  };
  for (const auto& [key, value] : object.items()) {
    if (known(key)) continue;
    std::vector<std::string> keys = taken;
    keys.insert(keys.end(), also.begin(), also.end());
    // A misspelling most likely stands for a key the object lacks.
    std::vector<std::string> absent;
    for (const std::string& k : keys) {
      if (!object.contains(k)) absent.push_back(k);
    }
    std::string closest = ClosestName(key, absent);
    if (closest.empty()) closest = ClosestName(key, keys);
    Fail(Join(path, key), closest.empty()
                              ? std::string("unknown key")
                              : fmt::format("unknown key; did you mean \"{}\"?", closest));
  }
}

const BlockJson& Take(const BlockJson& object, const std::string& path, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) Fail(Join(path, key), "missing");
  return *it;
}

const BlockJson& List(const BlockJson& list, const std::string& where, std::size_t count) {
  if (!list.is_array()) Fail(where, "expected a list, found " + Shown(list));
  if (list.size() != count) {
    Fail(where, fmt::format("expected {} entries, found {}", count, list.size()));
  }
  return list;
}

template <class T>
void IntegerFromJson(const BlockJson& v, const std::string& where, T& value) {
  using Range = std::numeric_limits<T>;
  const std::string kind =
      fmt::format("{}{}-bit", Range::is_signed ? "" : "unsigned ", 8 * sizeof(T));
  bool inRange = false;
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    inRange = u <= static_cast<std::uint64_t>(Range::max());
  } else if (v.is_number_integer()) {
    const auto s = v.get<std::int64_t>();
    inRange = s >= static_cast<std::int64_t>(Range::min()) &&
              (s < 0 || static_cast<std::uint64_t>(s) <= static_cast<std::uint64_t>(Range::max()));
  } else {
    Fail(where, fmt::format("expected a{} {} integer, found {}", Range::is_signed ? "" : "n", kind,
                            Shown(v)));
  }
  if (!inRange) Fail(where, fmt::format("integer out of the {} range: {}", kind, Shown(v)));
  value = v.get<T>();
}

template <class F, class T>
void ReadValue(const BlockJson& v, const std::string& where, T& value);

// Fills the fields of one record from an object, each from its key.
class JsonReading {
 public:
  JsonReading(const BlockJson& object, std::string path)
      : object_(object), path_(std::move(path)) {}

  template <class T, class F>
  void Value(const char* key, T& value, F) {
    ReadValue<F>(Take(object_, path_, key), Join(path_, key), value);
  }
  template <class T, std::size_t N, class F>
  void Counted(const char* key, T (&values)[N], std::size_t carried, F) {
    const std::string where = Join(path_, key);
    const BlockJson& list = List(Take(object_, path_, key), where, carried);
    for (std::size_t k = 0; k < carried; ++k) {
      ReadValue<F>(list[k], Join(where, std::to_string(k)), values[k]);
    }
  }

 private:
  const BlockJson& object_;
  std::string path_;
};

template <class F, class Record>
void ReadRecord(const BlockJson& object, const std::string& path, Record& record,
                std::initializer_list<const char*> also = {}) {
  if (!object.is_object()) Fail(path, "expected an object, found " + Shown(object));
  RefuseUnknownKeys<F>(object, path, also);
  VisitFields<F>(record, JsonReading(object, path));
}

// Reads value (F the form of its records) in the form ValueJson writes.
template <class F, class T>
void ReadValue(const BlockJson& v, const std::string& where, T& value) {
  using E = std::remove_all_extents_t<T>;
  constexpr bool kRow = std::rank_v<T> == 1;
  if constexpr (std::is_class_v<T>) {
    ReadRecord<F>(v, where, value);
  } else if constexpr (kRow && std::is_same_v<E, char>) {
    TextFromJson(v, value, where);
  } else if constexpr (kRow && std::is_same_v<E, unsigned char>) {
    if (!v.is_string() || !ParseHex(v.get_ref<const std::string&>(), value, sizeof value)) {
      Fail(where, fmt::format("expected {} hex digits, found {}", 2 * sizeof value, Shown(v)));
    }
  } else if constexpr (std::is_array_v<T>) {
    const BlockJson& list = List(v, where, std::extent_v<T>);
    for (std::size_t i = 0; i < std::extent_v<T>; ++i) {
      ReadValue<F>(list[i], Join(where, std::to_string(i)), value[i]);
    }
  } else if constexpr (std::is_same_v<T, float>) {
    value = FloatFromJson(v, where);
  } else if constexpr (std::is_same_v<T, bool>) {
    if (!v.is_boolean()) Fail(where, "expected true or false, found " + Shown(v));
    value = v.get<bool>();
  } else {
    static_assert(std::is_integral_v<T>, "a stored block holds floats, integers, texts and bytes");
    IntegerFromJson(v, where, value);
  }
}

void Compare(const BlockJson& a, const BlockJson& b, const std::string& path, std::string& out) {
  if (!out.empty()) return;
  if (a.is_object() && b.is_object()) {
    for (const auto& [key, value] : a.items()) {
      const auto it = b.find(key);
      if (it == b.end()) {
        out = Join(path, key) + ": present only in the first";
        return;
      }
      Compare(value, *it, Join(path, key), out);
      if (!out.empty()) return;
    }
    for (const auto& [key, value] : b.items()) {
      if (a.find(key) == a.end()) {
        out = Join(path, key) + ": present only in the second";
        return;
      }
    }
    return;
  }
  if (a.is_array() && b.is_array()) {
    if (a.size() != b.size()) {
      out = fmt::format("{}: {} entries vs {}", path.empty() ? "/" : path, a.size(), b.size());
      return;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      Compare(a[i], b[i], Join(path, std::to_string(i)), out);
      if (!out.empty()) return;
    }
    return;
  }
  // Scalars compare by their text, which tells every float bit pattern apart.
  if (a.dump() != b.dump()) {
    out = fmt::format("{}: {} vs {}", path.empty() ? "/" : path, Shown(a), Shown(b));
  }
}

}  // namespace

BlockJson FloatToJson(float value) {
  if (std::isfinite(value)) return BlockJson(value);
  return text::NonFiniteText(value);
}

float FloatFromJson(const BlockJson& value, const std::string& where) {
  if (value.is_number_float()) {
    const float f = value.get<float>();
    if (!std::isfinite(f)) Fail(where, "number out of the float range: " + Shown(value));
    return f;
  }
  if (value.is_number_unsigned()) return static_cast<float>(value.get<std::uint64_t>());
  if (value.is_number_integer()) return static_cast<float>(value.get<std::int64_t>());
  float f = 0.0f;
  if (value.is_string() && text::FloatFromText(value.get_ref<const std::string&>(), f)) return f;
  Fail(where, std::string("expected ") + text::kFloatForms + ", found " + Shown(value));
}

BlockJson TextToJson(const char (&text)[20]) {
  return ValueJson<BlockJson, NoForm>(text);
}

void TextFromJson(const BlockJson& value, char (&text)[20], const std::string& where) {
  std::memset(text, 0, sizeof text);
  if (value.is_string()) {
    const std::string& s = value.get_ref<const std::string&>();
    if (s.size() > sizeof text) {
      Fail(where, fmt::format("text of {} bytes does not fit in 20", s.size()));
    }
    if (s.find('\0') != std::string::npos) Fail(where, "text holds a NUL; use the hex form");
    std::memcpy(text, s.data(), s.size());
    return;
  }
  if (value.is_object() && value.size() == 1 && value.contains("hex") && value["hex"].is_string() &&
      ParseHex(value["hex"].get_ref<const std::string&>(), reinterpret_cast<unsigned char*>(text),
               sizeof text)) {
    return;
  }
  Fail(where,
       "expected a text of up to 20 bytes or {\"hex\": <40 hex digits>}, found " + Shown(value));
}

template <class Record>
BlockJson ToJson(const Record& record) {
  using F = Form<Record>;
  BlockJson document = BlockJson::object();
  document["block"] = F::kName;
  VisitFields<F>(record, JsonFields<BlockJson>{document});
  return document;
}

template <class Record>
void FromJson(const BlockJson& document, Record& out) {
  using F = Form<Record>;
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  if (!document.is_object()) Fail("", "expected an object, found " + Shown(document));
  const BlockJson& block = Take(document, "", "block");
  if (!block.is_string() || block.get_ref<const std::string&>() != F::kName) {
    Fail("/block", fmt::format("this file holds {}, not {}", Shown(block), F::kName));
  }
  ReadRecord<F>(document, "", out, {"block"});
}

#define TARSEL_BLOCK_DOCUMENT(Record, Get, Set) \
  template BlockJson ToJson(const Record&);     \
  template void FromJson(const BlockJson&, Record&);
TARSEL_CONFIG_BLOCKS(TARSEL_BLOCK_DOCUMENT)
#undef TARSEL_BLOCK_DOCUMENT

std::string WriteDocument(const BlockJson& document) {
  return document.dump(2) + "\n";
}

namespace {

// Reads a document's events before it is built: refuses nesting deeper than
// kMaxNesting (the value itself is built, copied and printed by recursive
// code, which a file of a hundred thousand brackets would run out of stack
// in) and notes the first key given twice in one object (which would
// silently lose one of its values). Keeps the place of the value being read
// as a path of keys and indices.
class Prescan {
 public:
  using Json = BlockJson;
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  // The place of the first container too deep, or the first key given
  // twice; empty when there is none.
  const std::string& TooDeep() const { return tooDeep_; }
  const std::string& Duplicate() const { return duplicate_; }

  bool null() { return Value(); }
  bool boolean(bool) { return Value(); }
  bool number_integer(number_integer_t) { return Value(); }
  bool number_unsigned(number_unsigned_t) { return Value(); }
  bool number_float(number_float_t, const string_t&) { return Value(); }
  bool string(string_t&) { return Value(); }
  bool binary(binary_t&) { return Value(); }
  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(string_t& name) {
    Level& level = levels_.back();
    level.member = name;
    if (!level.keys.insert(name).second && duplicate_.empty()) duplicate_ = name;
    return true;
  }
  // A syntax error stops the scan; the parser that builds the document
  // reports it with its line and column.
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  struct Level {
    bool array = false;
    std::size_t next = 0;        // the index of an array's next element
    std::string member;          // the current element's index or key
    std::set<std::string> keys;  // an object's keys so far
  };

  // Counts a value as the next element of the array it is in.
  void Place() {
    if (!levels_.empty() && levels_.back().array) {
      levels_.back().member = std::to_string(levels_.back().next++);
    }
  }
  bool Value() {
    Place();
    return true;
  }
  bool Open(bool array) {
    Place();
    if (levels_.size() >= static_cast<std::size_t>(kMaxNesting)) {
      tooDeep_ = Path();
      return false;
    }
    levels_.push_back(Level{array, 0, {}, {}});
    return true;
  }
  bool Close() {
    levels_.pop_back();
    return true;
  }
  // "/<key>/3/<key>": where the current value is, as the loaders name places.
  std::string Path() const {
    std::string path;
    for (const Level& level : levels_) path = Join(path, level.member);
    return path.empty() ? "/" : path;
  }

  std::vector<Level> levels_;
  std::string tooDeep_;
  std::string duplicate_;
};

// A path shortened to its first and last steps, for a message of one line.
std::string Shortened(const std::string& path) {
  constexpr std::size_t kShown = 60;
  if (path.size() <= kShown) return path;
  const std::size_t head = path.rfind('/', kShown / 2);
  std::size_t tail = path.find('/', path.size() - kShown / 2);
  if (tail == std::string::npos) tail = path.rfind('/');
  if (tail <= head) return path;
  return path.substr(0, head) + "/..." + path.substr(tail);
}

}  // namespace

BlockJson ReadDocument(const std::string& text, const std::string& source) {
  Prescan scan;
  const bool read = BlockJson::sax_parse(text, &scan);
  if (!scan.TooDeep().empty()) {
    throw JsonError(fmt::format("{}: {}: nested deeper than {} levels", source,
                                Shortened(scan.TooDeep()), kMaxNesting));
  }
  try {
    BlockJson document = BlockJson::parse(text);
    if (read && !scan.Duplicate().empty()) {
      throw JsonError(
          fmt::format("{}: the key \"{}\" appears twice in one object", source, scan.Duplicate()));
    }
    return document;
  } catch (const BlockJson::parse_error& e) {
    throw JsonError(fmt::format("{}: not valid JSON: {}", source, e.what()));
  } catch (const BlockJson::exception& e) {
    // A number too large for any float or integer.
    throw JsonError(fmt::format("{}: {}", source, e.what()));
  }
}

std::string FirstDifference(const BlockJson& a, const BlockJson& b) {
  std::string out;
  Compare(a, b, "", out);
  return out;
}

}  // namespace tarsel::tool
