// What `tarsel jog` reads from the keyboard and shows: the keymap, the
// splitting of a raw terminal's bytes into keys, the speed setting, the
// velocity a key asks for and the live line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tarsel/motion.h"

namespace tarsel::tool::jog {

// What a key asks for.
enum class Action {
  kNone,    // a key of no meaning (an arrow key, a letter not in the map)
  kMove,    // move axis in direction at the speed setting, for as long as the key is held
  kFaster,  // the next speed step up
  kSlower,  // the next speed step down
  kStop,    // zero velocity now
  kQuit,    // bring the arm to rest and end
};

struct Key {
  Action action = Action::kNone;
  int axis = 0;       // 1 to 6 with kMove: joint 1-6, or X, Y, Z, RX, RY, RZ
  int direction = 0;  // +1 or -1 with kMove
};

// The keymap, the same for joints and the hand's pose: 1 to 6 move axis 1 to
// 6 in the positive direction, a s d f g h (the row below) in the negative
// one; + (or =) and - (or _) change the speed step; space stops; q, Esc,
// Ctrl-C and Ctrl-D quit. Upper-case letters count as lower-case ones.
Key KeyOf(char c);

// Splits the bytes a terminal in raw mode sends into keys, one char each.
// A key that sends an escape sequence (arrows, function keys, Alt with a
// key: Esc followed at once by more) is dropped whole; Esc alone is a key
// once Idle says that nothing followed it.
class Decoder {
 public:
  // Appends the keys that bytes complete to keys.
  void Feed(std::string_view bytes, std::string& keys);
  // No byte has come for a while (longer than a terminal takes to send a
  // sequence): a lone Esc waiting for more is a key after all.
  void Idle(std::string& keys);
  // Whether an Esc waits for Idle.
  bool Waiting() const { return state_ == State::kEscape; }

 private:
  enum class State { kText, kEscape, kSequence, kSs3 };
  State state_ = State::kText;
};

// The speed setting's steps, percent of the top speed.
inline constexpr int kSpeedSteps[] = {1, 2, 5, 10, 25, 50, 75, 100};
// The step above (below) percent; the top (bottom) one stays.
int Faster(int percent);
int Slower(int percent);

// The top speeds the loop allows: joints in deg/s, the hand in m/s and rad/s.
struct TopSpeeds {
  float joint = 25.0f;
  float linear = 0.15f;
  float angular = 0.6f;
};

// The speed of axis at percent of its top speed, in its unit (UnitOf).
float AxisSpeed(bool cartesian, int axis, int percent, const TopSpeeds& top);
// "deg/s", "m/s" or "rad/s".
const char* UnitOf(bool cartesian, int axis);
// "joint 3", "Z", "RX".
std::string AxisName(bool cartesian, int axis);
// The velocity that moves only axis (1 to 6), at speed in its unit.
AngularInfo JointVelocity(int axis, float speed);
CartesianInfo CartesianVelocity(int axis, float speed);

// The lines that introduce the keys, for the screen.
std::vector<std::string> KeymapLines(bool cartesian, double watchdogSeconds);

// What the arm is doing, as the live line says it.
enum class Motion {
  kIdle,      // no key yet
  kMoving,    // an axis key was pressed and its velocity is sent
  kStopped,   // space: zero velocity
  kReleased,  // no key renewed the velocity: the watchdog sent zero
};

// Everything the live line shows.
struct View {
  bool cartesian = false;
  int percent = 0;
  Motion motion = Motion::kIdle;
  int axis = 0;
  int direction = 0;
  float speed = 0;          // with kMoving: the axis's speed, in its unit
  bool haveValues = false;  // whether values hold a cycle's reading
  float values[6] = {};     // joint angles (deg), or X, Y, Z (m), RX, RY, RZ (rad)
  double rate = 0;          // cycles per second
  double jitter = 0;        // seconds
  std::string note;         // the latest event, "" when none
};

// The six values under their names: "A1 12.345 A2 -0.500 ..." for joints (deg),
// "X 0.4100 Y ... RX 3.142 ..." for the hand's pose (m, rad).
std::string ValuesText(bool cartesian, const float (&values)[6]);

// The column heads over the compact live line.
std::string LiveHeader(bool cartesian);

// The live line. Compact (short numbers, no unit names) for a terminal, cut
// to width characters so that it never wraps (width 0: no limit); in full
// for a log, the values under their names ("A1 12.345 A2 ...").
std::string LiveLine(const View& view, bool compact, std::size_t width);

}  // namespace tarsel::tool::jog
