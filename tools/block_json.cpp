#include "block_json.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "spelling.h"
#include "value_text.h"

namespace tarsel::tool {

namespace {

using text::Hex;
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

// --- The two directions of one field list -----------------------------------
// Every record's fields are listed once, in Visit; Writer turns them into
// JSON, Reader fills them from JSON, so the two directions cannot drift apart.

class Writer;
class Reader;
template <class Io>
void Visit(Io& io, CartesianInfo& c);
template <class Io>
void Visit(Io& io, AngularInfo& a);
template <class Io>
void Visit(Io& io, FingersPosition& f);
template <class Io>
void Visit(Io& io, UserPosition& p);
template <class Io>
void Visit(Io& io, ClientConfigurations& c);
template <class Io>
void Visit(Io& io, Zone& z);
template <class Io>
void Visit(Io& io, ZoneList& l);
template <class Io>
void Visit(Io& io, ControlMappingEntry& e);
template <class Io>
void Visit(Io& io, ControlMapping& m);
template <class Io>
void Visit(Io& io, ControlMappingCharts& c);

class Writer {
 public:
  explicit Writer(BlockJson& object) : object_(object) {}

  void Int(const char* key, int& value) { object_[key] = static_cast<std::int64_t>(value); }
  void Float(const char* key, float& value) { object_[key] = FloatToJson(value); }
  void Text(const char* key, char (&text)[20]) { object_[key] = TextToJson(text); }

  template <class Record>
  void Object(const char* key, Record& record) {
    object_[key] = Build(record);
  }
  template <class Record>
  void Objects(const char* key, Record* records, int count) {
    BlockJson list = BlockJson::array();
    for (int i = 0; i < count; ++i) list.push_back(Build(records[i]));
    object_[key] = std::move(list);
  }
  void Floats(const char* key, float* values, int count) {
    BlockJson list = BlockJson::array();
    for (int i = 0; i < count; ++i) list.push_back(FloatToJson(values[i]));
    object_[key] = std::move(list);
  }
  // count groups of width bytes each, one hex string per group.
  void HexGroups(const char* key, unsigned char* bytes, int count, int width) {
    BlockJson list = BlockJson::array();
    for (int i = 0; i < count; ++i) {
      list.push_back(Hex(bytes + static_cast<std::size_t>(i) * width, width));
    }
    object_[key] = std::move(list);
  }

  template <class Record>
  static BlockJson Build(Record& record) {
    BlockJson object = BlockJson::object();
    Writer writer(object);
    Visit(writer, record);
    return object;
  }

 private:
  BlockJson& object_;
};

// The keys a record's form takes, in order, for telling unknown keys apart.
class KeyCollector {
 public:
  void Int(const char* key, int&) { keys.emplace_back(key); }
  void Float(const char* key, float&) { keys.emplace_back(key); }
  void Text(const char* key, char (&)[20]) { keys.emplace_back(key); }
  template <class Record>
  void Object(const char* key, Record&) {
    keys.emplace_back(key);
  }
  template <class Record>
  void Objects(const char* key, Record*, int) {
    keys.emplace_back(key);
  }
  void Floats(const char* key, float*, int) { keys.emplace_back(key); }
  void HexGroups(const char* key, unsigned char*, int, int) { keys.emplace_back(key); }

  std::vector<std::string> keys;
};

// The keys Record's form takes, collected once per record type.
template <class Record>
const std::vector<std::string>& KeysOf() {
  static const std::vector<std::string> keys = [] {
    KeyCollector collector;
    const auto scratch = std::make_unique<Record>();
    Visit(collector, *scratch);
    return std::move(collector.keys);
  }();
  return keys;
}

// Refuses a key of object that Record's form does not take (nor one of
// also), before any field is read: a misspelt key is named with the key it
// is closest to, instead of surfacing as that key missing.
template <class Record>
void RefuseUnknownKeys(const BlockJson& object, const std::string& path,
                       std::initializer_list<const char*> also = {}) {
  if (!object.is_object()) return;
  const std::vector<std::string>& taken = KeysOf<Record>();
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

class Reader {
 public:
  Reader(const BlockJson& object, std::string path) : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) Fail(path_, "expected an object, found " + Shown(object_));
  }

