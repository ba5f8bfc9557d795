#include "arm_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "kinematics.h"

namespace tarsel::view {

namespace {

// The zone list's form as the arm sends it: the two list values, then ten
// zones of 440 bytes (four values, eight points of 48 bytes, nine
// parameters, one value). A point is 8 unused bytes, X, Y, Z, 12 unused
// bytes, the three rotations and 4 unused bytes.
constexpr std::size_t kZoneListBytes = 4408;
constexpr std::size_t kZoneBytes = 440;
constexpr std::size_t kZonePointBytes = 48;

std::uint32_t Word(const std::vector<unsigned char>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
         std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

template <typename T>
T Read(const std::vector<unsigned char>& bytes, std::size_t at) {
  static_assert(sizeof(T) == 4);
  const std::uint32_t word = Word(bytes, at);
  T value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

nlohmann::json FramesJson(const std::array<sim::kinematics::Frame, 7>& frames) {
  nlohmann::json list = nlohmann::json::array();
  for (const sim::kinematics::Frame& f : frames) {
    nlohmann::json numbers = nlohmann::json::array();
    for (const auto& row : f.r) {
      for (double v : row) numbers.push_back(v);
    }
    for (double v : f.p) numbers.push_back(v);
    list.push_back(std::move(numbers));
  }
  return list;
}

nlohmann::json TargetJson(const std::optional<TargetView>& target) {
  if (!target) return nullptr;
  const std::array<double, 6>& v = target->values;
  std::array<double, 3> position{v[0], v[1], v[2]};
  if (target->angular) {
    const auto tip = sim::kinematics::Frames(v)[6];
    position = {tip.p[0], tip.p[1], tip.p[2]};
  }
  return {{"kind", target->angular ? "angular" : "cartesian"},
          {"values", v},
          {"position", position}};
}

nlohmann::json ErrorsJson(const std::vector<ErrorView>& errors) {
  nlohmann::json list = nlohmann::json::array();
  for (const ErrorView& e : errors) {
    list.push_back({{"code", e.code},
                    {"codeText", status::ErrorCodeText(e.code)},
                    {"device", e.device},
                    {"deviceName", status::DeviceName(e.device)},
                    {"severity", e.severity},
                    {"severityName", status::SeverityName(e.severity)},
                    {"occurrences", e.occurrences},
                    {"time", e.timeSeconds}});
  }
  return list;
}

nlohmann::json ZonesJson(const std::vector<ZoneView>& zones) {
  nlohmann::json list = nlohmann::json::array();
  for (const ZoneView& z : zones) {
    list.push_back({{"index", z.index}, {"low", z.low}, {"high", z.high}});
  }
  return list;
}

double Rounded(double value, double step) {
  return std::round(value / step) * step;
}

nlohmann::json SamplesJson(const std::deque<JointSample>& samples) {
  nlohmann::json list = nlohmann::json::array();
  for (const JointSample& s : samples) {
    // Rounded, the numbers print short: a full window of a few arms stays
    // small enough to send to every page that connects.
    nlohmann::json sample = nlohmann::json::array({Rounded(s.time, 0.001)});
    for (double j : s.joints) sample.push_back(Rounded(j, 0.01));
    list.push_back(std::move(sample));
  }
  return list;
}

}  // namespace

std::vector<ZoneView> ZonesOf(const ZoneList& list) {
  std::vector<ZoneView> zones;
  for (int i = 0; i < 10; ++i) {
    const Zone& zone = list.Zones[i];
    ZoneView box;
    box.index = i;
    box.low = {INFINITY, INFINITY, INFINITY};
    box.high = {-INFINITY, -INFINITY, -INFINITY};
    bool finite = true;
    for (const CartesianInfo& p : zone.Points) {
      const std::array<double, 3> xyz{p.X, p.Y, p.Z};
      for (std::size_t k = 0; k < 3; ++k) {
        finite = finite && std::isfinite(xyz[k]);
        box.low[k] = std::min(box.low[k], xyz[k]);
        box.high[k] = std::max(box.high[k], xyz[k]);
      }
    }
    if (finite && box.low != box.high) zones.push_back(box);
  }
  return zones;
}

bool ZoneListFromBytes(const std::vector<unsigned char>& bytes, ZoneList& out) {
  if (bytes.size() != kZoneListBytes) return false;
  out.ListValue1 = Read<int>(bytes, 0);
  out.ListValue2 = Read<int>(bytes, 4);
  for (std::size_t z = 0; z < 10; ++z) {
    Zone& zone = out.Zones[z];
    std::size_t at = 8 + z * kZoneBytes;
    zone.ZoneValue1 = Read<int>(bytes, at);
    zone.ZoneValue2 = Read<int>(bytes, at + 4);
    zone.ZoneValue3 = Read<int>(bytes, at + 8);
    zone.ZoneValue4 = Read<int>(bytes, at + 12);
    at += 16;
    for (CartesianInfo& p : zone.Points) {
      p.X = Read<float>(bytes, at + 8);
      p.Y = Read<float>(bytes, at + 12);
      p.Z = Read<float>(bytes, at + 16);
      p.RotationX = Read<float>(bytes, at + 32);
      p.RotationY = Read<float>(bytes, at + 36);
      p.RotationZ = Read<float>(bytes, at + 40);
      at += kZonePointBytes;
    }
    for (float& parameter : zone.Parameters) {
      parameter = Read<float>(bytes, at);
      at += 4;
    }
    zone.ZoneValue5 = Read<int>(bytes, at);
  }
  return true;
}

std::string StateJson(double time, const std::vector<ArmView>& arms) {
  nlohmann::json list = nlohmann::json::array();
  for (const ArmView& a : arms) {
    list.push_back({{"path", a.path},
                    {"label", a.label},
                    {"fingerCount", a.fingerCount},
                    {"online", a.online},
                    {"problem", a.problem},
                    {"joints", a.joints},
                    {"fingers", a.fingers},
                    {"pose", a.pose},
                    {"queue", a.queue},
                    {"target", TargetJson(a.target)},
                    {"control", a.controlType == 1 ? "angular" : "cartesian"},
                    {"apiControl", a.apiControl},
                    {"errors", ErrorsJson(a.errors)},
                    {"zones", ZonesJson(a.zones)},
                    {"frames", FramesJson(sim::kinematics::Frames(a.joints))}});
  }
  // Texts from an arm may hold any bytes: invalid UTF-8 is replaced.
  return nlohmann::json{{"time", time}, {"arms", std::move(list)}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string HistoryJson(double time, double historySeconds, const JointHistory& history) {
  nlohmann::json arms = nlohmann::json::object();
  for (const auto& [path, samples] : history) arms[path] = SamplesJson(samples);
  return nlohmann::json{{"time", time}, {"historySeconds", historySeconds}, {"arms", std::move(arms)}}
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarsel::view
