#include "arm_view.h"

#include <nlohmann/json.hpp>

#include "kinematics.h"

namespace tarsel::view {

namespace {

nlohmann::json Frames(const std::array<double, 6>& joints) {
  nlohmann::json frames = nlohmann::json::array();
  for (const sim::kinematics::Frame& f : sim::kinematics::Frames(joints)) {
    nlohmann::json numbers = nlohmann::json::array();
    for (const auto& row : f.r) {
      for (double v : row) numbers.push_back(v);
    }
    for (double v : f.p) numbers.push_back(v);
    frames.push_back(std::move(numbers));
  }
  return frames;
}

}  // namespace

std::string StateJson(double time, const std::vector<ArmView>& arms) {
  nlohmann::json list = nlohmann::json::array();
  for (const ArmView& a : arms) {
    nlohmann::json errors = nlohmann::json::array();
    for (const ErrorView& e : a.errors) {
      errors.push_back({{"code", e.code},
                        {"device", e.device},
                        {"severity", e.severity},
                        {"occurrences", e.occurrences},
                        {"time", e.timeSeconds}});
    }
    list.push_back({{"path", a.path},
                    {"label", a.label},
                    {"fingerCount", a.fingerCount},
                    {"online", a.online},
                    {"problem", a.problem},
                    {"joints", a.joints},
                    {"fingers", a.fingers},
                    {"pose", a.pose},
                    {"queue", a.queue},
                    {"control", a.controlType == 1 ? "angular" : "cartesian"},
                    {"apiControl", a.apiControl},
                    {"errors", std::move(errors)},
                    {"frames", Frames(a.joints)}});
  }
  // Texts from an arm may hold any bytes: invalid UTF-8 is replaced.
  return nlohmann::json{{"time", time}, {"arms", std::move(list)}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarsel::view
