#include "jog_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <iterator>

#include <fmt/core.h>

#include "display.h"
#include "motion/motion_codec.h"

namespace tarsel::tool::jog {

namespace {

constexpr char kEscape = '\x1b';
constexpr std::string_view kPlusKeys = "123456";
constexpr std::string_view kMinusKeys = "asdfgh";
constexpr const char* kPoseNames[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};

// A velocity of speed on axis (1 to 6) and zero on the others.
template <class Info>
Info Velocity(int axis, float speed) {
  std::array<float, 6> values{};
  if (axis >= 1 && axis <= 6) values[axis - 1] = speed;
  return FromFloats<Info>(values);
}

}  // namespace

Key KeyOf(char c) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (const auto at = kPlusKeys.find(lower); at != std::string_view::npos) {
    return {Action::kMove, static_cast<int>(at) + 1, +1};
  }
  if (const auto at = kMinusKeys.find(lower); at != std::string_view::npos) {
    return {Action::kMove, static_cast<int>(at) + 1, -1};
  }
  switch (lower) {
    case '+':
    case '=':
      return {Action::kFaster, 0, 0};
    case '-':
    case '_':
      return {Action::kSlower, 0, 0};
    case ' ':
      return {Action::kStop, 0, 0};
    case 'q':
    case kEscape:
    case '\x03':  // Ctrl-C: the terminal sends it as a byte in raw mode
    case '\x04':  // Ctrl-D
      return {Action::kQuit, 0, 0};
    default:
      return {};
  }
}

void Decoder::Feed(std::string_view bytes, std::string& keys) {
  for (const char c : bytes) {
    switch (state_) {
      case State::kText:
        if (c == kEscape) {
          state_ = State::kEscape;
        } else {
          keys += c;
        }
        break;
      case State::kEscape:
        // Esc and at once another byte: a sequence, not the Esc key; but Esc
        // twice is the Esc key once, and perhaps a second time.
        if (c == kEscape) {
          keys += kEscape;
        } else {
          state_ = c == '[' ? State::kSequence : c == 'O' ? State::kSs3 : State::kText;
        }
        break;
      case State::kSequence:
        // Parameters and intermediates run until a final byte, @ to ~.
        if (c >= '@' && c <= '~') state_ = State::kText;
        break;
      case State::kSs3:
        state_ = State::kText;
        break;
    }
  }
}

void Decoder::Idle(std::string& keys) {
  if (state_ == State::kEscape) keys += kEscape;
  // A sequence cut short (a lost byte) must not swallow the next key press.
  state_ = State::kText;
}

int Faster(int percent) {
  for (const int step : kSpeedSteps) {
    if (step > percent) return step;
  }
  return std::max(percent, kSpeedSteps[std::size(kSpeedSteps) - 1]);
}

int Slower(int percent) {
  for (auto step = std::rbegin(kSpeedSteps); step != std::rend(kSpeedSteps); ++step) {
    if (*step < percent) return *step;
  }
  return std::min(percent, kSpeedSteps[0]);
}

float AxisSpeed(bool cartesian, int axis, int percent, const TopSpeeds& top) {
  const float limit = !cartesian ? top.joint : axis <= 3 ? top.linear : top.angular;
  // At 100 percent exactly the limit, which the loop still takes.
  return limit * (static_cast<float>(percent) / 100.0f);
}

const char* UnitOf(bool cartesian, int axis) {
  return !cartesian ? "deg/s" : axis <= 3 ? "m/s" : "rad/s";
}

std::string AxisName(bool cartesian, int axis) {
  if (axis < 1 || axis > 6) return "?";
  return cartesian ? kPoseNames[axis - 1] : fmt::format("joint {}", axis);
}

AngularInfo JointVelocity(int axis, float speed) {
  return Velocity<AngularInfo>(axis, speed);
}

CartesianInfo CartesianVelocity(int axis, float speed) {
  return Velocity<CartesianInfo>(axis, speed);
}

std::vector<std::string> KeymapLines(bool cartesian, double watchdogSeconds) {
  const char* axes = cartesian ? "X Y Z RX RY RZ" : "joints 1-6";
  return {
      fmt::format("  1 2 3 4 5 6    {} +", axes),
      fmt::format("  a s d f g h    {} -", axes),
      "  + -            speed up / down       space  stop",
      "  q  Esc  Ctrl-C quit: the arm is brought to rest",
      fmt::format("Hold a key to move. Let go of it and the loop's watchdog stops the arm "
                  "within {:.2f} s.",
                  watchdogSeconds),
  };
}

std::string ValuesText(bool cartesian, const float (&values)[6]) {
  std::string text;
  for (int i = 0; i < 6; ++i) {
    const std::string name = cartesian ? kPoseNames[i] : fmt::format("A{}", i + 1);
    text += fmt::format("{}{} {}", i == 0 ? "" : " ", name,
                        Fixed(values[i], 0, cartesian && i < 3 ? 4 : 3));
  }
  return text;
}

std::string LiveHeader(bool cartesian) {
  std::string line = fmt::format("{:<10} {:>5} ", "motion", "speed");
  for (int i = 0; i < 6; ++i) {
    line += fmt::format("{:>7}", cartesian ? kPoseNames[i] : fmt::format("A{}", i + 1));
  }
  return line + "  loop rate, jitter";
}

std::string LiveLine(const View& v, bool compact, std::size_t width) {
  std::string state;
  switch (v.motion) {
    case Motion::kIdle:
      state = "ready";
      break;
    case Motion::kMoving:
      state = fmt::format("{}{} {}", compact ? "" : "moving ", AxisName(v.cartesian, v.axis),
                          v.direction > 0 ? '+' : '-');
      break;
    case Motion::kStopped:
      state = "stopped";
      break;
    case Motion::kReleased:
      state = compact ? "released" : "released: the watchdog stopped the arm";
      break;
  }
  std::string line;
  if (compact) {
    line = fmt::format("{:<10} {:>4}% ", state, v.percent);
    for (int i = 0; i < 6; ++i) {
      const bool metres = v.cartesian && i < 3;
      line += v.haveValues ? Fixed(v.values[i], 7, v.cartesian ? (metres ? 3 : 2) : 1)
                           : std::string("      -");
    }
    line += fmt::format("  {:5.1f} Hz +-{:.2f} ms", v.rate, v.jitter * 1e3);
  } else {
    line = state;
    if (v.motion == Motion::kMoving) {
      line += fmt::format(" at {}% ({} {})", v.percent, NumberText(v.speed),
                          UnitOf(v.cartesian, v.axis));
    } else {
      line += fmt::format(" (speed {}%)", v.percent);
    }
    line += ": " + (v.haveValues ? ValuesText(v.cartesian, v.values) : "no reading yet");
    line += fmt::format(" | {:.1f} Hz, jitter {:.3f} ms", v.rate, v.jitter * 1e3);
  }
  if (!v.note.empty()) line += (compact ? "  " : " | ") + v.note;
  if (width > 0 && line.size() > width) line.resize(width);
  return line;
}

}  // namespace tarsel::tool::jog
