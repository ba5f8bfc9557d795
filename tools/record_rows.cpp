#include "record_rows.h"

#include <array>
#include <sstream>
#include <vector>

#include <fmt/core.h>

#include "display.h"
#include "record_form.h"
#include "record_json.h"
#include "spelling.h"

namespace tarsel::tool::record {

namespace {

bool Has(const LoopState& s, unsigned bit) {
  return (s.readouts & bit) != 0;
}

template <std::size_t N>
void AddFloats(std::string& row, const std::array<float, N>& values, std::size_t count,
               bool present) {
  for (std::size_t i = 0; i < count; ++i) {
    row += ',';
    if (present && i < N) row += NumberText(values[i]);
  }
}

void AddNames(std::string& header, const char* prefix, const char* fingerPrefix) {
  for (int i = 1; i <= 6; ++i) header += fmt::format(",{}{}", prefix, i);
  for (int i = 1; i <= 3; ++i) header += fmt::format(",{}{}", fingerPrefix, i);
}

}  // namespace

std::string ParseReadouts(const std::string& list, unsigned& bits) {
  bits = 0;
  std::vector<std::string> known;
  for (const ReadoutName& r : kReadoutNames) known.emplace_back(r.name);
  std::istringstream in(list);
  for (std::string name; std::getline(in, name, ',');) {
    if (name.empty()) continue;
    bool found = false;
    for (const ReadoutName& r : kReadoutNames) {
      if (name == r.name) {
        bits |= r.bit;
        found = true;
      }
    }
    if (found) continue;
    const std::string closest = ClosestName(name, known);
    return fmt::format(
        "unknown read-out '{}'{}; the read-outs are velocities, forces, "
        "cartesian and status",
        name, closest.empty() ? "" : fmt::format(" (did you mean '{}'?)", closest));
  }
  return {};
}

std::string CsvHeader(unsigned readouts) {
  std::string header = "sequence,time,ok";
  AddNames(header, "A", "F");
  if ((readouts & kReadVelocities) != 0) AddNames(header, "V", "VF");
  if ((readouts & kReadForces) != 0) AddNames(header, "T", "TF");
  if ((readouts & kReadCartesian) != 0) header += ",X,Y,Z,RX,RY,RZ";
  if ((readouts & kReadQuickStatus) != 0) {
    for (const std::string& name : FieldNames<Form<QuickStatus>>()) header += "," + name;
  }
  return header;
}

std::string CsvRow(const LoopState& s, double time, unsigned readouts) {
  std::string row = fmt::format("{},{:.6f},{}", s.sequence, time, s.ok ? 1 : 0);
  AddFloats(row, FloatsOf(s.joints), 9, Has(s, kReadJoints));
  if ((readouts & kReadVelocities) != 0) {
    AddFloats(row, FloatsOf(s.velocities), 9, Has(s, kReadVelocities));
  }
  if ((readouts & kReadForces) != 0) AddFloats(row, FloatsOf(s.forces), 9, Has(s, kReadForces));
  // The pose's fingers are the joints' fingers again: left out.
  if ((readouts & kReadCartesian) != 0) AddFloats(row, FloatsOf(s.pose), 6, Has(s, kReadCartesian));
  if ((readouts & kReadQuickStatus) != 0) {
    for (const FieldText& field : FieldTexts(s.status)) {
      row += ',';
      if (Has(s, kReadQuickStatus)) row += field.text;
    }
  }
  return row;
}

std::string JsonRow(const LoopState& s, double time, unsigned readouts) {
  readouts |= kReadJoints;
  Json row;
  row["sequence"] = s.sequence;
  row["time"] = JsonDouble(time);
  row["ok"] = s.ok;
  const auto add = [&](const char* key, unsigned bit, const auto& value) {
    if ((readouts & bit) == 0) return;
    row[key] = Has(s, bit) ? ToDisplay(value) : Json(nullptr);
  };
  add("joints", kReadJoints, s.joints);
  add("velocities", kReadVelocities, s.velocities);
  add("forces", kReadForces, s.forces);
  add("pose", kReadCartesian, s.pose);
  add("status", kReadQuickStatus, s.status);
  return row.dump();
}

}  // namespace tarsel::tool::record