  void Int(const char* key, int& value) {
    const BlockJson& v = Take(key);
    const std::string where = Join(path_, key);
    bool inRange = false;
    if (v.is_number_unsigned()) {
      const auto u = v.get<std::uint64_t>();
      inRange = u <= static_cast<std::uint64_t>(std::numeric_limits<int>::max());
      value = inRange ? static_cast<int>(u) : 0;
    } else if (v.is_number_integer()) {
      const auto s = v.get<std::int64_t>();
      inRange = s >= std::numeric_limits<int>::min() && s <= std::numeric_limits<int>::max();
      value = inRange ? static_cast<int>(s) : 0;
    } else {
      Fail(where, "expected a 32-bit integer, found " + Shown(v));
    }
    if (!inRange) Fail(where, "integer out of the 32-bit range: " + Shown(v));
  }
  void Float(const char* key, float& value) { value = FloatFromJson(Take(key), Join(path_, key)); }
  void Text(const char* key, char (&text)[20]) { TextFromJson(Take(key), text, Join(path_, key)); }

  template <class Record>
  void Object(const char* key, Record& record) {
    Fill(Take(key), Join(path_, key), record);
  }
  template <class Record>
  void Objects(const char* key, Record* records, int count) {
    const BlockJson& list = List(key, count);
    for (int i = 0; i < count; ++i) {
      Fill(list[static_cast<std::size_t>(i)], Join(Join(path_, key), std::to_string(i)),
           records[i]);
    }
  }
  void Floats(const char* key, float* values, int count) {
    const BlockJson& list = List(key, count);
    for (int i = 0; i < count; ++i) {
      values[i] = FloatFromJson(list[static_cast<std::size_t>(i)],
                                Join(Join(path_, key), std::to_string(i)));
    }
  }
  void HexGroups(const char* key, unsigned char* bytes, int count, int width) {
    const BlockJson& list = List(key, count);
    for (int i = 0; i < count; ++i) {
      const BlockJson& item = list[static_cast<std::size_t>(i)];
      const bool ok = item.is_string() && ParseHex(item.get_ref<const std::string&>(),
                                                   bytes + static_cast<std::size_t>(i) * width,
                                                   static_cast<std::size_t>(width));
      if (!ok) {
        Fail(Join(Join(path_, key), std::to_string(i)),
             fmt::format("expected {} hex digits, found {}", 2 * width, Shown(item)));
      }
    }
  }

  template <class Record>
  static void Fill(const BlockJson& object, const std::string& path, Record& record) {
    Reader reader(object, path);
    RefuseUnknownKeys<Record>(object, path);
    Visit(reader, record);
  }

  const BlockJson& Take(const char* key) {
    const auto it = object_.find(key);
    if (it == object_.end()) Fail(Join(path_, key), "missing");
    return *it;
  }

 private:
  const BlockJson& List(const char* key, int count) {
    const BlockJson& list = Take(key);
    const std::string where = Join(path_, key);
    if (!list.is_array()) Fail(where, "expected a list, found " + Shown(list));
    if (list.size() != static_cast<std::size_t>(count)) {
      Fail(where, fmt::format("expected {} entries, found {}", count, list.size()));
    }
    return list;
  }

  const BlockJson& object_;
  std::string path_;
};

// --- Field lists, in record order -------------------------------------------

template <class Io>
void Visit(Io& io, CartesianInfo& c) {
  io.Float("X", c.X);
  io.Float("Y", c.Y);
  io.Float("Z", c.Z);
  io.Float("RotationX", c.RotationX);
  io.Float("RotationY", c.RotationY);
  io.Float("RotationZ", c.RotationZ);
}

template <class Io>
void Visit(Io& io, AngularInfo& a) {
  io.Float("Actuator1", a.Actuator1);
  io.Float("Actuator2", a.Actuator2);
  io.Float("Actuator3", a.Actuator3);
  io.Float("Actuator4", a.Actuator4);
  io.Float("Actuator5", a.Actuator5);
  io.Float("Actuator6", a.Actuator6);
}

template <class Io>
void Visit(Io& io, FingersPosition& f) {
  io.Float("Finger1", f.Finger1);
  io.Float("Finger2", f.Finger2);
  io.Float("Finger3", f.Finger3);
}

template <class Io>
void Visit(Io& io, UserPosition& p) {
  io.Int("Type", p.Type);
  io.Float("Parameter", p.Parameter);
  io.Object("Coordinates", p.Coordinates);
  io.Object("Actuators", p.Actuators);
  io.Int("FingersMode", p.FingersMode);
  io.Object("Fingers", p.Fingers);
}

// Stored positions at and beyond the count never travel, so the document
// holds exactly the ones that do (the count itself may exceed 20).
int CarriedPositions(int count) {
  return std::clamp(count, 0, TARSEL_MAX_STORED_POSITIONS);
}

template <class Io>
void Visit(Io& io, ClientConfigurations& c) {
  io.Text("Text1", c.Text1);
  io.Text("Text2", c.Text2);
  io.Text("Text3", c.Text3);
  io.Text("Text4", c.Text4);
  io.Text("Text5", c.Text5);
  io.Int("IntValue1", c.IntValue1);
  io.Float("FloatValue1", c.FloatValue1);
  io.Float("FloatValue2", c.FloatValue2);
  io.Float("FloatValue3", c.FloatValue3);
  io.Float("FloatValue4", c.FloatValue4);
  io.Float("FloatValue5", c.FloatValue5);
  io.Float("FloatValue6", c.FloatValue6);
  io.Float("FloatValue7", c.FloatValue7);
  io.Int("IntValue2", c.IntValue2);
  io.Float("FloatValue8", c.FloatValue8);
  io.Int("StoredPositionCount", c.StoredPositionCount);
  io.Objects("StoredPositions", c.StoredPositions, CarriedPositions(c.StoredPositionCount));
  io.Float("FloatValue9", c.FloatValue9);
  io.Int("IntValue3", c.IntValue3);
  io.Float("FloatValue10", c.FloatValue10);
  io.Int("IntValue4", c.IntValue4);
  io.Int("IntValue5", c.IntValue5);
  io.Int("IntValue6", c.IntValue6);
}

template <class Io>
void Visit(Io& io, Zone& z) {
  io.Int("ZoneValue1", z.ZoneValue1);
  io.Int("ZoneValue2", z.ZoneValue2);
  io.Int("ZoneValue3", z.ZoneValue3);
  io.Int("ZoneValue4", z.ZoneValue4);
  io.Objects("Points", z.Points, 8);
  io.Floats("Parameters", z.Parameters, 9);
  io.Int("ZoneValue5", z.ZoneValue5);
}

template <class Io>
void Visit(Io& io, ZoneList& l) {
  io.Int("ListValue1", l.ListValue1);
  io.Int("ListValue2", l.ListValue2);
  io.Objects("Zones", l.Zones, 10);
}

template <class Io>
void Visit(Io& io, ControlMappingEntry& e) {
  io.Int("EntryValue1", e.EntryValue1);
  io.Int("EntryValue2", e.EntryValue2);
  io.HexGroups("BytePairs", &e.BytePairs[0][0], 6, 2);
  io.HexGroups("ByteGroups", &e.ByteGroups[0][0], 26, 7);
}

template <class Io>
void Visit(Io& io, ControlMapping& m) {
  io.Int("MappingValue1", m.MappingValue1);
  io.Int("MappingValue2", m.MappingValue2);
  io.Int("MappingValue3", m.MappingValue3);
  io.Int("MappingValue4", m.MappingValue4);
  io.Int("MappingValue5", m.MappingValue5);
  io.Objects("FirstEntries", m.FirstEntries, 6);
  io.Objects("SecondEntries", m.SecondEntries, 6);
}

template <class Io>
void Visit(Io& io, ControlMappingCharts& c) {
  io.Int("ChartsValue1", c.ChartsValue1);
  io.Int("ChartsValue2", c.ChartsValue2);
  io.Objects("Mappings", c.Mappings, 6);
}

template <class Record>
BlockJson Document(const char* name, Record record) {
  BlockJson document = BlockJson::object();
  document["block"] = name;
  Writer writer(document);
  Visit(writer, record);
  return document;
}

template <class Record>
void FromDocument(const char* name, const BlockJson& document, Record& out) {
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  Reader reader(document, "");
  const BlockJson& block = reader.Take("block");
  if (!block.is_string() || block.get_ref<const std::string&>() != name) {
    Fail("/block", fmt::format("this file holds {}, not {}", Shown(block), name));
  }
  RefuseUnknownKeys<Record>(document, "", {"block"});
  Visit(reader, out);
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
  std::size_t length = 0;
  if (text::IsPlainText(text, sizeof text, length)) return std::string(text, length);
  BlockJson object = BlockJson::object();
  object["hex"] = Hex(reinterpret_cast<const unsigned char*>(text), sizeof text);
  return object;
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

BlockJson ToJson(const ClientConfigurations& config) {
  return Document("ClientConfigurations", config);
}
BlockJson ToJson(const ZoneList& zones) {
  return Document("ZoneList", zones);
}
BlockJson ToJson(const ControlMappingCharts& charts) {
  return Document("ControlMappingCharts", charts);
}

void FromJson(const BlockJson& document, ClientConfigurations& out) {
  FromDocument("ClientConfigurations", document, out);
}
void FromJson(const BlockJson& document, ZoneList& out) {
  FromDocument("ZoneList", document, out);
}
void FromJson(const BlockJson& document, ControlMappingCharts& out) {
  FromDocument("ControlMappingCharts", document, out);
}

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
  // "/Zones/3/Points": where the current value is, as the loaders name places.
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
